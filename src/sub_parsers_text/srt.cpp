// SubRip (SRT). Blocks separated by blank lines:
//
//   1                                  optional index, or any stray lines
//   00:00:01,000 --> 00:00:02,500      timing line: "-->", "- >" or "->"
//   first line of text                 one or more text lines (trimmed)
//
// Times are [H:]M:S with ',' or '.' before the milliseconds; whatever follows
// the end time (position coordinates, cue settings) is ignored. The block
// walk is shared with WebVTT (block_walk.cpp).
#include "block_walk.h"
#include "sub_parser.h"

int sub_parse_srt(SubDoc *doc, const char *text, size_t len) {
  return sub_parser_done(doc, SUB_FMT_SRT, srt_read_blocks(doc, text, len, nullptr));
}
