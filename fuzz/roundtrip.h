// The round trip of the writers, shared by fuzz_roundtrip.cpp and the unit
// tests: a parsed document written in a format and read back by
// sub_doc_parse() (that format named, default options) must give exactly the
// cues the writers' contract says it keeps, and nothing else.
//
// What each format changes, as expected() computes it:
//   every format  times below 0 read as 0; ill-formed UTF-8 as U+FFFD; a
//                 failed parse writes no cue; danmaku keep their time and
//                 text only
//   SRT           display lines (cut at LF, CR, CR LF, U+2028) trimmed,
//                 empty ones left out; a cue with no text left out
//   WebVTT        display lines cut at LF, CR, CR LF, zero-length ones left
//                 out, compared after decoding &amp; &lt; &gt; on both sides,
//                 then exactly as escaped (markup kept: a '<' that opens a
//                 tag, a '&' that starts a reference; every other '&', '<',
//                 '>' escaped, a tag ending in "-->" too); identifier
//                 and settings kept when they fit one line without "-->",
//                 less any region (no region block is written)
//   ASS           as SRT, times floored to centiseconds, an end not after
//                 the start written 10 ms after it (10 ms before the end of
//                 the 32-bit range the start moves back instead); braces
//                 outside override blocks escaped; the reader splits at a
//                 literal "\N" or "\n" and keeps at most 65535 bytes of a
//                 line. A document holding danmaku is laid out instead (see
//                 ass_danmaku_difference)
//   LRC           as SRT, joined with " / ", in start order, one entry per
//                 floored start; an entry lasts to the next written time
//                 (its own end marker when it has one), the last one 3000 ms;
//                 times as the reader computes them from "mm:ss.xx"
//   TTML          display lines cut at LF, CR, CR LF; control characters
//                 and U+FFFE / U+FFFF as U+FFFD; runs of
//                 white space as one space, none at the ends (the reading
//                 collapses them); a cue with no line left, or whose end is
//                 not after its start, absent
// Every format first writes ill-formed UTF-8 (which the classic decoding
// may leave in a line) as U+FFFD, one per maximal ill-formed subpart, so the
// text is always UTF-8 and reads back as such.
#ifndef SUBPARSE_ROUNDTRIP_H
#define SUBPARSE_ROUNDTRIP_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sub_util/doc.h"
#include "sub_util/strings.h"
#include "sub_util/values.h"
#include "subparse.h"

namespace roundtrip {

// The formats with a writer whose text the library reads back.
inline constexpr int32_t kWriters[] = {SUB_FMT_SRT, SUB_FMT_VTT, SUB_FMT_ASS, SUB_FMT_LRC,
                                       SUB_FMT_TTML};

// A cue as a document's accessors give it: read back, expected, or (the
// members built() takes) one to build a document of.
struct Cue {
  int32_t start = 0;
  int32_t end = 0;
  std::vector<std::string> lines;
  std::optional<std::string> id{};
  std::optional<std::string> settings{};
};

// One cue of the document written: a Cue, and whether it is a danmaku
// comment (the ASS layout writes those alone).
struct SourceCue : Cue {
  bool danmu = false;
  int32_t mode = 0;  // danmaku display mode
};

namespace detail {

inline std::optional<std::string> opt_text(const char *s) {
  return s ? std::optional<std::string>(s) : std::nullopt;
}

// Times, lines, identifier and settings of cue `i`.
inline void read_cue(const SubDoc *doc, int32_t i, Cue *c) {
  c->start = sub_doc_cue_start_ms(doc, i);
  c->end = sub_doc_cue_end_ms(doc, i);
  for (int32_t k = 0; k < sub_doc_cue_line_count(doc, i); ++k)
    c->lines.emplace_back(sub_doc_cue_line(doc, i, k));
  c->id = opt_text(sub_doc_cue_id(doc, i));
  c->settings = opt_text(sub_doc_cue_settings(doc, i));
}

inline int32_t clamp0(int32_t ms) { return ms < 0 ? 0 : ms; }
inline int32_t floor_cs(int32_t ms) { return ms < 0 ? 0 : ms - ms % 10; }

// The display lines of a cue: each line cut at LF, CR, CR LF and, when
// asked, U+2028. Pieces may be empty.
inline std::vector<std::string_view> pieces(const SourceCue &cue, bool u2028) {
  std::vector<std::string_view> out;
  for (const std::string &line : cue.lines) {
    const std::string_view s = line;
    size_t from = 0;
    for (size_t i = 0; i < s.size(); ++i) {
      size_t skip = 0;
      if (s[i] == '\n') {
        skip = 1;
      } else if (s[i] == '\r') {
        skip = i + 1 < s.size() && s[i + 1] == '\n' ? 2 : 1;
      } else if (u2028 && s.substr(i, 3) == "\xE2\x80\xA8") {
        skip = 3;
      }
      if (!skip) continue;
      out.push_back(s.substr(from, i - from));
      i += skip - 1;
      from = i + 1;
    }
    out.push_back(s.substr(from));
  }
  return out;
}

// The trimmed, non-empty display lines (SRT, ASS, LRC).
inline std::vector<std::string> text_lines(const SourceCue &cue) {
  std::vector<std::string> out;
  for (std::string_view p : pieces(cue, true)) {
    p = sub_sv_trim(p);
    if (!p.empty()) out.emplace_back(p);
  }
  return out;
}

// Length of the well-formed UTF-8 sequence at s[i], or 0 with the length of
// its maximal ill-formed subpart in *subpart: the library's own rule, which
// the writers follow.
inline size_t utf8_seq(std::string_view s, size_t i, size_t *subpart) {
  if (static_cast<unsigned char>(s[i]) < 0x80) return 1;
  return sub_utf8_seq(reinterpret_cast<const unsigned char *>(s.data()), s.size(), i, subpart);
}

inline bool utf8_valid(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    size_t subpart = 0;
    const size_t n = utf8_seq(s, i, &subpart);
    if (!n) return false;
    i += n;
  }
  return true;
}

inline bool source_is_utf8(const std::vector<SourceCue> &cues) {
  for (const SourceCue &c : cues) {
    for (const std::string &l : c.lines)
      if (!utf8_valid(l)) return false;
    if ((c.id && !utf8_valid(*c.id)) || (c.settings && !utf8_valid(*c.settings))) return false;
  }
  return true;
}

// `s` with each maximal ill-formed subpart written as U+FFFD.
inline std::string utf8_fix(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    size_t subpart = 0;
    const size_t n = utf8_seq(s, i, &subpart);
    out += n ? s.substr(i, n) : std::string_view("\xEF\xBF\xBD");
    i += n ? n : subpart;
  }
  return out;
}

// The cues as every writer sees their text: ill-formed UTF-8 as U+FFFD.
inline std::vector<SourceCue> utf8_fixed(const std::vector<SourceCue> &cues) {
  std::vector<SourceCue> out = cues;
  for (SourceCue &c : out) {
    for (std::string &l : c.lines) l = utf8_fix(l);
    if (c.id) c.id = utf8_fix(*c.id);
    if (c.settings) c.settings = utf8_fix(*c.settings);
  }
  return out;
}

// ---- WebVTT

inline bool vtt_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool vtt_digit(char c) { return c >= '0' && c <= '9'; }
inline bool vtt_hex(char c) {
  return vtt_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Length of the character reference (&name; &#digits; &#xhex;) at s[i].
inline size_t vtt_reference(std::string_view s, size_t i) {
  size_t j = i + 1;
  if (j < s.size() && s[j] == '#') {
    ++j;
    const bool hex = j < s.size() && (s[j] == 'x' || s[j] == 'X');
    if (hex) ++j;
    const size_t digits = j;
    while (j < s.size() && (hex ? vtt_hex(s[j]) : vtt_digit(s[j]))) ++j;
    return j > digits && j < s.size() && s[j] == ';' ? j + 1 - i : 0;
  }
  if (j >= s.size() || !vtt_letter(s[j])) return 0;
  while (j < s.size() && (vtt_letter(s[j]) || vtt_digit(s[j]))) ++j;
  return j < s.size() && s[j] == ';' ? j + 1 - i : 0;
}

// Length of the tag opened by the '<' at s[i] ('<', a letter, '/' or a digit,
// up to the next '>' with no '<' before it), 0 when it opens none. A tag
// ending in "-->" is none: written as it is, it would end the cue.
inline size_t vtt_tag(std::string_view s, size_t i) {
  if (i + 1 >= s.size() || !(vtt_letter(s[i + 1]) || s[i + 1] == '/' || vtt_digit(s[i + 1])))
    return 0;
  const size_t close = s.find_first_of("<>", i + 1);
  if (close == std::string_view::npos || s[close] != '>') return 0;
  if (close - i >= 3 && s.substr(close - 2, 2) == "--") return 0;
  return close + 1 - i;
}

// A display line as WebVTT cue text showing the same: markup already in it
// (tags, character references) kept, every other '&', '<', '>' escaped.
inline std::string vtt_escape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '<') {
      const size_t tag = vtt_tag(s, i);
      if (tag) {
        out += s.substr(i, tag);
        i += tag - 1;
      } else {
        out += "&lt;";
      }
    } else if (s[i] == '&') {
      out += vtt_reference(s, i) ? "&" : "&amp;";
    } else if (s[i] == '>') {
      out += "&gt;";
    } else {
      out += s[i];
    }
  }
  return out;
}

// &amp; &lt; &gt; decoded, in one pass from the left.
inline std::string vtt_decode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '&') {
      const std::string_view rest = s.substr(i);
      if (rest.substr(0, 5) == "&amp;") {
        out += '&';
        i += 4;
        continue;
      }
      if (rest.substr(0, 4) == "&lt;" || rest.substr(0, 4) == "&gt;") {
        out += rest[1] == 'l' ? '<' : '>';
        i += 3;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

inline bool vtt_fits_one_line(const std::optional<std::string> &s) {
  return s && !s->empty() && s->find_first_of("\r\n") == std::string::npos &&
         s->find("-->") == std::string::npos;
}

// The settings as read back: a region names a region block, and none is
// written, so the reading drops it.
inline std::optional<std::string> vtt_settings_read_back(const std::string &settings) {
  std::string out;
  size_t i = 0;
  while (i < settings.size()) {
    const size_t space = settings.find(' ', i);
    const std::string_view one =
        std::string_view(settings).substr(i, space == std::string::npos ? space : space - i);
    if (!one.empty() && one.substr(0, 7) != "region:") {
      if (!out.empty()) out += ' ';
      out += one;
    }
    if (space == std::string::npos) break;
    i = space + 1;
  }
  return out.empty() ? std::nullopt : std::optional<std::string>(out);
}

inline std::vector<Cue> expect_vtt(const std::vector<SourceCue> &src) {
  std::vector<Cue> out;
  for (const SourceCue &c : src) {
    Cue e;
    e.start = clamp0(c.start);
    e.end = clamp0(c.end);
    for (std::string_view p : pieces(c, false))
      if (!p.empty()) e.lines.emplace_back(p);
    if (vtt_fits_one_line(c.id)) e.id = c.id;
    if (vtt_fits_one_line(c.settings)) e.settings = vtt_settings_read_back(*c.settings);
    out.push_back(std::move(e));
  }
  return out;
}

// ---- SRT

inline std::vector<Cue> expect_srt(const std::vector<SourceCue> &src) {
  std::vector<Cue> out;
  for (const SourceCue &c : src) {
    Cue e;
    e.lines = text_lines(c);
    if (e.lines.empty()) continue;
    e.start = clamp0(c.start);
    e.end = clamp0(c.end);
    out.push_back(std::move(e));
  }
  return out;
}

// ---- ASS

// A display line with every brace outside an override block ("{\" up to the
// next "}") escaped; with `keep_overrides` false (a danmaku comment, whose
// text never styles itself) every brace.
inline std::string ass_escape(std::string_view s, bool keep_overrides) {
  std::string out;
  size_t close = 0;  // the first '}' at or after i + 2 once looked up
  for (size_t i = 0; i < s.size(); ++i) {
    if (keep_overrides && s[i] == '{' && i + 1 < s.size() && s[i + 1] == '\\') {
      if (close != std::string_view::npos && close < i + 2) close = s.find('}', i + 2);
      if (close != std::string_view::npos) {
        out += s.substr(i, close + 1 - i);
        i = close;
        continue;
      }
    }
    if (s[i] == '{' || s[i] == '}') out += '\\';
    out += s[i];
  }
  return out;
}

// The lines the reader makes of an event's Text: cut at "\N" and "\n",
// empty pieces dropped; a piece that fills 65535 bytes while text remains
// ends the text.
inline std::vector<std::string> ass_read_text(std::string_view text) {
  constexpr size_t line_max = 65535;
  std::vector<std::string> out;
  size_t from = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (i - from == line_max) {
      out.emplace_back(text.substr(from, line_max));
      return out;
    }
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'N' || text[i + 1] == 'n')) {
      if (i > from) out.emplace_back(text.substr(from, i - from));
      i += 2;
      from = i;
      continue;
    }
    ++i;
  }
  if (i > from) out.emplace_back(text.substr(from));
  return out;
}

// The event text of a cue: its trimmed display lines, braces escaped, joined
// with "\N"; empty when it has no text.
inline std::string ass_event_text(const SourceCue &c, bool keep_overrides) {
  std::string text;
  for (const std::string &l : text_lines(c)) {
    if (!text.empty()) text += "\\N";
    text += ass_escape(l, keep_overrides);
  }
  return text;
}

constexpr int32_t ass_min_length = 10;

// The floored start an event of a cue is written with, when its floored end
// would not be after it: 10 ms earlier at the very end of the 32-bit range.
inline int32_t ass_start_moved(int32_t floored) {
  return floored > INT32_MAX - ass_min_length ? floored - ass_min_length : floored;
}

inline std::vector<Cue> expect_ass(const std::vector<SourceCue> &src) {
  std::vector<Cue> out;
  for (const SourceCue &c : src) {
    const std::string text = ass_event_text(c, true);
    if (text.empty()) continue;
    Cue e;
    e.start = floor_cs(c.start);
    e.end = floor_cs(c.end);
    if (e.end <= e.start) {
      e.start = ass_start_moved(e.start);
      e.end = e.start + ass_min_length;
    }
    e.lines = ass_read_text(text);
    out.push_back(std::move(e));
  }
  return out;
}

inline bool has_danmaku(const std::vector<SourceCue> &src) {
  for (const SourceCue &c : src)
    if (c.danmu) return true;
  return false;
}

// A danmaku document is laid out in ASS: each comment the layout keeps is an
// event in time order whose text opens with the layout's override block,
// every brace of the comment's own text escaped; comments with no free row
// are dropped, plain cues are not written, and a positioned comment (mode 7)
// takes its text from its JSON array. So the
// events read back must be, in order, comments taken in start order (stable),
// each at its floored start, lasting, with its own text (but for mode 7).
inline std::string ass_danmaku_difference(const std::vector<SourceCue> &src,
                                          const std::vector<Cue> &got) {
  std::vector<const SourceCue *> order;
  for (const SourceCue &c : src)
    if (c.danmu) order.push_back(&c);
  std::stable_sort(order.begin(), order.end(),
                   [](const SourceCue *a, const SourceCue *b) { return a->start < b->start; });
  size_t next = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    const Cue &ev = got[i];
    const std::string at = "laid-out event " + std::to_string(i) + " (" + std::to_string(ev.start) +
                           "-" + std::to_string(ev.end) + "): ";
    if (ev.lines.empty() || ev.lines[0].substr(0, 4) != "{\\an" ||
        ev.lines[0].find('}') == std::string::npos)
      return at + "no layout override block";
    if (ev.end <= ev.start) return at + "does not last";
    const std::string prefix = ev.lines[0].substr(0, ev.lines[0].find('}') + 1);
    if (ev.lines.size() == 1 && ev.lines[0].size() == prefix.size())
      return at + "holds no text (a comment without text is written)";
    bool found = false;
    for (; next < order.size() && !found; ++next) {
      const SourceCue &c = *order[next];
      const int32_t start = floor_cs(c.start);
      if (ev.start != start && ev.start != ass_start_moved(start)) continue;
      if (c.mode == 7) {
        found = true;
        continue;
      }
      const std::string text = ass_event_text(c, false);
      found = !text.empty() && ass_read_text(prefix + text) == ev.lines;
    }
    if (!found) return at + "matches no comment left in start order";
  }
  return "";
}

// ---- LRC

// The time the reader gives "[mm:ss.xx]" for a centisecond time: seconds read
// as a double, (seconds + minutes × 60) × 1000 truncated.
inline int32_t lrc_read_ms(int32_t floored) {
  const int32_t minutes = floored / 60000;
  char seconds[16];
  std::snprintf(seconds, sizeof seconds, "%02d.%02d", floored / 1000 % 60, floored % 1000 / 10);
  double s = 0;
  sub_strtod(seconds, &s);
  return sub_double_to_i32((s + static_cast<double>(int64_t{minutes} * 60)) * 1000.0);
}

inline std::vector<Cue> expect_lrc(const std::vector<SourceCue> &src) {
  struct Texted {
    const SourceCue *cue;
    std::vector<std::string> lines;
  };
  std::vector<Texted> order;
  for (const SourceCue &c : src) {
    std::vector<std::string> lines = text_lines(c);
    if (!lines.empty()) order.push_back({&c, std::move(lines)});
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const Texted &a, const Texted &b) { return a.cue->start < b.cue->start; });
  struct Entry {
    int32_t start;
    int32_t end;
    std::string text;
  };
  std::vector<Entry> entries;
  for (const Texted &t : order) {
    const int32_t start = floor_cs(t.cue->start);
    if (entries.empty() || entries.back().start != start)
      entries.push_back({start, t.cue->end, ""});
    Entry &e = entries.back();
    e.end = std::max(e.end, t.cue->end);
    for (const std::string &l : t.lines) {
      if (!e.text.empty()) e.text += " / ";
      e.text += l;
    }
  }
  std::vector<Cue> out;
  for (size_t k = 0; k < entries.size(); ++k) {
    const Entry &e = entries[k];
    const int32_t end = floor_cs(e.end);
    const bool last = k + 1 == entries.size();
    Cue cue;
    cue.start = lrc_read_ms(e.start);
    if (end > e.start && (last || end < entries[k + 1].start))
      cue.end = lrc_read_ms(end);
    else if (!last)
      cue.end = lrc_read_ms(entries[k + 1].start);
    else
      cue.end = sub_add_sat(cue.start, 3000);
    cue.lines.push_back(e.text);
    out.push_back(std::move(cue));
  }
  return out;
}

// ---- TTML

// A display line (valid UTF-8 by now) as XML character data holds it:
// control characters other than tab, and U+FFFE / U+FFFF, become U+FFFD.
inline std::string ttml_fix(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    const bool non_char = c == 0xEF && s.substr(i + 1, 1) == "\xBF" && i + 2 < s.size() &&
                          static_cast<unsigned char>(s[i + 2]) >= 0xBE;
    if ((c < 0x20 && c != '\t') || non_char) {
      out += "\xEF\xBF\xBD";
      if (non_char) i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// Runs of white space as one space, none at the ends.
inline std::string ttml_collapse(std::string_view s) {
  std::string out;
  bool pending = false;
  for (char c : s) {
    if (sub_is_blank(static_cast<unsigned char>(c))) {
      pending = !out.empty();
      continue;
    }
    if (pending) out += ' ';
    pending = false;
    out += c;
  }
  return out;
}

inline std::vector<Cue> expect_ttml(const std::vector<SourceCue> &src) {
  std::vector<Cue> out;
  for (const SourceCue &c : src) {
    Cue e;
    e.start = clamp0(c.start);
    e.end = clamp0(c.end);
    if (e.end <= e.start) continue;
    for (std::string_view p : pieces(c, false)) {
      std::string line = ttml_collapse(ttml_fix(p));
      if (!line.empty()) e.lines.push_back(std::move(line));
    }
    if (e.lines.empty()) continue;
    out.push_back(std::move(e));
  }
  return out;
}

inline std::string show_text(const std::optional<std::string> &s) {
  if (!s) return "NULL";
  std::string out = "\"";
  const size_t shown = s->size() > 120 ? 120 : s->size();
  for (size_t i = 0; i < shown; ++i) {
    const auto c = static_cast<unsigned char>((*s)[i]);
    if (c < 0x20 || c == 0x7F || c == '"' || c == '\\') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (shown < s->size()) out += "...(" + std::to_string(s->size()) + " bytes)";
  return out + "\"";
}

}  // namespace detail

// The cues of `doc` as the writers see them: none after a failed parse.
inline std::vector<SourceCue> source_cues(const SubDoc *doc) {
  std::vector<SourceCue> cues;
  if (!doc->succeeded) return cues;  // written as an empty track
  const int32_t n = sub_doc_cue_count(doc);
  cues.reserve(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    SourceCue c;
    detail::read_cue(doc, i, &c);
    c.danmu = sub_doc_cue_is_danmu(doc, i) != 0;
    c.mode = sub_doc_cue_danmu_mode(doc, i);
    cues.push_back(std::move(c));
  }
  return cues;
}

// The cues that reading `doc` written in `format` back must give. Empty
// when the format has no reader here (JSON), and for a document holding
// danmaku in ASS, whose layout check() compares in its own way.
inline std::vector<Cue> expected(const std::vector<SourceCue> &given, int32_t format) {
  if (format == SUB_FMT_ASS && detail::has_danmaku(given)) return {};
  const bool fix = !detail::source_is_utf8(given);
  const std::vector<SourceCue> fixed = fix ? detail::utf8_fixed(given) : std::vector<SourceCue>{};
  const std::vector<SourceCue> &src = fix ? fixed : given;
  switch (format) {
    case SUB_FMT_SRT: return detail::expect_srt(src);
    case SUB_FMT_VTT: return detail::expect_vtt(src);
    case SUB_FMT_ASS: return detail::expect_ass(src);
    case SUB_FMT_LRC: return detail::expect_lrc(src);
    case SUB_FMT_TTML: return detail::expect_ttml(src);
    default: return {};
  }
}

inline std::vector<Cue> expected(const SubDoc *doc, int32_t format) {
  return expected(source_cues(doc), format);
}

// The cues of a document read back from a written text. LRC end markers
// (cues of one empty line) are left out.
inline std::vector<Cue> read_back(const SubDoc *doc, int32_t format) {
  std::vector<Cue> out;
  const int32_t n = sub_doc_cue_count(doc);
  for (int32_t i = 0; i < n; ++i) {
    Cue c;
    detail::read_cue(doc, i, &c);
    if (format == SUB_FMT_LRC && c.lines.size() == 1 && c.lines[0].empty()) continue;
    out.push_back(std::move(c));
  }
  return out;
}

// The first difference between the expected cues and those read back, or "".
inline std::string cue_difference(const std::vector<Cue> &want, const std::vector<Cue> &got,
                                  int32_t format) {
  using detail::show_text;
  const size_t n = std::min(want.size(), got.size());
  for (size_t i = 0; i < n; ++i) {
    const Cue &w = want[i];
    const Cue &g = got[i];
    const std::string at = "cue " + std::to_string(i) + ": ";
    if (w.start != g.start)
      return at + "start " + std::to_string(w.start) + " expected, " + std::to_string(g.start) +
             " read back";
    if (w.end != g.end)
      return at + "end " + std::to_string(w.end) + " expected, " + std::to_string(g.end) +
             " read back";
    for (size_t k = 0; k < std::max(w.lines.size(), g.lines.size()); ++k) {
      const std::optional<std::string> wl =
          k < w.lines.size() ? std::optional<std::string>(w.lines[k]) : std::nullopt;
      const std::optional<std::string> gl =
          k < g.lines.size() ? std::optional<std::string>(g.lines[k]) : std::nullopt;
      if (format == SUB_FMT_VTT && wl && gl) {
        // Equal as escaped implies equal once decoded.
        const std::string escaped = detail::vtt_escape(*wl);
        if (escaped == *gl) continue;
        if (detail::vtt_decode(*wl) == detail::vtt_decode(*gl))
          return at + "line " + std::to_string(k) + " read back as " + show_text(gl) +
                 ", escaped as " + show_text(escaped) + " expected";
      }
      if (wl != gl || format == SUB_FMT_VTT)
        return at + "line " + std::to_string(k) + " " + show_text(wl) + " expected, " +
               show_text(gl) + " read back";
    }
    if (w.id != g.id) return at + "identifier " + show_text(w.id) + " expected, " + show_text(g.id);
    if (w.settings != g.settings)
      return at + "settings " + show_text(w.settings) + " expected, " + show_text(g.settings);
  }
  if (want.size() != got.size())
    return "cue count " + std::to_string(want.size()) + " expected, " + std::to_string(got.size()) +
           " read back";
  return "";
}

// The outcome of one round trip.
struct Result {
  std::string difference;     // "" when the round trip holds
  std::string text;           // what the writer wrote
  int32_t expected_cues = 0;  // laid-out danmaku: the comments, some may drop
};

// Writes `doc` in `format` (default options), reads the text back with
// sub_doc_parse() (that format named, default options) and compares. `src`
// is the document's cues as source_cues() reads them, for a caller that
// checks several formats.
inline Result check(SubDoc *doc, int32_t format, const std::vector<SourceCue> &src) {
  Result r;
  char *out = nullptr;
  size_t len = 0;
  const int32_t rc = sub_doc_write(doc, format, nullptr, &out, &len);
  if (rc != SUB_OK) {
    r.difference = "sub_doc_write returned " + std::to_string(rc);
    return r;
  }
  r.text.assign(out, len);
  const bool nul_terminated = out[len] == '\0' && std::strlen(out) == len;
  sub_text_free(out);
  if (!nul_terminated) {
    r.difference = "the text holds a NUL byte or is not terminated";
    return r;
  }
  if (!detail::utf8_valid(r.text)) {
    r.difference = "the text is not UTF-8";
    return r;
  }
  const bool laid_out = format == SUB_FMT_ASS && detail::has_danmaku(src);
  const std::vector<Cue> want = expected(src, format);
  r.expected_cues = static_cast<int32_t>(want.size());
  if (laid_out)
    r.expected_cues = static_cast<int32_t>(
        std::count_if(src.begin(), src.end(), [](const SourceCue &c) { return c.danmu; }));
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.format = format;
  SubDoc *back = nullptr;
  const int32_t parsed = sub_doc_parse(r.text.data(), r.text.size(), &options, &back);
  if (!back) {
    r.difference = "no document read back (code " + std::to_string(parsed) + ")";
    return r;
  }
  if (laid_out) {
    r.difference = detail::ass_danmaku_difference(
        detail::source_is_utf8(src) ? src : detail::utf8_fixed(src),
        parsed == SUB_OK ? read_back(back, format) : std::vector<Cue>{});
  } else if (parsed != SUB_OK && !want.empty()) {
    r.difference = "reading back failed with code " + std::to_string(parsed) + " (" +
                   sub_doc_error(back) + ")";
  } else {
    r.difference = cue_difference(
        want, parsed == SUB_OK ? read_back(back, format) : std::vector<Cue>{}, format);
  }
  sub_doc_free(back);
  return r;
}

struct DocFree {
  void operator()(SubDoc *doc) const { sub_doc_free(doc); }
};
using DocPtr = std::unique_ptr<SubDoc, DocFree>;

// A parsed document holding exactly `cues` (any bytes but NUL in their lines,
// ids and settings), for inputs no reader gives: a small parse made into a
// successful document whose cue store is then filled directly. Null when
// memory ran out.
inline DocPtr built(const std::vector<Cue> &cues) {
  static constexpr char seed[] = "1\n00:00:00,000 --> 00:00:01,000\nx\n";
  SubDoc *doc = nullptr;
  sub_doc_parse(seed, sizeof seed - 1, nullptr, &doc);
  DocPtr owned(doc);
  if (!doc || !doc->succeeded) return nullptr;
  sub_cues_clear(doc);
  for (const Cue &c : cues) {
    const int32_t i = sub_cue_add(doc, c.start, c.end);
    if (i < 0) return nullptr;
    for (const std::string &line : c.lines)
      if (sub_cue_add_line(doc, i, line.data(), line.size()) != 0) return nullptr;
    if (c.id && sub_cue_set_id(doc, i, c.id->data(), c.id->size()) != 0) return nullptr;
    if (c.settings && sub_cue_set_settings(doc, i, c.settings->data(), c.settings->size()) != 0)
      return nullptr;
  }
  return owned;
}

inline Result check(SubDoc *doc, int32_t format) { return check(doc, format, source_cues(doc)); }

// "" when a parse with no format named (detection, then the fallback order)
// reads a written text as `format` (or finds no cue in it), else what it
// read it as. Detection alone
// may pass a text by (LRC lyrics that start after 20 minutes carry no "[0"
// or "[1" tag): a user's parse still finds the format.
inline std::string detection_difference(const std::string &text, int32_t format) {
  SubDoc *doc = nullptr;
  const int32_t rc = sub_doc_parse(text.data(), text.size(), nullptr, &doc);
  const int32_t found = sub_doc_format(doc);
  sub_doc_free(doc);
  // A track with no cue left (danmaku of modes the layout does not show)
  // has nothing to detect.
  if (found == format || rc == SUB_ERR_NOCUES) return "";
  return std::string("read as ") + sub_format_name(found) + ", written as " +
         sub_format_name(format);
}

}  // namespace roundtrip

#endif
