// SubRip (SRT) output:
//
//   1
//   00:00:01,000 --> 00:00:02,500
//   first line
//   second line
//   (blank line)
//
// A blank line ends a cue, so the text is written without one: each line is
// trimmed (as readers trim it) and empty lines are left out; a cue with no
// text left is left out whole, since readers drop it. A text line that reads
// like a timing line is safe: a cue's text runs to the blank line. Hours take
// as many digits as they need; negative times are written as 0.
#include "sub_parser.h"
#include "writer.h"

void sub_write_srt(const SubDoc *doc, const SubWriteOptions &, SubOut *out) {
  constexpr SubClockStyle clock{2, ',', 3};
  uint64_t index = 0;
  for (int32_t i = 0; i < doc->cue_count; ++i) {
    const SubCue &cue = doc->cues[i];
    const auto head = [&] {
      sub_out_uint(out, ++index, 1);
      out->put('\n');
      sub_out_clock(out, cue.start_ms, clock);
      out->put(" --> ");
      sub_out_clock(out, cue.end_ms, clock);
      out->put('\n');
    };
    const auto put_line = [&](std::string_view line) { sub_out_utf8(out, line); };
    if (sub_out_text_lines(out, cue, "\n", head, put_line)) out->put("\n\n");
  }
}
