// ASS/SSA scripts. Only the [Events] section is read:
//
//   [Events]
//   Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text
//   Dialogue: 0,0:00:01.00,0:00:02.50,Default,,0,0,0,,Hello, world\Nsecond line
//
// The line right after "[Events]" (matched whole, any case) is the Format
// line naming the columns; event lines follow until a line starting with '['.
// "Comment:" lines are skipped, any other line is tried as a Dialogue line.
// The Text column runs to the end of the line (commas included); "\N" and
// "\n" split it into cue lines, every other override stays in the text.
#include "sub_parser.h"

namespace {

constexpr size_t ass_max_columns = 64;  // field table of one event line
constexpr size_t ass_name_max = 63;     // bytes of a column name kept
constexpr size_t ass_time_max = 63;     // bytes of a time field kept
constexpr size_t ass_line_max = 65535;  // bytes of one cue line

struct AssColumns {
  int64_t start = -1;
  int64_t end = -1;
  int64_t text = -1;
};

inline std::string_view ass_skip_spaces(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

// Reads the column positions of the Format line; false when one is missing.
bool ass_read_format(std::string_view line, AssColumns *cols) {
  if (sub_sv_istarts(line, "Format:")) line.remove_prefix(7);
  line = ass_skip_spaces(line);
  if (line.empty()) return false;
  int64_t position = 0;
  for (size_t from = 0;; ++position) {
    const size_t comma = line.find(',', from);
    const std::string_view name =
        sub_sv_trim(line.substr(from, comma == std::string_view::npos ? comma : comma - from)
                        .substr(0, ass_name_max));
    if (name.size() == 5 && sub_sv_istarts(name, "Start")) cols->start = position;
    if (name.size() == 3 && sub_sv_istarts(name, "End")) cols->end = position;
    if (name.size() == 4 && sub_sv_istarts(name, "Text")) cols->text = position;
    // A comma at the very end of the line opens no further column.
    if (comma == std::string_view::npos || comma + 1 == line.size()) break;
    from = comma + 1;
  }
  return cols->start >= 0 && cols->end >= 0 && cols->text >= 0;
}

// Adds the pieces of an event text between "\N"/"\n" escapes as lines; a
// piece that fills 65535 bytes while text remains ends the event's text.
void ass_split_text_lines(SubDoc *doc, int32_t cue, std::string_view text) {
  size_t from = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (i - from == ass_line_max) {
      sub_cue_add_line(doc, cue, text.data() + from, ass_line_max);
      return;
    }
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'N' || text[i + 1] == 'n')) {
      if (i > from) sub_cue_add_line(doc, cue, text.data() + from, i - from);
      i += 2;
      from = i;
      continue;
    }
    ++i;
  }
  if (i > from) sub_cue_add_line(doc, cue, text.data() + from, i - from);
}

// Reads one event line (already trimmed, prefix removed) into a cue.
void ass_read_event(SubDoc *doc, std::string_view line, const AssColumns &cols) {
  if (cols.text >= static_cast<int64_t>(ass_max_columns) || cols.text <= cols.start ||
      cols.text <= cols.end)
    return;
  std::string_view start_field;
  std::string_view end_field;
  size_t from = 0;
  for (int64_t column = 0; column < cols.text; ++column) {
    const size_t comma = line.find(',', from);
    if (comma == std::string_view::npos) return;  // the Text field is never reached
    const std::string_view field = line.substr(from, comma - from);
    if (column == cols.start) start_field = field;
    if (column == cols.end) end_field = field;
    from = comma + 1;
  }
  const int32_t start = sub_ssa_ms(sub_sv_trim(start_field.substr(0, ass_time_max)));
  const int32_t end = sub_ssa_ms(sub_sv_trim(end_field.substr(0, ass_time_max)));
  if (start < 0 || end < 0 || start >= end) return;
  const std::string_view text = line.substr(from);
  if (text.empty()) return;
  const int32_t cue = sub_cue_add(doc, start, end);
  if (cue >= 0) ass_split_text_lines(doc, cue, text);
}

}  // namespace

int sub_parse_ass(SubDoc *doc, const char *text, size_t len) {
  SubLineReader reader = sub_line_reader(text, len);
  std::string_view line;
  bool found = false;
  while (!found && sub_line_next(&reader, &line))
    found = line.size() == 8 && sub_sv_istarts(line, "[Events]");
  if (!found) {
    sub_set_error(doc, "ASS: no [Events] section");
    return SUB_ERR_NOCUES;
  }
  if (!sub_line_next(&reader, &line)) {
    sub_set_error(doc, "ASS: missing Format line");
    return SUB_ERR_NOCUES;
  }
  AssColumns cols;
  if (!ass_read_format(line, &cols)) {
    sub_set_error(doc, "ASS: Format missing Start/End/Text");
    return SUB_ERR_NOCUES;
  }
  while (sub_line_next(&reader, &line)) {
    line = sub_sv_trim(line);
    if (line.empty()) continue;
    if (line[0] == '[') break;
    if (sub_sv_istarts(line, "Comment:")) continue;
    if (sub_sv_istarts(line, "Dialogue:")) line.remove_prefix(9);
    ass_read_event(doc, ass_skip_spaces(line), cols);
  }
  return sub_parser_done(doc, SUB_FMT_ASS, doc->cue_count);
}
