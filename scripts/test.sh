#!/usr/bin/env bash
# The whole test suite from a fresh clone: installs what is missing, then
# builds and runs every test twice, an optimised build with g++ and an
# AddressSanitizer + UndefinedBehaviorSanitizer build with clang, runs the
# document API's thread test under ThreadSanitizer, then gives each fuzz target
# a short run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

echo "== release build (g++) =="
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DSUBPARSE_WERROR=ON \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ >/dev/null
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"
echo "== python package (pip install and wheel, fresh venvs) =="
bash scripts/python_test.sh

echo "== sanitizer build (clang, address + undefined) =="
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSUBPARSE_WERROR=ON \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DSUBPARSE_SANITIZE=address,undefined >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs"

# Only the thread test: the rest runs on one thread, and ThreadSanitizer has
# nothing to find there that the builds above would not.
echo "== thread sanitizer build (clang): documents on many threads =="
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSUBPARSE_WERROR=ON \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DSUBPARSE_SANITIZE=thread >/dev/null
cmake --build build/tsan -j "$jobs" --target doc_threads_test
# ThreadSanitizer's shadow memory needs a fixed address-space layout, which
# some kernels' address randomisation breaks; setarch -R turns it off.
norandom=()
if command -v setarch >/dev/null; then norandom=(setarch "$(uname -m)" -R); fi
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "${norandom[@]}" build/tsan/tests/doc_threads_test

echo "== fuzzing: 15 seconds per target (clang, address + undefined) =="
bash scripts/fuzz.sh 15

echo "== all tests passed =="
