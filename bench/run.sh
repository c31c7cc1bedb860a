#!/usr/bin/env bash
# Runs the benchmarks of a bench build: bench/run.sh [build folder, default build/bench] [args].
# The editions write their result files beside the program, so the program runs from a copy in
# a memory file system where there is one: on a disk, the writeback of the replaced files would
# cost far more, and vary far more, than the libraries themselves.
#
# After the timed run, valgrind's callgrind counts the instructions of each cycle and of its
# baseline (user space only: system calls count as one instruction each). The counts are the same
# from run to run whatever else the machine does, so they tell a change's cost apart from noise.
# RIDEL_BENCH_COUNTS=0 leaves them out.
set -euo pipefail
build=${1:-build/bench}
shift || true
program="$build/bench/ridel_bench"
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  folder=$(mktemp -d /dev/shm/ridel-bench.XXXXXX)
  trap 'rm -rf "$folder"' EXIT
  cp "$program" "$folder/"
  program="$folder/ridel_bench"
else
  folder=$(mktemp -d)
  trap 'rm -rf "$folder"' EXIT
fi
# The reader process's folder in memory too, as under a desktop session's XDG_RUNTIME_DIR.
XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$folder} "$program" "$@"

[ "${RIDEL_BENCH_COUNTS:-1}" = 0 ] && exit 0
if ! command -v valgrind >/dev/null 2>&1; then
  echo "instruction counts: valgrind is not installed, left out"
  exit 0
fi
times=50
# Instructions per call sequence inside ridel_counted_calls.
count() {
  local out="$folder/callgrind.out"
  valgrind --tool=callgrind --toggle-collect=ridel_counted_calls --callgrind-out-file="$out" \
    "$program" --count-instructions "$1" "$times" >/dev/null 2>&1 || return 1
  awk -v n="$times" '/^totals:/ { printf "%.0f", $2 / n }' "$out"
}
echo
echo "instructions per call sequence (callgrind, $times sequences each):"
for pair in cycle/qdx cycle/sdt cycle/vantrel port_scan/sdt; do
  what=${pair%/*} edition=${pair#*/}
  lib=$(count "$pair") || { echo "  $pair: could not be counted"; continue; }
  base=$(count "${what}_baseline/$edition") || { echo "  $pair: baseline could not be counted"; continue; }
  awk -v p="$pair" -v l="$lib" -v b="$base" \
    'BEGIN { printf "  %-16s %10d  baseline %10d  ratio %.3f  library %8d\n", p, l, b, l / b, l - b }'
done
