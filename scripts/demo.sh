#!/usr/bin/env bash
# Installs what is missing, builds the library and the CLI, and parses the
# sample file shipped in examples/, printing its JSON.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

# Runs a step quietly; when it fails, shows everything it printed.
quiet() {
  local log status=0
  log=$(mktemp)
  "$@" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    cat "$log" >&2
    echo "demo: failed (exit status $status): $*" >&2
  fi
  rm -f "$log"
  return "$status"
}

quiet cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
quiet cmake --build build/release --target subparse_cli
build/release/subparse "${1:-examples/sample.srt}"
