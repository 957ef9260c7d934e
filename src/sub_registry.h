// The formats the library reads: one descriptor per format, in identifier
// order, and the parser contract they share.
#ifndef SUB_REGISTRY_H
#define SUB_REGISTRY_H

#include <cstddef>
#include <cstdint>

#include "sub_util/doc.h"

// A parser reads `len` bytes of UTF-8 text (not NUL-terminated: often the
// host's own buffer, read in place; the markup parsers end the text at its
// first NUL) into `doc` through the cue store. It returns SUB_OK after storing
// its identifier in doc->detected_format, SUB_ERR_NOMEM when memory ran out
// before it could read anything, or another failure code after setting the
// error text.
using SubParserFn = int (*)(SubDoc *doc, const char *text, size_t len);

struct SubFormatDesc {
  const char *name;     // as sub_format_name() gives it
  SubParserFn parse;    // null: the format answers like an unknown identifier
  const char *no_cues;  // the error text when the text yields nothing
};

// Every format, indexed by identifier.
extern const SubFormatDesc sub_formats[SUB_FMT_COUNT];

// The shared ending of a parser that found `found` cues (or comments):
// none sets the format's "no cues" error text and gives SUB_ERR_NOCUES;
// otherwise the format is stored as the document's and SUB_OK returned.
int sub_parser_done(SubDoc *doc, int32_t format, int64_t found);

int sub_parse_srt(SubDoc *doc, const char *text, size_t len);
int sub_parse_vtt(SubDoc *doc, const char *text, size_t len);
int sub_parse_ass(SubDoc *doc, const char *text, size_t len);
int sub_parse_microdvd(SubDoc *doc, const char *text, size_t len);
int sub_parse_subviewer(SubDoc *doc, const char *text, size_t len);
int sub_parse_ttml(SubDoc *doc, const char *text, size_t len);
int sub_parse_ytxml(SubDoc *doc, const char *text, size_t len);
int sub_parse_lrc(SubDoc *doc, const char *text, size_t len);
int sub_parse_sami(SubDoc *doc, const char *text, size_t len);
int sub_parse_bilibili(SubDoc *doc, const char *text, size_t len);
int sub_parse_acfun(SubDoc *doc, const char *text, size_t len);

#endif
