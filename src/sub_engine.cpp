// The parse pipeline: reset, decoding (or reading UTF-8 in place), detection,
// then the parser of the format with its second chance, or every parser in
// the fallback order. The fallback order and the second chances are
// cross-format knowledge and live here, not in the parsers.
#include "sub_engine.h"

#include "sub_util/alloc.h"
#include "sub_util/decode.h"
#include "subparse.h"

namespace {

// Tried in this order when detection names nothing; SRT's loose timing lines
// would accept too much, so it comes last.
constexpr int32_t order[] = {
    SUB_FMT_VTT,   SUB_FMT_ASS, SUB_FMT_SAMI,     SUB_FMT_SUBVIEWER, SUB_FMT_BILIBILI, SUB_FMT_TTML,
    SUB_FMT_YTXML, SUB_FMT_LRC, SUB_FMT_MICRODVD, SUB_FMT_ACFUN,     SUB_FMT_SRT,
};

// A format easily confused with another gets that one as a second chance.
int32_t second_chance(int32_t format) {
  switch (format) {
    case SUB_FMT_MICRODVD: return SUB_FMT_SUBVIEWER;
    case SUB_FMT_YTXML: return SUB_FMT_BILIBILI;
    default: return SUB_FMT_AUTO;
  }
}

int32_t engine_run(SubDoc *doc, const SubFormatDesc *formats, const void *data, size_t len,
                   int32_t format, const char *encoding) {
  if (!data || len == 0) {
    sub_set_error(doc, "empty buffer");
    return SUB_ERR_EMPTY;
  }
  // UTF-8 input (the usual case) is read where the host holds it; anything
  // else is decoded into doc->text first.
  const char *text = nullptr;
  if (const int rc = sub_decode(doc, data, len, encoding, &text)) return rc;
  const size_t text_len = doc->text_len;

  if (format == SUB_FMT_AUTO) format = sub_detect_format(data, len, nullptr);
  if (format == SUB_FMT_AUTO) {
    for (const int32_t candidate : order) {
      sub_cues_clear(doc);
      doc->error[0] = '\0';
      if (sub_call_parser(formats, doc, candidate, text, text_len) == SUB_OK && doc->cue_count > 0)
        return SUB_OK;
    }
    sub_set_error(doc, "all parsers failed");
    return SUB_ERR_NOCUES;
  }

  const int rc = sub_call_parser(formats, doc, format, text, text_len);
  if (rc == SUB_OK) return SUB_OK;
  const int32_t fallback = second_chance(format);
  if (fallback == SUB_FMT_AUTO) return rc;
  sub_cues_clear(doc);  // the first parser's error text stays
  return sub_call_parser(formats, doc, fallback, text, text_len);
}

}  // namespace

int sub_call_parser(const SubFormatDesc *formats, SubDoc *doc, int32_t format, const char *text,
                    size_t len) {
  if (format < 0 || format >= SUB_FMT_COUNT || !formats[format].parse) return SUB_ERR_FORMAT;
  const int rc = formats[format].parse(doc, text, len);
  if (rc == SUB_ERR_NOMEM) sub_doc_note_oom(doc);
  return rc;
}

int32_t sub_engine_parse(SubDoc *doc, const SubFormatDesc *formats, const void *data, size_t len,
                         int32_t format, const char *encoding) {
  const int32_t reading = doc->reading;  // chosen by the caller, kept by the reset
  const float microdvd_fps = doc->microdvd_fps;
  sub_doc_reset(doc);
  doc->reading = reading;
  doc->microdvd_fps = microdvd_fps;
  const int32_t rc = engine_run(doc, formats, data, len, format, encoding);
  if (rc == SUB_ERR_NOMEM) sub_doc_note_oom(doc);
  // The cues hold their own copies: the decoded text has served its purpose,
  // and goes before any JSON is rendered so that the two never take memory
  // at once.
  sub_free(doc->text);
  doc->text = nullptr;
  doc->succeeded = rc == SUB_OK;
  return rc;
}
