// The block walk of SRT and WebVTT:
//
//   1                                  optional index, or any stray lines
//   00:00:01,000 --> 00:00:02,500      timing line: "-->", "- >" or "->"
//   first line of text                 one or more text lines (trimmed)
//   (blank line)                       ends the block
//
// A block without a readable timing line, or a cue without text, is dropped.
#include "block_walk.h"

#include "sub_parser.h"

namespace {

// Arrow forms in order of preference (not of position in the line).
constexpr std::string_view delims[] = {"-->", "- >", "->"};

constexpr size_t srt_left_max = 127;   // bytes of the part before the arrow
constexpr size_t srt_right_max = 255;  // bytes of the part after it

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

int32_t srt_read_blocks(SubDoc *doc, const char *text, size_t len,
                        bool (*is_header)(std::string_view line)) {
  SubLineReader reader = sub_line_reader(text, len);
  std::string_view raw;
  bool in_block = false;
  bool timed = false;
  int32_t cue = -1;
  auto end_block = [&] {
    if (timed && cue >= 0 && doc->cues[cue].lines.count == 0) sub_cue_drop_last(doc);
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
      if (cue >= 0) sub_cue_add_line(doc, cue, line.data(), line.size());
      continue;
    }
    if (is_header && is_header(line)) continue;
    int32_t start = 0;
    int32_t end = 0;
    if (srt_try_tc(line, &start, &end)) {
      timed = true;
      cue = sub_cue_add(doc, start, end);
    }
  }
  if (in_block) end_block();
  return doc->cue_count;
}
