#!/usr/bin/env bash
# Line and branch coverage of src/ by the unit tests, with gcov and gcovr.
# Prints the summary and writes build/coverage/index.html.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
if ! command -v gcovr >/dev/null; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq gcovr >/dev/null
fi
cmake -S . -B build/coverage -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
  -DCMAKE_CXX_FLAGS="--coverage -O0" -DCMAKE_EXE_LINKER_FLAGS="--coverage" \
  -DCMAKE_SHARED_LINKER_FLAGS="--coverage" >/dev/null
cmake --build build/coverage >/dev/null
find build/coverage -name '*.gcda' -delete
ctest --test-dir build/coverage -j "$(nproc)" >/dev/null
mkdir -p build/coverage/html
gcovr -r . build/coverage --filter 'src/' --exclude-unreachable-branches --exclude-throw-branches \
  --html-details build/coverage/html/index.html --print-summary | tail -n 3
