// Rendering of the cue store as one compact JSON document, written by yyjson
// through the allocation layer:
//   {"format":NAME,"cues":[{"start":S,"end":E,"lines":[...]
//                           [,"danmu":true,"mode":M,"color":C,"fontsize":F]}]}
// A member whose value cannot be allocated is left out and rendering goes on.
// Lines are copied as they are, except that ill-formed UTF-8 is written as
// U+FFFD (the accessors keep the raw bytes), and a non-finite font size is
// written as null, so the document exists whenever memory suffices.
#include <yyjson.h>

#include <cmath>
#include <cstring>

#include "sub_internal.h"

namespace {

// Length of the well-formed UTF-8 sequence at s[i], or 0 with *subpart set to
// the length of its maximal ill-formed subpart (at least 1).
size_t json_utf8_seq(const unsigned char *s, size_t n, size_t i, size_t *subpart) {
  const unsigned char c = s[i];
  if (c < 0x80) return 1;
  size_t need = 0;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF)
    need = 1;
  else if (c == 0xE0)
    need = 2, lo = 0xA0;
  else if (c == 0xED)
    need = 2, hi = 0x9F;
  else if (c >= 0xE1 && c <= 0xEF)
    need = 2;
  else if (c == 0xF0)
    need = 3, lo = 0x90;
  else if (c >= 0xF1 && c <= 0xF3)
    need = 3;
  else if (c == 0xF4)
    need = 3, hi = 0x8F;
  size_t j = i + 1;
  for (size_t k = 0; k < need; ++k, ++j, lo = 0x80, hi = 0xBF) {
    if (j >= n || s[j] < lo || s[j] > hi) break;
  }
  if (need > 0 && j == i + 1 + need) return need + 1;
  *subpart = j - i;
  return 0;
}

// Offset of the first ill-formed sequence, or n when the text is well formed.
size_t json_first_invalid(const unsigned char *s, size_t n) {
  size_t i = 0;
  size_t subpart = 0;
  while (i < n) {
    while (i + 8 <= n) {  // ASCII runs, eight bytes at a time
      uint64_t word = 0;
      std::memcpy(&word, s + i, 8);
      if (word & 0x8080808080808080ULL) break;
      i += 8;
    }
    if (i >= n) break;
    const size_t seq = json_utf8_seq(s, n, i, &subpart);
    if (!seq) return i;
    i += seq;
  }
  return n;
}

// A JSON string value for `n` bytes of a stored line. Well-formed text is
// referenced, not copied (the store outlives the document); other text is
// copied into the document with each maximal ill-formed subpart as U+FFFD.
yyjson_mut_val *json_line(yyjson_mut_doc *doc, const char *line, size_t n) {
  const auto *s = reinterpret_cast<const unsigned char *>(line);
  size_t i = json_first_invalid(s, n);
  if (i == n) return yyjson_mut_strn(doc, line, n);
  char *fixed = static_cast<char *>(sub_malloc(sub_size_mul_add(n, 3, 1)));
  if (!fixed) return nullptr;
  std::memcpy(fixed, line, i);
  size_t out = i;
  size_t subpart = 0;
  while (i < n) {
    const size_t seq = json_utf8_seq(s, n, i, &subpart);
    if (seq) {
      std::memcpy(fixed + out, line + i, seq);
      out += seq;
      i += seq;
    } else {
      std::memcpy(fixed + out, "\xEF\xBF\xBD", 3);
      out += 3;
      i += subpart;
    }
  }
  yyjson_mut_val *val = yyjson_mut_strncpy(doc, fixed, out);
  sub_free(fixed);
  return val;
}

void json_add_cue(yyjson_mut_doc *doc, yyjson_mut_val *cues, const SubCue &cue) {
  yyjson_mut_val *obj = yyjson_mut_obj(doc);
  if (!obj) return;
  yyjson_mut_obj_add_sint(doc, obj, "start", cue.start_ms);
  yyjson_mut_obj_add_sint(doc, obj, "end", cue.end_ms);
  if (yyjson_mut_val *lines = yyjson_mut_arr(doc)) {
    for (int32_t i = 0; i < cue.lines.count; ++i) {
      const char *line = cue.lines.items[i] ? cue.lines.items[i] : "";
      yyjson_mut_arr_append(lines, json_line(doc, line, std::strlen(line)));
    }
    yyjson_mut_obj_add_val(doc, obj, "lines", lines);
  }
  if (cue.is_danmu) {
    yyjson_mut_obj_add_true(doc, obj, "danmu");
    yyjson_mut_obj_add_sint(doc, obj, "mode", cue.danmu_mode);
    yyjson_mut_obj_add_uint(doc, obj, "color", cue.danmu_color);
    const double size = cue.danmu_fontsize;
    if (std::isfinite(size))
      yyjson_mut_obj_add_real(doc, obj, "fontsize", size);
    else
      yyjson_mut_obj_add_null(doc, obj, "fontsize");
  }
  yyjson_mut_arr_append(cues, obj);
}

}  // namespace

int sub_build_json(void) {
  sub_free(g_sub.result_json);
  g_sub.result_json = nullptr;
  yyjson_mut_doc *doc = yyjson_mut_doc_new(sub_yyjson_alc());
  if (!doc) return -1;
  yyjson_mut_val *root = yyjson_mut_obj(doc);
  if (!root) {
    yyjson_mut_doc_free(doc);
    return -1;
  }
  yyjson_mut_doc_set_root(doc, root);
  yyjson_mut_obj_add_str(doc, root, "format", sub_format_name(g_sub.detected_format));
  if (yyjson_mut_val *cues = yyjson_mut_arr(doc)) {
    for (int32_t i = 0; i < g_sub.cue_count; ++i) json_add_cue(doc, cues, g_sub.cues[i]);
    yyjson_mut_obj_add_val(doc, root, "cues", cues);
  }
  g_sub.result_json = yyjson_mut_write_opts(doc, 0, sub_yyjson_alc(), nullptr, nullptr);
  yyjson_mut_doc_free(doc);
  return g_sub.result_json ? 0 : -1;
}
