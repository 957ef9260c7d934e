// A document's cue store, its error text and warnings, and the reset that
// releases everything it owns.
#include "doc.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "alloc.h"
#include "strings.h"

// Cue lines and their pointer arrays are carved out of large chunks instead
// of one allocation each: a danmaku file holds millions of them, and the
// whole store is released at once anyway.
struct SubPoolChunk {
  SubPoolChunk *prev;
  size_t used;
  size_t cap;
};

namespace {

constexpr size_t pool_first_chunk = size_t{64} << 10;
constexpr size_t pool_max_chunk = size_t{16} << 20;

char *pool_data(SubPoolChunk *chunk) { return reinterpret_cast<char *>(chunk + 1); }

// `size` bytes aligned to `align` (a power of two) from the pool, or null.
void *pool_alloc(SubDoc *doc, size_t size, size_t align) {
  SubPoolChunk *chunk = doc->pool;
  if (chunk) {
    const size_t at = (chunk->used + align - 1) & ~(align - 1);
    if (at <= chunk->cap && chunk->cap - at >= size) {
      chunk->used = at + size;
      return pool_data(chunk) + at;
    }
  }
  size_t cap = chunk ? chunk->cap * 4 : pool_first_chunk;
  if (cap > pool_max_chunk) cap = pool_max_chunk;
  if (cap < size) cap = size;
  auto *fresh =
      static_cast<SubPoolChunk *>(sub_malloc(sub_size_mul_add(cap, 1, sizeof(SubPoolChunk))));
  if (!fresh) return nullptr;
  *fresh = SubPoolChunk{chunk, size, cap};
  doc->pool = fresh;
  return pool_data(fresh);
}

void pool_release(SubDoc *doc) {
  while (SubPoolChunk *chunk = doc->pool) {
    doc->pool = chunk->prev;
    sub_free(chunk);
  }
}

}  // namespace

void sub_cues_clear(SubDoc *doc) {
  pool_release(doc);
  sub_free(doc->cues);
  doc->cues = nullptr;
  doc->cue_count = 0;
  doc->cue_cap = 0;
}

void sub_doc_reset(SubDoc *doc) {
  sub_cues_clear(doc);
  for (int32_t i = 0; i < doc->warning_count; ++i) sub_free(doc->warnings[i]);
  sub_free(doc->result_json);
  sub_free(doc->text);
  sub_free(doc->encoding_copy);
  std::memset(static_cast<void *>(doc), 0, sizeof *doc);
  doc->detected_format = SUB_FMT_AUTO;
  doc->encoding = "";
}

void sub_set_error(SubDoc *doc, const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(doc->error, sizeof doc->error, fmt, args);
  va_end(args);
}

void sub_warn(SubDoc *doc, const char *fmt, ...) {
  if (doc->warning_count >= SUB_MAX_WARNINGS) return;
  char scratch[SUB_WARNING_SIZE];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(scratch, sizeof scratch, fmt, args);
  va_end(args);
  // The slot counts even when its copy fails; the accessor then answers null.
  char *copy = sub_strdup(scratch);
  if (!copy) sub_doc_note_oom(doc);
  doc->warnings[doc->warning_count++] = copy;
}

int32_t sub_cue_add(SubDoc *doc, int32_t start_ms, int32_t end_ms) {
  if (doc->cue_count >= doc->cue_cap && !sub_grow(&doc->cues, &doc->cue_cap, 16)) {
    sub_set_error(doc, "oom");
    sub_doc_note_oom(doc);
    return -1;
  }
  SubCue &cue = doc->cues[doc->cue_count];
  cue = SubCue{};
  cue.start_ms = start_ms;
  cue.end_ms = end_ms;
  cue.danmu_fontsize = 25.0f;
  return doc->cue_count++;
}

namespace {

// A copy of `n` bytes at `p` in the pool, NUL-terminated; null when memory
// runs out (noted).
const char *doc_pool_copy(SubDoc *doc, const char *p, size_t n) {
  char *copy = static_cast<char *>(pool_alloc(doc, sub_size_mul_add(n, 1, 1), 1));
  if (!copy) {
    sub_doc_note_oom(doc);
    return nullptr;
  }
  if (n) std::memcpy(copy, p, n);
  copy[n] = '\0';
  return copy;
}

// Stores a copy as the string `field` of cue `index`; 0 or -1.
int doc_set_string(SubDoc *doc, int32_t index, const char *SubCue::*field, const char *p,
                   size_t n) {
  if (index < 0 || index >= doc->cue_count) return -1;
  const char *copy = doc_pool_copy(doc, p, n);
  if (!copy) return -1;
  doc->cues[index].*field = copy;
  return 0;
}

}  // namespace

int sub_cue_add_line(SubDoc *doc, int32_t index, const char *p, size_t n) {
  if (index < 0 || index >= doc->cue_count) return -1;
  SubCueLines &lines = doc->cues[index].lines;
  if (lines.count >= lines.cap) {
    if (lines.cap > INT32_MAX / 2) return -1;
    // Most cues hold one or two lines; danmaku always one.
    const int32_t cap = lines.cap ? lines.cap * 2 : 1;
    void *grown = pool_alloc(doc, sub_size_mul_add(static_cast<size_t>(cap), sizeof(char *), 0),
                             alignof(char *));
    if (!grown) {
      sub_doc_note_oom(doc);
      return -1;
    }
    if (lines.count)
      std::memcpy(grown, lines.items, static_cast<size_t>(lines.count) * sizeof(char *));
    lines.items = static_cast<const char **>(grown);
    lines.cap = cap;
  }
  const char *copy = doc_pool_copy(doc, p, n);
  if (!copy) return -1;
  lines.items[lines.count++] = copy;
  return 0;
}

int sub_cue_set_id(SubDoc *doc, int32_t index, const char *p, size_t n) {
  return doc_set_string(doc, index, &SubCue::id, p, n);
}

int sub_cue_set_settings(SubDoc *doc, int32_t index, const char *p, size_t n) {
  return doc_set_string(doc, index, &SubCue::settings, p, n);
}

void sub_cue_drop_last(SubDoc *doc) {
  if (doc->cue_count > 0) --doc->cue_count;  // its lines stay in the pool until it is cleared
}

// Sorts `index[0, n)` by the start of the cues they name, keeping the order
// of equal starts: a bottom-up merge sort through `scratch` (n entries).
void sub_cue_sort_indexes(const SubCue *cues, int32_t *index, int32_t *scratch, size_t n) {
  // Files are mostly in order already: one look spares the passes.
  size_t ordered = 1;
  while (ordered < n && cues[index[ordered - 1]].start_ms <= cues[index[ordered]].start_ms)
    ++ordered;
  if (ordered >= n) return;
  int32_t *from = index;
  int32_t *to = scratch;
  // The width doubles until it covers n, without overflowing.
  for (size_t width = 1; width < n; width = (width > n / 2) ? n : 2 * width) {
    for (size_t lo = 0; lo < n; lo += 2 * width) {
      const size_t mid = lo + width < n ? lo + width : n;
      const size_t hi = mid + width < n ? mid + width : n;
      size_t a = lo;
      size_t b = mid;
      size_t k = lo;
      // Taking from the left run on equal starts keeps the sort stable.
      while (a < mid && b < hi)
        to[k++] = cues[from[b]].start_ms < cues[from[a]].start_ms ? from[b++] : from[a++];
      while (a < mid) to[k++] = from[a++];
      while (b < hi) to[k++] = from[b++];
    }
    int32_t *swap = from;
    from = to;
    to = swap;
  }
  if (from != index) std::memcpy(index, from, n * sizeof(int32_t));
}
