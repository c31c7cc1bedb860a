#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need on a fresh Debian 12 machine.
# Idempotent and quick when everything is already there: it only checks when nothing is missing.
#
#   scripts/install-deps.sh           everything
#   scripts/install-deps.sh build     what the builds of every preset need (make test installs
#                                     these first, then the rest beside its builds)
#   scripts/install-deps.sh rest      what the suites, examples, packages and the release need
set -euo pipefail

group=${1:-all}
case $group in
  all | build | rest) ;;
  *) echo "usage: $0 [build | rest]" >&2; exit 2 ;;
esac

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
# What is installed, asked of dpkg once: one name a line, foreign architectures as name:arch.
native_arch=$(dpkg --print-architecture)
installed=$(dpkg-query -W -f='${binary:Package} ${db:Status-Abbrev}\n' 2>/dev/null |
            awk -v native=":$native_arch" '$2 == "ii" { sub(native "$", "", $1); print $1 }')
have_pkg() { grep -qxF "$1" <<<"$installed"; }

# What the builds need: the compilers of every preset, the headers they compile against, and what
# configuring or building runs (python3, clang for the header checks, llvm-dlltool, npm packing the
# JavaScript client).
build_packages=(
  cmake ninja-build make g++                          # the native build (CMake's presets: Ninja)
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64  # the Windows builds
  googletest                                          # GoogleTest's sources, built per preset
  nlohmann-json3-dev                                  # the simulator's card profiles
  clang libclang-rt-14-dev llvm                       # make fuzz: libFuzzer, llvm-symbolizer;
                                                      # llvm-dlltool: the MSVC import libraries
  python3                                             # the build's and the tests' scripts
  libboost1.74-dev                                    # idcard serve: Boost.Asio and Boost.Beast
  nodejs                                              # the JavaScript client: packed, tested
  g++-aarch64-linux-gnu                               # the ARM64 build
)
# What runs what the builds made.
rest_packages=(
  wine wine64                                         # the Windows suites (wine32:i386 below)
  libbenchmark-dev valgrind                           # make bench: times and instruction counts
  lld pkgconf                                         # the release's tests: lld-link, pkg-config
  locales                                             # zh_CN.GBK for code page 936 under Wine
  python3-venv                                        # the Python example
  mono-mcs mono-runtime libmono-i18n-cjk4.0-cil       # the C# example
  default-jdk-headless libjna-java                    # the Java example and package (javadoc, jar)
  python3-pip python3-setuptools python3-wheel        # the Python package's wheel, built offline
  fp-compiler fp-units-rtl fpc-source                 # the Object Pascal package (Free Pascal;
                                                      # its Windows units built from the sources)
  chromium fonts-wqy-microhei                         # idcard serve's page test: browser, CJK font
  systemd                                             # systemd-analyze: the user unit's check
  qemu-user                                           # the ARM64 programs, run under qemu-aarch64
  wixl msitools                                       # the Windows installers: wixl, msibuild
)
packages=()
[ "$group" = rest ] || packages+=("${build_packages[@]}")
[ "$group" = build ] || packages+=("${rest_packages[@]}")
for p in "${packages[@]}"; do
  have_pkg "$p" || need+=("$p")
done
if [ "$group" != rest ]; then
  # npm (packing the JavaScript client; the TypeScript compiler of its type check): Debian's
  # package, unless the installed nodejs brings its own.
  have_cmd npm || need+=("npm")
fi
if [ "$group" != build ]; then
  have_pkg wine32:i386 || need+=("wine32:i386")
  # The ARM64 programs under qemu-aarch64 -L /: the arm64 C library with its iconv modules (GBK).
  have_pkg libc6:arm64 || need+=("libc6:arm64")
fi

if [ "${#need[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${need[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "install-deps: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Both foreign architectures at once, so that the lists the first group fetched serve the
  # second: a group fetches the lists only where there are none for an architecture just added,
  # or where installing from the lists it has failed (they were stale).
  added=no
  for arch in i386 arm64; do
    dpkg --print-foreign-architectures | grep -qx $arch ||
      { dpkg --add-architecture $arch; added=yes; }
  done
  lists=$(find /var/lib/apt/lists -maxdepth 1 -name '*_Packages*' 2>/dev/null | head -1)
  if [ $added = yes ] || [ -z "$lists" ]; then apt-get update -qq; fi
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null ||
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null; }
fi

# Wine's ANSI code page follows the locale: the tests run under zh_CN.GBK (code page 936).
if [ "$group" != build ] && ! locale -a 2>/dev/null | grep -qi '^zh_CN\.gbk$'; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: locale zh_CN.GBK is missing (run as root to generate it)" >&2
    exit 1
  fi
  echo "install-deps: generating locale zh_CN.GBK"
  grep -q '^zh_CN.GBK GBK' /etc/locale.gen 2>/dev/null || echo 'zh_CN.GBK GBK' >> /etc/locale.gen
  locale-gen zh_CN.GBK >/dev/null
fi
