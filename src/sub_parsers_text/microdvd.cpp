// MicroDVD: one cue per line, two frame numbers in braces (or brackets) and
// the text, '|' separating display lines:
//
//   {1}{1}23.976                 optional frame-rate line (first timed line only)
//   {250}{300}{y:i}Hello|world   brace groups of at most 32 bytes are dropped
//
// Frames become milliseconds at 25 fps (or the rate the document's options
// give) unless the first timed line declares another rate. Frame numbers beyond 32 bits make the
// line untimed; times beyond 32 bits saturate.
#include <cmath>
#include <cstring>

#include "sub_parser.h"

namespace {

constexpr size_t mdvd_line_max = 65535;  // bytes of one display line
constexpr size_t mdvd_group_max = 32;    // longest brace group dropped

struct MdvdTiming {
  int32_t start_frame;
  int32_t end_frame;
  std::string_view text;
};

// Reads "{N}" or "[N]" (optional '-', one or more digits) at s[*i].
bool mdvd_frame(std::string_view s, size_t *i, int32_t *frame) {
  if (*i >= s.size() || (s[*i] != '{' && s[*i] != '[')) return false;
  const char close = s[*i] == '{' ? '}' : ']';
  size_t p = *i + 1;
  const bool negative = p < s.size() && s[p] == '-';
  if (negative) ++p;
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  int64_t value = 0;
  const size_t digits_from = p;
  while (p < s.size() && sub_is_digit(s[p])) {
    value = value * 10 + (s[p] - '0');
    if (value > limit) return false;
    ++p;
  }
  if (p == digits_from || p >= s.size() || s[p] != close) return false;
  *frame = static_cast<int32_t>(negative ? -value : value);
  *i = p + 1;
  return true;
}

bool mdvd_timed_line(std::string_view line, MdvdTiming *t) {
  size_t i = 0;
  if (!mdvd_frame(line, &i, &t->start_frame) || !mdvd_frame(line, &i, &t->end_frame)) return false;
  t->text = line.substr(i);
  return true;
}

// Whether the text of the first timed line declares the frame rate.
bool mdvd_frame_rate(std::string_view text, float *fps) {
  float value = 0.0f;
  const size_t used = sub_strtof(text, &value);
  if (!used || !(value > 1.0f) || !(value < 120.0f)) return false;
  if (used < text.size() && text[used] != ' ' && text[used] != '{') return false;
  *fps = value;
  return true;
}

int32_t mdvd_ms(int32_t frame, float fps) {
  const float ms = static_cast<float>(frame) * 1000.0f / fps;
  if (ms >= 2147483648.0f) return INT32_MAX;
  if (ms < -2147483648.0f) return INT32_MIN;
  return static_cast<int32_t>(ms);
}

// Adds the display lines of a cue text: '|' ends a line, short brace groups
// vanish, empty lines are dropped; a line full at 65535 bytes while text
// remains ends the cue's text.
void mdvd_add_lines(SubDoc *doc, int32_t cue, std::string_view text, char *segment) {
  size_t len = 0;
  size_t next_close = 0;  // position of the next '}' at or after i, if searched
  bool close_known = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (len == mdvd_line_max) break;
    const char c = text[i];
    if (c == '{') {
      if (!close_known || next_close < i) {
        const void *hit = std::memchr(text.data() + i, '}', text.size() - i);
        next_close =
            hit ? static_cast<size_t>(static_cast<const char *>(hit) - text.data()) : text.size();
        close_known = true;
      }
      if (next_close < text.size() && next_close - i + 1 <= mdvd_group_max) {
        i = next_close;
        continue;
      }
    } else if (c == '|') {
      if (len) sub_cue_add_line(doc, cue, segment, len);
      len = 0;
      continue;
    }
    segment[len++] = c;
  }
  if (len) sub_cue_add_line(doc, cue, segment, len);
}

}  // namespace

int sub_parse_microdvd(SubDoc *doc, const char *text, size_t len) {
  SubScratch segment(mdvd_line_max);
  if (!segment.data) return SUB_ERR_NOMEM;
  SubLineReader reader = sub_line_reader(text, len);
  std::string_view line;
  float fps = doc->microdvd_fps > 0 ? doc->microdvd_fps : 25.0f;
  bool first_timed = true;
  while (sub_line_next(&reader, &line)) {
    MdvdTiming t;
    if (!mdvd_timed_line(sub_sv_trim(line), &t)) continue;
    if (first_timed) {
      first_timed = false;
      if (mdvd_frame_rate(t.text, &fps)) continue;
    }
    const int32_t cue = sub_cue_add(doc, mdvd_ms(t.start_frame, fps), mdvd_ms(t.end_frame, fps));
    if (cue >= 0) mdvd_add_lines(doc, cue, t.text, segment.data);
  }
  return sub_parser_done(doc, SUB_FMT_MICRODVD, doc->cue_count);
}
