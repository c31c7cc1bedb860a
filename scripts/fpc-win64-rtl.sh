#!/usr/bin/env bash
# Builds Free Pascal's run-time library for 64-bit Windows from Debian's fpc-source, into FOLDER:
# Debian's fpc ships the compiler for that target but its units only for Linux.
#   scripts/fpc-win64-rtl.sh FOLDER        then: fpc -Twin64 -Px86_64 -FuFOLDER ...
set -euo pipefail
out=$(mkdir -p "$1" && cd "$1" && pwd)
[ -f "$out/sysutils.ppu" ] && exit 0
source=/usr/share/fpcsrc/$(fpc -iV)/rtl
[ -d "$source" ] || { echo "fpc-win64-rtl: no $source (Debian: fpc-source)" >&2; exit 1; }
cd "$source/win64"
fpc=(ppcx64 -Twin64 -Px86_64 -FE"$out" -FU"$out" -Fi../inc -Fi../x86_64 -Fi../win -Fu../inc
     -Fu../x86_64 -Fu../win -Fu../objpas -Fu"$out")
log=$out/build.log
{
  "${fpc[@]}" -Us -Sg system.pp &&
  "${fpc[@]}" ../objpas/objpas.pp &&
  "${fpc[@]}" -Fi../objpas/sysutils -Fi../objpas/classes -I../win -I../objpas -I../inc \
    -Fu../win/wininc -I../win/wininc buildrtl.pp
} >"$log" 2>&1 || { tail -20 "$log" >&2; echo "fpc-win64-rtl: the build failed" >&2; exit 1; }
echo "fpc-win64-rtl: Free Pascal's Windows x64 units in $out"
