#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address + undefined sanitizers) and
# runs each for a fixed time on a seed corpus made from the test inputs and
# the shared sample files. Usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [JOBS]
#   scripts/fuzz.sh 30          the short pass the test command runs
#   scripts/fuzz.sh 3600 2      a long campaign on two cores
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
jobs=${2:-1}
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DSUBPARSE_SANITIZE=address,undefined -DSUBPARSE_FUZZ=ON -DSUBPARSE_TESTS=OFF >/dev/null
cmake --build build/fuzz --target fuzz_parse fuzz_detect >/dev/null

# Seeds: the committed corpus, plus the shared samples when they are there,
# each prefixed with the two selector bytes (automatic format, no encoding).
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
mkdir -p work_parse work_detect crashes
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
fuzz/fuzz_parse work_parse seeds -max_total_time="$seconds" -jobs="$jobs" -workers="$jobs" \
  -max_len=65536 -timeout=10 -rss_limit_mb=4096 -artifact_prefix=crashes/ \
  -print_final_stats=1 >parse.log 2>&1 || status=1
if [ "$jobs" -gt 1 ]; then cat fuzz-*.log >>parse.log 2>/dev/null || true; fi
grep -E '^stat::number_of_executed_units|SUMMARY|^==.*ERROR' parse.log | sed 's/^/fuzz_parse: /' || true
fuzz/fuzz_detect work_detect seeds -max_total_time="$seconds" -max_len=16384 -timeout=10 \
  -artifact_prefix=crashes/ -print_final_stats=1 >detect.log 2>&1 || status=1
grep -E '^stat::number_of_executed_units|SUMMARY|^==.*ERROR' detect.log | sed 's/^/fuzz_detect: /' || true
if [ "$status" -ne 0 ]; then
  echo "fuzzing found a failure; see build/fuzz/parse.log, build/fuzz/detect.log and build/fuzz/crashes/" >&2
fi
exit "$status"
