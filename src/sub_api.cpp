// The exported entry points: sub_parse with its dispatch table, fallback order
// and second chances, the format names, and the accessors over g_sub.
#include "sub_internal.h"

namespace {

constexpr const char *fmt_names[SUB_FMT_COUNT] = {
    "srt",   "vtt", "ass",  "microdvd", "subviewer", "ttml",
    "ytxml", "lrc", "sami", "bilibili", "acfun",
};

// The parser of each format identifier; a format without one answers like an
// identifier outside the table. Not const only so that tests can stand in
// their own parsers (sub_test_swap_parser).
SubParserFn parsers[SUB_FMT_COUNT] = {
    sub_parse_srt,        // 0
    sub_parse_vtt,        // 1
    sub_parse_ass,        // 2
    sub_parse_microdvd,   // 3
    sub_parse_subviewer,  // 4
    sub_parse_ttml,       // 5
    sub_parse_ytxml,      // 6
    sub_parse_lrc,        // 7
    sub_parse_sami,       // 8
    sub_parse_bilibili,   // 9
    sub_parse_acfun,      // 10
};

// Tried in this order when detection names nothing; SRT's loose timing lines
// would accept too much, so it comes last.
constexpr int32_t order[] = {
    SUB_FMT_VTT,   SUB_FMT_ASS, SUB_FMT_SAMI,     SUB_FMT_SUBVIEWER, SUB_FMT_BILIBILI, SUB_FMT_TTML,
    SUB_FMT_YTXML, SUB_FMT_LRC, SUB_FMT_MICRODVD, SUB_FMT_ACFUN,     SUB_FMT_SRT,      SUB_FMT_AUTO,
};

// A format easily confused with another gets that one as a second chance.
int32_t second_chance(int32_t format) {
  switch (format) {
    case SUB_FMT_MICRODVD: return SUB_FMT_SUBVIEWER;
    case SUB_FMT_YTXML: return SUB_FMT_BILIBILI;
    default: return SUB_FMT_AUTO;
  }
}

inline bool cue_in_range(int32_t i) { return i >= 0 && i < g_sub.cue_count; }

// Renders the JSON after a success; a rendering failure leaves "{}" but the
// parse still succeeded. The decoded text has served its purpose by then and
// goes first, so that it and the document never take memory at once (the
// cues hold their own copies).
int32_t parse_succeeded() {
  sub_free(g_sub.text);
  g_sub.text = nullptr;
  sub_build_json();
  return SUB_OK;
}

}  // namespace

SubParserFn sub_test_swap_parser(int32_t format, SubParserFn parser) {
  if (format < 0 || format >= SUB_FMT_COUNT) return nullptr;
  const SubParserFn old = parsers[format];
  parsers[format] = parser;
  return old;
}

int call_parser(int32_t format, const char *text, size_t len) {
  if (format < 0 || format >= SUB_FMT_COUNT || !parsers[format]) return SUB_ERR_FORMAT;
  return parsers[format](text, len);
}

extern "C" {

int32_t sub_parse(const void *data, size_t len, int32_t format, const char *encoding) {
  sub_state_reset();
  if (!data || len == 0) {
    sub_set_error("empty buffer");
    return SUB_ERR_EMPTY;
  }
  // UTF-8 input (the usual case) is read where the host holds it; anything
  // else is decoded into g_sub.text first.
  const char *text = nullptr;
  size_t skip = 0;
  if (sub_decode_in_place(data, len, encoding, &skip)) {
    text = static_cast<const char *>(data) + skip;
    g_sub.text_len = len - skip;
  } else {
    if (const int rc = sub_decode_to_utf8(data, len, encoding)) return rc;
    text = g_sub.text;
  }
  const size_t text_len = g_sub.text_len;

  if (format == SUB_FMT_AUTO) format = sub_detect_format(data, len, nullptr);
  if (format == SUB_FMT_AUTO) {
    for (const int32_t candidate : order) {
      if (candidate == SUB_FMT_AUTO) break;
      sub_cues_clear();
      g_sub.error[0] = '\0';
      if (call_parser(candidate, text, text_len) == SUB_OK && g_sub.cue_count > 0)
        return parse_succeeded();
    }
    sub_set_error("all parsers failed");
    return SUB_ERR_NOCUES;
  }

  int rc = call_parser(format, text, text_len);
  if (rc == SUB_OK) return parse_succeeded();
  const int32_t fallback = second_chance(format);
  if (fallback == SUB_FMT_AUTO) return rc;
  sub_cues_clear();  // the first parser's error text stays
  rc = call_parser(fallback, text, text_len);
  return rc == SUB_OK ? parse_succeeded() : rc;
}

const char *sub_format_name(int32_t format) {
  if (format == SUB_FMT_AUTO) return "auto";
  if (format < 0 || format >= SUB_FMT_COUNT) return "unknown";
  return fmt_names[format];
}

void sub_clear(void) { sub_state_reset(); }

int32_t sub_cue_count(void) { return g_sub.cue_count; }

int32_t sub_cue_start_ms(int32_t i) { return cue_in_range(i) ? g_sub.cues[i].start_ms : -1; }

int32_t sub_cue_end_ms(int32_t i) { return cue_in_range(i) ? g_sub.cues[i].end_ms : -1; }

int32_t sub_cue_line_count(int32_t i) { return cue_in_range(i) ? g_sub.cues[i].lines.count : 0; }

const char *sub_cue_line(int32_t i, int32_t line) {
  if (!cue_in_range(i) || line < 0 || line >= g_sub.cues[i].lines.count) return nullptr;
  return g_sub.cues[i].lines.items[line];
}

int32_t sub_cue_is_danmu(int32_t i) { return cue_in_range(i) ? g_sub.cues[i].is_danmu : 0; }

int32_t sub_cue_danmu_mode(int32_t i) { return cue_in_range(i) ? g_sub.cues[i].danmu_mode : 0; }

uint32_t sub_cue_danmu_color(int32_t i) { return cue_in_range(i) ? g_sub.cues[i].danmu_color : 0; }

float sub_cue_danmu_fontsize(int32_t i) {
  return cue_in_range(i) ? g_sub.cues[i].danmu_fontsize : 0.0f;
}

const char *sub_last_error(void) { return g_sub.error; }

int32_t sub_warning_count(void) { return g_sub.warning_count; }

const char *sub_warning(int32_t i) {
  return (i >= 0 && i < g_sub.warning_count) ? g_sub.warnings[i] : nullptr;
}

int32_t sub_detected_format(void) { return g_sub.detected_format; }

const char *sub_result_json(void) { return g_sub.result_json ? g_sub.result_json : "{}"; }

}  // extern "C"
