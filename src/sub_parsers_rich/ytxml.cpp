// YouTube timed-text XML: one cue per element
//
//   <text start="12.5" dur="3.2">Hello &amp;amp; <font color="#fff">world</font></text>
//
// "<text" and "</text>" are found ignoring case. Times are seconds, read and
// multiplied in single precision: start = start × 1000, end = (start + dur)
// × 1000. Elements without a duration, self-closing ones and empty texts add
// nothing.
#include "sub_parser.h"
#include "xml_scan.h"

namespace {

constexpr size_t yt_tag_max = 511;   // bytes of an opening-tag copy
constexpr size_t yt_attr_size = 64;  // a value and its NUL

// Seconds read as strtod reads them, then rounded to single precision.
float yt_seconds(const char *value) {
  double v = 0;
  sub_strtod(value, &v);
  return static_cast<float>(v);
}

// A single-precision millisecond value truncated toward zero; out of range
// gives -2147483648.
int32_t yt_ms(float ms) { return sub_double_to_i32(static_cast<double>(ms)); }

}  // namespace

int sub_parse_ytxml(SubDoc *doc, const char *text_in, size_t len_in) {
  const std::string_view text(text_in, xml_text_len(text_in, len_in));
  SubScratch text_buf(SUB_XML_TEXT_SIZE);
  if (!text_buf.data) return SUB_ERR_NOMEM;
  SubFinder open_finder(text, "<text", true);
  SubFinder close_finder(text, "</text>", true);
  size_t pos = 0;
  for (;;) {
    const size_t at = open_finder.find(pos);
    if (at == std::string_view::npos) break;
    if (at + 5 >= text.size() || (text[at + 5] != ' ' && text[at + 5] != '>')) {
      pos = at + 5;  // <textarea, or a tab or line break after the name
      continue;
    }
    const size_t gt = text.find('>', at);
    if (gt == std::string_view::npos) break;
    pos = gt + 1;
    const std::string_view tag = text.substr(at, gt + 1 - at).substr(0, yt_tag_max);
    char start_value[yt_attr_size] = "";
    char dur_value[yt_attr_size] = "";
    xml_get_attr(tag, "start", start_value, sizeof start_value);
    xml_get_attr(tag, "dur", dur_value, sizeof dur_value);
    std::string_view line;
    if (text[gt - 1] != '/') {
      const size_t close = close_finder.find(gt);
      if (close == std::string_view::npos) continue;
      line = xml_text_decode_copy(text.data() + gt + 1, text.data() + close, text_buf.data);
      pos = close + 7;
    }
    const float start_s = yt_seconds(start_value);
    const float dur_s = yt_seconds(dur_value);
    const int32_t start = yt_ms(start_s * 1000.0f);
    const int32_t end = yt_ms((dur_s + start_s) * 1000.0f);
    if (start >= end || line.empty()) continue;
    const int32_t cue = sub_cue_add(doc, start, end);
    if (cue >= 0) sub_cue_add_line(doc, cue, line.data(), line.size());
  }
  return sub_parser_done(doc, SUB_FMT_YTXML, doc->cue_count);
}
