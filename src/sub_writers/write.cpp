// sub_doc_write(): the table of writers, the write options and the names of
// formats.
#include <cmath>
#include <cstring>

#include "sub_parser.h"
#include "sub_util/json.h"
#include "sub_util/options.h"
#include "writer.h"

namespace {

struct SubWriterDesc {
  int32_t format;
  SubWriterFn write;
};

constexpr SubWriterDesc writers[] = {
    {SUB_FMT_SRT, sub_write_srt}, {SUB_FMT_VTT, sub_write_vtt},   {SUB_FMT_ASS, sub_write_ass},
    {SUB_FMT_LRC, sub_write_lrc}, {SUB_FMT_TTML, sub_write_ttml},
};

struct FormatAlias {
  const char *name;
  int32_t format;
};

constexpr FormatAlias aliases[] = {
    {"auto", SUB_FMT_AUTO},    {"json", SUB_FMT_JSON},    {"subrip", SUB_FMT_SRT},
    {"webvtt", SUB_FMT_VTT},   {"ssa", SUB_FMT_ASS},      {"dfxp", SUB_FMT_TTML},
    {"smi", SUB_FMT_SAMI},     {"sub", SUB_FMT_MICRODVD}, {"youtube", SUB_FMT_YTXML},
    {"xml", SUB_FMT_BILIBILI},
};

#define WRITE_OPTIONS_END(M) SUB_OPTIONS_END(SubWriteOptions, M)

// Where each member of the write options ends, in order.
constexpr size_t write_options_members[] = {
    WRITE_OPTIONS_END(size),
    WRITE_OPTIONS_END(vtt_header),
    WRITE_OPTIONS_END(ass_play_res_x),
    WRITE_OPTIONS_END(ass_play_res_y),
    WRITE_OPTIONS_END(ass_font),
    WRITE_OPTIONS_END(ass_font_size),
    WRITE_OPTIONS_END(ttml_lang),
    WRITE_OPTIONS_END(danmaku_font_size),
    WRITE_OPTIONS_END(danmaku_scroll_ms),
    WRITE_OPTIONS_END(danmaku_fixed_ms),
    WRITE_OPTIONS_END(danmaku_opacity),
    WRITE_OPTIONS_END(danmaku_scroll_share),
    WRITE_OPTIONS_END(danmaku_overflow),
    WRITE_OPTIONS_END(danmaku_drop_modes),
    WRITE_OPTIONS_END(danmaku_block_words),
    WRITE_OPTIONS_END(danmaku_measure),
    WRITE_OPTIONS_END(danmaku_measure_user),
};

// The options the host passed, completed with the defaults; null texts read
// as empty ones.
SubWriteOptions write_options(const SubWriteOptions *given) {
  SubWriteOptions defaults;
  sub_write_options_init(&defaults);
  SubWriteOptions o = sub_options_read(given, defaults, write_options_members);
  for (const char **text : {&o.vtt_header, &o.ass_font, &o.ttml_lang, &o.danmaku_block_words})
    if (!*text) *text = "";
  return o;
}

inline bool has_any(std::string_view s, std::string_view chars) {
  return s.find_first_of(chars) != std::string_view::npos;
}

// Whether every option can be written as it is.
bool write_options_usable(const SubWriteOptions &o) {
  const std::string_view header = o.vtt_header;
  const std::string_view font = o.ass_font;
  const std::string_view lang = o.ttml_lang;
  return !has_any(header, "\r\n") && header.find("-->") == std::string_view::npos &&
         o.ass_play_res_x >= 1 && o.ass_play_res_x <= 16384 && o.ass_play_res_y >= 1 &&
         o.ass_play_res_y <= 16384 && !font.empty() && !has_any(font, ",\r\n") &&
         o.ass_font_size > 0 && o.ass_font_size <= 10000 && !has_any(lang, "\"<>&\r\n") &&
         o.danmaku_font_size >= 1 && o.danmaku_font_size <= 1000 && o.danmaku_scroll_ms >= 500 &&
         o.danmaku_scroll_ms <= 60000 && o.danmaku_fixed_ms >= 500 && o.danmaku_fixed_ms <= 60000 &&
         o.danmaku_opacity > 0 && o.danmaku_opacity <= 1 && o.danmaku_scroll_share > 0 &&
         o.danmaku_scroll_share <= 1 &&
         (o.danmaku_overflow == SUB_DANMAKU_DROP || o.danmaku_overflow == SUB_DANMAKU_OVERLAP);
}

const SubWriterDesc *writer_of(int32_t format) {
  for (const SubWriterDesc &w : writers)
    if (w.format == format) return &w;
  return nullptr;
}

// A NUL-terminated copy of the document's JSON.
char *json_copy(SubDoc *doc, size_t *len) {
  const char *json = sub_doc_json(doc);
  if (!json) return nullptr;
  SubOut out;
  out.put(json, std::strlen(json));
  *len = out.len;
  return out.release();
}

}  // namespace

extern "C" {

int32_t sub_format_id(const char *name) {
  if (!name) return -2;
  if (*name == '.') ++name;
  for (const FormatAlias &a : aliases)
    if (sub_str_ieq(name, a.name)) return a.format;
  for (int32_t f = 0; f < SUB_FMT_COUNT; ++f)
    if (sub_str_ieq(name, sub_formats[f].name)) return f;
  return -2;
}

void sub_write_options_init_size(SubWriteOptions *options, size_t size) {
  SubWriteOptions defaults;
  std::memset(static_cast<void *>(&defaults), 0, sizeof defaults);
  defaults.vtt_header = "";
  defaults.ass_play_res_x = 1920;
  defaults.ass_play_res_y = 1080;
  defaults.ass_font = "Arial";
  defaults.ass_font_size = 54;
  defaults.ttml_lang = "";
  defaults.danmaku_font_size = 50;
  defaults.danmaku_scroll_ms = 8000;
  defaults.danmaku_fixed_ms = 4000;
  defaults.danmaku_opacity = 0.8;
  defaults.danmaku_scroll_share = 1;
  defaults.danmaku_overflow = SUB_DANMAKU_DROP;
  defaults.danmaku_block_words = "";
  sub_options_fill(options, &defaults, size, write_options_members);
}

void(sub_write_options_init)(SubWriteOptions *options) {
  sub_write_options_init_size(options, sizeof(SubWriteOptions));
}

int32_t sub_doc_write(SubDoc *doc, int32_t format, const SubWriteOptions *given, char **out,
                      size_t *out_len) {
  if (out) *out = nullptr;
  if (out_len) *out_len = 0;
  if (!doc || !out) return SUB_ERR_ARGUMENT;
  size_t len = 0;
  const SubWriterDesc *writer = writer_of(format);
  if (!writer && format != SUB_FMT_JSON) return SUB_ERR_FORMAT;
  const SubWriteOptions options = write_options(given);
  if (!write_options_usable(options)) return SUB_ERR_ARGUMENT;
  if (format == SUB_FMT_JSON) {
    *out = json_copy(doc, &len);
  } else {
    // A failed parse may have left a fallback parser's partial work behind.
    static const SubDoc no_cues{};
    SubOut text;
    text.report_to = doc;
    writer->write(doc->succeeded ? doc : &no_cues, options, &text);
    len = text.len;
    *out = text.release();
  }
  if (!*out) return SUB_ERR_NOMEM;
  if (out_len) *out_len = len;
  return SUB_OK;
}

void sub_text_free(char *text) { sub_free(text); }

}  // extern "C"
