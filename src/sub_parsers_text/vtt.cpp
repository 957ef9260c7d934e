// WebVTT. The SRT block rules, with the header and the NOTE, STYLE and
// REGION blocks read past: a line beginning with one of those words (any
// case) is never a timing line. The header itself is optional.
//
//   WEBVTT
//
//   intro                               cue identifier (ignored)
//   00:01.000 --> 00:04.000 align:start cue settings are ignored
//   <v Roger>text stays as written
#include "sub_internal.h"

int sub_parse_vtt(const char *text, size_t len) {
  if (srt_read_blocks(text, len, true) < 1) {
    sub_set_error("no VTT cues");
    return SUB_ERR_NOCUES;
  }
  g_sub.detected_format = SUB_FMT_VTT;
  return SUB_OK;
}
