#!/usr/bin/env bash
# Makes the seed corpus of the image_parse fuzz target (tests/fuzz/image_parse/): the smallest
# real libraries of each kind the reader meets, from the build's compilers (an x86-64 and an x86
# ELF shared object, an x64 and an x86 PE DLL, each with two exports), and copies of each cut off
# within its headers and halfway, as a copy that broke off leaves them.
#   tests/fuzz/image_seeds.sh
set -euo pipefail

out=$(cd "$(dirname "$0")" && pwd)/image_parse
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
cat >"$work/tiny.c" <<'C'
int QDX_OpenPort(int port) { return port; }
int GetBmp(char* path, int selector) { return path ? selector : 0; }
C
elf_flags=(-shared -fPIC -nostdlib -s -Os -Wl,-z,max-page-size=0x10 -Wl,-z,norelro
           -Wl,--hash-style=sysv -Wl,-z,noseparate-code)
gcc "${elf_flags[@]}" -o "$work/elf_x86_64_shared_object" "$work/tiny.c"
gcc -m32 "${elf_flags[@]}" -o "$work/elf_i386_shared_object" "$work/tiny.c"
x86_64-w64-mingw32-gcc -shared -nostdlib -s -Os -Wl,-e,0 -Wl,--export-all-symbols \
  -o "$work/pe_x64.dll" "$work/tiny.c"
mv "$work/pe_x64.dll" "$work/pe_x64_dll"
i686-w64-mingw32-gcc -shared -nostdlib -s -Os -Wl,-e,0 -Wl,--kill-at -Wl,--export-all-symbols \
  -o "$work/pe_x86.dll" "$work/tiny.c"
mv "$work/pe_x86.dll" "$work/pe_x86_dll"
for f in elf_x86_64_shared_object elf_i386_shared_object pe_x64_dll pe_x86_dll; do
  cp "$work/$f" "$out/$f"
  size=$(stat -c %s "$work/$f")
  head -c 200 "$work/$f" >"$out/${f}_cut_at_200"
  head -c $((size / 2)) "$work/$f" >"$out/${f}_cut_in_half"
done
