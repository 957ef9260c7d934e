// Bilibili danmaku XML: one comment per element
//
//   <d p="12.5,1,25,16777215,1700000000,0,abc,1">Hi &amp; bye</d>
//
// found by exact substring search ("<d " and "</d>", case matters). The p
// attribute lists start seconds, mode, font size and decimal colour; empty
// fields do not count. Every comment lasts 3000 ms.
#include "danmaku.h"
#include "sub_parser.h"
#include "xml_scan.h"

namespace {

constexpr size_t bili_tag_max = 1023;   // bytes of a start-tag copy
constexpr size_t bili_attr_size = 512;  // the p value and its NUL

constexpr DanmakuField bili_fields[4] = {DanmakuField::start, DanmakuField::mode,
                                         DanmakuField::fontsize, DanmakuField::color};

// Seconds truncated to milliseconds; out of range gives -2147483648.
int32_t bili_start_ms(double seconds) { return sub_double_to_i32(seconds * 1000.0); }

}  // namespace

int sub_parse_bilibili(SubDoc *doc, const char *text_in, size_t len_in) {
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
    DanmakuFields fields;
    danmaku_read_fields(p_value, bili_fields, bili_start_ms, &fields);
    ++read;
    danmaku_add(doc, fields, line);
  }
  return sub_parser_done(doc, SUB_FMT_BILIBILI, read);
}
