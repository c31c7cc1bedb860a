#!/usr/bin/env bash
# Runs the benchmarks of a bench build: bench/run.sh [build folder, default build/bench] [args].
# The editions write their result files beside the program, so the program runs from a copy in
# a memory file system where there is one: on a disk, the writeback of the replaced files would
# cost far more, and vary far more, than the libraries themselves.
set -euo pipefail
build=${1:-build/bench}
shift || true
program="$build/bench/ridel_bench"
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  folder=$(mktemp -d /dev/shm/ridel-bench.XXXXXX)
  trap 'rm -rf "$folder"' EXIT
  cp "$program" "$folder/"
  program="$folder/ridel_bench"
fi
"$program" "$@"
