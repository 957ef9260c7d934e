// SAMI: an HTML-like document whose <SYNC Start=ms> tags each open a block
// of caption text shown until the next SYNC tag:
//
//   <SAMI><BODY>
//   <SYNC Start=1000><P Class=ENCC>Hello<br>world
//   <SYNC Start=3000><P Class=ENCC>&nbsp;
//
// Only "<sync start=" and "<sync encrypted="true" start=" (any case) are
// tags. Each block is cleaned (line-break tags become LF, closing tags, the
// first paragraph tag and divs go, references are decoded, blanks folded)
// and ends at the next block's start; the last lasts as long as its text
// takes to read at 14.7 bytes a second, between 1 and 10 seconds.
#include <cstring>

#include "sub_parser.h"
#include "xml_scan.h"

namespace {

constexpr std::string_view sami_plain_tag = "<sync start=";
constexpr std::string_view sami_encrypted_tag = "<sync encrypted=\"true\" start=";
constexpr size_t sami_max_digits = 31;  // digits of a start value read

// A growable text buffer from the allocation layer.
struct SamiBuffer {
  char *data = nullptr;
  size_t cap = 0;
  ~SamiBuffer() { sub_free(data); }
  bool reserve(size_t n) {
    if (n <= cap) return true;
    size_t want = sub_size_mul_add(cap, 2, 0);
    if (want < n) want = n;
    char *grown = static_cast<char *>(sub_realloc(data, want));
    if (!grown) return false;
    data = grown;
    cap = want;
    return true;
  }
};

// A block read but not yet made a cue: its end is the next block's start.
struct SamiPending {
  bool valid = false;
  int32_t start = 0;
  size_t len = 0;  // of its cleaned text
};

inline bool sami_ends_with(const char *out, size_t n, std::string_view needle) {
  return n >= needle.size() &&
         sub_sv_istarts(std::string_view(out + n - needle.size(), needle.size()), needle);
}

// Removes every occurrence of `needle` (ignoring case; it ends with '>'),
// also those that a removal brings together; returns the new length.
size_t sami_remove_all(char *s, size_t n, std::string_view needle) {
  if (sub_sv_ifind(std::string_view(s, n), needle) == std::string_view::npos) return n;
  size_t w = 0;
  size_t r = 0;
  while (r < n) {
    const void *gt = std::memchr(s + r, '>', n - r);
    const size_t run_end = gt ? static_cast<size_t>(static_cast<const char *>(gt) - s) + 1 : n;
    std::memmove(s + w, s + r, run_end - r);
    w += run_end - r;
    r = run_end;
    if (gt && sami_ends_with(s, w, needle)) w -= needle.size();
  }
  return w;
}

// Replaces every <br...> tag (any tag whose name starts "br") by LF.
size_t sami_breaks(char *s, size_t n) {
  size_t w = 0;
  size_t r = 0;
  while (r < n) {
    const void *lt = std::memchr(s + r, '<', n - r);
    const size_t run = lt ? static_cast<size_t>(static_cast<const char *>(lt) - (s + r)) : n - r;
    std::memmove(s + w, s + r, run);
    w += run;
    r += run;
    if (r >= n) break;
    if (r + 2 < n && (s[r + 1] | 0x20) == 'b' && (s[r + 2] | 0x20) == 'r') {
      const void *gt = std::memchr(s + r, '>', n - r);
      if (!gt) {  // an unclosed <br: the rest stays as it is
        std::memmove(s + w, s + r, n - r);
        return w + (n - r);
      }
      s[w++] = '\n';
      r = static_cast<size_t>(static_cast<const char *>(gt) - s) + 1;
      continue;
    }
    s[w++] = s[r++];
  }
  return w;
}

// Drops the first paragraph tag and everything before it, when the block
// starts with a <p or <font tag.
size_t sami_first_paragraph(char *s, size_t n) {
  const std::string_view text(s, n);
  const size_t lt = text.find('<');
  const size_t gt = text.find('>');
  if (lt == std::string_view::npos || gt == std::string_view::npos || lt > gt) return n;
  const std::string_view at = text.substr(lt);
  if (!sub_sv_istarts(at, "<p") && !sub_sv_istarts(at, "<font")) return n;
  const size_t p = sub_sv_ifind(text, "<p");
  if (p == std::string_view::npos) return n;
  const size_t end = text.find('>', p);
  if (end == std::string_view::npos) return n;
  std::memmove(s, s + end + 1, n - end - 1);
  return n - end - 1;
}

// Removes every "<div ...>" up to its '>'; an unclosed one ends the removal.
size_t sami_divs(char *s, size_t n) {
  if (sub_sv_ifind(std::string_view(s, n), "<div") == std::string_view::npos) return n;
  size_t w = 0;
  for (size_t r = 0; r < n; ++r) {
    s[w++] = s[r];
    if (s[r] != 'v' && s[r] != 'V') continue;
    if (!sami_ends_with(s, w, "<div")) continue;
    const void *gt = std::memchr(s + r + 1, '>', n - r - 1);
    if (!gt) {
      std::memmove(s + w, s + r + 1, n - r - 1);
      return w + (n - r - 1);
    }
    w -= 4;
    r = static_cast<size_t>(static_cast<const char *>(gt) - s);
  }
  return w;
}

// Folds runs of TAB, CR and SPACE into one space; LF stays and ends a run.
size_t sami_fold_blanks(char *s, size_t n) {
  size_t w = 0;
  bool in_run = false;
  for (size_t r = 0; r < n; ++r) {
    const char c = s[r];
    const bool blank = c == ' ' || c == '\t' || c == '\r';
    if (blank && in_run) continue;
    in_run = blank;
    s[w++] = blank ? ' ' : c;
  }
  return w;
}

// Cleans a block's text in place; returns its new length.
size_t sami_clean(char *s, size_t n) {
  if (std::memchr(s, '<', n)) {
    n = sami_breaks(s, n);
    for (std::string_view closing : {"</body>", "</sami>", "</sync>", "</p>"})
      n = sami_remove_all(s, n, closing);
    n = sami_first_paragraph(s, n);
    n = sami_divs(s, n);
    n = sami_remove_all(s, n, "</div>");
  }
  n = sub_html_decode(s, n);
  n = sami_fold_blanks(s, n);
  const std::string_view trimmed = sub_sv_trim(std::string_view(s, n));
  std::memmove(s, trimmed.data(), trimmed.size());
  return trimmed.size();
}

// How long the last caption stays: its bytes outside markup read at 14.7 a
// second, at least 1 and at most 10 seconds.
int32_t sami_last_duration(std::string_view text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '<') {
      ++count;
      continue;
    }
    const size_t gt = text.find('>', i);
    if (gt == std::string_view::npos) break;
    i = gt;
  }
  const double x = static_cast<double>(count) / 14.7 * 1000.0;
  if (x < 1000.0) return 1000;
  return static_cast<int32_t>(x < 10000.0 ? x : 10000.0);
}

// The next SYNC tag at or after `from`: its position and length, or npos.
struct SamiTags {
  SubFinder plain;
  SubFinder encrypted;
  size_t next(size_t from, size_t *tag_len) {
    const size_t a = plain.find(from);
    const size_t b = encrypted.find(from);
    *tag_len = b < a ? sami_encrypted_tag.size() : sami_plain_tag.size();
    return a < b ? a : b;
  }
};

// Adds the cue of a block (none when its text is empty), its text split at LF.
void sami_add_cue(SubDoc *doc, int32_t start, int32_t end, std::string_view text) {
  if (text.empty()) return;
  const int32_t cue = sub_cue_add(doc, start, end);
  if (cue < 0) return;
  for (;;) {
    const size_t lf = text.find('\n');
    const std::string_view piece = sub_sv_trim(text.substr(0, lf));
    if (!piece.empty()) sub_cue_add_line(doc, cue, piece.data(), piece.size());
    if (lf == std::string_view::npos) return;
    text.remove_prefix(lf + 1);
  }
}

// Makes the pending block a cue now that the next block starts at `next`.
void sami_flush(SubDoc *doc, const SamiPending &p, const SamiBuffer &text, int32_t next) {
  if (!p.valid) return;
  const int32_t end = next > p.start ? next : sub_add_sat(p.start, 1000);
  sami_add_cue(doc, p.start, end, std::string_view(text.data, p.len));
}

// The last block lasts as long as its text takes to read.
void sami_flush_last(SubDoc *doc, const SamiPending &p, const SamiBuffer &text) {
  if (!p.valid) return;
  const std::string_view t(text.data, p.len);
  sami_add_cue(doc, p.start, sub_add_sat(p.start, sami_last_duration(t)), t);
}

}  // namespace

int sub_parse_sami(SubDoc *doc, const char *text_in, size_t len_in) {
  // The document is searched as text: it ends at its first NUL.
  const std::string_view text(text_in, xml_text_len(text_in, len_in));
  if (sub_sv_ifind(text, "<sync ") == std::string_view::npos) {
    sub_set_error(doc, "SAMI: no <SYNC");
    return SUB_ERR_NOCUES;
  }
  SamiTags tags{{text, sami_plain_tag, true}, {text, sami_encrypted_tag, true}};
  // Cues are made one block behind the reading: the pending block's text in
  // one buffer, the block being cleaned in the other.
  SamiBuffer pending_text;
  SamiBuffer block;
  SamiPending pending;
  size_t tag_len = 0;
  size_t tag = tags.next(0, &tag_len);
  while (tag != std::string_view::npos) {
    // The start value: quotes passed over, at most 31 digits.
    int64_t start = 0;
    size_t ndigits = 0;
    size_t p = tag + tag_len;
    for (; p < text.size(); ++p) {
      const char c = text[p];
      if (c == '"' || c == '\'') continue;
      if (!sub_is_digit(c) || ndigits == sami_max_digits) break;
      if (start <= INT32_MAX) start = start * 10 + (c - '0');
      ++ndigits;
    }
    const size_t gt = text.find('>', p);
    size_t next = std::string_view::npos;
    size_t block_begin = text.size();
    size_t block_end = text.size();
    if (gt != std::string_view::npos) {
      block_begin = gt + 1;
      next = tags.next(block_begin, &tag_len);
      block_end = next == std::string_view::npos ? text.size() : next;
    }
    if (ndigits > 0) {  // a block without a start value is dropped
      const size_t block_len = block_end - block_begin;
      if (!block.reserve(block_len + 1) || !block.data) {  // never null, even when empty
        sub_doc_note_oom(doc);
        break;
      }
      std::memcpy(block.data, text.data() + block_begin, block_len);
      const size_t clean_len = sami_clean(block.data, block_len);
      const auto start32 = static_cast<int32_t>(start > INT32_MAX ? INT32_MAX : start);
      sami_flush(doc, pending, pending_text, start32);
      std::swap(pending_text.data, block.data);
      std::swap(pending_text.cap, block.cap);
      pending = SamiPending{true, start32, clean_len};
    }
    tag = next;
  }
  sami_flush_last(doc, pending, pending_text);
  return sub_parser_done(doc, SUB_FMT_SAMI, doc->cue_count);
}
