#!/usr/bin/env bash
# Draws one frame of a danmaku file as the library lays it out: converts the
# file to ASS with the subparse program, then renders the frame at TIME with
# libass (the render_frame program) into a PNG. Builds nothing: BUILD_DIR must
# hold both programs (cmake --build BUILD_DIR --target subparse_cli
# render_frame; render_frame needs libass and zlib).
#
#   scripts/render_frame.sh BUILD_DIR INPUT TIME OUTPUT.png
#
# TIME is in seconds (63.5). Chinese and Japanese text needs a CJK font
# installed (Debian: fonts-wqy-zenhei), or libass draws nothing for it.
set -euo pipefail

if [ "$#" -ne 4 ]; then
  echo "usage: $0 BUILD_DIR INPUT TIME OUTPUT.png" >&2
  exit 64
fi
build=$1 input=$2 time=$3 output=$4
for program in subparse render_frame; do
  if [ ! -x "$build/$program" ]; then
    echo "render_frame.sh: no $build/$program (build the subparse_cli and render_frame targets)" >&2
    exit 66
  fi
done

ass=$(mktemp --suffix=.ass)
trap 'rm -f "$ass"' EXIT
# The subparse program's warnings go to standard error.
"$build/subparse" --to ass "$input" -o "$ass"
"$build/render_frame" "$ass" "$time" "$output"
