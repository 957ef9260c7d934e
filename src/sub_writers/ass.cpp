// Advanced SubStation Alpha (ASS) output:
//
//   [Script Info]
//   ScriptType: v4.00+
//   PlayResX: 1920
//   PlayResY: 1080
//   WrapStyle: 0                    (2 for danmaku: no wrapping)
//   ScaledBorderAndShadow: yes
//   (blank line)
//   [V4+ Styles]
//   Format: Name, Fontname, Fontsize, PrimaryColour, ... , MarginV, Encoding
//   Style: Default,Arial,54,&H00FFFFFF,&H000000FF,&H00000000,&H80000000,0,0,...
//   (blank line)
//   [Events]
//   Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text
//   Dialogue: 0,0:00:01.00,0:00:02.50,Default,,0,0,0,,first line\Nsecond {\i1}line{\i0}
//
// Times are floored to centiseconds (readers keep no finer time); hours take
// as many digits as they need. An event whose floored end is not after its
// floored start would be dropped by readers and renderers, so its end is
// written 10 ms after its start (at the very end of the 32-bit range, where
// that end could not be read back, the start moves 10 ms earlier instead).
//
// The text is the cue's display lines, each trimmed, empty ones left out,
// joined with "\N"; a cue with no text left is left out. The Text column
// runs to the end of the line, so commas need nothing. Override blocks
// ("{\" up to the next "}") are kept; any other brace would open or close a
// comment that renderers hide, so it is written "\{" or "\}", which they show
// as the brace. ASS has no escape for a backslash: a literal "\N", "\n" or
// "\h" in a line (say "C:\new") is written as it is and reads back as a line
// break or a hard space. Lines read from ASS never hold "\N" or "\n" (the
// reader breaks there) and keep their "\h", so text from ASS keeps its
// meaning.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "danmaku_layout.h"
#include "sub_parser.h"
#include "writer.h"

namespace {

constexpr int32_t ass_min_length_ms = 10;

// The fixed parts of the header, around the play resolution, the font and
// its size.
constexpr std::string_view ass_script_info =
    "[Script Info]\n"
    "ScriptType: v4.00+\n";
constexpr std::string_view ass_styles =
    "ScaledBorderAndShadow: yes\n"
    "\n"
    "[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
    "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
    "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
    "Style: Default,";
constexpr std::string_view ass_style_rest =
    ",&H00FFFFFF,&H000000FF,&H00000000,&H80000000,0,0,0,0,100,100,0,0,1,2,1,2,20,20,20,1\n";
constexpr std::string_view ass_events =
    "\n"
    "[Events]\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

// Appends the font size as the shortest decimal that reads back as it (no
// exponent: not every renderer reads one). The options allow sizes in
// (0, 10000], whose fixed form fits the buffer.
void ass_put_size(SubOut *out, double size) {
  char digits[400];
  const std::to_chars_result r =
      std::to_chars(digits, digits + sizeof digits, size, std::chars_format::fixed);
  if (r.ec != std::errc()) {
    out->put('0');  // not reached with a checked size
    return;
  }
  out->put(digits, static_cast<size_t>(r.ptr - digits));
}

// Appends one trimmed, non-empty display line with its braces escaped.
// `{\` opens an override block that runs to the next `}` and is kept whole
// (unless `keep_overrides` is false: a comment's text never styles itself);
// every other brace gets a backslash. The next `}` is looked up once per
// block at most and remembered, so a line full of "{\" stays linear.
void ass_put_text(SubOut *out, std::string_view piece, bool keep_overrides = true) {
  size_t close = 0;  // the first '}' at or after the scan position, or npos
  bool close_known = false;
  size_t from = 0;  // start of the bytes not yet written
  for (size_t i = 0; i < piece.size(); ++i) {
    const char c = piece[i];
    if (keep_overrides && c == '{' && i + 1 < piece.size() && piece[i + 1] == '\\') {
      if (!close_known || (close != std::string_view::npos && close < i)) {
        close = piece.find('}', i + 2);
        close_known = true;
      }
      if (close != std::string_view::npos) {
        i = close;  // the block, its '}' included, is written as it is
        continue;
      }
    }
    if (c != '{' && c != '}') continue;
    sub_out_utf8(out, piece.substr(from, i - from));
    out->put('\\');
    from = i;
  }
  sub_out_utf8(out, piece.substr(from));
}

// Appends the start and end columns of an event, with the end fix.
void ass_put_times(SubOut *out, const SubCue &cue) {
  constexpr SubClockStyle clock{1, '.', 2};
  int32_t start = sub_floor_cs(cue.start_ms);
  int32_t end = sub_floor_cs(cue.end_ms);
  if (end <= start) {
    if (start > INT32_MAX - ass_min_length_ms) start -= ass_min_length_ms;
    end = start + ass_min_length_ms;
  }
  sub_out_clock(out, start, clock);
  out->put(',');
  sub_out_clock(out, end, clock);
}

// Whether `doc` holds danmaku: they are laid out instead of written as
// plain events.
bool ass_is_danmaku(const SubDoc *doc) {
  for (int32_t i = 0; i < doc->cue_count; ++i)
    if (doc->cues[i].is_danmu) return true;
  return false;
}

// The style every laid-out comment starts from: the font at the danmaku
// size, white, a 2-pixel black outline, no shadow, top-left anchored.
void ass_put_danmaku_style(SubOut *out, const SubWriteOptions &options) {
  out->put("Style: Danmaku,");
  out->put(options.ass_font);
  out->put(',');
  ass_put_size(out, std::round(options.danmaku_font_size));
  out->put(",&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,2,0,7,0,0,0,1\n");
}

// Appends a rounded pixel coordinate (negative ones included).
void ass_put_px(SubOut *out, double v) {
  const double r = std::round(v);
  if (r < 0) out->put('-');
  sub_out_uint(out, static_cast<uint64_t>(std::fabs(r) < 1e15 ? std::fabs(r) : 1e15), 1);
}

void ass_put_hex2(SubOut *out, unsigned v) {
  static constexpr char digits[] = "0123456789ABCDEF";
  out->put(digits[(v >> 4) & 0xF]);
  out->put(digits[v & 0xF]);
}

// The override block of a laid-out comment: place, size, colours, opacity.
void ass_put_danmaku_tags(SubOut *out, const SubDanmakuEvent &e, const SubWriteOptions &o) {
  using Kind = SubDanmakuKind;
  out->put(e.kind == Kind::top ? "{\\an8" : e.kind == Kind::bottom ? "{\\an2" : "{\\an7");
  if (e.kind == Kind::scroll_left || e.kind == Kind::scroll_right || e.moves) {
    out->put("\\move(");
    ass_put_px(out, e.x1);
    out->put(',');
    ass_put_px(out, e.y1);
    out->put(',');
    ass_put_px(out, e.x2);
    out->put(',');
    ass_put_px(out, e.y2);
    if (e.moves) {
      out->put(',');
      sub_out_uint(out, static_cast<uint64_t>(e.move_from_ms), 1);
      out->put(',');
      sub_out_uint(out, static_cast<uint64_t>(e.move_to_ms), 1);
    }
    out->put(')');
  } else {
    out->put("\\pos(");
    ass_put_px(out, e.x1);
    out->put(',');
    ass_put_px(out, e.y1);
    out->put(')');
  }
  if (std::round(e.font_px) != std::round(o.danmaku_font_size)) {
    out->put("\\fs");
    ass_put_px(out, e.font_px);
  }
  if (e.color != 0xFFFFFF) {
    out->put("\\c&H");
    ass_put_hex2(out, e.color & 0xFF);
    ass_put_hex2(out, (e.color >> 8) & 0xFF);
    ass_put_hex2(out, (e.color >> 16) & 0xFF);
    out->put('&');
  }
  if (e.dark) out->put("\\3c&HFFFFFF&");
  if (e.alpha_from) {
    out->put("\\alpha&H");
    ass_put_hex2(out, e.alpha_from);
    out->put('&');
  }
  if (e.alpha_to != e.alpha_from) {
    out->put("\\t(\\alpha&H");
    ass_put_hex2(out, e.alpha_to);
    out->put("&)");
  }
  out->put('}');
}

// Tells the document what the layout left out, once per distinct text.
void ass_report(SubDoc *doc, const char *text) {
  if (!doc) return;
  for (int32_t i = 0; i < doc->warning_count; ++i)
    if (doc->warnings[i] && std::strcmp(doc->warnings[i], text) == 0) return;
  sub_warn(doc, "%s", text);
}

void ass_report_drops(SubDoc *doc, int64_t n, const char *why) {
  if (n <= 0) return;
  char text[128];
  std::snprintf(text, sizeof text, "danmaku: %lld comment%s dropped: %s", static_cast<long long>(n),
                n == 1 ? "" : "s", why);
  ass_report(doc, text);
}

// The events of a danmaku document, laid out.
void ass_put_danmaku(const SubDoc *doc, const SubWriteOptions &options, SubOut *out) {
  SubDanmakuLayout layout;
  if (!sub_danmaku_layout(doc, options, &layout)) {
    out->failed = true;
    return;
  }
  for (int32_t n = 0; n < layout.count; ++n) {
    sub_danmaku_prefetch(doc, n, layout.count, [&](int32_t k) { return layout.events[k].cue; });
    const SubDanmakuEvent &e = layout.events[n];
    SubCue times{};
    times.start_ms = e.start_ms;
    times.end_ms = e.end_ms;
    out->put("Dialogue: 0,");
    ass_put_times(out, times);
    out->put(",Danmaku,,0,0,0,,");
    ass_put_danmaku_tags(out, e, options);
    const char *line = nullptr;
    const SubCue &cue = e.kind == SubDanmakuKind::positioned
                            ? sub_danmaku_positioned_text(layout, e, &line)
                            : doc->cues[e.cue];
    sub_out_text_lines(
        out, cue, "\\N", [] {}, [&](std::string_view text) { ass_put_text(out, text, false); });
    out->put('\n');
  }
  ass_report_drops(out->report_to, layout.dropped_no_row, "no free row");
  ass_report_drops(out->report_to, layout.dropped_filtered, "filtered out");
  ass_report_drops(out->report_to, layout.dropped_unreadable,
                   "positioned comments that do not read, or modes not shown");
}

}  // namespace

void sub_write_ass(const SubDoc *doc, const SubWriteOptions &options, SubOut *out) {
  const bool danmaku = ass_is_danmaku(doc);
  out->put(ass_script_info);
  out->put("PlayResX: ");
  sub_out_uint(out, static_cast<uint64_t>(options.ass_play_res_x), 1);
  out->put("\nPlayResY: ");
  sub_out_uint(out, static_cast<uint64_t>(options.ass_play_res_y), 1);
  out->put('\n');
  // Comments never wrap: a wrapped one would spill into the rows below.
  out->put(danmaku ? "WrapStyle: 2\n" : "WrapStyle: 0\n");
  out->put(ass_styles);
  out->put(options.ass_font);
  out->put(',');
  ass_put_size(out, options.ass_font_size);
  out->put(ass_style_rest);
  if (danmaku) ass_put_danmaku_style(out, options);
  out->put(ass_events);
  if (danmaku) {
    ass_put_danmaku(doc, options, out);
    return;
  }
  for (int32_t i = 0; i < doc->cue_count; ++i) {
    const SubCue &cue = doc->cues[i];
    const auto head = [&] {
      out->put("Dialogue: 0,");
      ass_put_times(out, cue);
      out->put(",Default,,0,0,0,,");
    };
    const auto put_line = [&](std::string_view line) { ass_put_text(out, line); };
    if (sub_out_text_lines(out, cue, "\\N", head, put_line)) out->put('\n');
  }
}
