// Rendering of the cue store as one compact JSON document:
//   {"format":NAME,"cues":[{"start":S,"end":E,"lines":[...]
//                           [,"danmu":true,"mode":M,"color":C,"fontsize":F]}]}
// The text is written straight into one growing buffer, byte for byte as
// yyjson's writer writes the same document with no flags: '"', '\\' and
// control bytes escaped (\b \f \n \r \t, else \u00XX), everything else raw,
// reals in yyjson's shortest round-trip form (25.0, 0.10000000149011612).
// Ill-formed UTF-8 in a line is written as U+FFFD per maximal ill-formed
// subpart (the accessors keep the raw bytes) and a non-finite font size as
// null, so the document exists whenever memory suffices; when it runs out
// there is no document at all, never a partial one.
#include <yyjson.h>

#include <charconv>
#include <cmath>
#include <cstring>

#include "sub_internal.h"

namespace {

// Length of the well-formed UTF-8 sequence at s[i], or 0 with *subpart set to
// the length of its maximal ill-formed subpart (at least 1).
size_t json_utf8_seq(const unsigned char *s, size_t n, size_t i, size_t *subpart) {
  const unsigned char c = s[i];
  size_t need = 0;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    need = 1;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 2;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 3;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  }
  size_t j = i + 1;
  for (size_t k = 0; k < need; ++k, ++j, lo = 0x80, hi = 0xBF)
    if (j >= n || s[j] < lo || s[j] > hi) break;
  if (need > 0 && j == i + 1 + need) return need + 1;
  *subpart = j - i;
  return 0;
}

// The output buffer; after a failed growth every write is ignored.
struct JsonOut {
  char *buf = nullptr;
  size_t len = 0;
  size_t cap = 0;
  bool failed = false;

  // Room for `n` more bytes; false once memory ran out.
  bool reserve(size_t n) {
    if (failed) return false;
    if (cap - len >= n) return true;
    size_t want = sub_size_mul_add(cap, 2, 0);
    const size_t need = sub_size_mul_add(len, 1, n);
    if (want < need) want = need;
    char *grown = static_cast<char *>(sub_realloc(buf, want));
    if (!grown) {
      failed = true;
      return false;
    }
    buf = grown;
    cap = want;
    return true;
  }
  void put(const char *p, size_t n) {
    if (!reserve(n)) return;
    std::memcpy(buf + len, p, n);
    len += n;
  }
  void put(std::string_view s) { put(s.data(), s.size()); }
  template <typename Int>
  void put_int(Int v) {
    if (!reserve(24)) return;
    len = static_cast<size_t>(std::to_chars(buf + len, buf + cap, v).ptr - buf);
  }
  void put_real(double v) {
    if (!std::isfinite(v)) return put("null");
    if (!reserve(40)) return;
    yyjson_mut_val val;
    yyjson_mut_set_real(&val, v);
    if (char *end = yyjson_mut_write_number(&val, buf + len)) len = static_cast<size_t>(end - buf);
  }
  void put_string(const char *line);
};

void JsonOut::put_string(const char *line) {
  static constexpr char hex[] = "0123456789ABCDEF";
  const auto *s = reinterpret_cast<const unsigned char *>(line);
  const size_t n = std::strlen(line);
  // Worst case: every byte a 6-byte escape or a 3-byte U+FFFD.
  if (!reserve(sub_size_mul_add(n, 6, 2))) return;
  char *out = buf + len;
  *out++ = '"';
  size_t i = 0;
  while (i < n) {
    const size_t plain = sub_find_json_special(s + i, n - i);
    std::memcpy(out, s + i, plain);
    out += plain;
    i += plain;
    if (i >= n) break;
    if (s[i] < 0x80) {
      const unsigned char c = s[i++];
      *out++ = '\\';
      switch (c) {
        case '"': *out++ = '"'; break;
        case '\\': *out++ = '\\'; break;
        case '\b': *out++ = 'b'; break;
        case '\f': *out++ = 'f'; break;
        case '\n': *out++ = 'n'; break;
        case '\r': *out++ = 'r'; break;
        case '\t': *out++ = 't'; break;
        default:
          std::memcpy(out, "u00", 3);
          out[3] = hex[c >> 4];
          out[4] = hex[c & 15];
          out += 5;
      }
      continue;
    }
    size_t subpart = 0;
    if (const size_t seq = json_utf8_seq(s, n, i, &subpart)) {
      std::memcpy(out, s + i, seq);
      out += seq;
      i += seq;
    } else {
      std::memcpy(out, "\xEF\xBF\xBD", 3);
      out += 3;
      i += subpart;
    }
  }
  *out++ = '"';
  len = static_cast<size_t>(out - buf);
}

void json_put_cue(JsonOut &out, const SubCue &cue) {
  out.put("{\"start\":");
  out.put_int(cue.start_ms);
  out.put(",\"end\":");
  out.put_int(cue.end_ms);
  out.put(",\"lines\":[");
  for (int32_t i = 0; i < cue.lines.count; ++i) {
    if (i) out.put(",");
    out.put_string(cue.lines.items[i] ? cue.lines.items[i] : "");
  }
  out.put("]");
  if (cue.is_danmu) {
    out.put(",\"danmu\":true,\"mode\":");
    out.put_int(cue.danmu_mode);
    out.put(",\"color\":");
    out.put_int(cue.danmu_color);
    out.put(",\"fontsize\":");
    out.put_real(cue.danmu_fontsize);
  }
  out.put("}");
}

}  // namespace

int sub_build_json(void) {
  sub_free(g_sub.result_json);
  g_sub.result_json = nullptr;
  JsonOut out;
  // A first guess near the final size saves most regrowth.
  out.reserve(sub_size_mul_add(g_sub.text_len, 1, sub_size_mul_add(g_sub.cue_count, 48, 64)));
  out.put("{\"format\":\"");
  out.put(sub_format_name(g_sub.detected_format));
  out.put("\",\"cues\":[");
  for (int32_t i = 0; i < g_sub.cue_count; ++i) {
    if (i) out.put(",");
    json_put_cue(out, g_sub.cues[i]);
  }
  out.put("]}");
  if (!out.reserve(1)) {
    sub_free(out.buf);
    return -1;
  }
  out.buf[out.len] = '\0';
  g_sub.result_json = out.buf;
  return 0;
}
