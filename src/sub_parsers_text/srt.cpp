// SubRip (SRT). Blocks separated by blank lines:
//
//   1                                  optional index, or any stray lines
//   00:00:01,000 --> 00:00:02,500      timing line: "-->", "- >" or "->"
//   first line of text                 one or more text lines (trimmed)
//
// Times are [H:]M:S with ',' or '.' before the milliseconds; whatever follows
// the end time (position coordinates, cue settings) is ignored. A block
// without a readable timing line, or a cue without text, is dropped. The
// block walk is shared with WebVTT, which only adds header words to skip.
#include "sub_internal.h"

namespace {

// Arrow forms in order of preference (not of position in the line).
constexpr std::string_view delims[] = {"-->", "- >", "->"};

constexpr size_t srt_left_max = 127;   // bytes of the part before the arrow
constexpr size_t srt_right_max = 255;  // bytes of the part after it

constexpr std::string_view vtt_header_words[] = {"WEBVTT", "NOTE", "STYLE", "REGION"};

bool vtt_is_header_word(std::string_view line) {
  for (std::string_view word : vtt_header_words)
    if (sub_sv_istarts(line, word)) return true;
  return false;
}

}  // namespace

bool srt_try_tc(std::string_view line, int32_t *start, int32_t *end) {
  for (std::string_view arrow : delims) {
    const size_t at = line.find(arrow);
    if (at == std::string_view::npos) continue;
    const std::string_view left = line.substr(0, at < srt_left_max ? at : srt_left_max);
    const std::string_view right = line.substr(at + arrow.size()).substr(0, srt_right_max);
    const int32_t s = sub_hms_ms(left, false);
    const int32_t e = s < 0 ? -1 : sub_hms_ms(right, false);
    if (e < 0) return false;
    *start = s;
    *end = e;
    return true;
  }
  return false;
}

int srt_read_blocks(const char *text, size_t len, bool vtt) {
  SubLineReader reader = sub_line_reader(text, len);
  std::string_view raw;
  bool in_block = false;
  bool timed = false;
  int32_t cue = -1;
  auto end_block = [&] {
    if (timed && cue >= 0 && g_sub.cues[cue].lines.count == 0) sub_cue_drop_last();
    in_block = timed = false;
    cue = -1;
  };
  while (sub_line_next(&reader, &raw)) {
    const std::string_view line = sub_sv_trim(raw);
    if (line.empty()) {
      if (in_block) end_block();
      continue;
    }
    in_block = true;
    if (timed) {
      if (cue >= 0) sub_cue_add_line_n(cue, line.data(), line.size());
      continue;
    }
    if (vtt && vtt_is_header_word(line)) continue;
    int32_t start = 0;
    int32_t end = 0;
    if (srt_try_tc(line, &start, &end)) {
      timed = true;
      cue = sub_cue_add(start, end);
    }
  }
  if (in_block) end_block();
  return g_sub.cue_count;
}

int sub_parse_srt(const char *text, size_t len) {
  if (srt_read_blocks(text, len, false) < 1) {
    sub_set_error("no SRT cues");
    return SUB_ERR_NOCUES;
  }
  g_sub.detected_format = SUB_FMT_SRT;
  return SUB_OK;
}
