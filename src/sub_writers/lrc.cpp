// LRC lyrics output:
//
//   [00:01.00]first line / second line
//   [00:04.50]next lyric
//   [00:07.25]
//   [125:03.10] [bracketed text]
//
// One entry per line, in start order (a stable sort of the cues' indexes
// here; the document itself is not reordered). Times are floored to
// centiseconds; minutes take as many digits as they need. The text is the
// cue's display lines, each trimmed, empty ones left out, joined with " / ";
// a cue with no text left is left out. A text starting with '[' gets a space
// before it, or readers would take it for a tag (they trim the space).
//
// An entry lasts until the next one, so cues with the same floored start are
// one entry (their texts joined with " / ", the latest end kept), and a cue's
// own end is written as an entry with no text, which readers take as the
// lyric being cleared: after an entry whose floored end lies after its start
// and before the next entry (or after the last entry). A cue that overlaps
// the next one ends where that one starts; one whose end is not after its
// start lasts until the next entry. No metadata lines are written.
//
// Readers that sum minutes and seconds in binary floating point and truncate
// (ours does) read about one written time in a hundred 1 ms early, e.g.
// [00:02.01] as 2009 ms; no centisecond tag avoids that.
#include <cstring>

#include "sub_parser.h"
#include "writer.h"

namespace {

constexpr SubClockStyle lrc_clock{0, '.', 2};

// Appends the text of one cue: its non-empty trimmed display lines joined
// with " / ". `first` says whether nothing of the entry is written yet.
void lrc_put_cue_text(SubOut *out, const SubCue &cue, bool *first) {
  sub_each_text_line(cue, [&](std::string_view piece) {
    if (!*first)
      out->put(" / ");
    else if (piece[0] == '[')
      out->put(' ');
    *first = false;
    sub_out_utf8(out, piece);
  });
}

}  // namespace

void sub_write_lrc(const SubDoc *doc, const SubWriteOptions &, SubOut *out) {
  if (doc->cue_count <= 0) return;
  const auto total = static_cast<size_t>(doc->cue_count);
  SubScratch block(sub_size_mul_add(total, 2 * sizeof(int32_t), 0));
  if (!block.data) {
    out->failed = true;
    return;
  }
  auto *index = reinterpret_cast<int32_t *>(block.data);
  int32_t *scratch = index + total;
  size_t n = 0;
  for (int32_t i = 0; i < doc->cue_count; ++i)
    if (sub_has_text_line(doc->cues[i])) index[n++] = i;
  sub_cue_sort_indexes(doc->cues, index, scratch, n);

  for (size_t g = 0; g < n;) {
    const int32_t start = sub_floor_cs(doc->cues[index[g]].start_ms);
    int32_t end = doc->cues[index[g]].end_ms;
    out->put('[');
    sub_out_clock(out, start, lrc_clock);
    out->put(']');
    bool first = true;
    size_t k = g;
    for (; k < n && sub_floor_cs(doc->cues[index[k]].start_ms) == start; ++k) {
      const SubCue &cue = doc->cues[index[k]];
      if (cue.end_ms > end) end = cue.end_ms;
      lrc_put_cue_text(out, cue, &first);
    }
    out->put('\n');
    g = k;
    const int32_t floored_end = sub_floor_cs(end);
    if (floored_end > start &&
        (g == n || floored_end < sub_floor_cs(doc->cues[index[g]].start_ms))) {
      out->put('[');
      sub_out_clock(out, floored_end, lrc_clock);
      out->put("]\n");
    }
  }
}
