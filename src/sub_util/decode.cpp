// Decoding of the host's bytes into the NUL-terminated UTF-8 working text.
//
// Order of decisions: a byte-order mark (UTF-8, UTF-16LE, UTF-16BE) wins over
// any name; then a named encoding other than UTF-8 is converted with iconv;
// otherwise the bytes are taken as UTF-8 when they hold at most 7 invalid
// sequences, else converted from CP1252 (only when every byte is defined
// there), else from ISO-8859-1, each with its warning.
#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "decode.h"

#include "alloc.h"
#include "charset.h"
#include "doc.h"
#include "scan_sse2.h"
#include "strings.h"

namespace {

struct EncodingAlias {
  const char *name;
  const char *canonical;
};

constexpr EncodingAlias encoding_aliases[] = {
    {"utf-8", "UTF-8"},
    {"utf8", "UTF-8"},
    {"utf-16le", "UTF-16LE"},
    {"utf16le", "UTF-16LE"},
    {"utf-16be", "UTF-16BE"},
    {"utf16be", "UTF-16BE"},
    {"utf-16", "UTF-16"},
    {"utf16", "UTF-16"},
    {"cp1251", "CP1251"},
    {"windows-1251", "CP1251"},
    {"cp1252", "CP1252"},
    {"windows-1252", "CP1252"},
    {"latin1", "ISO-8859-1"},
    {"iso-8859-1", "ISO-8859-1"},
    {"gbk", "GBK"},
    {"cp936", "GBK"},
    {"gb18030", "GB18030"},
    {"big5", "BIG5"},
    {"cp950", "BIG5"},
    {"shift_jis", "SHIFT_JIS"},
    {"shift-jis", "SHIFT_JIS"},
    {"cp932", "SHIFT_JIS"},
    {"sjis", "SHIFT_JIS"},
};

// The name handed to iconv for the host's name (the host's own when unknown).
const char *decode_canonical(const char *encoding) {
  for (const auto &alias : encoding_aliases)
    if (sub_str_ieq(encoding, alias.name)) return alias.canonical;
  return encoding;
}

// CONVERT_OPEN_NOMEM: the converter itself could not be had for want of
// memory. It is answered like an unknown encoding, as it always was, but a
// document notes it: its result may differ from one with memory to spare.
enum ConvertResult {
  CONVERT_OK = 0,
  CONVERT_FAILED = -1,
  CONVERT_NOMEM = -2,
  CONVERT_OPEN_NOMEM = -3,
};

// How a conversion meets an invalid or incomplete input sequence.
enum ConvertMode {
  CONVERT_STRICT,   // give up: the caller tries another encoding
  CONVERT_REPLACE,  // write U+FFFD, skip one input unit and go on
};

struct Converted {
  char *text;
  size_t len;
  size_t replaced;  // invalid sequences written as U+FFFD
};

// Converts `in_len` bytes from `from` to UTF-8 into a new NUL-terminated heap
// block. `unit` is the size of one code unit of the source (1, or 2 for
// UTF-16) skipped after an invalid sequence in CONVERT_REPLACE mode.
// Fails when iconv does not know `from`, in strict mode at the first invalid
// or incomplete sequence, and in replace mode when not one character of a
// non-empty input converted. On failure nothing is allocated.
ConvertResult iconv_convert(const char *from, const char *in, size_t in_len, ConvertMode mode,
                            size_t unit, Converted *out) {
  iconv_t cd = iconv_open("UTF-8", from);
  // iconv's error value is the address -1.
  if (cd == reinterpret_cast<iconv_t>(-1))  // NOLINT(performance-*)
    return errno == ENOMEM ? CONVERT_OPEN_NOMEM : CONVERT_FAILED;

  // 4 bytes of UTF-8 per input byte always suffice for the encodings people
  // use; the buffer grows for the few whose output can be longer.
  size_t cap = sub_size_mul_add(in_len, 4, 16);
  char *buf = static_cast<char *>(sub_malloc(cap));
  ConvertResult result = buf ? CONVERT_OK : CONVERT_NOMEM;
  char *src = const_cast<char *>(in);
  size_t src_left = in_len;
  size_t produced = 0;     // bytes written to buf
  size_t from_source = 0;  // of those, bytes iconv wrote (not U+FFFD)
  size_t replaced = 0;
  while (result == CONVERT_OK) {
    char *dst = buf + produced;
    size_t dst_left = cap - 1 - produced;  // the last byte is kept for the NUL
    const size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
    const int err = errno;
    from_source += static_cast<size_t>(dst - (buf + produced));
    produced = static_cast<size_t>(dst - buf);
    if (rc != static_cast<size_t>(-1)) break;
    if (err != E2BIG && (mode == CONVERT_STRICT || (err != EILSEQ && err != EINVAL))) {
      result = mode == CONVERT_STRICT ? CONVERT_FAILED : CONVERT_OK;
      break;  // in replace mode an unexpected stop keeps what was converted
    }
    if (err == E2BIG || cap - 1 - produced < 3) {
      const size_t grown_cap = sub_size_mul_add(cap, 2, 0);
      char *grown = static_cast<char *>(sub_realloc(buf, grown_cap));
      if (!grown) {
        result = CONVERT_NOMEM;
        break;
      }
      buf = grown;
      cap = grown_cap;
      if (err == E2BIG) continue;
    }
    std::memcpy(buf + produced, "\xEF\xBF\xBD", 3);
    produced += 3;
    ++replaced;
    // An incomplete sequence can only stand at the very end: it is one U+FFFD.
    const size_t skip = (err == EINVAL || src_left < unit) ? src_left : unit;
    src += skip;
    src_left -= skip;
  }
  iconv_close(cd);
  if (result == CONVERT_OK && in_len > 0 && from_source == 0) result = CONVERT_FAILED;
  if (result != CONVERT_OK) {
    sub_free(buf);
    return result;
  }
  buf[produced] = '\0';
  *out = Converted{buf, produced, replaced};
  return CONVERT_OK;
}

// Number of invalid UTF-8 sequences in the bytes, counting only structure (a
// lead byte and the continuation bytes it announces); stops counting at
// `limit`. A broken sequence skips its whole announced length.
int decode_count_invalid(const unsigned char *s, size_t len, int limit) {
  int invalid = 0;
  size_t i = 0;
  while (i < len && invalid < limit) {
    i += sub_find_non_ascii(s + i, len - i);
    if (i >= len) break;
    const unsigned char c = s[i];
    size_t follow = 0;
    if (c < 0x80) {
      ++i;
      continue;
    }
    if (c >= 0xC0 && c <= 0xDF)
      follow = 1;
    else if (c >= 0xE0 && c <= 0xEF)
      follow = 2;
    else if (c >= 0xF0 && c <= 0xF7)
      follow = 3;
    else {
      ++invalid;  // stray continuation byte, or F8..FF
      ++i;
      continue;
    }
    if (i + follow >= len) {
      ++invalid;
      break;
    }
    for (size_t k = 1; k <= follow; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) {
        ++invalid;
        break;
      }
    }
    i += follow + 1;
  }
  return invalid;
}

// Stores a finished text in the document, releasing the older one, with the
// name of the encoding it came from (static, or copied when it is not).
int decode_store(SubDoc *doc, char *text, size_t len, const char *encoding, bool copy_name) {
  char *name = copy_name ? sub_strdup(encoding) : nullptr;
  if (copy_name && !name) {
    sub_free(text);
    return SUB_ERR_NOMEM;
  }
  sub_free(doc->text);
  doc->text = text;
  doc->text_len = len;
  sub_free(doc->encoding_copy);
  doc->encoding_copy = name;
  doc->encoding = name ? name : encoding;
  return SUB_OK;
}

int decode_store_copy(SubDoc *doc, const char *data, size_t len, const char *encoding) {
  char *copy = sub_strndup(data, len);
  return copy ? decode_store(doc, copy, len, encoding, false) : SUB_ERR_NOMEM;
}

// A conversion on the mark and named paths, where invalid input becomes
// U+FFFD. Returns 0, 2 (with the name in the error text unless `quiet`) or 4.
// `static_name` says whether `from` outlives the document.
int decode_replacing(SubDoc *doc, const char *from, bool static_name, const char *in, size_t len,
                     size_t unit, bool quiet) {
  Converted out{};
  const ConvertResult rc = iconv_convert(from, in, len, CONVERT_REPLACE, unit, &out);
  if (rc == CONVERT_NOMEM) return SUB_ERR_NOMEM;
  if (rc == CONVERT_OPEN_NOMEM) sub_doc_note_oom(doc);
  if (rc != CONVERT_OK) {
    if (!quiet) sub_set_error(doc, "iconv failed for encoding %s", from);
    return SUB_ERR_DECODE;
  }
  if (out.replaced > 0)
    sub_warn(doc, "encoding: replaced %zu invalid sequences with U+FFFD", out.replaced);
  return decode_store(doc, out.text, out.len, from, !static_name);
}

// A strict conversion for the fallback. Running out of memory ends the
// fallback (another encoding would give other text, not the same text
// with less memory); a converter that could not even be opened is answered
// like an unknown one, but noted.
ConvertResult decode_strict(SubDoc *doc, const char *from, const char *data, size_t len,
                            Converted *out) {
  const ConvertResult rc = iconv_convert(from, data, len, CONVERT_STRICT, 1, out);
  if (rc == CONVERT_OPEN_NOMEM) sub_doc_note_oom(doc);
  return rc;
}

// Invalid UTF-8 without a name: CP1252 when it converts every byte, else
// ISO-8859-1, else the raw bytes.
int decode_fallback(SubDoc *doc, const char *data, size_t len) {
  Converted out{};
  ConvertResult rc = decode_strict(doc, "CP1252", data, len, &out);
  if (rc == CONVERT_OK) {
    sub_warn(doc, "encoding: auto-detected as CP1252 (invalid UTF-8)");
    return decode_store(doc, out.text, out.len, "CP1252", false);
  }
  if (rc != CONVERT_NOMEM) rc = decode_strict(doc, "ISO-8859-1", data, len, &out);
  if (rc == CONVERT_NOMEM) return SUB_ERR_NOMEM;
  if (rc == CONVERT_OK) {
    sub_warn(doc, "encoding: fell back to ISO-8859-1");
    return decode_store(doc, out.text, out.len, "ISO-8859-1", false);
  }
  sub_warn(doc, "encoding: treated as latin1 with possible mojibake");
  // Nothing converted them: the bytes go on as they are, read as UTF-8.
  return decode_store_copy(doc, data, len, "UTF-8");
}

bool decode_has_prefix(const unsigned char *data, size_t len, std::string_view mark) {
  return len >= mark.size() && std::memcmp(data, mark.data(), mark.size()) == 0;
}

// Whether the encoding name asks for detection ("auto", any case).
bool decode_is_auto(const char *encoding) { return encoding && sub_str_ieq(encoding, "auto"); }

// The Unicode form a byte-order mark names for "auto", with the mark's
// length and the size of one code unit; null when there is none. UTF-32LE
// is looked for before UTF-16LE, whose mark begins it.
struct DecodeMark {
  std::string_view bytes;
  const char *name;
  size_t unit;
};
constexpr DecodeMark auto_marks[] = {
    {std::string_view("\xFF\xFE\0\0", 4), "UTF-32LE", 4},
    {std::string_view("\0\0\xFE\xFF", 4), "UTF-32BE", 4},
    {"\xFF\xFE", "UTF-16LE", 2},
    {"\xFE\xFF", "UTF-16BE", 2},
};

const DecodeMark *decode_auto_mark(const unsigned char *bytes, size_t len) {
  for (const DecodeMark &mark : auto_marks)
    if (decode_has_prefix(bytes, len, mark.bytes)) return &mark;
  return nullptr;
}

// UTF-8 with a few broken sequences among many good ones is UTF-8 that was
// damaged, not another encoding: at least 8 good multi-byte sequences and
// four for every broken one, in the first 64 KiB (the look ends at the 16th
// broken one when the good ones are fewer by then).
bool decode_mostly_utf8(const unsigned char *s, size_t len) {
  constexpr size_t sample = size_t{64} << 10;
  if (len > sample) len = sample;
  size_t good = 0;
  size_t bad = 0;
  for (size_t i = 0;;) {
    i += sub_find_non_ascii(s + i, len - i);
    if (i >= len) break;
    size_t subpart = 0;
    if (const size_t seq = sub_utf8_seq(s, len, i, &subpart)) {
      ++good;
      i += seq;
    } else {
      ++bad;
      i += subpart;
      if (bad >= 16 && good < 4 * bad) return false;
    }
  }
  return good >= 8 && good >= 4 * bad;
}

// "auto" on bytes without a mark that are not valid UTF-8: their wide form,
// damaged UTF-8, the detector's ranking checked by strict conversions of the
// whole text, and the classic fallback last.
int decode_auto(SubDoc *doc, const char *data, size_t len) {
  const auto *bytes = reinterpret_cast<const unsigned char *>(data);
  if (const char *wide = sub_charset_wide(bytes, len)) {
    sub_warn(doc, "encoding: detected %s", wide);
    return decode_replacing(doc, wide, true, data, len, wide[4] == '3' ? 4 : 2, true);
  }
  if (decode_mostly_utf8(bytes, len))
    return decode_replacing(doc, "UTF-8", true, data, len, 1, true);
  const char *names[SUB_CHARSET_MAX];
  bool oom = false;
  const int count = sub_charset_rank(data, len, names, &oom);
  if (oom) sub_doc_note_oom(doc);
  // The sample converted; the rest of the text must too. A few tries at most.
  for (int k = 0; k < count && k < 3; ++k) {
    Converted out{};
    const ConvertResult rc = decode_strict(doc, names[k], data, len, &out);
    if (rc == CONVERT_NOMEM) return SUB_ERR_NOMEM;
    if (rc != CONVERT_OK) continue;
    sub_warn(doc, "encoding: detected %s", names[k]);
    return decode_store(doc, out.text, out.len, names[k], false);
  }
  return decode_fallback(doc, data, len);
}

}  // namespace

bool sub_decode_in_place(const void *data, size_t len, const char *encoding, size_t *skip) {
  const auto *bytes = static_cast<const unsigned char *>(data);
  *skip = 0;
  if (decode_has_prefix(bytes, len, "\xEF\xBB\xBF")) {  // a UTF-8 mark wins over any name
    *skip = 3;
    return true;
  }
  if (decode_is_auto(encoding))
    return !decode_auto_mark(bytes, len) && !sub_charset_wide(bytes, len) &&
           sub_utf8_valid(bytes, len);
  if (decode_has_prefix(bytes, len, "\xFF\xFE") || decode_has_prefix(bytes, len, "\xFE\xFF"))
    return false;
  const char *canonical = (encoding && *encoding) ? decode_canonical(encoding) : nullptr;
  if (canonical && !sub_str_ieq(canonical, "UTF-8")) return false;
  return len == 0 || sub_utf8_structure_ok(bytes, len) || decode_count_invalid(bytes, len, 8) < 8;
}

namespace {

// The bytes are not read in place: they are converted into doc->text.
int decode_converting(SubDoc *doc, const unsigned char *bytes, size_t len, const char *encoding) {
  const char *chars = reinterpret_cast<const char *>(bytes);
  if (decode_is_auto(encoding)) {
    if (const DecodeMark *mark = decode_auto_mark(bytes, len))
      return decode_replacing(doc, mark->name, true, chars + mark->bytes.size(),
                              len - mark->bytes.size(), mark->unit, true);
    return decode_auto(doc, chars, len);
  }
  if (decode_has_prefix(bytes, len, "\xFF\xFE"))
    return decode_replacing(doc, "UTF-16LE", true, chars + 2, len - 2, 2, true);
  if (decode_has_prefix(bytes, len, "\xFE\xFF"))
    return decode_replacing(doc, "UTF-16BE", true, chars + 2, len - 2, 2, true);
  const char *canonical = (encoding && *encoding) ? decode_canonical(encoding) : nullptr;
  if (canonical && !sub_str_ieq(canonical, "UTF-8")) {
    // Multi-byte encodings skip one byte after a bad sequence; UTF-16 a unit.
    const size_t unit = sub_str_istart(canonical, "UTF-16") ? 2 : 1;
    return decode_replacing(doc, canonical, canonical != encoding, chars, len, unit, false);
  }
  return decode_fallback(doc, chars, len);
}

}  // namespace

int sub_decode(SubDoc *doc, const void *data, size_t len, const char *encoding, const char **text) {
  const auto *bytes = static_cast<const unsigned char *>(data);
  const char *chars = static_cast<const char *>(data);
  size_t skip = 0;
  if (sub_decode_in_place(data, len, encoding, &skip)) {
    *text = chars + skip;
    doc->text_len = len - skip;
    doc->encoding = "UTF-8";
    return SUB_OK;
  }
  const int rc = decode_converting(doc, bytes, len, encoding);
  *text = doc->text;
  return rc;
}

int sub_decode_to_utf8(SubDoc *doc, const void *data, size_t len, const char *encoding) {
  const char *text = nullptr;
  const int rc = sub_decode(doc, data, len, encoding, &text);
  if (rc != SUB_OK || text == doc->text) return rc;
  return decode_store_copy(doc, text, doc->text_len, "UTF-8");
}
