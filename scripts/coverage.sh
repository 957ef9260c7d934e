#!/usr/bin/env bash
# Line and branch coverage of src/ by the unit tests, with gcov and gcovr.
# Prints the summary and writes build/coverage/html/index.html. The build's
# output shows as it runs; the tests print only their failures.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
if ! command -v gcovr >/dev/null; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "coverage: gcovr is missing; run as root or install it (apt-get install gcovr)" >&2
    exit 1
  fi
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq gcovr >/dev/null
fi
# Configure errors go to standard error and still show. Tests parse on
# several threads at once: atomic counters keep the counts exact (racing
# updates made gcov derive negative branch counts, which gcovr rejects).
cmake -S . -B build/coverage -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
  -DCMAKE_CXX_FLAGS="--coverage -O0 -fprofile-update=atomic" -DCMAKE_EXE_LINKER_FLAGS="--coverage" \
  -DCMAKE_SHARED_LINKER_FLAGS="--coverage" >/dev/null
cmake --build build/coverage
find build/coverage -name '*.gcda' -delete
ctest --test-dir build/coverage -j "$(nproc)" --output-on-failure >build/coverage/ctest.log 2>&1 || {
  grep -v -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed' build/coverage/ctest.log >&2 || true
  echo "coverage: tests failed (log: build/coverage/ctest.log)" >&2
  exit 1
}
mkdir -p build/coverage/html
gcovr -r . build/coverage --filter 'src/' --exclude-unreachable-branches --exclude-throw-branches \
  --html-details build/coverage/html/index.html --print-summary | tail -n 3
