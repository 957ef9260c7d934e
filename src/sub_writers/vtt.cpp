// WebVTT output:
//
//   WEBVTT optional header                 the header option after a space
//   (blank line)
//   intro                                  the cue's identifier, when it has one
//   00:00:01.000 --> 00:00:02.500 line:0   then its settings, when it has them
//   <i>first</i> line &amp; more
//   second line
//   (blank line)
//
// A blank line ends a cue, so its text is written without one: each line is
// cut at LF and CR (not at U+2028, where WebVTT readers do not break) and
// empty pieces are left out; other pieces are written as they are, spaces
// included, since readers keep them. Markup already in the text stays markup:
// a '<' that opens a tag ('<' then a letter, '/' or a digit, up to the next
// '>' with no '<' before it) is kept with its tag as it is, and so is a '&'
// that starts a character reference (&name; &#digits; &#xhex;); every other
// '&', '<' and '>' is escaped, so the text shows as it read, and "-->" in it,
// which would read as the next cue's timing line, is written "--&gt;"; a tag
// that would end in "-->" is not kept as a tag, for the same reason. WebVTT
// is UTF-8: an ill-formed sequence (in text, identifier, settings or header)
// is written as U+FFFD, one per maximal ill-formed subpart, which is what
// readers show for it; left as it is, it would make a reader that guesses
// the encoding take the whole file for a legacy one. A cue with no text is still written (timing
// line and blank line): WebVTT readers keep such cues. An identifier or settings text holding a
// line break or "-->" could not be read back as one and is left out. Hours take as many digits as
// they need (at least two); negative times are written as 0.
#include <cstring>

#include "sub_parser.h"
#include "writer.h"

namespace {

bool vtt_is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Whether `s` (null allowed) can be written as an identifier or settings
// text: not empty, on one line, with no "-->".
bool vtt_fits_one_line(const char *s) {
  return s && *s && !std::strpbrk(s, "\r\n") && !std::strstr(s, "-->");
}

constexpr std::string_view vtt_replacement = "\xEF\xBF\xBD";  // U+FFFD

// Appends the NUL-terminated `s` with each ill-formed UTF-8 sequence written
// as U+FFFD.
inline void vtt_put_utf8(const char *s, SubOut *out) { sub_out_utf8(out, s); }

// Whether the '&' at `p` (NUL-terminated) starts a character reference:
// &name; &#digits; or &#xhex; with at least one name character or digit.
bool vtt_is_reference(const char *p) {
  const char *q = p + 1;
  if (*q == '#') {
    ++q;
    const bool hex = *q == 'x' || *q == 'X';
    if (hex) ++q;
    const char *digits = q;
    while (hex ? sub_is_hex_digit(*q) : sub_is_digit(*q)) ++q;
    return q != digits && *q == ';';
  }
  if (!vtt_is_letter(*q)) return false;
  while (vtt_is_letter(*q) || sub_is_digit(*q)) ++q;
  return *q == ';';
}

// Length of the tag opened by the '<' at `p` (NUL-terminated), through its
// '>', or 0 when that '<' opens none. The scan stops at the next '<', so over
// a line the tag scans cover each byte at most once. A tag ending in "-->"
// counts as none: written as it is, it would end the cue.
size_t vtt_tag_length(const char *p) {
  const char c = p[1];
  if (!vtt_is_letter(c) && c != '/' && !sub_is_digit(c)) return 0;
  // Tags are short: a plain loop beats a library scan's setup here.
  size_t close = 2;
  for (char d = p[close]; d && d != '<' && d != '>' && d != '\r' && d != '\n'; d = p[close])
    ++close;
  if (p[close] != '>') return 0;
  if (p[close - 1] == '-' && p[close - 2] == '-') return 0;
  return close + 1;
}

// Bytes the line writer stops at: the end of the line, line breaks, markup
// characters and the bytes of multi-byte characters (checked as UTF-8).
struct VttSpecialBytes {
  bool special[256] = {};
  constexpr VttSpecialBytes() {
    for (unsigned char c : {'\0', '\n', '\r', '&', '<', '>'}) special[c] = true;
    for (int c = 0x80; c < 0x100; ++c) special[c] = true;
  }
};
constexpr VttSpecialBytes vtt_special;

// Writes the display lines of `line` (cut at LF, CR and CR LF), each escaped
// and followed by LF; empty ones are left out. One pass: bytes are written
// in runs that only an escape or a break interrupts.
void vtt_write_line(const char *line, SubOut *out) {
  const auto *u = reinterpret_cast<const unsigned char *>(line);
  const unsigned char *run = u;            // first byte not yet written
  const unsigned char *tag_end = nullptr;  // the '>' of the kept tag being read
  bool piece_started = false;
  for (;;) {
    while (!vtt_special.special[*u]) ++u;
    const unsigned char c = *u;
    const char *p = reinterpret_cast<const char *>(u);
    size_t subpart = 0;
    std::string_view escape;
    if (c >= 0x80) {
      const size_t seq = sub_utf8_seq(u, 4, 0, &subpart);
      if (seq) {
        u += seq;
        continue;
      }
      escape = vtt_replacement;
    } else if (c == '&') {
      if ((tag_end && u < tag_end) || vtt_is_reference(p)) {
        ++u;
        continue;
      }
      escape = "&amp;";
    } else if (c == '<') {
      if (const size_t tag = vtt_tag_length(p)) {
        tag_end = u + tag - 1;
        ++u;
        continue;
      }
      escape = "&lt;";
    } else if (c == '>') {
      if (u == tag_end) {
        ++u;
        continue;
      }
      escape = "&gt;";
    }
    if (u != run) {
      out->put(reinterpret_cast<const char *>(run), static_cast<size_t>(u - run));
      piece_started = true;
    }
    if (escape.empty()) {  // NUL, LF or CR
      if (piece_started) out->put('\n');
      piece_started = false;
      if (c == '\0') return;
      run = ++u;
      continue;
    }
    out->put(escape);
    piece_started = true;
    u += c >= 0x80 ? subpart : 1;
    run = u;
  }
}

}  // namespace

void sub_write_vtt(const SubDoc *doc, const SubWriteOptions &options, SubOut *out) {
  constexpr SubClockStyle clock{2, '.', 3};
  out->put("WEBVTT");
  if (*options.vtt_header) {
    out->put(' ');
    vtt_put_utf8(options.vtt_header, out);
  }
  out->put("\n\n");
  for (int32_t i = 0; i < doc->cue_count; ++i) {
    const SubCue &cue = doc->cues[i];
    if (vtt_fits_one_line(cue.id)) {
      vtt_put_utf8(cue.id, out);
      out->put('\n');
    }
    sub_out_clock(out, cue.start_ms, clock);
    out->put(" --> ");
    sub_out_clock(out, cue.end_ms, clock);
    if (vtt_fits_one_line(cue.settings)) {
      out->put(' ');
      vtt_put_utf8(cue.settings, out);
    }
    out->put('\n');
    for (int32_t l = 0; l < cue.lines.count; ++l) vtt_write_line(cue.lines.items[l], out);
    out->put('\n');
  }
}
