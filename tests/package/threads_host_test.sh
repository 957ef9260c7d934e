#!/usr/bin/env bash
# Runs examples/threads_host.c: the two sample files; two large generated files
# whose parses overlap in time, in both orders and several times, each
# document checked cue by cue against what the generator wrote and against
# the CLI's JSON; and the failures it reports.
# Usage: threads_host_test.sh SOURCE_DIR THREADS_HOST CLI
set -euo pipefail
src=$1 host=$2 cli=$3
. "$src/tests/package/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$src"

# --- the samples -----------------------------------------------------------
out=$("$host" examples/sample.srt examples/sample_danmaku.xml) || fail "threads_host failed on the samples"
expected=$(printf '%s\n' "examples/sample.srt: srt, UTF-8, 2 cues" \
  "  1000 --> 2500  first line | second line" \
  "  3000 --> 4000  <i>Bonjour</i>, 世界!" \
  "examples/sample_danmaku.xml: bilibili, UTF-8, 3 cues" \
  "  500 --> 3500  first!  [danmaku: mode 1, colour #FFFFFF, size 25]" \
  "  2250 --> 5250  top & red  [danmaku: mode 5, colour #FF0000, size 36]" \
  "  4000 --> 7000  弹幕 at the bottom  [danmaku: mode 4, colour #00FF00, size 25]"
  # The first document's JSON, read after the second was freed.
  "$cli" examples/sample.srt)
[ "$out" = "$expected" ] || fail "threads_host printed for the samples:
$out
expected:
$expected"

# --- large files, parsed at the same time -----------------------------------
# Each generator writes the file and, beside it, the lines threads_host must
# print for it (its header first). Every cue's text is unique, so a cue that
# lands in the wrong document, or a lost or repeated one, shows.
n=40000
awk -v n="$n" -v file="$work/big.srt" -v path="$work/big.srt" 'BEGIN {
  printf "%s: srt, UTF-8, %d cues\n", path, n
  for (i = 1; i <= n; i++) {
    start = i * 1000; end = start + 800
    printf "%d\n%02d:%02d:%02d,%03d --> %02d:%02d:%02d,%03d\nsubtitle %d\nsecond line %d\n\n", i,
      start / 3600000, start / 60000 % 60, start / 1000 % 60, start % 1000,
      end / 3600000, end / 60000 % 60, end / 1000 % 60, end % 1000, i, i >file
    printf "  %d --> %d  subtitle %d | second line %d\n", start, end, i, i
  }
}' >"$work/big.srt.expected"
awk -v n="$n" -v file="$work/big.xml" -v path="$work/big.xml" 'BEGIN {
  printf "%s: bilibili, UTF-8, %d cues\n", path, n
  print "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<i>" >file
  for (i = 1; i <= n; i++) {
    start = i * 250
    mode = i % 3 == 0 ? 1 : i % 3 == 1 ? 4 : 5
    size = i % 2 ? 18 : 25
    colour = (i * 2654435761) % 16777216
    printf "  <d p=\"%d.%03d,%d,%d,%d,1700000000,0,%08x,%d\">comment %d &amp; more</d>\n",
      start / 1000, start % 1000, mode, size, colour, i, i, i >file
    printf "  %d --> %d  comment %d & more  [danmaku: mode %d, colour #%06X, size %d]\n",
      start, start + 3000, i, mode, colour, size
  }
  print "</i>" >file
}' >"$work/big.xml.expected"

for order in "big.srt big.xml" "big.xml big.srt"; do
  read -r first second <<<"$order"
  { cat "$work/$first.expected" "$work/$second.expected"; "$cli" "$work/$first"; } >"$work/expected" ||
    fail "the CLI failed on $work/$first"
  for run in 1 2 3; do
    "$host" "$work/$first" "$work/$second" >"$work/out" 2>"$work/err" ||
      { cat "$work/err" >&2; fail "threads_host failed on $order (run $run)"; }
    [ ! -s "$work/err" ] || { cat "$work/err" >&2; fail "threads_host wrote to stderr on $order"; }
    cmp -s "$work/out" "$work/expected" ||
      { diff "$work/expected" "$work/out" | head -n 20 >&2; fail "threads_host misread $order (run $run)"; }
  done
done

# --- failures ----------------------------------------------------------------
# An unreadable file: the other is still printed and freed; exit status 66.
status=0
out=$("$host" examples/sample.srt "$work/missing.srt" 2>"$work/err") || status=$?
[ "$status" -eq 66 ] || fail "a missing file gave exit status $status, not 66"
grep -q "missing.srt: No such file or directory" "$work/err" || fail "no reason for the missing file: $(cat "$work/err")"
[ "$(head -n 3 <<<"$out")" = "$(head -n 3 <<<"$expected")" ] || fail "the readable file was not printed: $out"

# A file that does not parse (empty: SUB_ERR_EMPTY) reports its code and
# exits with it; the other document is printed all the same.
: >"$work/empty.srt"
status=0
out=$("$host" "$work/empty.srt" examples/sample_danmaku.xml 2>"$work/err") || status=$?
[ "$status" -eq 3 ] || fail "an empty file gave exit status $status, not 3"
grep -q "empty.srt: .*(code 3)" "$work/err" || fail "no code for the empty file: $(cat "$work/err")"
[ "$out" = "$(sed -n '4,7p' <<<"$expected")" ] || fail "the danmaku file was not printed alone: $out"

status=0
"$host" examples/sample.srt >/dev/null 2>&1 || status=$?
[ "$status" -eq 64 ] || fail "one argument gave exit status $status, not 64"
echo "threads_host test passed"
