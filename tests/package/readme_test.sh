#!/usr/bin/env bash
# Runs README.md's shell commands the way a new user would: every ```sh block,
# in the order the README gives them, each in its own shell from the top of a
# fresh copy of the source tree (the checkout's files without its builds),
# with an empty home directory and none of the variables that point tools at
# another tree. The Quick start's demo builds build/release there, as it does
# on a new clone, and the later blocks use what it built (without the unit
# tests: see below).
#
# A few commands are not run; `skipped` below lists each with its reason, and
# an entry whose command the README no longer holds fails the test, so the
# list cannot hide a command that changed.
#
# A ```c block right after the line <!-- excerpt: FILE --> must be an excerpt
# of FILE: its lines appear there in the same order (blank lines, and lines
# that start with "..." or "/* ..." to mark what is left out, aside), so the
# README shows code that builds and runs.
#
# Usage: readme_test.sh SOURCE_DIR
set -euo pipefail
src=$(cd "$1" && pwd)
. "$src/tests/package/common.sh"

# COMMAND-PREFIX <tab> REASON: a command (a line of a ```sh block, with any
# continuation lines) that starts with COMMAND-PREFIX is not run.
skipped=$(printf '%s\t%s\n' \
  "bash scripts/test.sh" "the whole suite, which runs this test: it would run itself (and takes many minutes)" \
  "apt-get install ./build/deb/" "installs into the machine's system directories as root; deb_package checks the package" \
  "cmake -S . -B build/bench" "the benchmarks run for minutes" \
  "cmake --build build/bench" "the benchmarks run for minutes" \
  "bash scripts/fuzz.sh" "a fuzzing campaign of half an hour" \
  "pip install --no-build-isolation ./python" "installs into the reader's Python environment; scripts/python_test.sh installs it into fresh venvs" \
  "cmake --build build/release --target subparse_cli render_frame" "render_frame is built with the tests (tests/render), which the demo's build leaves out" \
  "scripts/render_frame.sh" "needs render_frame (above); danmaku_render_test draws with the same code")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
copy=$work/subparse
mkdir -p "$copy" "$work/home" "$work/blocks"

# The fresh copy: in a git checkout, the files git knows or would add (as a
# clone of the work in progress would hold them), else everything but builds.
if git -C "$src" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$src" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do if [ -e "$f" ]; then printf '%s\0' "$f"; fi; done |
    tar --null --no-recursion -T - -cf -) | tar -xf - -C "$copy"
else
  tar -C "$src" --exclude='./build*' -cf - . | tar -xf - -C "$copy"
fi
[ -f "$copy/README.md" ] || fail "the copy of $src holds no README.md"

# Splits the README into one script per ```sh block (blocks/NNN.sh, starting
# with the README line), leaving out skipped commands; lists what it left out
# in skipped.log, unused skip entries in unused.log, and checks excerpts.
awk -v dir="$work/blocks" -v skiplog="$work/skipped.log" -v unused="$work/unused.log" \
    -v root="$copy" '
  function trim(s) { sub(/^[ \t]+/, "", s); sub(/[ \t]+$/, "", s); return s }
  function fence_info(s) { s = trim(s); return trim(substr(s, 4)) }
  BEGIN { n = 0 }
  FNR == NR { split($0, f, "\t"); if (f[1] != "") { pat[n] = f[1]; why[n] = f[2]; n++ }; next }
  !open && /^[ \t]*```/ {
    open = 1; start = FNR
    match($0, /^[ \t]*/); indent = RLENGTH
    info = fence_info($0)
    sh = info == "sh"
    excerpt = info == "c" && prev ~ /^<!-- excerpt: [^ ]+ -->$/
    if (sh) {
      out = sprintf("%s/%03d.sh", dir, ++blocks)
      printf "# README.md line %d\n", FNR >out
      cont = 0
    }
    if (excerpt) {
      file = prev; sub(/^<!-- excerpt: /, "", file); sub(/ -->$/, "", file)
      m = 0
      while ((getline line < (root "/" file)) > 0) src_line[++m] = trim(line)
      close(root "/" file)
      if (m == 0) { printf "README.md:%d: excerpt of %s, which is missing or empty\n", FNR, file; bad = 1 }
      at = 0
    }
    prev = $0
    next
  }
  open && /^[ \t]*```[ \t]*$/ {
    if (sh) close(out)
    open = sh = excerpt = 0
    prev = $0
    next
  }
  open && sh {
    text = substr($0, indent + 1)
    if (!cont) {
      skipping = 0
      t = trim(text)
      for (i = 0; i < n; i++)
        if (t != "" && index(t, pat[i]) == 1) {
          skipping = 1; used[i] = 1
          printf "README.md:%d: not run: %s\n    (%s)\n", FNR, t, why[i] >skiplog
        }
    }
    if (!skipping) print text >out
    cont = text ~ /\\$/
  }
  open && excerpt {
    t = trim($0)
    if (t != "" && t !~ /^(\/\* *)?\.\.\./) {
      while (at < m && src_line[at + 1] != t) at++
      if (at == m) {
        printf "README.md:%d: not in %s (or out of order): %s\n", FNR, file, t
        bad = 1
        at = 0
      } else at++
    }
  }
  { prev = $0 }
  END {
    if (open) { printf "README.md:%d: a code block is never closed\n", start; bad = 1 }
    for (i = 0; i < n; i++) if (!used[i]) print pat[i] >unused
    close(unused)
    exit bad
  }' <(printf '%s\n' "$skipped") "$copy/README.md" ||
  fail "README.md has a code block left open or an excerpt that does not match its file"

[ ! -s "$work/unused.log" ] ||
  fail "skipped commands that the README no longer holds: $(cat "$work/unused.log")"
[ -s "$work/skipped.log" ] && { echo "== not run =="; cat "$work/skipped.log"; }
ls "$work"/blocks/*.sh >/dev/null 2>&1 || fail "the README has no \`\`\`sh block"

# A new user's environment: a home of their own (the README installs into
# ~/.local), and nothing that points tools at another build.
env_for_blocks=(env -u PKG_CONFIG_PATH -u LD_LIBRARY_PATH -u CMAKE_PREFIX_PATH -u SUBPARSE_LIBRARY
  -u PYTHONPATH -u CFLAGS -u CXXFLAGS -u LDFLAGS HOME="$work/home")
# Interpreters that a version manager keeps under the real home stay reachable.
if [ -z "${PYENV_ROOT:-}" ] && [ -d "${HOME:-/nonexistent}/.pyenv" ]; then
  env_for_blocks+=(PYENV_ROOT="$HOME/.pyenv")
fi

# One departure from a new clone: build/release is configured up front with
# the Quick start's own configure line plus -DSUBPARSE_TESTS=OFF. The
# README's commands then run as written, but `cmake --build build/release`
# leaves out the unit tests, which the suite running this test has just built
# from the same sources; building them again would cost minutes and show
# nothing new.
echo "== build/release configured with -DSUBPARSE_TESTS=OFF (the unit tests are built by this suite) =="
(cd "$copy" && "${env_for_blocks[@]}" cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DSUBPARSE_TESTS=OFF) >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log" >&2; fail "build/release of the copy did not configure"; }

for block in "$work"/blocks/*.sh; do
  where=$(head -n 1 "$block")
  if ! grep -q -v -E '^[[:space:]]*(#.*)?$' "$block"; then
    echo "== ${where#\# }: every command skipped =="
    continue
  fi
  echo "== ${where#\# } =="
  sed 1d "$block"
  start=$(date +%s)
  (cd "$copy" && "${env_for_blocks[@]}" bash -euxo pipefail "$block") >"$work/block.log" 2>&1 ||
    { cat "$work/block.log" >&2; fail "the block at ${where#\# } failed"; }
  echo "   ok ($(($(date +%s) - start)) s)"
done
echo "readme test passed"
