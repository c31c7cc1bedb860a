#!/usr/bin/env bash
# Runs a Windows program under Wine the way the tests need it: quiet, with a private prefix inside
# the build folder of the program, and with code page 936 as the ANSI code page.
set -eu
program=$1
shift
dir=$(cd "$(dirname "$program")" && pwd)
# The build folder is the nearest parent holding CMakeCache.txt.
root=$dir
while [ "$root" != / ] && [ ! -f "$root/CMakeCache.txt" ]; do root=$(dirname "$root"); done
[ "$root" = / ] && root=$dir
export WINEPREFIX="${WINEPREFIX:-$root/wineprefix}"
export WINEDEBUG=-all
export LC_ALL=zh_CN.GBK
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -d "$WINEPREFIX" ]; then
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w || true
fi
exec wine "$program" "$@"
