// AcFun danmaku JSON: comment objects {"c":"start,colour,mode,size,...",
// "m":"text"} anywhere in arrays and objects of the document, read by
// yyjson (strict JSON) and walked to a depth of five:
//
//   [{"c":"1.5,16777215,1,25","m":"hello"}, ...]   or   {"list":[[{...}]]}
//
// Every comment lasts 3000 ms. Unlike Bilibili, the colour comes second and
// the mode third.
#include <yyjson.h>

#include <cstring>

#include "sub_internal.h"

namespace {

constexpr size_t acfun_attr_max = 511;  // bytes of the "c" string used
constexpr int acfun_max_depth = 5;
constexpr int32_t danmaku_ms = 3000;

// The string member whose key is exactly `key`, or null.
yyjson_val *acfun_member(yyjson_val *obj, char key) {
  size_t i = 0, max = 0;
  yyjson_val *k = nullptr;
  yyjson_val *v = nullptr;
  yyjson_obj_foreach(obj, i, max, k, v) {
    if (yyjson_get_len(k) == 1 && yyjson_get_str(k)[0] == key) return v;
  }
  return nullptr;
}

// Adds the comment an object holds; 1 when it was one and its cue was added.
int acfun_add_from_obj(yyjson_val *obj) {
  if (!yyjson_is_obj(obj) || yyjson_obj_size(obj) == 0) return 0;
  yyjson_val *c = acfun_member(obj, 'c');
  yyjson_val *m = acfun_member(obj, 'm');
  if (!yyjson_is_str(c) || !yyjson_is_str(m)) return 0;
  // The attributes as a C string would hold them: up to a NUL, 511 bytes.
  std::string_view attrs(yyjson_get_str(c), yyjson_get_len(c));
  attrs = attrs.substr(0, attrs.find('\0')).substr(0, acfun_attr_max);

  int field = 0;
  int32_t start = 0;
  uint32_t color = 0xFFFFFF;
  int32_t mode = 1;
  float fontsize = 25.0f;
  for (size_t i = 0; i < attrs.size() && field < 4;) {
    const size_t comma = attrs.find(',', i);
    const std::string_view value =
        attrs.substr(i, comma == std::string_view::npos ? comma : comma - i);
    i = comma == std::string_view::npos ? attrs.size() : comma + 1;
    if (value.empty()) continue;
    double number = 0;
    switch (field++) {
      case 0: {
        sub_strtod(value, &number);
        const double ms = number * 1000.0;
        start = (ms >= 0 && ms < 2147483648.0) ? static_cast<int32_t>(ms) : 0;
        break;
      }
      case 1: color = sub_strtoul(value) & 0xFFFFFF; break;
      case 2: mode = sub_atoi(value); break;
      default:
        sub_strtod(value, &number);
        fontsize = static_cast<float>(number);
        break;
    }
  }
  if (field == 0) return 0;
  const int32_t cue = sub_cue_add(start, sub_add_sat(start, danmaku_ms));
  if (cue < 0) return 0;
  SubCue &cue_rec = g_sub.cues[cue];
  cue_rec.is_danmu = 1;
  cue_rec.danmu_mode = mode;
  cue_rec.danmu_color = color;
  cue_rec.danmu_fontsize = fontsize;
  sub_cue_add_line(cue, yyjson_get_str(m));
  return 1;
}

// Comments added from a value and everything below it, to depth 5.
int64_t acfun_walk(yyjson_val *val, int depth) {
  if (!val || depth == acfun_max_depth) return 0;
  int64_t count = 0;
  size_t i = 0, max = 0;
  if (yyjson_is_arr(val)) {
    yyjson_val *elem = nullptr;
    yyjson_arr_foreach(val, i, max, elem) {
      if (yyjson_is_obj(elem)) {
        if (acfun_add_from_obj(elem))
          ++count;
        else
          count += acfun_walk(elem, depth + 1);
      } else if (yyjson_is_arr(elem)) {
        count += acfun_walk(elem, depth + 1);
      }
    }
    return count;
  }
  if (yyjson_is_obj(val)) {
    count = acfun_add_from_obj(val);
    yyjson_val *key = nullptr;
    yyjson_val *member = nullptr;
    yyjson_obj_foreach(val, i, max, key, member) {
      if (yyjson_is_arr(member) || yyjson_is_obj(member)) count += acfun_walk(member, depth + 1);
    }
  }
  return count;
}

}  // namespace

int sub_parse_acfun(const char *text, size_t len) {
  // Without the in-situ flag the reader does not write to the text.
  yyjson_doc *doc = yyjson_read_opts(const_cast<char *>(text), len, 0, sub_yyjson_alc(), nullptr);
  if (!doc) {
    sub_set_error("Acfun: invalid JSON");
    return SUB_ERR_NOCUES;
  }
  const int64_t count = acfun_walk(yyjson_doc_get_root(doc), 0);
  yyjson_doc_free(doc);
  if (count == 0) {
    sub_set_error("no Acfun danmaku");
    return SUB_ERR_NOCUES;
  }
  g_sub.detected_format = SUB_FMT_ACFUN;
  return SUB_OK;
}
