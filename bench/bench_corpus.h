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
  static const char *const words[] = {"the",     "night", "is",      "young", "and",    "we",
                                      "have",    "time",  "Bonjour", "café",  "日本語", "слово",
                                      "really?", "okay,", "listen",  "to",    "me",     "now"};
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
  std::string out =
      "[INFORMATION]\n[TITLE]generated\n[AUTHOR]bench\n[END INFORMATION]\n[SUBTITLE]\n";
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

inline std::string ttml(size_t size) {
  Rng rng;
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tt xmlns=\"http://www.w3.org/ns/ttml\" "
      "xmlns:ttp=\"http://www.w3.org/ns/ttml#parameter\" ttp:tickRate=\"10000000\">\n"
      "<head><styling><style xml:id=\"s1\" tts:color=\"white\"/></styling></head>\n<body>\n";
  out.reserve(size + 256);
  uint64_t t = 10000000;
  for (uint32_t i = 0; out.size() < size; ++i) {
    if (i % 100 == 0) out += i ? "</div>\n<div begin=\"0s\">\n" : "<div begin=\"0s\">\n";
    const uint64_t dur = 8000000 + rng.below(40000000);
    out += "<p begin=\"" + std::to_string(t) + "t\" end=\"" + std::to_string(t + dur) +
           "t\" style=\"s1\"><span tts:fontStyle=\"italic\">" + dialogue(rng) + "</span>";
    if (rng.below(2)) out += "<br/>" + dialogue(rng);
    out += "</p>\n";
    t += dur + rng.below(15000000);
  }
  out += "</div>\n</body>\n</tt>\n";
  return out;
}

inline std::string ytxml(size_t size) {
  Rng rng;
  std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\" ?><transcript>\n";
  out.reserve(size + 256);
  uint32_t t = 1000;
  while (out.size() < size) {
    const uint32_t dur = 800 + rng.below(4000);
    char head[96];
    std::snprintf(head, sizeof head, "<text start=\"%u.%03u\" dur=\"%u.%03u\">", t / 1000, t % 1000,
                  dur / 1000, dur % 1000);
    out += head + dialogue(rng) + (rng.below(4) ? "" : " &amp;#39;quoted&amp;#39;") + "</text>\n";
    t += dur + rng.below(1500);
  }
  out += "</transcript>\n";
  return out;
}

inline std::string lrc(size_t size) {
  Rng rng;
  std::string out = "[ti:Generated]\n[ar:Bench]\n[al:Album]\n[by:subparse]\n[offset:+250]\n";
  out.reserve(size + 256);
  uint32_t t = 1000;
  while (out.size() < size) {
    const uint32_t tags = 1 + rng.below(4);
    for (uint32_t k = 0; k < tags; ++k) {
      const uint32_t ms = t + k * 60000 + rng.below(400);
      char tag[32];
      std::snprintf(tag, sizeof tag, "[%02u:%02u.%02u]", ms / 60000, ms / 1000 % 60, ms / 10 % 100);
      out += tag;
    }
    out += dialogue(rng) + "\n";
    t += 800 + rng.below(4000);
  }
  return out;
}

inline std::string sami(size_t size) {
  Rng rng;
  std::string out =
      "<SAMI>\n<HEAD>\n<TITLE>Generated</TITLE>\n<STYLE TYPE=\"text/css\">\n<!--\nP { "
      "margin-left:8pt; }\n"
      ".ENCC { Name:English; lang:en-US; }\n-->\n</STYLE>\n</HEAD>\n<BODY>\n";
  out.reserve(size + 256);
  uint32_t t = 1000;
  while (out.size() < size) {
    out += "<SYNC Start=" + std::to_string(t) + "><P Class=ENCC>" + dialogue(rng);
    if (rng.below(2)) out += "<br>" + dialogue(rng);
    out += "\n";
    t += 800 + rng.below(4000);
    if (rng.below(3) == 0) {
      out += "<SYNC Start=" + std::to_string(t) + "><P Class=ENCC>&nbsp;\n";
      t += 200 + rng.below(1000);
    }
  }
  out += "</BODY>\n</SAMI>\n";
  return out;
}

inline std::string bilibili(size_t size) {
  Rng rng;
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i><chatserver>chat.bilibili.com</chatserver>"
      "<chatid>1</chatid><mission>0</mission><maxlimit>8000</maxlimit>\n";
  out.reserve(size + 256);
  static const uint32_t colors[] = {16777215, 16711680, 65280, 255, 16776960};
  for (uint64_t id = 1; out.size() < size; ++id) {
    char p[160];
    std::snprintf(p, sizeof p, "<d p=\"%u.%05u,%u,%u,%u,1700000000,0,%08x,%llu\">", rng.below(7200),
                  rng.below(100000), 1 + rng.below(5) * (rng.below(3) == 0), rng.below(4) ? 25 : 18,
                  colors[rng.below(5)], rng.next(), static_cast<unsigned long long>(id));
    out += p + dialogue(rng) + "</d>\n";
  }
  out += "</i>\n";
  return out;
}

inline std::string acfun(size_t size) {
  Rng rng;
  std::string out = "[";
  out.reserve(size + 256);
  static const uint32_t colors[] = {16777215, 16711680, 65280, 255, 16776960};
  for (uint64_t id = 1; out.size() < size; ++id) {
    char c[128];
    std::snprintf(c, sizeof c, "{\"c\":\"%u.%03u,%u,%u,%u,user%u,1700000000,%llu\",\"m\":\"",
                  rng.below(7200), rng.below(1000), colors[rng.below(5)], 1 + rng.below(3),
                  rng.below(4) ? 25 : 18, rng.below(100000), static_cast<unsigned long long>(id));
    out += std::string(id > 1 ? "," : "") + c + dialogue(rng) + "\"}";
  }
  out += "]";
  return out;
}

// Adversarial: one MicroDVD cue whose text is a single line of '{' bytes.
inline std::string microdvd_braces(size_t size) {
  std::string out = "{0}{25}";
  out.append(size > out.size() ? size - out.size() : 0, '{');
  out += "\n";
  return out;
}

// Adversarial inputs for the markup scans: a string that never occurs again
// must not be searched for to the end of the text at every element.
inline std::string repeat_to(size_t size, const std::string &head, const std::string &unit) {
  std::string out = head;
  out.reserve(size + unit.size());
  while (out.size() < size) out += unit;
  return out;
}
inline std::string ttml_unclosed(size_t size) {
  return repeat_to(size, "<tt>", "<p begin=\"1s\" end=\"2s\">x");
}
inline std::string bilibili_unclosed(size_t size) { return repeat_to(size, "<i>", "<d p=\"1\">x"); }
inline std::string ytxml_unclosed(size_t size) {
  return repeat_to(size, "<transcript>", "<text start=\"1\" dur=\"1\">x");
}
inline std::string sami_blocks(size_t size) { return repeat_to(size, "<SAMI>", "<SYNC Start=1>x"); }
inline std::string lrc_ties(size_t size) {
  return repeat_to(size, "", "[00:01.00][00:01.00][00:01.00][00:01.00][00:02.00][00:00.50]la\n");
}

}  // namespace bench

#endif
