// The comment fields and cues shared by the danmaku formats.
#include "danmaku.h"

#include "sub_parser.h"

int danmaku_read_fields(std::string_view list, const DanmakuField (&order)[4],
                        DanmakuStartFn start_ms, DanmakuFields *out) {
  int field = 0;
  size_t i = 0;
  while (i < list.size() && field < 4) {
    const size_t comma = list.find(',', i);
    const std::string_view value =
        list.substr(i, comma == std::string_view::npos ? comma : comma - i);
    i = comma == std::string_view::npos ? list.size() : comma + 1;
    if (value.empty()) continue;
    double number = 0;
    switch (order[field++]) {
      case DanmakuField::start:
        sub_strtod(value, &number);
        out->start = start_ms(number);
        break;
      case DanmakuField::mode: out->mode = sub_atoi(value); break;
      case DanmakuField::fontsize:
        sub_strtod(value, &number);
        out->fontsize = static_cast<float>(number);
        break;
      case DanmakuField::color: out->color = sub_strtoul(value) & 0xFFFFFF; break;
    }
  }
  return field;
}

int32_t danmaku_add(SubDoc *doc, const DanmakuFields &fields, std::string_view text) {
  const int32_t cue = sub_cue_add(doc, fields.start, sub_add_sat(fields.start, danmaku_ms));
  if (cue < 0) return -1;
  SubCue &c = doc->cues[cue];
  c.is_danmu = 1;
  c.danmu_mode = fields.mode;
  c.danmu_color = fields.color;
  c.danmu_fontsize = fields.fontsize;
  sub_cue_add_line(doc, cue, text.data(), text.size());
  return cue;
}
