#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need on a fresh Debian 12 machine.
# Idempotent and quick when everything is already there: it only checks when nothing is missing.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

for p in cmake make g++ ninja-build pkg-config \
         g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64 \
         wine wine64 googletest libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev \
         clang libclang-rt-14-dev llvm locales python3 python3-venv \
         mono-mcs mono-runtime libmono-i18n-cjk4.0-cil default-jdk-headless libjna-java; do
  have_pkg "$p" || need+=("$p")
done
have_pkg wine32:i386 || need+=("wine32:i386")
# idcard serve: its HTTP library (Boost.Asio and Boost.Beast), and the browser and the CJK font of
# its page test.
for p in libboost1.74-dev chromium fonts-wqy-microhei; do
  have_pkg "$p" || need+=("$p")
done

if [ "${#need[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${need[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "install-deps: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
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
