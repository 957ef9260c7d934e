// SubViewer:
//
//   [INFORMATION]                  first line, any case, nothing around it
//   [TITLE]...                     header lines until the first timing line
//   00:00:01.50,00:00:04.00        timing line: exactly this shape at the start
//   Hello[br]World                 body lines up to the next timing line
//
// The first timing line must be among the 20 lines after the header. Body
// lines are joined with LF (empty lines skipped) into at most 65535 bytes,
// then split at "[br]" or "[BR]" into trimmed cue lines.
#include <cstring>

#include "sub_parser.h"

namespace {

constexpr size_t sv_body_max = 65535;  // bytes of one cue's joined body
constexpr int sv_header_window = 20;   // lines after the header holding the first timing

// "HH:MM:SS.CC,HH:MM:SS.CC" at the start of the line.
bool is_subviewer_ts(std::string_view line) {
  constexpr std::string_view shape = "00:00:00.00,00:00:00.00";
  if (line.size() < shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    const bool digit = sub_is_digit(line[i]);
    if (shape[i] == '0' ? !digit : line[i] != shape[i]) return false;
  }
  return true;
}

// Adds the pieces of the body between "[br]"/"[BR]" markers, trimmed.
void sv_add_pieces(SubDoc *doc, int32_t cue, std::string_view body) {
  for (;;) {
    const size_t lower = body.find("[br]");
    const size_t upper = body.find("[BR]");
    const size_t marker = lower < upper ? lower : upper;
    const std::string_view piece = sub_sv_trim(body.substr(0, marker));
    if (!piece.empty()) sub_cue_add_line(doc, cue, piece.data(), piece.size());
    if (marker == std::string_view::npos) return;
    body.remove_prefix(marker + 4);
  }
}

}  // namespace

int sub_parse_subviewer(SubDoc *doc, const char *text, size_t len) {
  SubLineReader reader = sub_line_reader(text, len);
  std::string_view line;
  sub_line_next(&reader, &line);
  if (line.size() != 13 || !sub_sv_istarts(line, "[INFORMATION]")) {
    sub_set_error(doc, "SubViewer: missing [INFORMATION]");
    return SUB_ERR_NOCUES;
  }
  bool found = false;
  for (int n = 0; n < sv_header_window && !found && sub_line_next(&reader, &line); ++n)
    found = is_subviewer_ts(line);
  if (!found) {
    sub_set_error(doc, "SubViewer: no timestamp");
    return SUB_ERR_NOCUES;
  }
  SubScratch body(sv_body_max);
  if (!body.data) return SUB_ERR_NOMEM;
  std::string_view timing = line;
  bool more = true;
  while (more) {
    const size_t comma = timing.find(',');
    // The timing line is cut where a copy of it would end, at its first NUL.
    const int32_t start = sub_hms_ms(timing.substr(0, comma), true);
    const int32_t end = sub_hms_ms(timing.substr(comma + 1), true);
    size_t body_len = 0;
    bool any = false;
    while ((more = sub_line_next(&reader, &line)) && !is_subviewer_ts(line)) {
      if (line.empty()) continue;
      if (any && body_len < sv_body_max) body.data[body_len++] = '\n';
      any = true;
      const size_t room = sv_body_max - body_len;
      const size_t take = line.size() < room ? line.size() : room;
      std::memcpy(body.data + body_len, line.data(), take);
      body_len += take;
    }
    if (start >= 0 && start < end && body_len > 0) {
      const int32_t cue = sub_cue_add(doc, start, end);
      if (cue >= 0) sv_add_pieces(doc, cue, std::string_view(body.data, body_len));
    }
    timing = line;
  }
  return sub_parser_done(doc, SUB_FMT_SUBVIEWER, doc->cue_count);
}
