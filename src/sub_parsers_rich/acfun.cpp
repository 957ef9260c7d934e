// AcFun danmaku JSON: comment objects {"c":"start,colour,mode,size,...",
// "m":"text"} anywhere in arrays and objects of the document, read by
// yyjson (strict JSON) and walked to a depth of five:
//
//   [{"c":"1.5,16777215,1,25","m":"hello"}, ...]   or   {"list":[[{...}]]}
//
// Every comment lasts 3000 ms. Unlike Bilibili, the colour comes second and
// the mode third.
#include <yyjson.h>

#include "danmaku.h"
#include "sub_parser.h"

namespace {

constexpr size_t acfun_attr_max = 511;  // bytes of the "c" string used
constexpr int acfun_max_depth = 5;

constexpr DanmakuField acfun_fields[4] = {DanmakuField::start, DanmakuField::color,
                                          DanmakuField::mode, DanmakuField::fontsize};

// Seconds truncated to milliseconds; a start out of range is 0.
int32_t acfun_start_ms(double seconds) {
  const double ms = seconds * 1000.0;
  return (ms >= 0 && ms < 2147483648.0) ? static_cast<int32_t>(ms) : 0;
}

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
int acfun_add_from_obj(SubDoc *doc, yyjson_val *obj) {
  if (!yyjson_is_obj(obj) || yyjson_obj_size(obj) == 0) return 0;
  yyjson_val *c = acfun_member(obj, 'c');
  yyjson_val *m = acfun_member(obj, 'm');
  if (!yyjson_is_str(c) || !yyjson_is_str(m)) return 0;
  // The attributes as a C string would hold them: up to a NUL, 511 bytes.
  std::string_view attrs(yyjson_get_str(c), yyjson_get_len(c));
  attrs = attrs.substr(0, attrs.find('\0')).substr(0, acfun_attr_max);
  DanmakuFields fields;
  if (danmaku_read_fields(attrs, acfun_fields, acfun_start_ms, &fields) == 0) return 0;
  // The text as a C string: up to its first NUL.
  return danmaku_add(doc, fields, std::string_view(yyjson_get_str(m))) >= 0 ? 1 : 0;
}

// Comments added from a value and everything below it, to depth 5.
int64_t acfun_walk(SubDoc *doc, yyjson_val *val, int depth) {
  if (!val || depth == acfun_max_depth) return 0;
  int64_t count = 0;
  size_t i = 0, max = 0;
  if (yyjson_is_arr(val)) {
    yyjson_val *elem = nullptr;
    yyjson_arr_foreach(val, i, max, elem) {
      if (yyjson_is_obj(elem)) {
        if (acfun_add_from_obj(doc, elem))
          ++count;
        else
          count += acfun_walk(doc, elem, depth + 1);
      } else if (yyjson_is_arr(elem)) {
        count += acfun_walk(doc, elem, depth + 1);
      }
    }
    return count;
  }
  if (yyjson_is_obj(val)) {
    count = acfun_add_from_obj(doc, val);
    yyjson_val *key = nullptr;
    yyjson_val *member = nullptr;
    yyjson_obj_foreach(val, i, max, key, member) {
      if (yyjson_is_arr(member) || yyjson_is_obj(member))
        count += acfun_walk(doc, member, depth + 1);
    }
  }
  return count;
}

}  // namespace

int sub_parse_acfun(SubDoc *doc, const char *text, size_t len) {
  // Without the in-situ flag the reader does not write to the text.
  yyjson_read_err err{};
  yyjson_doc *json = yyjson_read_opts(const_cast<char *>(text), len, 0, sub_yyjson_alc(), &err);
  if (!json) {
    // The classic answer stays "invalid JSON"; a document reports the memory.
    if (err.code == YYJSON_READ_ERROR_MEMORY_ALLOCATION) sub_doc_note_oom(doc);
    sub_set_error(doc, "Acfun: invalid JSON");
    return SUB_ERR_NOCUES;
  }
  const int64_t count = acfun_walk(doc, yyjson_doc_get_root(json), 0);
  yyjson_doc_free(json);
  return sub_parser_done(doc, SUB_FMT_ACFUN, count);
}
