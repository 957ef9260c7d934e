// WebVTT read as its standard parser reads it: a strict header, strict
// timestamps, cue identifiers and cue settings kept.
#ifndef SUB_PARSERS_TEXT_VTT_STANDARD_H
#define SUB_PARSERS_TEXT_VTT_STANDARD_H

#include <cstddef>

struct SubDoc;

// Fills `doc` from `len` bytes of UTF-8 text (not NUL-terminated). SUB_OK with
// the format stored, also for a file with a header and no cues;
// SUB_ERR_NOCUES ("WebVTT: missing WEBVTT header") when the first line is not
// a WebVTT header; SUB_ERR_NOMEM when the cue array cannot grow.
int vtt_parse_standard(SubDoc *doc, const char *text, size_t len);

#endif
