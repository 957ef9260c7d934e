// The block walk shared by SRT and WebVTT: blocks separated by blank lines,
// a timing line, then the cue's text lines.
#ifndef SUB_PARSERS_TEXT_BLOCK_WALK_H
#define SUB_PARSERS_TEXT_BLOCK_WALK_H

#include <cstddef>
#include <cstdint>
#include <string_view>

struct SubDoc;

// A timing line "START --> END": true with both times in milliseconds when
// the first arrow form present splits the line into two readable times.
bool srt_try_tc(std::string_view line, int32_t *start, int32_t *end);

// Adds a cue for every block with a readable timing line and text; a line
// (trimmed) for which `is_header` answers true is never a timing line. Null
// `is_header` skips nothing. Returns the document's cue count.
int32_t srt_read_blocks(SubDoc *doc, const char *text, size_t len,
                        bool (*is_header)(std::string_view line));

#endif
