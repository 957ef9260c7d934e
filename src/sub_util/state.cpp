// The parse-state record g_sub: its cue store, the error text, the warnings
// and the reset that releases everything.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "sub_internal.h"

SubState g_sub;  // static storage: all zero at load

void sub_cues_clear(void) {
  for (int32_t i = 0; i < g_sub.cue_count; ++i) sub_strlist_free(&g_sub.cues[i].lines);
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
  return sub_strlist_push_n(&g_sub.cues[index].lines, p, n);
}

int sub_cue_add_line(int32_t index, const char *line) {
  return sub_cue_add_line_n(index, line, line ? std::strlen(line) : 0);
}

void sub_cue_drop_last(void) {
  if (g_sub.cue_count <= 0) return;
  sub_strlist_free(&g_sub.cues[--g_sub.cue_count].lines);
}
