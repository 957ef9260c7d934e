// The danmaku layout: where and when each comment of a danmaku document
// shows on a screen of the play resolution, as the site's player shows it,
// with no two comments on top of each other. The ASS writer turns the result
// into events.
#ifndef SUB_WRITERS_DANMAKU_LAYOUT_H
#define SUB_WRITERS_DANMAKU_LAYOUT_H

#include <cstddef>
#include <cstdint>

#include "out.h"
#include "subparse.h"

enum class SubDanmakuKind : uint8_t { scroll_left, scroll_right, top, bottom, positioned };

// One placed comment. Scrolling comments move from (x1, y1) to (x2, y2), the
// top-left corner of their text; top and bottom comments stand at (x1, y1),
// the middle of their text's top or bottom edge; positioned comments stand
// at (x1, y1), their top-left corner, or move to (x2, y2) when `moves`.
struct SubDanmakuEvent {
  int32_t cue;  // index in the document
  int32_t start_ms;
  int32_t end_ms;
  SubDanmakuKind kind;
  bool moves;
  bool dark;           // a dark colour: drawn with a light outline
  uint8_t alpha_from;  // ASS alpha (0 opaque .. 255 clear) at the start
  uint8_t alpha_to;    // and at the end (positioned comments fade)
  uint32_t color;      // 0xRRGGBB
  double font_px;
  double x1, y1, x2, y2;
  int32_t move_from_ms, move_to_ms;  // positioned moves, relative to the start
  size_t text_at, text_len;          // positioned: the text, in SubDanmakuLayout::texts
};

struct SubDanmakuLayout {
  SubDanmakuEvent *events = nullptr;
  int32_t count = 0;
  int32_t cap = 0;
  SubOut texts;                    // the texts of positioned comments, read from their JSON
  int64_t dropped_no_row = 0;      // no free row (SUB_DANMAKU_DROP)
  int64_t dropped_filtered = 0;    // a dropped mode or a blocked word
  int64_t dropped_unreadable = 0;  // a positioned comment whose array does not read, or
                                   // a mode the layout does not show
  double row_height = 0;

  SubDanmakuLayout() = default;
  SubDanmakuLayout(const SubDanmakuLayout &) = delete;
  SubDanmakuLayout &operator=(const SubDanmakuLayout &) = delete;
  ~SubDanmakuLayout() { sub_free(events); }
};

// Lays out every danmaku cue of `doc` with the options' play resolution and
// danmaku members, in time order (stable), into *layout. False when memory
// ran out (the layout is then incomplete). O(n log n + n x rows).
bool sub_danmaku_layout(const SubDoc *doc, const SubWriteOptions &options,
                        SubDanmakuLayout *layout);

// The text of positioned event `e` as a cue of one line (its JSON text may
// hold line breaks), pointing at `*line`, which must outlive the cue.
SubCue sub_danmaku_positioned_text(const SubDanmakuLayout &layout, const SubDanmakuEvent &e,
                                   const char **line);

// Fetches ahead what a pass over the cues of `doc` out of their order reads
// next: at visit `n` of `count`, the record of the cue visited 16 later, the
// line array of the one 8 later and the first line of the one 4 later.
// `cue_at(k)` is the index of the cue of visit k. Danmaku files are seldom
// in time order, and both the layout and the writing visit them in it.
template <typename CueAt>
[[gnu::always_inline]] inline void sub_danmaku_prefetch(const SubDoc *doc, int32_t n, int32_t count,
                                                        CueAt &&cue_at) {
  if (count - n > 16) __builtin_prefetch(&doc->cues[cue_at(n + 16)]);
  if (count - n > 8) {
    const SubCue &ahead = doc->cues[cue_at(n + 8)];
    if (ahead.lines.count > 0) __builtin_prefetch(ahead.lines.items);
  }
  if (count - n > 4) {
    const SubCue &ahead = doc->cues[cue_at(n + 4)];
    if (ahead.lines.count > 0) __builtin_prefetch(ahead.lines.items[0]);
  }
}

// The estimated width in pixels of `n` bytes of UTF-8 text at `font_px`,
// with the outline: an upper bound of what common fonts draw, from 0.4 em
// for narrow ASCII to one em for CJK and symbols (layout_char_ems).
double sub_danmaku_text_width(const char *text, size_t n, double font_px);

#endif
