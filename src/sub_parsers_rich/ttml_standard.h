// TTML read as a timed-text document: a namespace-aware XML reading, the
// full timing model (par and seq containers, begin/end/dur on body, div, p
// and span, every time expression form) and one cue per stretch of time in
// which a paragraph's visible text stays the same.
#ifndef SUB_PARSERS_RICH_TTML_STANDARD_H
#define SUB_PARSERS_RICH_TTML_STANDARD_H

#include <cstddef>

struct SubDoc;

// Fills `doc` from `len` bytes of UTF-8 text (not NUL-terminated). SUB_OK with
// the format stored, also for a document with no visible text; SUB_ERR_NOCUES
// ("TTML: no tt root element") when the root is not a tt element of the TTML
// namespace; SUB_ERR_NOMEM when memory runs out before anything is read.
int ttml_parse_standard(SubDoc *doc, const char *text, size_t len);

#endif
