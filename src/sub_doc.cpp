// The document API: parses into documents the host owns. Nothing here is
// shared between documents, so any number of them may be parsed and read on
// different threads at once.
#include <cstddef>
#include <cstring>

#include "sub_engine.h"
#include "sub_util/alloc.h"
#include "sub_util/json.h"
#include "sub_util/options.h"
#include "subparse.h"

namespace {

#define DOC_OPTIONS_END(M) SUB_OPTIONS_END(SubParseOptions, M)

// Where each member of the parse options ends, in order.
constexpr size_t sub_parse_options_members[] = {
    DOC_OPTIONS_END(size),    DOC_OPTIONS_END(format),       DOC_OPTIONS_END(encoding),
    DOC_OPTIONS_END(reading), DOC_OPTIONS_END(microdvd_fps),
};

// The options the host passed; members its (older, smaller) struct does not
// hold whole take their defaults.
SubParseOptions doc_options(const SubParseOptions *given) {
  SubParseOptions defaults;
  sub_parse_options_init(&defaults);
  return sub_options_read(given, defaults, sub_parse_options_members);
}

// A field of cue `i`, or `missing` when there is no such cue.
template <typename T>
inline T cue_field(const SubDoc *doc, int32_t i, T SubCue::*field, T missing) {
  return sub_doc_has_cue(doc, i) ? doc->cues[i].*field : missing;
}

}  // namespace

extern "C" {

void sub_parse_options_init_size(SubParseOptions *options, size_t size) {
  SubParseOptions defaults;
  std::memset(static_cast<void *>(&defaults), 0, sizeof defaults);
  defaults.format = SUB_FMT_AUTO;
  defaults.encoding = "auto";
  defaults.reading = SUB_READING_STANDARD;
  defaults.microdvd_fps = 25.0;
  sub_options_fill(options, &defaults, size, sub_parse_options_members);
}

// The struct of the first release ended with `reading`.
void(sub_parse_options_init)(SubParseOptions *options) {
  sub_parse_options_init_size(options, DOC_OPTIONS_END(reading));
}

int32_t sub_doc_parse(const void *data, size_t len, const SubParseOptions *given, SubDoc **out) {
  if (!out) return SUB_ERR_EMPTY;
  *out = nullptr;
  const SubParseOptions options = doc_options(given);
  auto *doc = static_cast<SubDoc *>(sub_malloc(sizeof(SubDoc)));
  if (!doc) return SUB_ERR_NOMEM;
  std::memset(static_cast<void *>(doc), 0, sizeof *doc);
  int32_t rc = SUB_ERR_FORMAT;
  const bool fps_ok = options.microdvd_fps > 1.0 && options.microdvd_fps < 1000.0;
  if (!fps_ok) {
    sub_doc_reset(doc);
    rc = SUB_ERR_ARGUMENT;
    sub_set_error(doc, "microdvd_fps must be above 1 and below 1000");
  } else if (options.reading == SUB_READING_CLASSIC || options.reading == SUB_READING_STANDARD) {
    doc->reading = options.reading;
    doc->microdvd_fps = static_cast<float>(options.microdvd_fps);
    rc = sub_engine_parse(doc, sub_formats, data, len, options.format, options.encoding);
  } else {
    sub_doc_reset(doc);
  }
  if (doc->oom) {
    // Something was dropped on the way: what is left may be incomplete, so
    // none of it is shown. The warnings stay.
    rc = SUB_ERR_NOMEM;
    doc->succeeded = false;
    sub_cues_clear(doc);
    doc->detected_format = SUB_FMT_AUTO;
    sub_set_error(doc, "out of memory");
  }
  *out = doc;
  return rc;
}

void sub_doc_free(SubDoc *doc) {
  if (!doc) return;
  sub_doc_reset(doc);
  sub_free(doc);
}

int32_t sub_doc_cue_count(const SubDoc *doc) { return doc ? doc->cue_count : 0; }

int32_t sub_doc_cue_start_ms(const SubDoc *doc, int32_t i) {
  return cue_field(doc, i, &SubCue::start_ms, -1);
}

int32_t sub_doc_cue_end_ms(const SubDoc *doc, int32_t i) {
  return cue_field(doc, i, &SubCue::end_ms, -1);
}

int32_t sub_doc_cue_line_count(const SubDoc *doc, int32_t i) {
  return sub_doc_has_cue(doc, i) ? doc->cues[i].lines.count : 0;
}

const char *sub_doc_cue_line(const SubDoc *doc, int32_t i, int32_t line) {
  if (!sub_doc_has_cue(doc, i) || line < 0 || line >= doc->cues[i].lines.count) return nullptr;
  return doc->cues[i].lines.items[line];
}

int32_t sub_doc_cue_is_danmu(const SubDoc *doc, int32_t i) {
  return cue_field(doc, i, &SubCue::is_danmu, 0);
}

int32_t sub_doc_cue_danmu_mode(const SubDoc *doc, int32_t i) {
  return cue_field(doc, i, &SubCue::danmu_mode, 0);
}

uint32_t sub_doc_cue_danmu_color(const SubDoc *doc, int32_t i) {
  return cue_field(doc, i, &SubCue::danmu_color, 0u);
}

float sub_doc_cue_danmu_fontsize(const SubDoc *doc, int32_t i) {
  return cue_field(doc, i, &SubCue::danmu_fontsize, 0.0f);
}

const char *sub_doc_cue_id(const SubDoc *doc, int32_t i) {
  return cue_field<const char *>(doc, i, &SubCue::id, nullptr);
}

const char *sub_doc_cue_settings(const SubDoc *doc, int32_t i) {
  return cue_field<const char *>(doc, i, &SubCue::settings, nullptr);
}

const char *sub_doc_error(const SubDoc *doc) { return doc ? doc->error : ""; }

int32_t sub_doc_warning_count(const SubDoc *doc) { return doc ? doc->warning_count : 0; }

const char *sub_doc_warning(const SubDoc *doc, int32_t i) {
  return doc && i >= 0 && i < doc->warning_count ? doc->warnings[i] : nullptr;
}

int32_t sub_doc_format(const SubDoc *doc) { return doc ? doc->detected_format : SUB_FMT_AUTO; }

const char *sub_doc_encoding(const SubDoc *doc) {
  return doc && doc->encoding ? doc->encoding : "";
}

const char *sub_doc_json(SubDoc *doc) {
  if (!doc) return nullptr;
  if (!doc->succeeded) return "{}";
  if (!doc->result_json && sub_build_json(doc) != 0) return nullptr;
  return doc->result_json;
}

}  // extern "C"
