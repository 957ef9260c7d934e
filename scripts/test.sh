#!/usr/bin/env bash
# The whole test suite from a fresh clone: installs what is missing, then
# builds and runs every test twice, an optimised build with g++ and an
# AddressSanitizer + UndefinedBehaviorSanitizer build with clang, then gives
# each fuzz target a short run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

echo "== release build (g++) =="
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DSUBPARSE_WERROR=ON \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ >/dev/null
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

echo "== sanitizer build (clang, address + undefined) =="
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSUBPARSE_WERROR=ON \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DSUBPARSE_SANITIZE=address,undefined >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs"
echo "== fuzzing: 30 seconds per target (clang, address + undefined) =="
bash scripts/fuzz.sh 30

echo "== all tests passed =="
