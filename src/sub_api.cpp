// The classic exports: one process-wide document, replaced by every
// sub_parse() and read by the accessors until the next sub_parse() or
// sub_clear(). Its JSON is rendered right after every successful parse.
#include "sub_engine.h"
#include "sub_util/json.h"
#include "subparse.h"

namespace {

// The one piece of mutable global state: all zero at load, so the format
// reads 0 until the first sub_parse() or sub_clear().
SubDoc classic;

}  // namespace

SubDoc *sub_classic_doc(void) { return &classic; }

int32_t sub_classic_parse(const SubFormatDesc *formats, const void *data, size_t len,
                          int32_t format, const char *encoding) {
  const int32_t rc = sub_engine_parse(&classic, formats, data, len, format, encoding);
  // A rendering that runs out of memory leaves "{}"; the parse still succeeded.
  if (rc == SUB_OK) sub_build_json(&classic);
  return rc;
}

extern "C" {

int32_t sub_parse(const void *data, size_t len, int32_t format, const char *encoding) {
  return sub_classic_parse(sub_formats, data, len, format, encoding);
}

void sub_clear(void) { sub_doc_reset(&classic); }

int32_t sub_cue_count(void) { return sub_doc_cue_count(&classic); }

int32_t sub_cue_start_ms(int32_t i) { return sub_doc_cue_start_ms(&classic, i); }

int32_t sub_cue_end_ms(int32_t i) { return sub_doc_cue_end_ms(&classic, i); }

int32_t sub_cue_line_count(int32_t i) { return sub_doc_cue_line_count(&classic, i); }

const char *sub_cue_line(int32_t i, int32_t line) { return sub_doc_cue_line(&classic, i, line); }

int32_t sub_cue_is_danmu(int32_t i) { return sub_doc_cue_is_danmu(&classic, i); }

int32_t sub_cue_danmu_mode(int32_t i) { return sub_doc_cue_danmu_mode(&classic, i); }

uint32_t sub_cue_danmu_color(int32_t i) { return sub_doc_cue_danmu_color(&classic, i); }

float sub_cue_danmu_fontsize(int32_t i) { return sub_doc_cue_danmu_fontsize(&classic, i); }

const char *sub_last_error(void) { return sub_doc_error(&classic); }

int32_t sub_warning_count(void) { return sub_doc_warning_count(&classic); }

const char *sub_warning(int32_t i) { return sub_doc_warning(&classic, i); }

int32_t sub_detected_format(void) { return sub_doc_format(&classic); }

const char *sub_result_json(void) { return classic.result_json ? classic.result_json : "{}"; }

}  // extern "C"
