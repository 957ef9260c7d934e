// The parse pipeline shared by both APIs: bytes, decoding, detection, the
// parser of the format (or the fallback order), the cue store.
#ifndef SUB_ENGINE_H
#define SUB_ENGINE_H

#include <cstddef>
#include <cstdint>

#include "sub_registry.h"

// Resets `doc` and parses `len` bytes at `data` into it with the parsers of
// `formats` (sub_formats, or a stand-in table in tests). `format` is an
// identifier or SUB_FMT_AUTO, `encoding` a name or null. Returns the code of
// sub_parse(); doc->succeeded tells a success, doc->oom whether memory ran
// out anywhere. Renders no JSON.
int32_t sub_engine_parse(SubDoc *doc, const SubFormatDesc *formats, const void *data, size_t len,
                         int32_t format, const char *encoding);

// Runs the parser of `format` from `formats`; SUB_ERR_FORMAT, without an
// error text, when there is none. A parser's SUB_ERR_NOMEM is noted in doc.
int sub_call_parser(const SubFormatDesc *formats, SubDoc *doc, int32_t format, const char *text,
                    size_t len);

// The name of an extension's format, -1 when unknown (null name included).
int32_t sub_ext_hint(const char *name);

// The process-wide document behind the classic exports, and a classic parse
// into it with the parsers of `formats` (for tests that stand in parsers).
SubDoc *sub_classic_doc(void);
int32_t sub_classic_parse(const SubFormatDesc *formats, const void *data, size_t len,
                          int32_t format, const char *encoding);

#endif
