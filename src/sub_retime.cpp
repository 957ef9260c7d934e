// Retiming a document in place: shifting, frame-rate scaling and sorting.
#include <cmath>
#include <cstring>

#include "sub_util/alloc.h"
#include "sub_util/doc.h"
#include "sub_util/values.h"
#include "subparse.h"

namespace {

// `ms` rounded to the nearest millisecond (halves away from zero),
// saturated.
int32_t retime_round(double ms) { return sub_double_sat_i32(std::round(ms)); }

// Times changed: the JSON rendered before no longer holds.
void retime_done(SubDoc *doc) {
  sub_free(doc->result_json);
  doc->result_json = nullptr;
}

inline bool retime_rate_ok(double fps) { return std::isfinite(fps) && fps > 0; }

}  // namespace

extern "C" {

int32_t sub_doc_shift(SubDoc *doc, int64_t offset_ms) {
  if (!doc) return SUB_ERR_ARGUMENT;
  for (int32_t i = 0; i < doc->cue_count; ++i) {
    doc->cues[i].start_ms = sub_add_sat(doc->cues[i].start_ms, offset_ms);
    doc->cues[i].end_ms = sub_add_sat(doc->cues[i].end_ms, offset_ms);
  }
  retime_done(doc);
  return SUB_OK;
}

int32_t sub_doc_scale(SubDoc *doc, double from_fps, double to_fps) {
  if (!doc || !retime_rate_ok(from_fps) || !retime_rate_ok(to_fps)) return SUB_ERR_ARGUMENT;
  const double ratio = from_fps / to_fps;
  if (!std::isfinite(ratio)) return SUB_ERR_ARGUMENT;
  for (int32_t i = 0; i < doc->cue_count; ++i) {
    doc->cues[i].start_ms = retime_round(doc->cues[i].start_ms * ratio);
    doc->cues[i].end_ms = retime_round(doc->cues[i].end_ms * ratio);
  }
  retime_done(doc);
  return SUB_OK;
}

// A stable merge sort of the cue indexes, then one pass that moves the
// cues: O(n log n) whatever the order, and nothing changes when the scratch
// cannot be had.
int32_t sub_doc_sort(SubDoc *doc) {
  if (!doc) return SUB_ERR_ARGUMENT;
  const auto n = static_cast<size_t>(doc->cue_count);
  bool sorted = true;
  for (size_t i = 1; i < n && sorted; ++i)
    sorted = doc->cues[i - 1].start_ms <= doc->cues[i].start_ms;
  if (sorted) return SUB_OK;
  SubScratch block(sub_size_mul_add(n, sizeof(SubCue) + 2 * sizeof(int32_t), 0));
  if (!block.data) return SUB_ERR_NOMEM;
  auto *moved = reinterpret_cast<SubCue *>(block.data);
  auto *order = reinterpret_cast<int32_t *>(block.data + n * sizeof(SubCue));
  for (size_t i = 0; i < n; ++i) order[i] = static_cast<int32_t>(i);
  sub_cue_sort_indexes(doc->cues, order, order + n, n);
  for (size_t i = 0; i < n; ++i) moved[i] = doc->cues[order[i]];
  std::memcpy(static_cast<void *>(doc->cues), moved, n * sizeof(SubCue));
  retime_done(doc);
  return SUB_OK;
}

}  // extern "C"
