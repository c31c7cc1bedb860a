#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time:
#   tests/fuzz/run.sh [build folder, default build/fuzz] [seconds per target, default 60]
# Each target first replays the inputs of earlier findings (tests/fuzz/regressions/<target>/),
# then fuzzes from its seed corpus (tests/fuzz/<target>/, never written to) and a working corpus
# in <build>/corpus/<target>/. A finding leaves its input in <build>/findings/<target>/ and makes
# the run fail; once fixed, that input goes into tests/fuzz/regressions/<target>/ for good.
set -uo pipefail

build=${1:-build/fuzz}
seconds=${2:-60}
source_dir=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$build" && pwd)
failed=()

for exe_dir in "$build"/tests/fuzz/*/; do
  name=$(basename "$exe_dir")
  exe="$exe_dir$name"
  [ -x "$exe" ] || continue
  corpus="$build/corpus/$name"
  findings="$build/findings/$name"
  log="$build/fuzz-$name.log"
  mkdir -p "$corpus" "$findings"
  : >"$log"

  regressions=()
  if [ -d "$source_dir/regressions/$name" ]; then
    mapfile -t regressions < <(find "$source_dir/regressions/$name" -type f | sort)
  fi
  if [ "${#regressions[@]}" -gt 0 ] && ! "$exe" "${regressions[@]}" >>"$log" 2>&1; then
    echo "fuzz $name: an input of an earlier finding fails again (log: $log)"
    tail -n 30 "$log"
    failed+=("$name")
    continue
  fi

  # A finding stops libFuzzer with a non-zero status; -timeout catches a hang of one input.
  # Inputs of any length up to 4096 bytes from the start: a short run must reach long records.
  if "$exe" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
       -max_len=4096 -len_control=0 \
       -artifact_prefix="$findings/" "$corpus" "$source_dir/$name" >>"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' |
             tail -n 1 || true)
    echo "fuzz $name: ${runs:-?} inputs in ${seconds}s, no finding"
  else
    echo "fuzz $name: FINDING (log: $log, input in $findings/)"
    grep -E -A 12 'ERROR|fuzz finding|runtime error|SUMMARY' "$log" | head -n 40
    failed+=("$name")
  fi
done

if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}"
  exit 1
fi
