#!/usr/bin/env bash
# Times the stages of `make test` and prints them at the end, one line per stage and the total.
#
#   scripts/stage.sh begin                      forgets the times of an earlier run
#   scripts/stage.sh run NAME CMD [ARGS...]     runs one stage, its output as it comes
#   scripts/stage.sh together NAME 'CMD' [NAME 'CMD']...
#                                               runs stages side by side (each CMD through bash -c);
#                                               each one's output goes to build/stages/NAME.log and
#                                               is printed whole when it ends, so that the stages'
#                                               lines never interleave
#   scripts/stage.sh report                     prints the times and the total
#
# A failed stage fails the command (in `together` once all of its stages have ended), and the
# report still lists it, marked FAILED. The times are kept in build/stages/times, one line per
# stage: name, seconds, status, and "||" for a stage that ran beside others (also a stage run by
# one of those, as in a lane of stages).
set -uo pipefail

dir=${STAGE_DIR:-build/stages}
times=$dir/times

record() {  # NAME SECONDS STATUS [||]
  printf '%s %s %s %s\n' "$1" "$2" "$3" "${4:-}" >>"$times"
}

case ${1:-} in
  begin)
    mkdir -p "$dir"
    rm -f "$dir"/*.log
    date +%s >"$dir/start"
    : >"$times"
    ;;

  run)
    name=$2
    shift 2
    mkdir -p "$dir"
    echo "== stage $name"
    start=$(date +%s)
    "$@"
    status=$?
    record "$name" $(($(date +%s) - start)) "$status" "${STAGE_BESIDE:+||}"
    [ "$status" -eq 0 ] || echo "== stage $name FAILED (exit status $status)" >&2
    exit "$status"
    ;;

  together)
    shift
    mkdir -p "$dir"
    names=()
    pids=()
    while [ $# -ge 2 ]; do
      name=$1 command=$2
      shift 2
      log=$dir/$name.log
      echo "== stage $name (beside others; its output when it ends)"
      (
        # Stages run inside this one (a lane of them) ran beside others too.
        export STAGE_BESIDE=1
        start=$(date +%s)
        bash -c "$command" >"$log" 2>&1 </dev/null
        status=$?
        record "$name" $(($(date +%s) - start)) "$status" "||"
        # One block per stage: its whole log at once, between markers naming it.
        {
          echo "== stage $name: output"
          cat "$log"
          if [ "$status" -eq 0 ]; then echo "== stage $name: done"
          else echo "== stage $name FAILED (exit status $status; log: $log)"; fi
        } | { flock 9; cat; } 9>"$dir/.print-lock"
        exit "$status"
      ) &
      names+=("$name")
      pids+=($!)
    done
    failed=()
    for i in "${!pids[@]}"; do
      wait "${pids[$i]}" || failed+=("${names[$i]}")
    done
    if [ "${#failed[@]}" -gt 0 ]; then
      echo "== stages FAILED: ${failed[*]}" >&2
      exit 1
    fi
    ;;

  report)
    [ -f "$times" ] || { echo "stage: no stage times in $times" >&2; exit 1; }
    echo "== stage times (|| ran beside other stages)"
    awk '{ printf "   %-24s %5d s %s%s\n", $1, $2, ($3 == 0 ? "" : "FAILED "), ($4 == "||" ? "||" : "") }' \
      "$times"
    if [ -f "$dir/start" ]; then
      total=$(($(date +%s) - $(cat "$dir/start")))
      printf '   %-24s %5d s (%d min %02d s)\n' total "$total" $((total / 60)) $((total % 60))
    fi
    ;;

  *)
    echo "usage: $0 begin | run NAME CMD... | together NAME CMD [NAME CMD]... | report" >&2
    exit 2
    ;;
esac
