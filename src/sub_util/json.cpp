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
#include <string_view>
#include <utility>

#include "json.h"

#include "alloc.h"
#include "doc.h"
#include "scan_sse2.h"
#include "strings.h"

namespace {

// The output buffer; after a failed growth nothing more is written.
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
};

// The writers below assume the room was reserved and return the new end.
inline char *json_put(char *out, std::string_view s) {
  // NOLINTNEXTLINE(clang-analyzer-core.NonNullParamChecker): callers reserve first
  std::memcpy(out, s.data(), s.size());
  return out + s.size();
}

template <typename Int>
inline char *json_put_int(char *out, Int v) {
  return std::to_chars(out, out + 24, v).ptr;
}

inline char *json_put_real(char *out, double v) {
  if (!std::isfinite(v)) return json_put(out, "null");
  yyjson_mut_val val;
  yyjson_mut_set_real(&val, v);
  char *end = yyjson_mut_write_number(&val, out);
  return end ? end : out;
}

// Writes `n` bytes of a line as a JSON string: at most 6 n + 2 bytes.
// Runs of bytes that stand as they are (ASCII text and well-formed UTF-8)
// are copied whole; only escapes and ill-formed bytes are written singly.
char *json_put_string(char *out, const unsigned char *s, size_t n) {
  static constexpr char hex[] = "0123456789ABCDEF";
  *out++ = '"';
  size_t run = 0;  // start of the bytes not yet copied
  size_t i = 0;
  for (;;) {
    i += sub_find_json_special(s + i, n - i);
    if (i >= n) break;
    const unsigned char c = s[i];
    size_t subpart = 0;
    if (c >= 0x80) {
      if (const size_t seq = sub_utf8_seq(s, n, i, &subpart)) {
        i += seq;
        continue;
      }
    }
    std::memcpy(out, s + run, i - run);
    out += i - run;
    if (c >= 0x80) {
      std::memcpy(out, "\xEF\xBF\xBD", 3);
      out += 3;
      i += subpart;
    } else {
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
      ++i;
    }
    run = i;
  }
  std::memcpy(out, s + run, n - run);
  out += n - run;
  *out++ = '"';
  return out;
}

// Bytes of a cue object apart from its line strings, danmaku members included.
constexpr size_t json_cue_frame = 160;
static_assert(json_cue_frame > 2 * 24 + 40 + 64, "room for the members around the lines");

void json_put_cue(JsonOut &out, const SubCue &cue, bool first) {
  if (!out.reserve(json_cue_frame)) return;
  char *p = out.buf + out.len;
  if (!first) *p++ = ',';
  p = json_put(p, "{\"start\":");
  p = json_put_int(p, cue.start_ms);
  p = json_put(p, ",\"end\":");
  p = json_put_int(p, cue.end_ms);
  p = json_put(p, ",\"lines\":[");
  for (int32_t i = 0; i < cue.lines.count; ++i) {
    const char *line = cue.lines.items[i] ? cue.lines.items[i] : "";
    const size_t n = std::strlen(line);
    out.len = static_cast<size_t>(p - out.buf);
    // Room for the escaped line and what still follows it.
    if (!out.reserve(sub_size_mul_add(n, 6, json_cue_frame))) return;
    p = out.buf + out.len;
    if (i) *p++ = ',';
    p = json_put_string(p, reinterpret_cast<const unsigned char *>(line), n);
  }
  *p++ = ']';
  // Members only the standard readings give: never in a classic document.
  for (const auto &[member, value] :
       {std::pair{std::string_view(",\"id\":"), cue.id},
        std::pair{std::string_view(",\"settings\":"), cue.settings}}) {
    if (!value) continue;
    const size_t n = std::strlen(value);
    out.len = static_cast<size_t>(p - out.buf);
    if (!out.reserve(sub_size_mul_add(n, 6, json_cue_frame))) return;
    p = json_put(out.buf + out.len, member);
    p = json_put_string(p, reinterpret_cast<const unsigned char *>(value), n);
  }
  if (cue.is_danmu) {
    p = json_put(p, ",\"danmu\":true,\"mode\":");
    p = json_put_int(p, cue.danmu_mode);
    p = json_put(p, ",\"color\":");
    p = json_put_int(p, cue.danmu_color);
    p = json_put(p, ",\"fontsize\":");
    p = json_put_real(p, cue.danmu_fontsize);
  }
  *p++ = '}';
  out.len = static_cast<size_t>(p - out.buf);
}

}  // namespace

int sub_build_json(SubDoc *doc) {
  sub_free(doc->result_json);
  doc->result_json = nullptr;
  JsonOut out;
  // A first guess near the final size saves most regrowth.
  out.reserve(sub_size_mul_add(doc->text_len, 1, sub_size_mul_add(doc->cue_count, 48, 64)));
  const std::string_view name = sub_format_name(doc->detected_format);
  if (out.reserve(name.size() + 32)) {
    char *p = json_put(out.buf + out.len, "{\"format\":\"");
    p = json_put(p, name);
    p = json_put(p, "\",\"cues\":[");
    out.len = static_cast<size_t>(p - out.buf);
  }
  for (int32_t i = 0; i < doc->cue_count; ++i) json_put_cue(out, doc->cues[i], i == 0);
  if (!out.reserve(3)) {
    sub_free(out.buf);
    return -1;
  }
  std::memcpy(out.buf + out.len, "]}", 3);
  doc->result_json = out.buf;
  return 0;
}
