// Deterministic generators of realistic subtitle files of a given size, for
// the benchmarks. The same seed and size always give the same bytes.
#ifndef SUBPARSE_BENCH_CORPUS_H
#define SUBPARSE_BENCH_CORPUS_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace bench {

// A small xorshift generator: fast and the same on every platform.
struct Rng {
  uint64_t state = 0x9E3779B97F4A7C15ULL;
  uint32_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<uint32_t>(state >> 32);
  }
  uint32_t below(uint32_t n) { return next() % n; }
};

// A line of dialogue: words, some markup, some non-ASCII text.
inline std::string dialogue(Rng &rng) {
  static const char *const words[] = {"the", "night", "is", "young", "and", "we", "have", "time",
                                      "Bonjour", "café", "日本語", "слово", "really?", "okay,",
                                      "listen", "to", "me", "now"};
  std::string line;
  const uint32_t n = 3 + rng.below(8);
  for (uint32_t i = 0; i < n; ++i) {
    if (i) line += ' ';
    line += words[rng.below(sizeof words / sizeof *words)];
  }
  if (rng.below(8) == 0) line = "<i>" + line + "</i>";
  return line;
}

inline std::string clock(uint32_t ms, char frac_sep, bool hours = true, int frac_digits = 3) {
  char buf[48];
  const unsigned h = ms / 3600000, m = ms / 60000 % 60, s = ms / 1000 % 60;
  const unsigned frac = frac_digits == 3 ? ms % 1000 : ms % 1000 / 10;
  if (hours)
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u%c%0*u", h, m, s, frac_sep, frac_digits, frac);
  else
    std::snprintf(buf, sizeof buf, "%02u:%02u%c%0*u", h * 60 + m, s, frac_sep, frac_digits, frac);
  return buf;
}

inline std::string srt(size_t size) {
  Rng rng;
  std::string out;
  out.reserve(size + 256);
  uint32_t t = 1000;
  for (uint32_t i = 1; out.size() < size; ++i) {
    const uint32_t dur = 800 + rng.below(4000);
    out += std::to_string(i) + "\r\n" + clock(t, ',') + " --> " + clock(t + dur, ',') + "\r\n";
    out += dialogue(rng) + "\r\n";
    if (rng.below(2)) out += dialogue(rng) + "\r\n";
    out += "\r\n";
    t += dur + rng.below(1500);
  }
  return out;
}

inline std::string vtt(size_t size) {
  Rng rng;
  std::string out = "WEBVTT - generated\nKind: captions\n\nSTYLE\n::cue { color: yellow }\n\n";
  out.reserve(size + 256);
  uint32_t t = 1000;
  for (uint32_t i = 1; out.size() < size; ++i) {
    const uint32_t dur = 800 + rng.below(4000);
    if (i % 50 == 0) out += "NOTE a comment block\nspanning two lines\n\n";
    out += "cue-" + std::to_string(i) + "\n" + clock(t, '.', i % 2) + " --> " +
           clock(t + dur, '.', i % 2) + (i % 3 ? " align:start position:10%" : "") + "\n";
    out += "<v Speaker>" + dialogue(rng) + "\n";
    if (rng.below(2)) out += dialogue(rng) + "\n";
    out += "\n";
    t += dur + rng.below(1500);
  }
  return out;
}

inline std::string ass(size_t size) {
  Rng rng;
  std::string out =
      "[Script Info]\nTitle: generated\nScriptType: v4.00+\nPlayResX: 1920\nPlayResY: 1080\n\n"
      "[V4+ Styles]\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
      "OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, "
      "Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
      "Style: Default,Arial,48,&H00FFFFFF,&H000000FF,&H00000000,&H64000000,0,0,0,0,100,100,0,0,"
      "1,2,1,2,20,20,30,1\n\n"
      "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
  out.reserve(size + 256);
  uint32_t t = 1000;
  while (out.size() < size) {
    const uint32_t dur = 800 + rng.below(4000);
    out += "Dialogue: 0," + clock(t, '.', true, 2).substr(1) + "," +
           clock(t + dur, '.', true, 2).substr(1) + ",Default,,0,0,0,,";
    if (rng.below(4) == 0) out += "{\\i1}";
    out += dialogue(rng);
    if (rng.below(2)) out += "\\N" + dialogue(rng);
    out += "\n";
    if (rng.below(20) == 0) out += "Comment: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,note\n";
    t += dur + rng.below(1500);
  }
  return out;
}

inline std::string microdvd(size_t size) {
  Rng rng;
  std::string out = "{1}{1}23.976\n";
  out.reserve(size + 256);
  uint32_t frame = 25;
  while (out.size() < size) {
    const uint32_t dur = 20 + rng.below(100);
    out += "{" + std::to_string(frame) + "}{" + std::to_string(frame + dur) + "}";
    if (rng.below(4) == 0) out += "{y:i}";
    out += dialogue(rng);
    if (rng.below(2)) out += "|" + dialogue(rng);
    out += "\n";
    frame += dur + rng.below(40);
  }
  return out;
}

inline std::string subviewer(size_t size) {
  Rng rng;
  std::string out = "[INFORMATION]\n[TITLE]generated\n[AUTHOR]bench\n[END INFORMATION]\n[SUBTITLE]\n";
  out.reserve(size + 256);
  uint32_t t = 1000;
  while (out.size() < size) {
    const uint32_t dur = 800 + rng.below(4000);
    out += clock(t, '.', true, 2) + "," + clock(t + dur, '.', true, 2) + "\n" + dialogue(rng);
    if (rng.below(2)) out += "[br]" + dialogue(rng);
    out += "\n\n";
    t += dur + rng.below(1500);
  }
  return out;
}

// Adversarial: one MicroDVD cue whose text is a single line of '{' bytes.
inline std::string microdvd_braces(size_t size) {
  std::string out = "{0}{25}";
  out.append(size > out.size() ? size - out.size() : 0, '{');
  out += "\n";
  return out;
}

}  // namespace bench

#endif
