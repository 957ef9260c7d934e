// subparse: a command-line host of the library that uses only its public
// header and its document API. Reads whole files (or standard input), parses
// them and prints the result as JSON, as one line per cue, only the format and
// encoding a parse chooses, or a short account of each file; or converts them
// to another format, retimed on the way, into a file written atomically.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "subparse.h"

namespace {

constexpr int exit_usage = 64;        // EX_USAGE
constexpr int exit_no_input = 66;     // EX_NOINPUT
constexpr int exit_cant_create = 73;  // EX_CANTCREAT: an output file
constexpr int exit_io_error = 74;     // EX_IOERR: standard output

constexpr int32_t no_format = -2;  // what sub_format_id() gives for no name

constexpr const char *usage_text =
    "usage: subparse [READ] [RETIMING] [--cues] FILE|-\n"
    "       subparse [READ] [RETIMING] --to FORMAT [WRITE] [-o OUT] [--force] FILE|-\n"
    "       subparse [READ] [RETIMING] --to FORMAT [WRITE] -d DIR [--force] FILE...\n"
    "       subparse [READ] [RETIMING] --info FILE|-...\n"
    "       subparse [-e ENCODING] --detect FILE|-...\n"
    "       subparse --help | --version\n"
    "READ is any of [-f FORMAT] [-e ENCODING] [-r READING] [--microdvd-fps RATE],\n"
    "RETIMING any of [--fps FROM:TO] [--shift TIME] [--sort], WRITE any of the\n"
    "options of Writing and Danmaku as ASS below.\n"
    "\n"
    "Parses subtitle, lyrics or danmaku files. Prints the result as one JSON\n"
    "document on standard output, or one line per cue (--cues), or converts it\n"
    "to another format (--to), or reports on files (--info, --detect).\n"
    "Every long option with a value also takes it as --option=VALUE; '--' ends\n"
    "the options (later arguments are files, even when they start with '-').\n"
    "\n"
    "Reading:\n"
    "  -f, --format FORMAT\n"
    "               srt, vtt, ass, microdvd, subviewer, ttml, ytxml, lrc, sami,\n"
    "               bilibili, acfun, or auto (the default: detect the format);\n"
    "               any letter case, and the aliases subrip, webvtt, ssa, dfxp,\n"
    "               smi, sub (microdvd), youtube (ytxml) and xml (bilibili)\n"
    "  -e, --encoding ENCODING\n"
    "               input encoding, e.g. utf-8, utf-16le, cp1251, gbk, shift_jis\n"
    "               (any name iconv knows), or auto, the default: byte-order\n"
    "               mark, else UTF-16/UTF-32 recognised by their zero bytes,\n"
    "               else UTF-8 when the bytes are valid UTF-8, else a guess by\n"
    "               the charset detector, named in a warning\n"
    "               ('encoding: detected NAME'); an empty ENCODING ('') takes the\n"
    "               library's fixed rule: byte-order mark, else UTF-8, else CP1252\n"
    "  -r, --reading READING\n"
    "               standard (the default) or classic: how TTML and WebVTT are\n"
    "               read; the standard readings follow the formats' standards\n"
    "               (TTML timing, WebVTT cue identifiers and settings: JSON\n"
    "               \"id\", \"settings\")\n"
    "  --microdvd-fps RATE\n"
    "               the frame rate of MicroDVD files that declare none (25 by\n"
    "               default); 1 < RATE < 1000, such as 23.976 or 24000/1001\n"
    "\n"
    "Output (JSON on standard output when none is chosen):\n"
    "  --cues       print one line per cue instead of JSON:\n"
    "               START --> END  LINE | LINE  [danmaku mode, colour, size]\n"
    "               a line's LF shows as \\n, CR as \\r and a backslash as \\\\\n"
    "  --detect     print three lines: the format a parse with -f auto chooses\n"
    "               for the bytes (none when no parser reads them), then\n"
    "               'extension hint: NAME', the format the file name's extension\n"
    "               suggests (none for standard input or an unknown extension),\n"
    "               then 'encoding: NAME', the encoding the bytes were decoded\n"
    "               from (none for an empty input); -e applies, -f and the\n"
    "               retiming options are ignored; prints no cues and no\n"
    "               warnings; with several FILEs, a block for each as --info\n"
    "               prints it ('format: NAME' then the two other lines)\n"
    "  --info       print a block for each FILE (several may be given), blocks\n"
    "               separated by a blank line: the file's name, then indented\n"
    "               'format: NAME', 'encoding: NAME', 'cues: N',\n"
    "               'first: TIME' (the earliest start of any cue), 'last: TIME'\n"
    "               (the latest end of any cue) and 'warning: TEXT' for each\n"
    "               warning; a file that fails shows 'error: TEXT (code N)' (or\n"
    "               'error: TEXT' when it cannot be read) and its warnings\n"
    "               instead; -f, -e and retiming apply; everything goes to\n"
    "               standard output\n"
    "  --to FORMAT  convert: write the cues as srt, vtt (webvtt), ass (ssa), lrc,\n"
    "               ttml (dfxp) or json, to standard output unless -o or -d says\n"
    "               where; several FILEs need -d\n"
    "  -o, --output OUT\n"
    "               write the converted text to the file OUT (one FILE only); an\n"
    "               existing OUT is replaced, in one step: the text goes to a new\n"
    "               file in OUT's directory first, so OUT is never left half\n"
    "               written, and on a failure it is left as it was\n"
    "  -d, --output-dir DIR\n"
    "               write one file per FILE into DIR (which must exist): the\n"
    "               FILE's name with its last extension replaced by the\n"
    "               format's (srt, vtt, ass, lrc, ttml, json), so movie.en.srt\n"
    "               gives DIR/movie.en.vtt; replaced as -o replaces\n"
    "  --force      let -o or -d replace an input file; without it, an output\n"
    "               that is one of the FILEs (by device and inode, whatever the\n"
    "               name) is refused\n"
    "\n"
    "Retiming (before any output, in this order):\n"
    "  --fps FROM:TO\n"
    "               convert times made for FROM frames per second to TO (each\n"
    "               a number above 0 such as 25, 23.976, or a ratio such as\n"
    "               24000/1001): 25:23.976 makes every time 25/23.976 longer\n"
    "  --shift TIME\n"
    "               move every cue by TIME: milliseconds (-2000, +1500) or a\n"
    "               clock [+|-][[hh:]mm:]ss[.mmm] (-0:02.5, 1:00:00, 2.000;\n"
    "               minutes and seconds below 60 after a larger unit, 1 to 3\n"
    "               digits of fraction); a number without ':' or '.' is\n"
    "               milliseconds; --to writes times below 0 as 0\n"
    "  --sort       order the cues by start time (cues that start together keep\n"
    "               their order)\n"
    "\n"
    "Writing (with --to; each writer takes the options of its format):\n"
    "  --vtt-header TEXT\n"
    "               WebVTT: text after 'WEBVTT ' on the first line (no line\n"
    "               break, no '-->')\n"
    "  --ass-res WxH\n"
    "               ASS: the play resolution, such as 1280x720, each 1 to 16384\n"
    "               (default 1920x1080); danmaku are laid out in it\n"
    "  --ass-font NAME\n"
    "               ASS: the styles' font (default Arial; no comma)\n"
    "  --ass-font-size SIZE\n"
    "               ASS: the Default style's font size, above 0 and at most\n"
    "               10000 (default 54)\n"
    "  --ttml-lang TAG\n"
    "               TTML: the document's xml:lang, such as en or fr-CA\n"
    "\n"
    "Danmaku as ASS: --to ass lays the comments of a Bilibili or AcFun file out\n"
    "as the sites' players show them, in rows, never on top of each other; the\n"
    "comments left out are counted in warnings such as\n"
    "'warning: danmaku: 12 comments dropped: no free row'.\n"
    "  --danmaku-font-size PX\n"
    "               pixels of a normal comment (size 25; the small 18 and large\n"
    "               36 scale it), 1 to 1000 (default 50)\n"
    "  --danmaku-scroll SECONDS\n"
    "               how long a scrolling comment takes to cross the screen: 0.5\n"
    "               to 60 seconds, at most 3 digits after the point, such as 8\n"
    "               or 6.5 (default 8)\n"
    "  --danmaku-fixed SECONDS\n"
    "               how long a top or bottom comment stays, as above (default 4)\n"
    "  --danmaku-opacity OPACITY\n"
    "               the comments' opacity, above 0 and at most 1 (default 0.8)\n"
    "  --danmaku-share SHARE\n"
    "               the share of the height, from the top, that scrolling\n"
    "               comments may use, above 0 and at most 1 (default 1: all)\n"
    "  --danmaku-overlap\n"
    "               a comment that finds no free row takes the row that frees\n"
    "               first, over other comments, instead of being dropped\n"
    "  --danmaku-drop-modes LIST\n"
    "               drop the comments of these modes, comma-separated, 1 to 31\n"
    "               (1 scrolling, 4 bottom, 5 top, 6 reverse, 7 positioned),\n"
    "               such as 4,5,7; given again, the lists add up\n"
    "  --danmaku-block WORD\n"
    "               drop the comments whose text contains WORD (letter case\n"
    "               matters); may be given any number of times\n"
    "  --danmaku-block-file FILE\n"
    "               --danmaku-block for each line of FILE (UTF-8, LF or CR LF\n"
    "               line ends; empty lines ignored, spaces kept)\n"
    "\n"
    "  -h, --help   print this help\n"
    "  --version    print the version\n"
    "\n"
    "FILE - reads standard input. Times show as H:MM:SS.mmm. Warnings (the\n"
    "parse's, then the writer's) go to standard error as 'warning: TEXT' (with\n"
    "several files, after 'subparse: FILE: '). Exit status: 0 on success; 1 to\n"
    "6 the failure code of the parse or of the library (1 unknown format,\n"
    "2 decoding failed, 3 empty input, 4 out of memory, 5 nothing could be\n"
    "parsed, 6 an unusable value); 64 usage error; 66 unreadable file (an input\n"
    "or a --danmaku-block-file); 73 an output file could not be written (or\n"
    "would replace an input); 74 standard output could not be written.\n"
    "--detect exits 0 when it names a format or none, and fails as a parse\n"
    "does only when the bytes cannot be decoded (2) or memory runs out (4).\n"
    "With several FILEs every file is handled whatever the others give, and\n"
    "the exit status is the worst (the highest) of theirs.\n"
    "\n"
    "Examples:\n"
    "  subparse --to srt -o movie.srt movie.ttml\n"
    "  subparse --shift 2000 --to srt -o later.srt movie.srt\n"
    "  subparse --fps 25:23.976 --to srt -o film.srt pal.srt\n"
    "  subparse --to vtt -d web/ subs/*.srt\n"
    "  subparse --to ass --ass-res 1280x720 --danmaku-drop-modes 7 \\\n"
    "           --danmaku-block-file words.txt -o comments.ass comments.xml\n";

SubWriteOptions default_write_options() {
  SubWriteOptions o;
  sub_write_options_init(&o);
  return o;
}

struct Options {
  int32_t format = SUB_FMT_AUTO;
  // Named rather than left to sub_parse_options_init(), so that the tool
  // detects the encoding whatever the library's default.
  const char *encoding = "auto";
  int32_t reading = SUB_READING_STANDARD;
  double microdvd_fps = 0;  // 0: the library's default
  bool detect = false;
  bool cues = false;
  bool info = false;
  int32_t to = no_format;
  const char *output = nullptr;
  const char *output_dir = nullptr;
  bool force = false;
  double fps_from = 0, fps_to = 0;  // 0: no --fps
  int64_t shift_ms = 0;
  bool sort = false;
  std::vector<const char *> paths;
  // The writers' options; convert() points danmaku_block_words at
  // block_words, which holds every word only once the files are read.
  SubWriteOptions write = default_write_options();
  std::string block_words;                // line-feed separated
  std::vector<const char *> block_files;  // read after the command line
  std::string_view first_write_option;    // as spelled, for "needs --to"
};

int usage_error(const char *message, std::string_view arg, const char *hint = nullptr) {
  std::fprintf(stderr, "subparse: %s", message);
  if (!arg.empty()) std::fprintf(stderr, ": %.*s", static_cast<int>(arg.size()), arg.data());
  if (hint) std::fprintf(stderr, " (%s)", hint);
  std::fputs("\nTry 'subparse --help'.\n", stderr);
  return exit_usage;
}

enum class Opt {
  format,
  encoding,
  reading,
  microdvd_fps,
  cues,
  detect,
  info,
  to,
  output,
  output_dir,
  force,
  fps,
  shift,
  sort,
  vtt_header,
  ass_res,
  ass_font,
  ass_font_size,
  ttml_lang,
  danmaku_font_size,
  danmaku_scroll,
  danmaku_fixed,
  danmaku_opacity,
  danmaku_share,
  danmaku_overlap,
  danmaku_drop_modes,
  danmaku_block,
  danmaku_block_file,
  help,
  version
};

// The options that only --to uses.
bool is_write_option(Opt id) { return id >= Opt::vtt_header && id <= Opt::danmaku_block_file; }

struct OptionDesc {
  std::string_view long_name;
  Opt id;
  char short_name;  // 0: a long name only
  bool takes_value;
};

constexpr OptionDesc option_table[] = {
    {"format", Opt::format, 'f', true},
    {"encoding", Opt::encoding, 'e', true},
    {"reading", Opt::reading, 'r', true},
    {"microdvd-fps", Opt::microdvd_fps, 0, true},
    {"cues", Opt::cues, 0, false},
    {"detect", Opt::detect, 0, false},
    {"info", Opt::info, 0, false},
    {"to", Opt::to, 0, true},
    {"output", Opt::output, 'o', true},
    {"output-dir", Opt::output_dir, 'd', true},
    {"force", Opt::force, 0, false},
    {"fps", Opt::fps, 0, true},
    {"shift", Opt::shift, 0, true},
    {"sort", Opt::sort, 0, false},
    {"help", Opt::help, 'h', false},
    {"version", Opt::version, 0, false},
    {"vtt-header", Opt::vtt_header, 0, true},
    {"ass-res", Opt::ass_res, 0, true},
    {"ass-font", Opt::ass_font, 0, true},
    {"ass-font-size", Opt::ass_font_size, 0, true},
    {"ttml-lang", Opt::ttml_lang, 0, true},
    {"danmaku-font-size", Opt::danmaku_font_size, 0, true},
    {"danmaku-scroll", Opt::danmaku_scroll, 0, true},
    {"danmaku-fixed", Opt::danmaku_fixed, 0, true},
    {"danmaku-opacity", Opt::danmaku_opacity, 0, true},
    {"danmaku-share", Opt::danmaku_share, 0, true},
    {"danmaku-overlap", Opt::danmaku_overlap, 0, false},
    {"danmaku-drop-modes", Opt::danmaku_drop_modes, 0, true},
    {"danmaku-block", Opt::danmaku_block, 0, true},
    {"danmaku-block-file", Opt::danmaku_block_file, 0, true},
};

const OptionDesc *option_by_long_name(std::string_view name) {
  for (const OptionDesc &d : option_table)
    if (d.long_name == name) return &d;
  return nullptr;
}

const OptionDesc *option_by_short_name(char name) {
  for (const OptionDesc &d : option_table)
    if (d.short_name && d.short_name == name) return &d;
  return nullptr;
}

// Reads a run of 1 to `max_digits` decimal digits, the whole of `s`.
bool parse_digits(std::string_view s, size_t max_digits, uint64_t *value) {
  if (s.empty() || s.size() > max_digits) return false;
  uint64_t v = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  *value = v;
  return true;
}

// Takes a fraction of a second, a point then 1 to 3 digits, off the end of
// `*s` as milliseconds (".5" is 500); 0 when `*s` holds no point. Read
// without floating point, so that 6.5 is exactly 6500 ms.
bool take_fraction_ms(std::string_view *s, uint64_t *ms) {
  *ms = 0;
  const size_t dot = s->find('.');
  if (dot == std::string_view::npos) return true;
  const std::string_view digits = s->substr(dot + 1);
  if (!parse_digits(digits, 3, ms)) return false;
  for (size_t n = digits.size(); n < 3; ++n) *ms *= 10;
  *s = s->substr(0, dot);
  return true;
}

// A --shift value: [+|-] then milliseconds (digits only) or a clock
// [[h:]m:]s[.fff]. Digit counts are bounded, so that no sum can overflow:
// 18 digits of milliseconds, or 9 of the leading unit of a clock.
bool parse_shift(std::string_view s, int64_t *ms) {
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  uint64_t total = 0;
  if (s.find_first_of(":.") == std::string_view::npos) {
    if (!parse_digits(s, 18, &total)) return false;
  } else {
    uint64_t fraction = 0;
    if (!take_fraction_ms(&s, &fraction)) return false;
    // Up to three fields, hours first; all but the leading one below 60.
    std::string_view fields[3];
    size_t count = 0;
    for (;;) {
      if (count == 3) return false;
      const size_t colon = s.find(':');
      fields[count++] = s.substr(0, colon);
      if (colon == std::string_view::npos) break;
      s.remove_prefix(colon + 1);
    }
    for (size_t i = 0; i < count; ++i) {
      uint64_t v = 0;
      if (!parse_digits(fields[i], i == 0 ? 9 : 2, &v)) return false;
      if (i > 0 && v >= 60) return false;
      total = total * 60 + v;
    }
    total = total * 1000 + fraction;
  }
  const auto magnitude = static_cast<int64_t>(total);
  *ms = negative ? -magnitude : magnitude;
  return true;
}

// A decimal number of up to 9 digits before and 9 after the point; the
// bounds keep strtod() away from huge or exponent forms.
bool parse_decimal(std::string_view s, double *value) {
  const size_t dot = s.find('.');
  uint64_t ignored = 0;
  if (!parse_digits(s.substr(0, dot), 9, &ignored)) return false;
  if (dot != std::string_view::npos && !parse_digits(s.substr(dot + 1), 9, &ignored)) return false;
  // Only digits and one point: strtod() reads them alike in every locale
  // that keeps '.', and the tool never leaves the "C" locale.
  *value = std::strtod(std::string(s).c_str(), nullptr);
  return true;
}

// A frame rate above 0: a decimal number (25, 23.976) or a ratio of two
// (30000/1001). parse_decimal() reads 1e-9 to 1e9 when above 0, so a ratio
// of two lies in 1e-18 to 1e18: finite and above 0.
bool parse_rate(std::string_view s, double *rate) {
  const size_t slash = s.find('/');
  double numerator = 0, denominator = 1;
  if (!parse_decimal(s.substr(0, slash), &numerator)) return false;
  if (slash != std::string_view::npos && !parse_decimal(s.substr(slash + 1), &denominator))
    return false;
  if (numerator <= 0 || denominator <= 0) return false;
  *rate = numerator / denominator;
  return true;
}

// A --ass-res value: WIDTHxHEIGHT, each 1 to 16384.
bool parse_resolution(std::string_view s, int32_t *x, int32_t *y) {
  const size_t sep = s.find_first_of("xX");
  if (sep == std::string_view::npos) return false;
  uint64_t w = 0, h = 0;
  if (!parse_digits(s.substr(0, sep), 5, &w) || !parse_digits(s.substr(sep + 1), 5, &h))
    return false;
  if (w < 1 || w > 16384 || h < 1 || h > 16384) return false;
  *x = static_cast<int32_t>(w);
  *y = static_cast<int32_t>(h);
  return true;
}

// A duration in seconds, to the millisecond: digits, then optionally a point
// and 1 to 3 digits; 0.5 to 60 seconds.
bool parse_seconds(std::string_view s, int32_t *ms) {
  uint64_t whole = 0, fraction = 0;
  if (!take_fraction_ms(&s, &fraction) || !parse_digits(s, 9, &whole)) return false;
  const uint64_t total = whole * 1000 + fraction;
  if (total < 500 || total > 60000) return false;
  *ms = static_cast<int32_t>(total);
  return true;
}

// A share such as an opacity: a decimal number above 0 and at most 1.
bool parse_share(std::string_view s, double *share) {
  return parse_decimal(s, share) && *share > 0 && *share <= 1;
}

// A --danmaku-drop-modes list: modes of 1 to 31, comma-separated, added to
// the bit mask (bit m for mode m).
bool parse_modes(std::string_view s, uint32_t *mask) {
  uint32_t modes = 0;
  for (;;) {
    const size_t comma = s.find(',');
    uint64_t mode = 0;
    if (!parse_digits(s.substr(0, comma), 2, &mode) || mode < 1 || mode > 31) return false;
    modes |= 1u << mode;
    if (comma == std::string_view::npos) break;
    s.remove_prefix(comma + 1);
  }
  *mask |= modes;
  return true;
}

inline bool has_any(std::string_view s, std::string_view chars) {
  return s.find_first_of(chars) != std::string_view::npos;
}

// A usage error for the value of a writing option: "bad --OPTION: VALUE".
int bad_value(std::string_view shown, std::string_view value, const char *hint) {
  return usage_error(("bad " + std::string(shown)).c_str(), value, hint);
}

bool is_writable_format(int32_t format) {
  return format == SUB_FMT_SRT || format == SUB_FMT_VTT || format == SUB_FMT_ASS ||
         format == SUB_FMT_LRC || format == SUB_FMT_TTML || format == SUB_FMT_JSON;
}

// Stores the value of a writing option, checked as the library checks it,
// so that a bad value is a usage error before any file is read; returns -1
// to go on, else an exit status. `v` is a whole argument, NUL-terminated in
// argv, which outlives every write: the texts are kept as pointers.
int apply_write_value(Opt id, std::string_view shown, std::string_view v, Options *opt) {
  SubWriteOptions &w = opt->write;
  switch (id) {
    case Opt::vtt_header:
      if (has_any(v, "\r\n") || v.find("-->") != std::string_view::npos)
        return bad_value(shown, v, "one line, without '-->'");
      w.vtt_header = v.data();
      return -1;
    case Opt::ass_res:
      if (!parse_resolution(v, &w.ass_play_res_x, &w.ass_play_res_y))
        return bad_value(shown, v, "WIDTHxHEIGHT, each 1 to 16384, such as 1280x720");
      return -1;
    case Opt::ass_font:
      if (v.empty() || has_any(v, ",\r\n"))
        return bad_value(shown, v, "a font name without commas or line breaks");
      w.ass_font = v.data();
      return -1;
    case Opt::ass_font_size:
      if (!parse_decimal(v, &w.ass_font_size) || w.ass_font_size <= 0 || w.ass_font_size > 10000)
        return bad_value(shown, v, "a size above 0 and at most 10000");
      return -1;
    case Opt::ttml_lang:
      if (has_any(v, "\"<>&\r\n")) return bad_value(shown, v, "a language tag such as en or fr-CA");
      w.ttml_lang = v.data();
      return -1;
    case Opt::danmaku_font_size:
      if (!parse_decimal(v, &w.danmaku_font_size) || w.danmaku_font_size < 1 ||
          w.danmaku_font_size > 1000)
        return bad_value(shown, v, "pixels from 1 to 1000");
      return -1;
    case Opt::danmaku_scroll:
    case Opt::danmaku_fixed:
      if (!parse_seconds(v, id == Opt::danmaku_scroll ? &w.danmaku_scroll_ms : &w.danmaku_fixed_ms))
        return bad_value(shown, v, "seconds from 0.5 to 60, such as 8 or 6.5");
      return -1;
    case Opt::danmaku_opacity:
      if (!parse_share(v, &w.danmaku_opacity))
        return bad_value(shown, v, "a number above 0 and at most 1, such as 0.8");
      return -1;
    case Opt::danmaku_share:
      if (!parse_share(v, &w.danmaku_scroll_share))
        return bad_value(shown, v, "a number above 0 and at most 1, such as 0.5");
      return -1;
    case Opt::danmaku_drop_modes:
      if (!parse_modes(v, &w.danmaku_drop_modes))
        return bad_value(shown, v, "modes from 1 to 31, comma-separated, such as 4,5,7");
      return -1;
    case Opt::danmaku_block:
      if (v.empty() || has_any(v, "\n"))
        return bad_value(shown, v, "a word that is not empty, without line feeds");
      opt->block_words.append(v).push_back('\n');
      return -1;
    case Opt::danmaku_block_file:
      if (v.empty()) return bad_value(shown, v, "a file name");
      opt->block_files.push_back(v.data());
      return -1;
    default: return usage_error("unexpected value for", shown);
  }
}

// Stores one option's value; returns -1 to go on, else an exit status.
// `shown` is the option as the command line spelled it.
int apply_value(Opt id, std::string_view shown, const char *value, Options *opt) {
  const std::string_view v = value;
  switch (id) {
    case Opt::format: {
      const int32_t format = sub_format_id(value);
      if (format == SUB_FMT_JSON)
        return usage_error("cannot read format", v, "json is written by --to only");
      if (format < SUB_FMT_AUTO || format >= SUB_FMT_COUNT) return usage_error("unknown format", v);
      opt->format = format;
      return -1;
    }
    case Opt::encoding: opt->encoding = value; return -1;
    case Opt::reading:
      if (v != "standard" && v != "classic") return usage_error("unknown reading", v);
      opt->reading = v == "standard" ? SUB_READING_STANDARD : SUB_READING_CLASSIC;
      return -1;
    case Opt::microdvd_fps:
      if (!parse_rate(v, &opt->microdvd_fps) || opt->microdvd_fps <= 1 || opt->microdvd_fps >= 1000)
        return usage_error("bad --microdvd-fps", v, "a rate above 1 and below 1000");
      return -1;
    case Opt::to: {
      const int32_t format = sub_format_id(value);
      if (format == no_format) return usage_error("unknown format", v);
      if (!is_writable_format(format))
        return usage_error("cannot write format", v, "--to takes srt, vtt, ass, lrc, ttml or json");
      opt->to = format;
      return -1;
    }
    case Opt::output: opt->output = value; return -1;
    case Opt::output_dir: opt->output_dir = value; return -1;
    case Opt::fps: {
      const size_t colon = v.find(':');
      if (colon == std::string_view::npos || !parse_rate(v.substr(0, colon), &opt->fps_from) ||
          !parse_rate(v.substr(colon + 1), &opt->fps_to))
        return usage_error("bad --fps", v, "FROM:TO, such as 25:23.976 or 25:24000/1001");
      return -1;
    }
    case Opt::shift:
      if (!parse_shift(v, &opt->shift_ms))
        return usage_error("bad --shift", v, "milliseconds such as -2000, or [-]hh:mm:ss.mmm");
      return -1;
    default: return apply_write_value(id, shown, v, opt);
  }
}

// Checks what the options ask for as a whole; -1 to go on, else 64.
int check_combination(const Options &opt) {
  if (opt.paths.empty()) return usage_error("no file given", "");
  if (opt.info && (opt.detect || opt.cues))
    return usage_error("--info does not combine with", opt.detect ? "--detect" : "--cues");
  const bool converting = opt.to != no_format;
  if (converting && (opt.info || opt.detect || opt.cues))
    return usage_error("--to does not combine with", opt.info     ? "--info"
                                                     : opt.detect ? "--detect"
                                                                  : "--cues");
  if (!converting && !opt.first_write_option.empty())
    return usage_error((std::string(opt.first_write_option) + " needs --to FORMAT").c_str(), "");
  if (!converting && (opt.output || opt.output_dir))
    return usage_error(opt.output ? "-o needs --to FORMAT" : "-d needs --to FORMAT", "");
  if (opt.output && opt.output_dir) return usage_error("-o does not combine with", "-d");
  if ((opt.output && !*opt.output) || (opt.output_dir && !*opt.output_dir))
    return usage_error(opt.output ? "-o needs a file name" : "-d needs a directory name", "");
  if (opt.output && opt.paths.size() > 1)
    return usage_error("-o takes one input file; several were given", opt.paths[1],
                       "use -d DIR to convert several");
  if (converting && opt.paths.size() > 1 && !opt.output_dir)
    return usage_error("--to with several files needs -d DIR", opt.paths[1]);
  if (!converting && !opt.info && !opt.detect && opt.paths.size() > 1)
    return usage_error("more than one file given", opt.paths[1],
                       "--info, --detect and --to with -d take several");
  if (opt.output_dir)
    for (const char *path : opt.paths)
      if (std::string_view(path) == "-")
        return usage_error("standard input has no name to write under -d", "-",
                           "use -o OUT for it");
  return -1;
}

// Parses the command line; returns -1 to go on, else an exit status.
int parse_args(int argc, char **argv, Options *opt) {
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const char *raw = argv[i];
    const std::string_view arg = raw;
    if (options_end || arg.size() < 2 || arg[0] != '-') {
      opt->paths.push_back(raw);
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    // `shown` is the option without its value, for messages; `value` the
    // value written into the same argument (-fsrt, --format=srt), if any.
    const OptionDesc *desc = nullptr;
    std::string_view shown = arg;
    const char *value = nullptr;
    if (arg[1] == '-') {
      const size_t eq = arg.find('=');
      if (eq != std::string_view::npos) {
        shown = arg.substr(0, eq);
        value = raw + eq + 1;
      }
      desc = option_by_long_name(shown.substr(2));
    } else {
      desc = option_by_short_name(arg[1]);
      if (desc && arg.size() > 2) {
        if (!desc->takes_value) return usage_error("unknown option", arg);
        shown = arg.substr(0, 2);
        value = raw + 2;
      }
    }
    if (!desc) return usage_error("unknown option", shown);
    if (is_write_option(desc->id) && opt->first_write_option.empty())
      opt->first_write_option = shown;
    if (!desc->takes_value) {
      if (value) return usage_error("option takes no value", shown);
      switch (desc->id) {
        case Opt::help: std::fputs(usage_text, stdout); return 0;
        case Opt::version: std::puts("subparse " SUBPARSE_VERSION); return 0;
        case Opt::cues: opt->cues = true; break;
        case Opt::detect: opt->detect = true; break;
        case Opt::info: opt->info = true; break;
        case Opt::force: opt->force = true; break;
        case Opt::sort: opt->sort = true; break;
        case Opt::danmaku_overlap: opt->write.danmaku_overflow = SUB_DANMAKU_OVERLAP; break;
        default: break;
      }
      continue;
    }
    if (!value) {
      if (i + 1 >= argc) return usage_error("missing value for", shown);
      value = argv[++i];
    }
    if (const int status = apply_value(desc->id, shown, value, opt); status >= 0) return status;
  }
  return check_combination(*opt);
}

// Reads the whole file (or standard input for "-"); an error text on failure.
bool read_all(const char *path, std::string *data, std::string *error) {
  const bool is_stdin = std::string_view(path) == "-";
  const int fd = is_stdin ? STDIN_FILENO : open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  struct stat st {};
  const bool known = fstat(fd, &st) == 0;
  if (known && S_ISDIR(st.st_mode)) {
    *error = std::strerror(EISDIR);
    if (!is_stdin) close(fd);
    return false;
  }
  if (known && S_ISREG(st.st_mode) && st.st_size > 0)
    data->reserve(static_cast<size_t>(st.st_size));
  constexpr size_t chunk = 1 << 16;
  bool ok = true;
  for (;;) {
    const size_t used = data->size();
    data->resize(used + chunk);
    const ssize_t got = read(fd, data->data() + used, chunk);
    data->resize(used + (got > 0 ? static_cast<size_t>(got) : 0));
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      *error = std::strerror(errno);
      ok = false;
      break;
    }
  }
  if (!is_stdin) close(fd);
  return ok;
}

// Reads the --danmaku-block-file files into the block words: a word per
// line (LF or CR LF), empty lines left out, a UTF-8 byte-order mark skipped.
// Returns -1 to go on, 66 for a file that cannot be read, 64 for one that
// holds a NUL byte (the library takes the words as one C string).
int load_block_files(Options *opt) {
  for (const char *path : opt->block_files) {
    std::string data;
    std::string error;
    if (!read_all(path, &data, &error)) {
      std::fprintf(stderr, "subparse: --danmaku-block-file %s: %s\n", path, error.c_str());
      return exit_no_input;
    }
    if (data.find('\0') != std::string::npos)
      return usage_error("bad --danmaku-block-file", path, "a text file: it holds a NUL byte");
    std::string_view rest = data;
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
    while (!rest.empty()) {
      const size_t nl = rest.find('\n');
      std::string_view word = rest.substr(0, nl);
      rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
      if (!word.empty() && word.back() == '\r') word.remove_suffix(1);
      if (!word.empty()) opt->block_words.append(word).push_back('\n');
    }
  }
  return -1;
}

// Writes a time in milliseconds as [-]H:MM:SS.mmm.
void print_time(int32_t ms) {
  int64_t t = ms;
  const char *sign = "";
  if (t < 0) {
    sign = "-";
    t = -t;
  }
  std::printf("%s%" PRId64 ":%02" PRId64 ":%02" PRId64 ".%03" PRId64, sign, t / 3600000,
              t / 60000 % 60, t / 1000 % 60, t % 1000);
}

// Writes a text so that it stays on one output line: LF and CR become \n and
// \r, and a backslash doubles so that those two read back unambiguously.
void print_escaped(const char *line) {
  for (const char *p = line; *p; ++p) {
    switch (*p) {
      case '\n': std::fputs("\\n", stdout); break;
      case '\r': std::fputs("\\r", stdout); break;
      case '\\': std::fputs("\\\\", stdout); break;
      default: std::fputc(*p, stdout);
    }
  }
}

void print_cues(const SubDoc *doc) {
  const int32_t count = sub_doc_cue_count(doc);
  for (int32_t i = 0; i < count; ++i) {
    print_time(sub_doc_cue_start_ms(doc, i));
    std::fputs(" --> ", stdout);
    print_time(sub_doc_cue_end_ms(doc, i));
    std::fputs("  ", stdout);
    const int32_t lines = sub_doc_cue_line_count(doc, i);
    for (int32_t k = 0; k < lines; ++k) {
      if (k) std::fputs(" | ", stdout);
      if (const char *line = sub_doc_cue_line(doc, i, k)) print_escaped(line);
    }
    if (sub_doc_cue_is_danmu(doc, i))
      std::printf("  [mode %" PRId32 ", colour #%06" PRIX32 ", size %g]",
                  sub_doc_cue_danmu_mode(doc, i), sub_doc_cue_danmu_color(doc, i),
                  static_cast<double>(sub_doc_cue_danmu_fontsize(doc, i)));
    std::fputc('\n', stdout);
  }
}

// Explains a failure whose parse left no error text.
const char *describe_code(int32_t code) {
  switch (code) {
    case SUB_ERR_FORMAT: return "unknown format";
    case SUB_ERR_DECODE: return "decoding failed";
    case SUB_ERR_EMPTY: return "empty buffer";
    case SUB_ERR_NOMEM: return "out of memory";
    case SUB_ERR_ARGUMENT: return "unusable value";
    default: return "parse failed";
  }
}

// Prints the warnings from the `from`th on standard error; `label` (the
// file's name, or null when only one file is handled) tells whose they are.
void print_warnings(const char *label, const SubDoc *doc, int32_t from = 0) {
  for (int32_t i = from; i < sub_doc_warning_count(doc); ++i) {
    const char *warning = sub_doc_warning(doc, i);
    if (!warning) continue;
    if (label) std::fprintf(stderr, "subparse: %s: ", label);
    std::fprintf(stderr, "warning: %s\n", warning);
  }
}

// The exit status a failed parse's code maps to.
int failure_status(int32_t code) { return code >= 1 && code <= 125 ? code : 1; }

// What failed: the document's error text, else the code's description (doc
// is NULL when memory ran out before a document existed).
const char *failure_text(const SubDoc *doc, int32_t code) {
  const char *error = sub_doc_error(doc);
  return error && *error ? error : describe_code(code);
}

// Reports a failed parse on standard error; returns the exit status it maps to.
int report_failure(const char *path, const SubDoc *doc, int32_t code) {
  std::fprintf(stderr, "subparse: %s: %s (code %" PRId32 ")\n", path, failure_text(doc, code),
               code);
  return failure_status(code);
}

// Flushes standard output; 0, or 74 with a message when it cannot be written.
int finish_stdout() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
  std::fprintf(stderr, "subparse: standard output: %s\n", std::strerror(errno));
  return exit_io_error;
}

// Frees the document however its scope is left.
struct DocOwner {
  SubDoc *doc = nullptr;
  DocOwner() = default;
  DocOwner(const DocOwner &) = delete;
  DocOwner &operator=(const DocOwner &) = delete;
  ~DocOwner() { sub_doc_free(doc); }
};

// Frees a text of sub_doc_write() however its scope is left.
struct TextOwner {
  char *text = nullptr;
  TextOwner() = default;
  TextOwner(const TextOwner &) = delete;
  TextOwner &operator=(const TextOwner &) = delete;
  ~TextOwner() { sub_text_free(text); }
};

// Parses the bytes as `format`, with the encoding of the tool's options, into
// owner->doc; returns the parse's code.
int32_t parse(const Options &opt, const std::string &data, int32_t format, DocOwner *owner) {
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.format = format;
  options.encoding = opt.encoding;
  options.reading = opt.reading;
  if (opt.microdvd_fps > 0) options.microdvd_fps = opt.microdvd_fps;
  // An empty std::string still has a valid data() pointer; the library itself
  // answers "empty buffer" for a length of 0.
  return sub_doc_parse(data.data(), data.size(), &options, &owner->doc);
}

// Retimes a parsed document as the options ask: the rate first, so that a
// shift is measured on the clock of the new rate (the video the cues are
// moved to), then the shift, then the order. Returns a library code.
int32_t retime(const Options &opt, SubDoc *doc) {
  if (opt.fps_from > 0)
    if (const int32_t code = sub_doc_scale(doc, opt.fps_from, opt.fps_to); code != SUB_OK)
      return code;
  if (opt.shift_ms != 0)
    if (const int32_t code = sub_doc_shift(doc, opt.shift_ms); code != SUB_OK) return code;
  if (opt.sort) return sub_doc_sort(doc);
  return SUB_OK;
}

// The encoding a document was decoded from; "none" when nothing was decoded.
const char *encoding_name(const SubDoc *doc) {
  const char *name = sub_doc_encoding(doc);
  return name && *name ? name : "none";
}

// One indented line of an --info block: "  KEY: TEXT", the text escaped as
// --cues escapes a cue's line, so that the block keeps its shape.
void print_field(const char *key, const char *text) {
  std::printf("  %s: ", key);
  print_escaped(text);
  std::fputc('\n', stdout);
}

void print_time_field(const char *key, int32_t ms, bool any) {
  std::printf("  %s: ", key);
  if (any) {
    print_time(ms);
  } else {
    std::fputs("none", stdout);
  }
  std::fputc('\n', stdout);
}

void print_warning_fields(const SubDoc *doc) {
  for (int32_t i = 0; i < sub_doc_warning_count(doc); ++i)
    if (const char *warning = sub_doc_warning(doc, i)) print_field("warning", warning);
}

// An "error" field for a failed library call on `doc`, and its warnings.
void print_failure_fields(const SubDoc *doc, int32_t code) {
  const std::string message =
      std::string(failure_text(doc, code)) + " (code " + std::to_string(code) + ")";
  print_field("error", message.c_str());
  print_warning_fields(doc);
}

// --detect for one file: the format a parse with detection chooses for the
// bytes, then the extension's hint and the encoding, each on a line of its
// own. The hint stays apart because a parse never looks at the name; mixed
// in, it made --detect and a parse name different formats for one file.
// With `block`, the lines are indented after the file's name, as --info
// prints them, and failures go into the block too; without, failures go to
// standard error. Returns 0 or the file's exit status.
int detect(const Options &opt, const char *path, bool block) {
  if (block) {
    print_escaped(path);
    std::fputc('\n', stdout);
  }
  std::string data;
  std::string error;
  if (!read_all(path, &data, &error)) {
    if (block) {
      print_field("error", error.c_str());
    } else {
      std::fprintf(stderr, "subparse: %s: %s\n", path, error.c_str());
    }
    return exit_no_input;
  }
  DocOwner owner;
  const int32_t code = parse(opt, data, SUB_FMT_AUTO, &owner);
  // Undecodable bytes or a lack of memory say nothing about the format:
  // answering "none" would hide the reason (a mistyped -e, say).
  if (code == SUB_ERR_DECODE || code == SUB_ERR_NOMEM) {
    if (block) {
      print_failure_fields(owner.doc, code);
      return failure_status(code);
    }
    print_warnings(nullptr, owner.doc);
    return report_failure(path, owner.doc, code);
  }
  const char *found = code == SUB_OK ? sub_format_name(sub_doc_format(owner.doc)) : "none";
  const bool is_stdin = std::string_view(path) == "-";
  const int32_t hint = is_stdin ? SUB_FMT_AUTO : sub_detect_format(nullptr, 0, path);
  const char *hint_name = hint == SUB_FMT_AUTO ? "none" : sub_format_name(hint);
  if (block) {
    print_field("format", found);
    print_field("extension hint", hint_name);
    print_field("encoding", encoding_name(owner.doc));
  } else {
    std::printf("%s\nextension hint: %s\nencoding: %s\n", found, hint_name,
                encoding_name(owner.doc));
  }
  return 0;
}

// --info for one file: its block on standard output. Returns 0, or the exit
// status its failure maps to.
int info(const Options &opt, const char *path) {
  print_escaped(path);
  std::fputc('\n', stdout);
  std::string data;
  std::string error;
  if (!read_all(path, &data, &error)) {
    print_field("error", error.c_str());
    return exit_no_input;
  }
  DocOwner owner;
  int32_t code = parse(opt, data, opt.format, &owner);
  if (code == SUB_OK) code = retime(opt, owner.doc);
  if (code != SUB_OK) {
    print_failure_fields(owner.doc, code);
    return failure_status(code);
  }
  const SubDoc *doc = owner.doc;
  const int32_t count = sub_doc_cue_count(doc);
  // Cues keep the order of the file, which need not be the order of time.
  int32_t first = 0, last = 0;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t start = sub_doc_cue_start_ms(doc, i), end = sub_doc_cue_end_ms(doc, i);
    if (i == 0 || start < first) first = start;
    if (i == 0 || end > last) last = end;
  }
  print_field("format", sub_format_name(sub_doc_format(doc)));
  print_field("encoding", encoding_name(doc));
  std::printf("  cues: %" PRId32 "\n", count);
  print_time_field("first", first, count > 0);
  print_time_field("last", last, count > 0);
  print_warning_fields(doc);
  return 0;
}

// --info or --detect over every file, in the order given, their outputs
// separated by a blank line: all are reported whatever fails; the status is
// the worst of theirs. `one(path)` reports a file and returns its status.
template <typename Report>
int report_all(const Options &opt, Report one) {
  int status = 0;
  for (size_t i = 0; i < opt.paths.size(); ++i) {
    if (i) std::fputc('\n', stdout);
    status = std::max(status, one(opt.paths[i]));
  }
  return std::max(status, finish_stdout());
}

// Where a file is, to tell that two names name one file whatever their
// spelling. Kept in sets: a run over many thousands of files looks each up
// in logarithmic time.
using FileId = std::pair<dev_t, ino_t>;

FileId file_id(const struct stat &st) { return {st.st_dev, st.st_ino}; }

// A conversion run: its options, the files it must not replace and the
// files it wrote.
struct Run {
  const Options &opt;
  std::set<FileId> inputs;
  std::set<FileId> written;
  mode_t new_file_mode = 0644;  // 0666 less the umask
};

const char *file_extension(int32_t format) {
  switch (format) {
    case SUB_FMT_SRT: return "srt";
    case SUB_FMT_VTT: return "vtt";
    case SUB_FMT_ASS: return "ass";
    case SUB_FMT_LRC: return "lrc";
    case SUB_FMT_TTML: return "ttml";
    default: return "json";
  }
}

// The output path of `input` under -d: DIR/NAME.EXT, NAME the input's file
// name less its last extension (a leading dot starts no extension: ".srt"
// is a name).
std::string output_path_in(const char *dir, const char *input, int32_t format) {
  std::string_view name = input;
  if (const size_t slash = name.rfind('/'); slash != std::string_view::npos)
    name.remove_prefix(slash + 1);
  if (const size_t dot = name.rfind('.'); dot != std::string_view::npos && dot > 0)
    name = name.substr(0, dot);
  std::string path = dir;
  if (!path.empty() && path.back() != '/') path += '/';
  path.append(name).append(".").append(file_extension(format));
  return path;
}

// Writes all of `len` bytes at `data` to `fd`; false with errno set when a
// write fails.
bool write_all(int fd, const char *data, size_t len) {
  while (len > 0) {
    const ssize_t done = write(fd, data, len);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += done;
    len -= static_cast<size_t>(done);
  }
  return true;
}

// Writes every piece to `fd`, flushed to the disk when `sync`, and closes
// it: close() reports what a network file system could not store. Returns 0,
// or the errno of the first step that failed.
int write_and_close(int fd, std::initializer_list<std::string_view> pieces, bool sync) {
  int reason = 0;
  for (const std::string_view piece : pieces)
    if (!reason && !write_all(fd, piece.data(), piece.size())) reason = errno;
  if (!reason && sync && fsync(fd) != 0) reason = errno;
  if (close(fd) != 0 && !reason) reason = errno;
  return reason;
}

// The file a path leads to: a symbolic link is followed, so that replacing
// the path replaces the file the link points to and keeps the link.
std::string resolve_link(const std::string &path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char *real = realpath(path.c_str(), nullptr);
  if (!real) return path;  // a dangling link: the link itself is replaced
  std::string resolved = real;
  std::free(real);
  return resolved;
}

// Replaces `target` with the text of `pieces` so that it either keeps what it
// held or holds the whole text: the text goes to a new file in the target's
// directory (rename() works within one file system only), is flushed to the
// disk, and takes the target's name in one rename(). On failure the new file
// is removed, the target is untouched and `*error` says why. A target that
// exists but is not a regular file (a device, a pipe) cannot be replaced that
// way and is written in place. A new file gets the mode of the file it
// replaces, else 0666 less the umask.
bool write_atomically(const Run &run, const std::string &path,
                      std::initializer_list<std::string_view> pieces, std::string *error) {
  const std::string target = resolve_link(path);
  struct stat st {};
  const bool exists = stat(target.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    const int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC);
    const int reason = fd < 0 ? errno : write_and_close(fd, pieces, false);
    if (reason) *error = std::string("cannot write: ") + std::strerror(reason);
    return reason == 0;
  }
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : target.substr(0, slash);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  const std::string prefix = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::string temp = prefix + "." + name + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    *error = std::string("cannot create a file in ") + dir + ": " + std::strerror(errno);
    return false;
  }
  const mode_t mode = exists && S_ISREG(st.st_mode) ? st.st_mode & 07777 : run.new_file_mode;
  if (fchmod(fd, mode) != 0) {
    // Some file systems hold no modes; the file keeps mkstemp()'s 0600.
  }
  int reason = write_and_close(fd, pieces, true);
  const char *failed = reason ? "cannot write" : nullptr;  // the step that failed
  if (!failed && rename(temp.c_str(), target.c_str()) != 0) {
    failed = "cannot replace the file";
    reason = errno;
  }
  if (failed) {
    *error = std::string(failed) + ": " + std::strerror(reason);
    unlink(temp.c_str());
    return false;
  }
  // The rename itself lasts only once the directory reaches the disk; a
  // failure there leaves the new text in place, so it is not reported.
  if (const int dir_fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir_fd >= 0) {
    if (fsync(dir_fd) != 0) {
      // Some file systems cannot sync a directory; the text is written.
    }
    close(dir_fd);
  }
  return true;
}

// Writes a converted text to the file `target`, unless it would replace an
// input (without --force) or a file this run already wrote. Returns 0 or 73.
int write_output(Run *run, const char *input, const std::string &target, std::string_view text,
                 bool newline) {
  struct stat st {};
  if (stat(target.c_str(), &st) == 0) {
    if (run->written.count(file_id(st))) {
      std::fprintf(stderr, "subparse: %s: holds an earlier file's conversion; %s not written\n",
                   target.c_str(), input);
      return exit_cant_create;
    }
    if (!run->opt.force && run->inputs.count(file_id(st))) {
      std::fprintf(stderr, "subparse: %s: is an input file; not replaced (--force replaces it)\n",
                   target.c_str());
      return exit_cant_create;
    }
  }
  std::string error;
  if (!write_atomically(*run, target, {text, newline ? "\n" : ""}, &error)) {
    std::fprintf(stderr, "subparse: %s: %s\n", target.c_str(), error.c_str());
    return exit_cant_create;
  }
  if (stat(target.c_str(), &st) == 0) run->written.insert(file_id(st));
  return 0;
}

// Writes a document in the --to format to standard output, -o or -d. The
// warnings the writer adds to the document (danmaku it left out) are printed
// as the parse's are; `label` as print_warnings() takes it.
int convert(Run *run, const char *path, const char *label, SubDoc *doc) {
  const Options &opt = run->opt;
  SubWriteOptions options = opt.write;
  options.danmaku_block_words = opt.block_words.c_str();
  TextOwner text;
  size_t len = 0;
  const int32_t warned = sub_doc_warning_count(doc);
  const int32_t code = sub_doc_write(doc, opt.to, &options, &text.text, &len);
  print_warnings(label, doc, warned);
  if (code != SUB_OK) {
    std::fprintf(stderr, "subparse: %s: cannot write as %s: %s (code %" PRId32 ")\n", path,
                 file_extension(opt.to), describe_code(code), code);
    return failure_status(code);
  }
  // JSON ends with a line break, as the default output does; the other
  // writers end their texts themselves.
  const bool newline = opt.to == SUB_FMT_JSON;
  if (opt.output) return write_output(run, path, opt.output, {text.text, len}, newline);
  if (opt.output_dir)
    return write_output(run, path, output_path_in(opt.output_dir, path, opt.to), {text.text, len},
                        newline);
  std::fwrite(text.text, 1, len, stdout);
  if (newline) std::fputc('\n', stdout);
  return finish_stdout();
}

// Parses, retimes and prints or converts one file; returns its exit status.
int process(Run *run, const char *path, bool several) {
  const Options &opt = run->opt;
  std::string data;
  std::string error;
  if (!read_all(path, &data, &error)) {
    std::fprintf(stderr, "subparse: %s: %s\n", path, error.c_str());
    return exit_no_input;
  }
  DocOwner owner;
  const int32_t code = parse(opt, data, opt.format, &owner);
  const char *label = several ? path : nullptr;
  print_warnings(label, owner.doc);
  if (code != SUB_OK) return report_failure(path, owner.doc, code);
  if (const int32_t retimed = retime(opt, owner.doc); retimed != SUB_OK) {
    std::fprintf(stderr, "subparse: %s: retiming failed: %s (code %" PRId32 ")\n", path,
                 describe_code(retimed), retimed);
    return failure_status(retimed);
  }
  if (opt.to != no_format) return convert(run, path, label, owner.doc);
  if (opt.cues) {
    print_cues(owner.doc);
  } else {
    const char *json = sub_doc_json(owner.doc);
    if (!json) return report_failure(path, nullptr, SUB_ERR_NOMEM);
    std::printf("%s\n", json);
  }
  return finish_stdout();
}

// Handles every file in turn (one unless converting with -d); the status is
// the worst of theirs.
int process_all(const Options &opt) {
  Run run{opt, {}, {}};
  const mode_t mask = umask(0);
  umask(mask);
  run.new_file_mode = 0666 & ~mask;
  // Every input is known before anything is written, so that no output
  // replaces an input that a later file names.
  for (const char *path : opt.paths) {
    struct stat st {};
    const bool found =
        std::string_view(path) == "-" ? fstat(STDIN_FILENO, &st) == 0 : stat(path, &st) == 0;
    if (found && S_ISREG(st.st_mode)) run.inputs.insert(file_id(st));
  }
  int status = 0;
  for (const char *path : opt.paths)
    status = std::max(status, process(&run, path, opt.paths.size() > 1));
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  Options opt;
  if (const int status = parse_args(argc, argv, &opt); status >= 0) return status;
  if (const int status = load_block_files(&opt); status >= 0) return status;
  if (opt.info) return report_all(opt, [&](const char *path) { return info(opt, path); });
  if (opt.detect) {
    // The plain three lines for one file, blocks for more.
    const bool blocks = opt.paths.size() > 1;
    return report_all(opt, [&](const char *path) { return detect(opt, path, blocks); });
  }
  return process_all(opt);
}
