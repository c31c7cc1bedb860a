#!/usr/bin/env bash
# scripts/stage.sh, which times the stages of make test: a stage's status is its command's, a
# failed stage fails its caller and is marked in the report, stages side by side print their
# output as whole blocks, and the report lists every stage once with the total.
#   tests/stages/stage_test.sh
set -uo pipefail
# Run from make test, this test is itself a stage beside others: their marks must not reach it.
unset STAGE_BESIDE STAGE_DIR
stage=$(cd "$(dirname "$0")/../.." && pwd)/scripts/stage.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
passes=0 failures=0
check() {  # DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; passes=$((passes + 1))
  else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

"$stage" begin
"$stage" run passes true >out 2>&1
check "a stage that passes exits 0" test $? -eq 0
"$stage" run fails sh -c 'exit 3' >out 2>&1
check "a failed stage exits with its command's status" test $? -eq 3
check "a failed stage says so" grep -q 'stage fails FAILED (exit status 3)' out

# Each stage beside the others writes more lines than a pipe holds at once; each block must hold
# one stage's lines only, in order, between the markers that name it.
lines='for i in $(seq 1 3000); do echo "$0 line $i"; done'
"$stage" together left "bash -c '$lines' left" right "bash -c '$lines' right; exit 5" \
  middle "bash -c '$lines' middle" >out 2>&1
check "a failed stage beside others fails them all" test $? -ne 0
check "the failed stage is named at the end" grep -q 'stages FAILED: right$' out
for name in left right middle; do
  block=$(sed -n "/^== stage $name: output\$/,/^== stage $name\\(: done\\| FAILED\\)/p" out |
          sed '1d;$d')
  expected=$(for i in $(seq 1 3000); do echo "$name line $i"; done)
  check "the output of $name comes as one block" test "$block" = "$expected"
  check "the log of $name is kept" test -s "build/stages/$name.log"
done

# A lane: stages run inside a stage beside others are marked as beside others too.
"$stage" together lane "$stage run inner true" >out 2>&1
check "a lane of stages passes" test $? -eq 0

"$stage" report >report 2>&1
check "the report lists each stage once" \
  test "$(awk '$1 != "==" && $1 != "total" {print $1}' report | sort | paste -sd' ')" = \
       "fails inner lane left middle passes right"
check "the report marks the failed stages" \
  test "$(grep -c 'FAILED' report)" -eq 2
check "the report marks the stages beside others" \
  test "$(grep -c '||$' report)" -eq 5
check "the report ends with the total" grep -qE '^   total +[0-9]+ s \([0-9]+ min [0-9]{2} s\)$' report

"$stage" begin
"$stage" report >report 2>&1
check "begin forgets the earlier stages" test "$(grep -vc -e '^==' -e 'total' report)" -eq 0

# Each suite stage of make test runs its preset's CTest suites (a rule that make skipped would
# pass in no time without running a test).
source_dir=$(dirname "$stage")/..
for preset in linux windows-x64; do
  check "make suite-$preset runs its CTest suites" \
    grep -q "ctest --preset $preset" <(make -n -C "$source_dir" --no-print-directory suite-$preset)
done

# make test decides before Wine is installed whether the 32-bit suites can run, from the kernel:
# where Wine's 32-bit loader is installed, the two answers must agree, or the 32-bit suites would
# silently go unbuilt (or fail to start).
if [ -x /usr/lib/wine/wine ]; then
  /usr/lib/wine/wine --version >/dev/null 2>&1; wine_answer=$?
  "$source_dir/scripts/wine-run.sh" --can-run-32-bit; probe_answer=$?
  check "the 32-bit probe agrees with Wine's 32-bit loader" \
    test $((wine_answer == 0)) -eq $((probe_answer == 0))
fi

# Wine's programs run without address space randomization, the programs that they start too:
# with it, about one start in 400 ends before its program runs. A command prompt started through
# the wrapper starts another, which waits for its input; both are looked up by a mark of their own.
# Only Wine's processes count: the wrapper and the shells it forks carry the mark in their command
# line too, for a moment before each of them runs the program it is for.
cmd=$source_dir/build/windows-x64/wineprefix/drive_c/windows/system32/cmd.exe
if [ -f "$cmd" ] && setarch -R true 2>/dev/null; then
  mark="stage-test-$$"
  exec 8> >(exec "$source_dir/scripts/wine-run.sh" "$cmd" /c cmd /k rem "$mark" >/dev/null 2>&1)
  for _ in $(seq 1 100); do
    pids=()
    for pid in $(pgrep -f "cmd.* /k rem $mark"); do
      case $(readlink "/proc/$pid/exe") in /usr/lib/wine/wine*) pids+=("$pid") ;; esac
    done
    [ "${#pids[@]}" -ge 2 ] && break
    sleep 0.2
  done
  fixed=0
  for pid in "${pids[@]}"; do
    (( 0x$(cat "/proc/$pid/personality" 2>/dev/null || echo 0) & 0x40000 )) && fixed=$((fixed + 1))
  done
  exec 8>&-
  check "Wine's programs and their children run without address randomization" \
    test "${#pids[@]}" -ge 2 -a "$fixed" -eq "${#pids[@]}"
fi

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
