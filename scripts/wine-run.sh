#!/usr/bin/env bash
# Runs a Windows program under Wine the way the tests need it: quiet, with a private prefix inside
# the build folder of the program (build/wineprefix for a program outside the build), and with
# code page 936 as the ANSI code page. A 64-bit program goes straight to Wine's 64-bit loader, so
# that it runs also where 32-bit programs cannot.
#
#   scripts/wine-run.sh PROGRAM.exe [ARGS...]
#   scripts/wine-run.sh --can-run-32-bit    exit status 0 when this machine runs 32-bit programs
#   scripts/wine-run.sh --set-up BUILD_DIR 32|64
#                                           sets up the prefix of the programs built in BUILD_DIR
#                                           for 32- or 64-bit programs, before the first one runs
set -eu

loader32=/usr/lib/wine/wine
loader64=/usr/lib/wine/wine64

# Whether the kernel runs 32-bit x86 programs, asked of a program of a few bytes that binutils
# makes (it only exits): Wine need not be installed yet to know it.
if [ "${1:-}" = --can-run-32-bit ]; then
  probe=$(mktemp -d)
  trap 'rm -rf "$probe"' EXIT
  printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$probe/exit.s"
  as --32 -o "$probe/exit.o" "$probe/exit.s" 2>/dev/null &&
    ld -m elf_i386 -o "$probe/exit" "$probe/exit.o" 2>/dev/null &&
    "$probe/exit" 2>/dev/null
  exit
fi

if [ "${1:-}" = --set-up ]; then
  mkdir -p "$2"
  export WINEPREFIX="$(cd "$2" && pwd)/wineprefix"
  if [ "${3:-}" = 32 ]; then loader=$loader32; else loader=$loader64; fi
  program=
else
  program=$1
  shift
  # The machine field of the PE header (8664 for x86-64, 14c for i386), from the header's offset at
  # byte 60. The first kilobyte holds both in every program the builds make: one read, not four
  # processes per call (a suite makes hundreds of calls).
  head=($(od -An -tu1 -v -N1024 "$program"))
  # The little-endian number of $2 bytes at offset $1 of the first kilobyte, in $value.
  le() {
    local i
    value=0
    for ((i = $2 - 1; i >= 0; i--)); do value=$((value * 256 + ${head[$1 + i]:-0})); done
  }
  le 60 4
  pe=$value
  if [ $((pe + 6)) -le ${#head[@]} ]; then
    le $((pe + 4)) 2
    printf -v machine %x "$value"
  else
    machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$program" | tr -d ' ')
  fi
  if [ "$machine" = 8664 ]; then loader=$loader64; else loader=$loader32; fi

  # The build folder is the nearest parent holding CMakeCache.txt. A program outside any build
  # folder (in dist/, in an unpacked release) gets the prefix build/wineprefix of this source tree:
  # a prefix (over a gigabyte) never lands beside the program.
  if [ -z "${WINEPREFIX:-}" ]; then
    root=$(cd "$(dirname "$program")" && pwd)
    while [ "$root" != / ] && [ ! -f "$root/CMakeCache.txt" ]; do
      root=${root%/*} root=${root:-/}
    done
    [ "$root" = / ] && root=$(cd "$(dirname "$0")/.." && pwd)/build
    WINEPREFIX=$root/wineprefix
  fi
  export WINEPREFIX
fi
# 32-bit programs need the machine's 32-bit support, which the loader itself tells; 64-bit ones
# need only the loader.
if { [ "$loader" = "$loader64" ] && [ ! -x "$loader" ]; } ||
   { [ "$loader" = "$loader32" ] && ! "$loader" --version >/dev/null 2>&1; }; then
  echo "wine-run: $loader cannot run here (a 32-bit program on a machine without 32-bit support?)" >&2
  exit 126
fi
export WINEDEBUG=-all
# Wine as packaged here has no preloader, which would keep the addresses that every Windows
# process needs clear of the loader's own heap. Address space randomization starts that heap
# anywhere in a gigabyte above the loader, so that about one start in 400 ended before its program
# ran ("failed to map the shared user data"), a start from a Windows program alike. Without
# randomization (setarch -R, which the processes Wine starts inherit) the heap lies right after
# the loader. Where the system refuses to turn it off, programs run as they are.
fixed=()
if setarch -R true 2>/dev/null; then fixed=(setarch -R); fi
export LC_ALL=zh_CN.GBK
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Programs of suites that run side by side share the prefix: the first one sets it up while the
# others wait for it (a lock file beside the prefix), so that no program starts in a prefix that is
# half made, and no two set it up at once. The mark file says that the set-up has ended. A prefix
# that a test set up itself (without the mark) is taken as it is: setting it up again would wait
# for every program running in it, a service among them, to end.
ready=$WINEPREFIX/.set-up
if [ ! -f "$ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$ready" ] && [ ! -d "$WINEPREFIX/drive_c" ]; then
    if ! "${fixed[@]}" "$loader" wineboot --init >/dev/null 2>&1 || ! wineserver -w; then
      echo "wine-run: could not set up the Wine prefix $WINEPREFIX" >&2
      rm -rf "$WINEPREFIX"
      exit 1
    fi
  fi
  : >"$ready"
  flock -u 9
  exec 9>&-
fi
[ -n "$program" ] || exit 0
# Wine ends its own system processes a few seconds after the last program of the prefix ends, and
# the next program starts them all again: seconds per start, and each of a suite's tests starts
# programs one after another. A server that stays LINGER seconds after the last program keeps
# them running from one test to the next, and ends by itself after the last. The system processes
# hold the standard handles of the program that started them: the call that starts the server
# starts them from a program whose output goes nowhere, else a caller reading the first program's
# output to its end would wait for them. Calls side by side wait for that (the lock beside the
# prefix); where a server already runs, the server started here ends at once.
linger=${WINE_RUN_LINGER:-30}
if [ "$linger" -gt 0 ]; then
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if (cd / && exec wineserver -p"$linger" </dev/null >/dev/null 2>&1); then
    (cd / && exec "${fixed[@]}" "$loader" cmd /c exit </dev/null >/dev/null 2>&1) || true
  fi
  flock -u 9
  exec 9>&-
fi
exec "${fixed[@]}" "$loader" "$program" "$@"
