// What the writers share: the growing output text and the pieces every
// format writes (clock times, digits, the display lines of a cue).
#ifndef SUB_WRITERS_OUT_H
#define SUB_WRITERS_OUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "sub_util/alloc.h"
#include "sub_util/doc.h"
#include "sub_util/scan_sse2.h"
#include "sub_util/strings.h"

// An output text in a block of the allocation layer. Appending never fails
// loudly: when memory runs out `failed` is set and every later append does
// nothing, so a writer checks once at its end.
struct SubOut {
  char *data = nullptr;
  size_t len = 0;
  size_t cap = 0;
  bool failed = false;
  // The document a writer reports to, through its warnings, what it had to
  // leave out; null: nobody is told.
  SubDoc *report_to = nullptr;

  SubOut() = default;
  SubOut(const SubOut &) = delete;
  SubOut &operator=(const SubOut &) = delete;
  ~SubOut() { sub_free(data); }

  // Room for `extra` more bytes and the final NUL; false once failed.
  bool reserve(size_t extra) {
    if (failed) return false;
    if (extra < cap - len) return true;
    return grow(extra);
  }
  void put(const char *p, size_t n) {
    if (!reserve(n)) return;
    std::memcpy(data + len, p, n);
    len += n;
  }
  void put(std::string_view s) { put(s.data(), s.size()); }
  void put(char c) {
    if (!reserve(1)) return;
    data[len++] = c;
  }
  // The text, NUL-terminated, now owned by the caller (sub_free); null when
  // memory ran out.
  char *release();

 private:
  bool grow(size_t extra);
};

// Appends `s` with each ill-formed UTF-8 sequence (each maximal ill-formed
// subpart) written as U+FFFD: every writer gives UTF-8, and a reader that
// met one bad byte could take the whole file for a legacy encoding.
void sub_out_utf8(SubOut *out, std::string_view s);

// Appends `value` in decimal with at least `min_digits` digits.
void sub_out_uint(SubOut *out, uint64_t value, int min_digits);

// How a format writes a clock time: hours (at least `hour_digits` digits, or
// none when 0: the minutes then run past 59), minutes and seconds of two
// digits, then `separator` and `fraction_digits` digits (3: milliseconds,
// 2: centiseconds, floored). Negative times are written as 0.
struct SubClockStyle {
  int hour_digits;
  char separator;
  int fraction_digits;
};
void sub_out_clock(SubOut *out, int32_t ms, SubClockStyle style);

// Where a writer may break a cue line into display lines: at LF, CR and
// CR LF, and, for formats read with the library's line reader, at U+2028
// as well.
enum class SubBreaks { lf_cr, lf_cr_u2028 };

// Calls `fn(std::string_view piece)` for each display line of cue `cue`:
// each of its lines cut at the breaks. Pieces may be empty.
template <typename Fn>
void sub_each_piece(const SubCue &cue, SubBreaks breaks, Fn &&fn) {
  for (int32_t l = 0; l < cue.lines.count; ++l) {
    const char *p = cue.lines.items[l];
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    const size_t n = std::strlen(p);
    size_t from = 0;
    for (size_t i = sub_find_line_special(u, n); i < n;
         i = i + 1 + sub_find_line_special(u + i + 1, n - i - 1)) {
      size_t skip = 1;
      if (u[i] == '\r' && i + 1 < n && u[i + 1] == '\n') {
        skip = 2;
      } else if (u[i] == 0xE2) {
        // U+2028 breaks only where asked; any other sequence is text.
        if (breaks != SubBreaks::lf_cr_u2028 || i + 2 >= n || u[i + 1] != 0x80 || u[i + 2] != 0xA8)
          continue;
        skip = 3;
      }
      fn(std::string_view(p + from, i - from));
      i += skip - 1;
      from = i + 1;
    }
    fn(std::string_view(p + from, n - from));
  }
}

// Calls `fn(std::string_view line)` for each text line of cue `cue` as the
// formats read with the library's line reader keep it: its display lines
// (cut at LF, CR and U+2028) trimmed, the empty ones left out.
template <typename Fn>
void sub_each_text_line(const SubCue &cue, Fn &&fn) {
  sub_each_piece(cue, SubBreaks::lf_cr_u2028, [&](std::string_view piece) {
    piece = sub_sv_trim(piece);
    if (!piece.empty()) fn(piece);
  });
}

// Whether cue `cue` has a text line in that sense.
bool sub_has_text_line(const SubCue &cue);

// Writes the text lines of cue `cue` (as sub_each_text_line gives them),
// each through `put_line(std::string_view line)`, with `head()` before the
// first and `separator` between two; a cue without one writes nothing.
// Returns whether it had one.
template <typename Head, typename PutLine>
bool sub_out_text_lines(SubOut *out, const SubCue &cue, std::string_view separator, Head &&head,
                        PutLine &&put_line) {
  bool any = false;
  sub_each_text_line(cue, [&](std::string_view line) {
    if (any)
      out->put(separator);
    else
      head();
    any = true;
    put_line(line);
  });
  return any;
}

// `ms` (0 for a negative time) floored to centiseconds, the finest time the
// formats written with two fraction digits keep.
inline int32_t sub_floor_cs(int32_t ms) { return ms < 0 ? 0 : ms - ms % 10; }

#endif
