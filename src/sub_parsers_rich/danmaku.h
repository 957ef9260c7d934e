// What the two danmaku formats (Bilibili XML, AcFun JSON) share: a list of
// comma-separated fields per comment, its defaults, and comments that last
// 3000 ms.
#ifndef SUB_PARSERS_RICH_DANMAKU_H
#define SUB_PARSERS_RICH_DANMAKU_H

#include <cstdint>
#include <string_view>

struct SubDoc;

constexpr int32_t danmaku_ms = 3000;  // how long every comment stays

struct DanmakuFields {
  int32_t start = 0;
  int32_t mode = 1;
  uint32_t color = 0xFFFFFF;
  float fontsize = 25.0f;
};

enum class DanmakuField : uint8_t { start, mode, fontsize, color };

// How a format turns a start in seconds into milliseconds.
using DanmakuStartFn = int32_t (*)(double seconds);

// Reads the first four non-empty fields of `list` (empty ones do not count),
// meaning what `order` says, into *out: the start through `start_ms`, the
// mode as atoi, the font size as strtod, the colour as strtoul keeping its
// low 24 bits. Returns how many fields were read (0 to 4).
int danmaku_read_fields(std::string_view list, const DanmakuField (&order)[4],
                        DanmakuStartFn start_ms, DanmakuFields *out);

// Adds a comment: a cue from its start for 3000 ms with its fields and `text`
// as its one line. Returns the cue's index, or -1 when it could not be added.
int32_t danmaku_add(SubDoc *doc, const DanmakuFields &fields, std::string_view text);

#endif
