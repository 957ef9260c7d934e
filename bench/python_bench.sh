#!/usr/bin/env bash
# subparse's Python package against the Python subtitle readers of Debian's
# archive (bench/python_bench.py): srt, webvtt-py and aeidon, installed
# system-wide with
#   apt-get install -y python3-srt python3-webvtt python3-aeidon
#
#   bash bench/python_bench.sh [VENV] [-- ARGS for python_bench.py]
#
# VENV, when given, is a virtual environment that already has the package
# (made with --system-site-packages, so that it sees the peers); otherwise
# one is made under a temporary folder from Debian's /usr/bin/python3 and
# the package installed into it (pip install --no-build-isolation ./python,
# no package index reached). The library is built in Release by CMake in
# build/python-bench (kept between runs; SUBPARSE_CMAKE_BUILD_DIR names
# another one), so that this build does not share a folder with others.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
python=${SUBPARSE_PYTHON:-/usr/bin/python3}
[ -x "$python" ] || python=$(command -v python3)

venv=
if [ $# -gt 0 ] && [ "$1" != -- ]; then
  venv=$(cd "$1" && pwd) || { echo "python_bench: no folder $1" >&2; exit 1; }
  shift
fi
if [ "${1:-}" = -- ]; then shift; fi

"$python" -c 'import srt, webvtt, aeidon' 2>/dev/null || {
  echo "python_bench: $python cannot import srt, webvtt and aeidon: run" \
       "apt-get install -y python3-srt python3-webvtt python3-aeidon" >&2
  exit 1
}

if [ -z "$venv" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  venv=$work/venv
  echo "== python_bench: installing $root/python into $venv =="
  "$python" -m venv --system-site-packages "$venv"
  export SUBPARSE_CMAKE_BUILD_DIR=${SUBPARSE_CMAKE_BUILD_DIR:-$root/build/python-bench}
  PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 \
    "$venv/bin/python" -m pip install -q --no-build-isolation "$root/python" >"$work/pip.log" 2>&1 ||
    { cat "$work/pip.log" >&2; echo "python_bench: pip install of $root/python failed" >&2; exit 1; }
fi
"$venv/bin/python" -c 'import subparse, srt, webvtt, aeidon' || {
  echo "python_bench: $venv/bin/python cannot import subparse and the peers (a venv made" \
       "with --system-site-packages from $python, with the package installed, is needed)" >&2
  exit 1
}

# The venv's interpreter is Debian's python3 seeing the system's packages;
# run from outside the source tree so that the installed package is imported.
unset SUBPARSE_LIBRARY
cd /
"$venv/bin/python" "$root/bench/python_bench.py" "$@"
