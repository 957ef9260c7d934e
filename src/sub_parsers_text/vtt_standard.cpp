// WebVTT, the standard reading. Lines end at CR LF, CR or LF; NUL bytes read
// as U+FFFD.
//
//   WEBVTT optional text                 "WEBVTT" alone, or then space or tab
//   Kind: captions                       header lines, to the first empty line
//
//   REGION                               before the first cue: region blocks
//   id:fred width:40%                    (only their ids are kept) and
//                                        STYLE blocks, read past
//   NOTE anything                        a block without a timing line: dropped
//
//   intro                                optional identifier (no "-->")
//   00:01.000 --> 01:00:04.000 line:0    [h...h:]mm:ss.ttt twice, then settings
//   <v Roger>text stays as written       the text, to an empty line or to a
//                                        line with "-->" (the next cue's timing)
//
// A block whose timing line does not read is dropped. The valid settings are
// kept as "name:value" separated by single spaces, in the order of their
// first appearance, a later valid one replacing an earlier one of its name.
#include "vtt_standard.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "sub_parser.h"

namespace {

constexpr std::string_view vtts_arrow = "-->";

bool vtts_is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// The lines of the text, one at a time, with the position after each.
struct VttsLines {
  const char *text;
  size_t len;
  size_t pos;  // start of the next line
};

// Reads the line at the current position; *ended tells whether the text
// ended before a line break.
std::string_view vtts_line(VttsLines *lines, bool *ended) {
  const char *start = lines->text + lines->pos;
  const size_t rest = lines->len - lines->pos;
  size_t n = 0;
  while (n < rest && start[n] != '\n' && start[n] != '\r') ++n;
  std::string_view line(start, n);
  if (n == rest) {
    lines->pos = lines->len;
    *ended = true;
    return line;
  }
  size_t skip = 1;
  if (start[n] == '\r' && n + 1 < rest && start[n + 1] == '\n') skip = 2;
  lines->pos += n + skip;
  *ended = false;
  return line;
}

// Hands `s` to `store`, with every NUL byte written as U+FFFD.
using VttsStore = int (*)(SubDoc *doc, int32_t cue, const char *p, size_t n);
void vtts_put(SubDoc *doc, int32_t cue, std::string_view s, VttsStore store) {
  if (!s.data() || std::memchr(s.data(), 0, s.size()) == nullptr) {
    if (store(doc, cue, s.data() ? s.data() : "", s.size()) != 0) sub_doc_note_oom(doc);
    return;
  }
  SubScratch copy(sub_size_mul_add(s.size(), 3, 1));
  if (!copy.data) {
    sub_doc_note_oom(doc);
    return;
  }
  size_t n = 0;
  for (char c : s) {
    if (c == '\0') {
      copy.data[n++] = '\xEF';
      copy.data[n++] = '\xBF';
      copy.data[n++] = '\xBD';
    } else {
      copy.data[n++] = c;
    }
  }
  if (store(doc, cue, copy.data, n) != 0) sub_doc_note_oom(doc);
}

// Reads the digits at s[*i]; their count, with the value saturated far above
// any time that fits yet low enough that hours in milliseconds stay within
// 64 bits.
size_t vtts_digits(std::string_view s, size_t *i, int64_t *value) {
  const size_t from = *i;
  int64_t v = 0;
  while (*i < s.size() && sub_is_digit(s[*i])) {
    if (v < 100000000000LL) v = v * 10 + (s[*i] - '0');
    ++*i;
  }
  *value = v;
  return *i - from;
}

// A timestamp at s[*i]: [h...h:]mm:ss.ttt. Of two numbers the first is the
// minutes, or the hours when it passes 59 (the seconds then 0), as web
// readers take "120:00.000". Milliseconds, or -1.
int64_t vtts_timestamp(std::string_view s, size_t *i) {
  int64_t v1 = 0, v2 = 0, v3 = 0, v4 = 0;
  if (*i >= s.size() || !sub_is_digit(s[*i])) return -1;
  vtts_digits(s, i, &v1);
  if (*i >= s.size() || s[*i] != ':') return -1;
  ++*i;
  if (vtts_digits(s, i, &v2) != 2) return -1;
  const bool hours = *i < s.size() && s[*i] == ':';
  if (hours) {
    ++*i;
    if (vtts_digits(s, i, &v3) != 2 || v2 > 59) return -1;
  } else if (v1 > 59) {
    if (v2 > 59) return -1;
  } else {
    v3 = v2;
    v2 = v1;
    v1 = 0;
  }
  if (*i >= s.size() || s[*i] != '.') return -1;
  ++*i;
  if (vtts_digits(s, i, &v4) != 3) return -1;
  if (v3 > 59) return -1;
  return ((v1 * 60 + v2) * 60 + v3) * 1000 + v4;
}

void vtts_skip_spaces(std::string_view s, size_t *i) {
  while (*i < s.size() && vtts_is_space(s[*i])) ++*i;
}

// A percentage: digits, optionally '.' and digits, then '%', at most 100.
bool vtts_percentage(std::string_view s) {
  size_t i = 0;
  int64_t whole = 0;
  if (vtts_digits(s, &i, &whole) == 0) return false;
  bool fraction_nonzero = false;
  if (i < s.size() && s[i] == '.') {
    ++i;
    const size_t from = i;
    int64_t ignored = 0;
    if (vtts_digits(s, &i, &ignored) == 0) return false;
    for (size_t k = from; k < i; ++k) fraction_nonzero |= s[k] != '0';
  }
  if (i + 1 != s.size() || s[i] != '%') return false;
  return whole < 100 || (whole == 100 && !fraction_nonzero);
}

// Whether a valid percentage reads as exactly 100.
bool vtts_is_hundred(std::string_view s) {
  size_t i = 0;
  while (i + 1 < s.size() && s[i] == '0') ++i;
  if (s.substr(i, 3) != "100") return false;
  for (char c : s.substr(i + 3))
    if (c != '.' && c != '0' && c != '%') return false;
  return true;
}

// A line number: digits with an optional leading '-' and at most one '.'
// between digits.
bool vtts_line_number(std::string_view s) {
  bool digit = false;
  bool dot = false;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (sub_is_digit(c)) {
      digit = true;
    } else if (c == '-') {
      if (i != 0) return false;
    } else if (c == '.') {
      if (dot || i == 0 || i + 1 == s.size() || !sub_is_digit(s[i - 1]) || !sub_is_digit(s[i + 1]))
        return false;
      dot = true;
    } else {
      return false;
    }
  }
  return digit;
}

// Splits "a,b" at its first comma; `after` is null when there is none.
void vtts_split_comma(std::string_view value, std::string_view *before, std::string_view *after) {
  const size_t comma = value.find(',');
  *before = value.substr(0, comma);
  *after = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
}

bool vtts_one_of(std::string_view s, std::initializer_list<std::string_view> words) {
  for (std::string_view w : words)
    if (s == w) return true;
  return false;
}

bool vtts_valid_line(std::string_view value) {
  std::string_view pos, align;
  vtts_split_comma(value, &pos, &align);
  if (pos.find_first_of("0123456789") == std::string_view::npos) return false;
  if (pos.back() == '%') {
    if (!vtts_percentage(pos)) return false;
  } else if (!vtts_line_number(pos)) {
    return false;
  }
  return !align.data() || vtts_one_of(align, {"start", "center", "end"});
}

bool vtts_valid_position(std::string_view value) {
  std::string_view pos, align;
  vtts_split_comma(value, &pos, &align);
  if (!vtts_percentage(pos)) return false;
  return !align.data() || vtts_one_of(align, {"line-left", "center", "line-right"});
}

// The ids of the region blocks before the first cue, sorted once the first
// cue asks for one (no region block can follow it).
struct VttsRegions {
  std::string_view *ids = nullptr;
  int32_t count = 0;
  int32_t cap = 0;
  bool sorted = false;
  ~VttsRegions() { sub_free(ids); }
};

bool vtts_region_known(VttsRegions *regions, std::string_view id) {
  if (!regions->sorted) {
    std::sort(regions->ids, regions->ids + regions->count);
    regions->sorted = true;
  }
  return std::binary_search(regions->ids, regions->ids + regions->count, id);
}

// The next "name:value" of a settings list (both parts non-empty) at or
// after *i, with the place of its colon; false after the last one.
bool vtts_next_setting(std::string_view settings, size_t *i, std::string_view *setting,
                       size_t *colon) {
  while (*i < settings.size()) {
    vtts_skip_spaces(settings, i);
    const size_t from = *i;
    while (*i < settings.size() && !vtts_is_space(settings[*i])) ++*i;
    *setting = settings.substr(from, *i - from);
    *colon = setting->find(':');
    if (*colon != std::string_view::npos && *colon != 0 && *colon + 1 != setting->size())
      return true;
  }
  return false;
}

// A region block's settings: the value of its last valid "id:".
void vtts_add_region(SubDoc *doc, VttsRegions *regions, std::string_view settings) {
  std::string_view id;
  size_t i = 0;
  std::string_view setting;
  size_t colon = 0;
  while (vtts_next_setting(settings, &i, &setting, &colon)) {
    const std::string_view value = setting.substr(colon + 1);
    if (setting.substr(0, colon) == "id" && value.find(vtts_arrow) == std::string_view::npos)
      id = value;
  }
  if (id.empty()) return;  // no cue setting names an empty region
  if (regions->count == regions->cap && !sub_grow(&regions->ids, &regions->cap, 8)) {
    sub_doc_note_oom(doc);
    return;
  }
  regions->ids[regions->count++] = id;
  regions->sorted = false;
}

enum VttsSetting { VTTS_VERTICAL, VTTS_LINE, VTTS_POSITION, VTTS_SIZE, VTTS_ALIGN, VTTS_REGION };
constexpr std::string_view vtts_setting_names[] = {"vertical", "line",  "position",
                                                   "size",     "align", "region"};
constexpr int vtts_setting_count = 6;

// Reads the settings after the end time and stores the valid ones on `cue`.
void vtts_settings(SubDoc *doc, int32_t cue, std::string_view settings, VttsRegions *regions) {
  std::string_view kept[vtts_setting_count] = {};
  size_t order[vtts_setting_count] = {};  // where each first appeared
  size_t i = 0;
  std::string_view setting;
  size_t colon = 0;
  while (vtts_next_setting(settings, &i, &setting, &colon)) {
    const size_t from = static_cast<size_t>(setting.data() - settings.data());
    const std::string_view name = setting.substr(0, colon);
    const std::string_view value = setting.substr(colon + 1);
    int which = -1;
    for (int k = 0; k < vtts_setting_count; ++k)
      if (name == vtts_setting_names[k]) which = k;
    bool valid = false;
    switch (which) {
      case VTTS_VERTICAL: valid = value == "rl" || value == "lr"; break;
      case VTTS_LINE: valid = vtts_valid_line(value); break;
      case VTTS_POSITION: {
        // An alignment other than line-left, center or line-right is
        // dropped and the position kept, as readers of the web do.
        const size_t comma = value.find(',');
        valid = vtts_valid_position(value.substr(0, comma));
        if (valid && comma != std::string_view::npos && !vtts_valid_position(value))
          setting = setting.substr(0, colon + 1 + comma);
        break;
      }
      case VTTS_SIZE: valid = vtts_percentage(value); break;
      case VTTS_ALIGN:
        valid = vtts_one_of(value, {"start", "center", "end", "left", "right"});
        break;
      case VTTS_REGION: valid = vtts_region_known(regions, value); break;
      default: break;
    }
    if (!valid) continue;
    if (kept[which].empty()) order[which] = from + 1;
    kept[which] = setting;
  }
  // A cue placed by line, size (other than 100%) or writing direction leaves
  // its region.
  const std::string_view size = kept[VTTS_SIZE].substr(kept[VTTS_SIZE].empty() ? 0 : 5);
  if (!kept[VTTS_LINE].empty() || !kept[VTTS_VERTICAL].empty() ||
      (!size.empty() && !vtts_is_hundred(size)))
    kept[VTTS_REGION] = std::string_view();
  size_t total = 0;
  for (std::string_view s : kept) total += s.size() + 1;
  if (total == vtts_setting_count) return;  // none kept
  SubScratch out(total);
  if (!out.data) {
    sub_doc_note_oom(doc);
    return;
  }
  size_t n = 0;
  size_t done_below = 0;  // settings written so far appeared before this
  for (int written = 0; written < vtts_setting_count; ++written) {
    int next = -1;
    for (int k = 0; k < vtts_setting_count; ++k)
      if (!kept[k].empty() && order[k] > done_below && (next < 0 || order[k] < order[next]))
        next = k;
    if (next < 0) break;
    if (n > 0) out.data[n++] = ' ';
    std::memcpy(out.data + n, kept[next].data(), kept[next].size());
    n += kept[next].size();
    done_below = order[next];
  }
  vtts_put(doc, cue, std::string_view(out.data, n), sub_cue_set_settings);
}

// The timing line "START --> END settings": adds the cue, or -1 when the line
// does not read (-2 when the cue array cannot grow).
int32_t vtts_timing(SubDoc *doc, std::string_view line, VttsRegions *regions) {
  size_t i = 0;
  vtts_skip_spaces(line, &i);
  const int64_t start = vtts_timestamp(line, &i);
  if (start < 0) return -1;
  vtts_skip_spaces(line, &i);
  if (line.substr(i, vtts_arrow.size()) != vtts_arrow) return -1;
  i += vtts_arrow.size();
  vtts_skip_spaces(line, &i);
  const int64_t end = vtts_timestamp(line, &i);
  if (end < 0 || start > INT32_MAX || end > INT32_MAX) return -1;
  const int32_t cue = sub_cue_add(doc, static_cast<int32_t>(start), static_cast<int32_t>(end));
  if (cue < 0) return -2;
  vtts_settings(doc, cue, line.substr(i), regions);
  return cue;
}

// "STYLE" or "REGION" followed by nothing but white space.
bool vtts_block_word(std::string_view first, std::string_view word) {
  if (first.substr(0, word.size()) != word) return false;
  for (char c : first.substr(word.size()))
    if (!vtts_is_space(c)) return false;
  return true;
}

struct VttsState {
  SubDoc *doc = nullptr;
  VttsLines lines = {};
  VttsRegions regions;
  bool seen_cue = false;
  bool nomem = false;
};

// Reads one block from the current position (the header's own lines when
// `in_header`). A line with "-->" that cannot be this block's timing line is
// left for the next block.
void vtts_block(VttsState *st, bool in_header) {
  VttsLines *lines = &st->lines;
  size_t previous = lines->pos;
  int line_count = 0;
  bool seen_arrow = false;
  int32_t cue = -1;
  std::string_view first;  // the block's first line, while it is the only one
  enum { PLAIN, REGION } kind = PLAIN;
  size_t region_from = 0;  // where a region block's settings begin
  size_t region_to = 0;
  for (;;) {
    bool ended = false;
    const size_t line_start = lines->pos;
    const std::string_view line = vtts_line(lines, &ended);
    ++line_count;
    if (line.find(vtts_arrow) != std::string_view::npos) {
      if (!in_header && (line_count == 1 || (line_count == 2 && !seen_arrow))) {
        seen_arrow = true;
        previous = lines->pos;
        const int32_t added = vtts_timing(st->doc, line, &st->regions);
        if (added == -2) {
          st->nomem = true;
          return;
        }
        if (added >= 0) {
          cue = added;
          st->seen_cue = true;
          if (line_count == 2 && !first.empty()) vtts_put(st->doc, cue, first, sub_cue_set_id);
        }
      } else {
        lines->pos = previous;
        break;
      }
    } else if (line.empty()) {
      break;
    } else {
      if (!in_header && line_count == 2 && !st->seen_cue && cue < 0) {
        if (vtts_block_word(first, "REGION")) {
          kind = REGION;
          region_from = line_start;
        }
      }
      if (line_count == 1) first = line;
      if (cue >= 0) vtts_put(st->doc, cue, line, sub_cue_add_line);
      if (kind == REGION) region_to = line_start + line.size();
      previous = lines->pos;
    }
    if (ended) break;
  }
  if (kind == REGION && cue < 0)
    vtts_add_region(st->doc, &st->regions,
                    std::string_view(lines->text + region_from, region_to - region_from));
}

void vtts_skip_empty_lines(VttsLines *lines) {
  while (lines->pos < lines->len &&
         (lines->text[lines->pos] == '\n' || lines->text[lines->pos] == '\r')) {
    bool ended = false;
    vtts_line(lines, &ended);
  }
}

}  // namespace

int vtt_parse_standard(SubDoc *doc, const char *text, size_t len) {
  if (!text) len = 0;
  if (len >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
    text += 3;
    len -= 3;
  }
  const std::string_view all(text ? text : "", len);
  if (all.substr(0, 6) != "WEBVTT" ||
      (all.size() > 6 && all[6] != ' ' && all[6] != '\t' && all[6] != '\n' && all[6] != '\r')) {
    sub_set_error(doc, "WebVTT: missing WEBVTT header");
    return SUB_ERR_NOCUES;
  }
  VttsState st;
  st.doc = doc;
  st.lines = VttsLines{all.data(), all.size(), 0};
  bool ended = false;
  vtts_line(&st.lines, &ended);  // the "WEBVTT" line
  if (!ended && st.lines.pos < st.lines.len) {
    const char c = st.lines.text[st.lines.pos];
    if (c != '\n' && c != '\r') vtts_block(&st, true);
  }
  vtts_skip_empty_lines(&st.lines);
  while (st.lines.pos < st.lines.len && !st.nomem) {
    vtts_block(&st, false);
    vtts_skip_empty_lines(&st.lines);
  }
  if (st.nomem) return SUB_ERR_NOMEM;
  doc->detected_format = SUB_FMT_VTT;
  return SUB_OK;
}
