#!/usr/bin/env bash
# Long fuzzing runs: every fuzz target for a fixed number of executions (10
# million each, the whole driver included), two targets at a time, each
# growing a corpus of its own under BUILD_DIR/fuzz-long/ (a later run picks
# up where the last one stopped). Prints executions, exec/s and the outcome
# per target; exits non-zero when any target found something, leaving the
# input that shows it and the log in BUILD_DIR/fuzz-long/.
#
# Usage: scripts/fuzz-long.sh [BUILD_DIR] [TARGET...]
#   BUILD_DIR   a clang tree with BUILD_FUZZERS=ON; configured and built here
#               if it does not exist yet (default: build-fuzz)
#   TARGET      record_strings pick_best_language lookup_driver_string
#               register_string_packages whole_driver board_file table_dump
#               (default: all)
# Environment: FUZZ_JOBS (targets at once, default 2), FUZZ_RUNS (default
# 10000000), FUZZ_WHOLE_DRIVER_RUNS (default 10000000), FUZZ_WORKERS
# (processes per target sharing its corpus and its executions, default 1).
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:-build-fuzz}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(record_strings pick_best_language lookup_driver_string register_string_packages
           whole_driver board_file table_dump)
fi
jobs=${FUZZ_JOBS:-2}
runs=${FUZZ_RUNS:-10000000}
whole_driver_runs=${FUZZ_WHOLE_DRIVER_RUNS:-10000000}
workers=${FUZZ_WORKERS:-1}

declare -A max_len=([record_strings]=1200 [pick_best_language]=512 [lookup_driver_string]=300
                    [register_string_packages]=8192 [whole_driver]=1024 [board_file]=4096
                    [table_dump]=1024)
# The board reader keeps nothing between inputs, so libFuzzer's leak scan
# stays on for it; the shipped boards and scenarios seed it where they are.
declare -A options=([board_file]="-detect_leaks=1 -dict=tests/fuzz/board_file.dict")
declare -A extra_seeds=([board_file]="boards tests/e2e/scenarios")

if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DSANITIZE=ON -DBUILD_EFI=OFF -DBUILD_FUZZERS=ON >/dev/null
fi
ninja -C "$dir" -j2 "${targets[@]/#/fuzz_}"

out="$dir/fuzz-long"
mkdir -p "$out"

# A smaller quarantine and shorter allocation stacks keep the simulator's many
# small allocations cheap; they change what a report shows, not what is found.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=32:malloc_context_size=4}

run_target() {
  local name=$1
  local count=$runs
  [ "$name" = whole_driver ] && count=$whole_driver_runs
  mkdir -p "$out/corpus/$name"
  local status=0 started=$SECONDS worker pids=() logs=()
  # Worker 1 logs to NAME.log, the others to NAME.<worker>.log; each runs its
  # share of the executions on the one corpus.
  for ((worker = 1; worker <= workers; worker++)); do
    local log="$out/$name.log" share=$((count / workers))
    [ "$worker" -gt 1 ] && log="$out/$name.$worker.log"
    [ "$worker" -eq 1 ] && share=$((share + count % workers))
    "$dir/tests/fuzz/fuzz_$name" -runs="$share" -max_len="${max_len[$name]}" -detect_leaks=0 \
      ${options[$name]:-} -print_final_stats=1 -artifact_prefix="$out/$name-" \
      "$out/corpus/$name" "tests/fuzz/corpus/$name" ${extra_seeds[$name]:-} >"$log" 2>&1 &
    pids+=($!)
    logs+=("$log")
  done
  for pid in "${pids[@]}"; do
    wait "$pid" || status=$?
  done
  local executed=0 rate elapsed=$((SECONDS - started)) units
  for log in "${logs[@]}"; do
    units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    if [ -z "$units" ]; then executed=""; break; fi
    executed=$((executed + units))
  done
  [ -n "$executed" ] && [ "$elapsed" -gt 0 ] && rate=$((executed / elapsed))
  local outcome="no finding"
  [ "$status" -ne 0 ] && outcome="FINDING (exit $status), see ${logs[*]}"
  printf '%-26s %10s executions in %6ss, %7s exec/s  %s\n' "$name" "${executed:-?}" \
    "$elapsed" "${rate:-?}" "$outcome" | tee "$out/$name.summary"
  return "$status"
}

for name in "${targets[@]}"; do
  rm -f "$out/$name.summary"
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
    wait -n || true
  done
  run_target "$name" &
done
wait || true

echo
failed=0
for name in "${targets[@]}"; do
  cat "$out/$name.summary" 2>/dev/null || echo "$name: no summary"
  grep -q "no finding" "$out/$name.summary" 2>/dev/null || failed=1
done
exit $failed
