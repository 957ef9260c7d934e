// A document: one parse result with its cue store, error text, warnings,
// decoded text and JSON text. Every parse works on the document passed to
// it and on nothing else, so documents on different threads never meet.
//
// Inside the library a document is written only through the operations
// below: the parsers add cues and lines and report through the error text
// and the warnings; the decoder stores the text; the engine resets the
// document and empties the cue store between attempts.
#ifndef SUB_UTIL_DOC_H
#define SUB_UTIL_DOC_H

#include <cstddef>
#include <cstdint>

#include "subparse.h"

// A cue's text lines. The strings and the array are carved out of the
// document's pool: they live exactly as long as the cue store, and the list
// itself never frees anything.
struct SubCueLines {
  const char **items;
  int32_t count;
  int32_t cap;
};

struct SubCue {
  int32_t start_ms;
  int32_t end_ms;
  SubCueLines lines;
  int32_t is_danmu;
  int32_t danmu_mode;
  uint32_t danmu_color;
  float danmu_fontsize;
  const char *id;        // in the pool; null when the reading gives none
  const char *settings;  // likewise
};

constexpr int32_t SUB_MAX_WARNINGS = 64;
constexpr size_t SUB_ERROR_SIZE = 512;
constexpr size_t SUB_WARNING_SIZE = 256;

struct SubPoolChunk;

// All zero is a valid empty document whose format reads 0 (the classic
// result before its first parse); sub_doc_reset() leaves format -1.
struct SubDoc {
  SubCue *cues;
  int32_t cue_count;
  int32_t cue_cap;
  int32_t detected_format;
  char error[SUB_ERROR_SIZE];
  char *warnings[SUB_MAX_WARNINGS];
  int32_t warning_count;
  char *result_json;
  char *text;  // the decoded text, when the input was not read in place
  uint64_t text_len;
  SubPoolChunk *pool;    // holds every cue line and line array
  const char *encoding;  // static name, or `encoding_copy`
  char *encoding_copy;
  int32_t reading;     // SUB_READING_*, set before the parse
  float microdvd_fps;  // frame rate of MicroDVD files that declare none; 0: 25
  bool succeeded;      // the parse returned SUB_OK
  bool oom;            // memory ran out somewhere: the result may be cut short
};

// Releases everything the document owns and leaves the reset state: no cues,
// no texts, format -1. Idempotent.
void sub_doc_reset(SubDoc *doc);
// Releases every cue, their lines and the cue array; nothing else changes.
void sub_cues_clear(SubDoc *doc);
// Formats the error text (at most 511 bytes), replacing the older one.
void sub_set_error(SubDoc *doc, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// Appends a warning of at most 255 bytes; the 65th and later are dropped. A
// warning whose copy fails keeps its slot, which reads as null.
void sub_warn(SubDoc *doc, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// Appends a cue; returns its index, or -1 ("oom" error text) when the array
// cannot grow.
int32_t sub_cue_add(SubDoc *doc, int32_t start_ms, int32_t end_ms);
// Appends a copy of `n` bytes at `p` (need not be NUL-terminated) as a line
// of cue `index`; 0, or -1 for a bad index or when memory runs out (no error
// text).
int sub_cue_add_line(SubDoc *doc, int32_t index, const char *p, size_t n);
// Stores a copy of `n` bytes at `p` as the identifier or the settings of
// cue `index`; 0, or -1 for a bad index or when memory runs out.
int sub_cue_set_id(SubDoc *doc, int32_t index, const char *p, size_t n);
int sub_cue_set_settings(SubDoc *doc, int32_t index, const char *p, size_t n);
// Drops the most recently added cue; its slot is reused by the next cue.
void sub_cue_drop_last(SubDoc *doc);
// Sorts `index[0, n)` by the start of the cues they name, keeping the order
// of equal starts: a bottom-up merge sort, O(n log n), through `scratch` (n
// entries).
void sub_cue_sort_indexes(const SubCue *cues, int32_t *index, int32_t *scratch, size_t n);
// Records that memory ran out in a way the return codes do not show.
inline void sub_doc_note_oom(SubDoc *doc) { doc->oom = true; }

// Whether cue `i` exists.
inline bool sub_doc_has_cue(const SubDoc *doc, int32_t i) {
  return doc && i >= 0 && i < doc->cue_count;
}

#endif
