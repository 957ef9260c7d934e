#!/usr/bin/env bash
# Installs what is missing, builds the library and the CLI, and parses the
# sample file shipped in examples/, printing its JSON.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target subparse_cli >/dev/null
build/release/subparse "${1:-examples/sample.srt}"
