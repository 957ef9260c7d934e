// Bilibili danmaku XML: one comment per element
//
//   <d p="12.5,1,25,16777215,1700000000,0,abc,1">Hi &amp; bye</d>
//
// found by exact substring search ("<d " and "</d>", case matters). The p
// attribute lists start seconds, mode, font size and decimal colour; empty
// fields do not count. Every comment lasts 3000 ms.
#include <cstring>

#include "sub_internal.h"

namespace {

constexpr size_t bili_tag_max = 1023;   // bytes of a start-tag copy
constexpr size_t bili_attr_size = 512;  // the p value and its NUL
constexpr int32_t danmaku_ms = 3000;

struct BiliFields {
  int32_t start = 0;
  int32_t mode = 1;
  float fontsize = 25.0f;
  uint32_t color = 0xFFFFFF;
};

// Splits the p value at commas, skipping empty fields.
BiliFields bili_read_p(std::string_view p) {
  BiliFields f;
  int field = 0;
  size_t i = 0;
  while (i < p.size() && field < 4) {
    const size_t comma = p.find(',', i);
    const std::string_view value = p.substr(i, comma == std::string_view::npos ? comma : comma - i);
    i = comma == std::string_view::npos ? p.size() : comma + 1;
    if (value.empty()) continue;
    double number = 0;
    switch (field++) {
      case 0:
        sub_strtod(value, &number);
        f.start = sub_double_to_i32(number * 1000.0);
        break;
      case 1: f.mode = sub_atoi(value); break;
      case 2:
        sub_strtod(value, &number);
        f.fontsize = static_cast<float>(number);
        break;
      default: f.color = sub_strtoul(value) & 0xFFFFFF; break;
    }
  }
  return f;
}

}  // namespace

int sub_parse_bilibili(const char *text_in, size_t len_in) {
  const std::string_view text(text_in, xml_text_len(text_in, len_in));
  SubScratch text_buf(SUB_XML_TEXT_SIZE);
  if (!text_buf.data) return SUB_ERR_NOMEM;
  SubFinder close_finder(text, "</d>", false);
  int32_t read = 0;
  size_t pos = 0;
  for (;;) {
    const size_t at = text.find("<d ", pos);
    if (at == std::string_view::npos) break;
    const size_t gt = text.find('>', at);
    if (gt == std::string_view::npos) break;
    const std::string_view tag = text.substr(at, gt + 1 - at).substr(0, bili_tag_max);
    char p_value[bili_attr_size] = {};
    pos = gt + 1;
    if (!xml_get_attr(tag, "p", p_value, sizeof p_value)) continue;
    const size_t close = close_finder.find(gt);
    if (close == std::string_view::npos) continue;
    const std::string_view line =
        xml_text_decode_copy(text.data() + gt + 1, text.data() + close, text_buf.data);
    pos = close + 4;
    const BiliFields f = bili_read_p(p_value);
    ++read;
    const int32_t cue = sub_cue_add(f.start, sub_add_sat(f.start, danmaku_ms));
    if (cue < 0) continue;
    SubCue &c = g_sub.cues[cue];
    c.is_danmu = 1;
    c.danmu_mode = f.mode;
    c.danmu_color = f.color;
    c.danmu_fontsize = f.fontsize;
    sub_cue_add_line_n(cue, line.data(), line.size());
  }
  if (read < 1) {
    sub_set_error("no Bilibili danmaku");
    return SUB_ERR_NOCUES;
  }
  g_sub.detected_format = SUB_FMT_BILIBILI;
  return SUB_OK;
}
