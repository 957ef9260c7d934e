#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address + undefined sanitizers) and
# runs each for a fixed time on a seed corpus made from the test inputs and
# the shared sample files. Usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [JOBS]
#   scripts/fuzz.sh 15          the short pass the test command runs
#   scripts/fuzz.sh 3600 2      a long campaign on two cores
# The targets: fuzz_parse (sub_parse and its invariants), fuzz_detect
# (sub_detect_format), fuzz_doc_diff (sub_parse against sub_doc_parse),
# fuzz_doc_standard (sub_doc_parse with its defaults: the standard readings
# and the encoding "auto") and fuzz_roundtrip (every writer's text read back
# as the cues the writers' contract keeps).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-15}
jobs=${2:-1}
targets=(fuzz_parse fuzz_detect fuzz_doc_diff fuzz_doc_standard fuzz_roundtrip)

# The build's output is kept in a log and shown when a step fails, so that a
# compiler error is never a silent failure.
mkdir -p build/fuzz
step() {
  local log=build/fuzz/build.log
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    echo "fuzz: failed: $*" >&2
    exit 1
  fi
}
step cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DSUBPARSE_SANITIZE=address,undefined -DSUBPARSE_FUZZ=ON -DSUBPARSE_TESTS=OFF
step cmake --build build/fuzz --target "${targets[@]}"

# Seeds: the committed corpus, plus the shared samples when they are there,
# each prefixed with the two selector bytes (automatic format, no encoding).
# Every target reads the same selector bytes, so all share the seeds.
seeds=build/fuzz/seeds
mkdir -p "$seeds"
cp fuzz/corpus/* fuzz/regressions/* "$seeds/" 2>/dev/null || true
if [ -d ../shared/corpus ]; then
  find ../shared/corpus -type f ! -name '*.md' ! -name '*.expected*' ! -name '*.isd.txt' -size -200k |
    while read -r f; do
      { printf '\000\000'; cat "$f"; } >"$seeds/shared_$(echo "$f" | md5sum | cut -c1-16)"
    done
fi
# Findings land in build/fuzz/crashes; each one fixed becomes a file in
# fuzz/regressions, which a unit test replays.
cd build/fuzz
mkdir -p crashes
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
for target in "${targets[@]}"; do
  max_len=65536
  [ "$target" = fuzz_detect ] && max_len=16384
  # With -jobs libFuzzer fuzzes in child processes (even for one job) and
  # copies each one's fuzz-N.log into its own output when it ends; one job
  # runs in this process instead.
  parallel=()
  if [ "$jobs" -gt 1 ]; then parallel=(-jobs="$jobs" -workers="$jobs"); fi
  mkdir -p "work_$target"
  "fuzz/$target" "work_$target" seeds -max_total_time="$seconds" "${parallel[@]}" \
    -max_len="$max_len" -timeout=10 -rss_limit_mb=4096 -artifact_prefix=crashes/ \
    -print_final_stats=1 >"$target.log" 2>&1 || status=1
  grep -E '^stat::number_of_executed_units|SUMMARY|^==.*ERROR|disagree' "$target.log" |
    sed "s/^/$target: /" || true
done
if [ "$status" -ne 0 ]; then
  echo "fuzzing found a failure; see build/fuzz/<target>.log and build/fuzz/crashes/" >&2
fi
exit "$status"
