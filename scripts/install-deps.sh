#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need on a fresh Debian 12 machine.
# Idempotent and quick when everything is already there: it only checks when nothing is missing.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
# What is installed, asked of dpkg once: one name a line, foreign architectures as name:arch.
native_arch=$(dpkg --print-architecture)
installed=$(dpkg-query -W -f='${binary:Package} ${db:Status-Abbrev}\n' 2>/dev/null |
            awk -v native=":$native_arch" '$2 == "ii" { sub(native "$", "", $1); print $1 }')
have_pkg() { grep -qxF "$1" <<<"$installed"; }

packages=(
  cmake ninja-build make g++                          # the native build (CMake's presets: Ninja)
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64  # the Windows builds
  wine wine64                                         # the Windows suites (wine32:i386 below)
  googletest                                          # GoogleTest's sources, built per preset
  nlohmann-json3-dev                                  # the simulator's card profiles
  libbenchmark-dev valgrind                           # make bench: times and instruction counts
  clang libclang-rt-14-dev llvm                       # make fuzz: libFuzzer, llvm-symbolizer;
                                                      # llvm-dlltool: the MSVC import libraries
  lld pkgconf                                         # the release's tests: lld-link, pkg-config
  locales                                             # zh_CN.GBK for code page 936 under Wine
  python3 python3-venv                                # the Python example and its checker
  mono-mcs mono-runtime libmono-i18n-cjk4.0-cil       # the C# example
  default-jdk-headless libjna-java                    # the Java example and package (javadoc, jar)
  python3-pip python3-setuptools python3-wheel        # the Python package's wheel, built offline
  fp-compiler fp-units-rtl fpc-source                 # the Object Pascal package (Free Pascal;
                                                      # its Windows units built from the sources)
  libboost1.74-dev                                    # idcard serve: Boost.Asio and Boost.Beast
  chromium fonts-wqy-microhei                         # idcard serve's page test: browser, CJK font
  nodejs                                              # the JavaScript client's tests
  systemd                                             # systemd-analyze: the user unit's check
  g++-aarch64-linux-gnu qemu-user                     # the ARM64 build, run under qemu-aarch64
  wixl msitools                                       # the Windows installers: wixl, msibuild
)
for p in "${packages[@]}"; do
  have_pkg "$p" || need+=("$p")
done
have_pkg wine32:i386 || need+=("wine32:i386")
# npm (for the TypeScript compiler of the client's type check): Debian's package, unless the
# installed nodejs brings its own.
have_cmd npm || need+=("npm")
# The ARM64 programs under qemu-aarch64 -L /: the arm64 C library with its iconv modules (GBK).
have_pkg libc6:arm64 || need+=("libc6:arm64")

if [ "${#need[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${need[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "install-deps: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  for arch in i386 arm64; do
    dpkg --print-foreign-architectures | grep -qx $arch || dpkg --add-architecture $arch
  done
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# Wine's ANSI code page follows the locale: the tests run under zh_CN.GBK (code page 936).
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.gbk$'; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: locale zh_CN.GBK is missing (run as root to generate it)" >&2
    exit 1
  fi
  echo "install-deps: generating locale zh_CN.GBK"
  grep -q '^zh_CN.GBK GBK' /etc/locale.gen 2>/dev/null || echo 'zh_CN.GBK GBK' >> /etc/locale.gen
  locale-gen zh_CN.GBK >/dev/null
fi
