#!/usr/bin/env bash
# The Python package (python/) installed twice, each time into a fresh
# virtual environment under a temporary folder, and its pytest suites run
# against the installed copy:
#   1. pip install --no-build-isolation ./python   (from the source folder)
#   2. python3 -m build --wheel --no-isolation python, then pip install of
#      that wheel (which must be tagged for this platform: it holds a library)
# Both builds run CMake on this repository (python/setup.py); the second
# reuses the first's build folder, python/build/cmake.
#
# Everything comes from Debian's archive (scripts/setup.sh installs it); no
# package index is reached. The interpreter is Debian's /usr/bin/python3,
# whose python3-* packages those are; SUBPARSE_PYTHON names another one. The
# environments see the system's packages (--system-site-packages) for
# setuptools, wheel and pytest. SUBPARSE_CORPUS (default: ../shared/corpus
# beside the repository) is the corpus the suites read; without it those
# tests skip.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
python=${SUBPARSE_PYTHON:-/usr/bin/python3}
[ -x "$python" ] || python=$(command -v python3)

fail() { echo "python_test: $*" >&2; exit 1; }
step() { echo "== python: $* =="; }
elapsed() { echo "   ($(($(date +%s) - $1)) s)"; }

[ -f "$("$python" -c 'import sysconfig; print(sysconfig.get_path("include"))')/Python.h" ] ||
  fail "$python has no Python.h to build the package's extension: run scripts/setup.sh (python3-dev)"
for module in venv ensurepip setuptools wheel build pytest; do
  "$python" -c "import $module" 2>/dev/null ||
    fail "$python cannot import $module: run scripts/setup.sh (python3-venv python3-setuptools" \
         "python3-wheel python3-build python3-pytest)"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SUBPARSE_CORPUS=${SUBPARSE_CORPUS:-$(cd "$root/.." && pwd)/shared/corpus}
export PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 PYTHONDONTWRITEBYTECODE=1
export SUBPARSE_WERROR=1  # the extension module builds without a warning
unset SUBPARSE_LIBRARY  # the installed package must find its own library
# The suites run from a copy outside the source tree, so that `import
# subparse` can only find the installed package.
cp -r "$root/python/tests" "$work/tests"

run_suites() {  # VENV
  local start
  start=$(date +%s)
  step "pytest against $("$1/bin/python" -c 'import subparse; print(subparse.__file__)')"
  (cd "$work" && "$1/bin/python" -m pytest -q -p no:cacheprovider -rs "$work/tests") ||
    fail "the suites failed against the package installed in $1"
  elapsed "$start"
}

start=$(date +%s)
step "source install: pip install --no-build-isolation $root/python (fresh venv $work/source)"
"$python" -m venv --system-site-packages "$work/source"
"$work/source/bin/python" -m pip install -q --no-build-isolation "$root/python" ||
  fail "pip install of $root/python failed"
elapsed "$start"
run_suites "$work/source"

start=$(date +%s)
step "wheel: $python -m build --wheel --no-isolation $root/python"
"$python" -m build --wheel --no-isolation --outdir "$work/dist" "$root/python" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log" >&2; fail "building the wheel failed"; }
wheel=$(ls "$work"/dist/*.whl)
echo "   $(basename "$wheel")"
case $(basename "$wheel") in
  *-cp3*-cp3*-linux_*.whl) ;;
  *) fail "the wheel is not tagged for this interpreter and platform: $(basename "$wheel")" ;;
esac
"$python" - "$wheel" <<'EOF' || fail "the wheel lacks the library, the extension or py.typed"
import sys, zipfile
names = set(zipfile.ZipFile(sys.argv[1]).namelist())
names |= {"subparse/_cues.so"} if any(n.startswith("subparse/_cues.") and n.endswith(".so")
                                      for n in names) else set()
missing = {"subparse/libsubparse.so", "subparse/_cues.so", "subparse/py.typed",
           "subparse/__init__.py"} - names
sys.exit(f"missing from the wheel: {sorted(missing)}" if missing else 0)
EOF
step "wheel install into a fresh venv $work/wheel"
"$python" -m venv --system-site-packages "$work/wheel"
"$work/wheel/bin/python" -m pip install -q "$wheel" || fail "pip install of the wheel failed"
elapsed "$start"
run_suites "$work/wheel"

echo "== python: both installs passed =="
