// The parse-state record g_sub: its cue store, the error text, the warnings
// and the reset that releases everything.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "sub_internal.h"

SubState g_sub;  // static storage: all zero at load

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
void *pool_alloc(size_t size, size_t align) {
  SubPoolChunk *chunk = g_sub.pool;
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
  g_sub.pool = fresh;
  return pool_data(fresh);
}

void pool_release() {
  while (SubPoolChunk *chunk = g_sub.pool) {
    g_sub.pool = chunk->prev;
    sub_free(chunk);
  }
}

}  // namespace

void sub_cues_clear(void) {
  pool_release();
  sub_free(g_sub.cues);
  g_sub.cues = nullptr;
  g_sub.cue_count = 0;
  g_sub.cue_cap = 0;
}

void sub_state_reset(void) {
  sub_cues_clear();
  for (int32_t i = 0; i < g_sub.warning_count; ++i) sub_free(g_sub.warnings[i]);
  sub_free(g_sub.result_json);
  sub_free(g_sub.text);
  std::memset(&g_sub, 0, sizeof g_sub);
  g_sub.detected_format = SUB_FMT_AUTO;
}

void sub_set_error(const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(g_sub.error, sizeof g_sub.error, fmt, args);
  va_end(args);
}

void sub_warn(const char *fmt, ...) {
  if (g_sub.warning_count >= SUB_MAX_WARNINGS) return;
  char scratch[SUB_WARNING_SIZE];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(scratch, sizeof scratch, fmt, args);
  va_end(args);
  // The slot counts even when its copy fails; sub_warning() then answers null.
  g_sub.warnings[g_sub.warning_count++] = sub_strdup(scratch);
}

int32_t sub_cue_add(int32_t start_ms, int32_t end_ms) {
  if (g_sub.cue_count >= g_sub.cue_cap &&
      sub_grow_array(reinterpret_cast<void **>(&g_sub.cues), &g_sub.cue_cap, 16, sizeof(SubCue))) {
    sub_set_error("oom");
    return -1;
  }
  SubCue &cue = g_sub.cues[g_sub.cue_count];
  cue = SubCue{};
  cue.start_ms = start_ms;
  cue.end_ms = end_ms;
  cue.danmu_fontsize = 25.0f;
  return g_sub.cue_count++;
}

int sub_cue_add_line_n(int32_t index, const char *p, size_t n) {
  if (index < 0 || index >= g_sub.cue_count) return -1;
  SubStrList &lines = g_sub.cues[index].lines;
  if (lines.count >= lines.cap) {
    if (lines.cap > INT32_MAX / 2) return -1;
    // Most cues hold one or two lines; danmaku always one.
    const int32_t cap = lines.cap ? lines.cap * 2 : 1;
    void *grown = pool_alloc(static_cast<size_t>(cap) * sizeof(char *), alignof(char *));
    if (!grown) return -1;
    if (lines.count)
      std::memcpy(grown, lines.items, static_cast<size_t>(lines.count) * sizeof(char *));
    lines.items = static_cast<char **>(grown);
    lines.cap = cap;
  }
  char *copy = static_cast<char *>(pool_alloc(sub_size_mul_add(n, 1, 1), 1));
  if (!copy) return -1;
  if (n) std::memcpy(copy, p, n);
  copy[n] = '\0';
  lines.items[lines.count++] = copy;
  return 0;
}

int sub_cue_add_line(int32_t index, const char *line) {
  return sub_cue_add_line_n(index, line, line ? std::strlen(line) : 0);
}

void sub_cue_drop_last(void) {
  if (g_sub.cue_count > 0) --g_sub.cue_count;  // its lines stay in the pool until it is cleared
}
