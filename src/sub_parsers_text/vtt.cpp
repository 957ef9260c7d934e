// WebVTT, as the classic reading reads it (vtt_standard.cpp holds the
// standard reading). The SRT block rules, with the header and the NOTE, STYLE and
// REGION blocks read past: a line beginning with one of those words (any
// case) is never a timing line. The header itself is optional.
//
//   WEBVTT
//
//   intro                               cue identifier (ignored)
//   00:01.000 --> 00:04.000 align:start cue settings are ignored
//   <v Roger>text stays as written
#include "block_walk.h"
#include "sub_parser.h"
#include "vtt_standard.h"

namespace {

constexpr std::string_view vtt_header_words[] = {"WEBVTT", "NOTE", "STYLE", "REGION"};

bool vtt_is_header_word(std::string_view line) {
  for (std::string_view word : vtt_header_words)
    if (sub_sv_istarts(line, word)) return true;
  return false;
}

}  // namespace

int sub_parse_vtt(SubDoc *doc, const char *text, size_t len) {
  if (doc->reading == SUB_READING_STANDARD) return vtt_parse_standard(doc, text, len);
  return sub_parser_done(doc, SUB_FMT_VTT, srt_read_blocks(doc, text, len, vtt_is_header_word));
}
