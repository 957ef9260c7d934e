// The differential check shared by fuzz_doc_diff.cpp and the unit tests: one
// input parsed by sub_parse() and by sub_doc_parse() must read back the same
// through both sets of accessors, JSON included, and each must release every
// block it took. Also a few small files of every format, so that the tests
// have inputs of their own when the shared samples are not there.
#ifndef SUBPARSE_DOC_DIFF_H
#define SUBPARSE_DOC_DIFF_H

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "fault_alloc.h"
#include "subparse.h"

namespace docdiff {

// The selector bytes of both fuzz targets (fuzz_parse.cpp and
// fuzz_doc_diff.cpp), so that they share one corpus: the first input byte
// picks a format identifier from kFormats (byte % 16), the second an encoding
// from kEncodings (byte % 16).
inline constexpr int32_t kFormats[] = {-1, 0, 1, 2,  3,  4,  5,         6,
                                       7,  8, 9, 10, 11, -2, INT32_MAX, INT32_MIN};
// The table had the first 8 entries alone (byte % 8) when the inputs in
// fuzz/regressions and fuzz/corpus were found; it grew to 16 so that "auto"
// could join without moving them. Every byte keeps its old encoding under
// % 16 (entries 10 to 15 repeat 2 to 7) except the bytes 8 and 9 (mod 16),
// which chose the fixed rule (NULL, "") a second time and now choose "auto".
// Recorded inputs use only selector 0.
inline constexpr const char *kEncodings[] = {
    nullptr,  "",       "utf-8", "utf-16le", "cp1252", "gbk", "shift_jis", "no-such-encoding",
    "auto",   "AUTO",   "utf-8", "utf-16le", "cp1252", "gbk", "shift_jis", "no-such-encoding"};

namespace detail {
constexpr bool same_text(const char *a, const char *b) {
  if (!a || !b) return a == b;
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}
constexpr bool old_selectors_kept() {
  for (int k = 2; k < 8; ++k)
    if (!same_text(kEncodings[k], kEncodings[k + 8])) return false;
  return true;
}
}  // namespace detail
static_assert(sizeof kEncodings / sizeof *kEncodings == 16 && detail::old_selectors_kept(),
              "an encoding selector byte of a recorded fuzz input would change meaning");

// One API's accessors. The classic ones ignore the document; both take one so
// that a single reader walks either.
struct Api {
  int32_t (*cue_count)(const SubDoc *);
  int32_t (*start_ms)(const SubDoc *, int32_t);
  int32_t (*end_ms)(const SubDoc *, int32_t);
  int32_t (*line_count)(const SubDoc *, int32_t);
  const char *(*line)(const SubDoc *, int32_t, int32_t);
  int32_t (*is_danmu)(const SubDoc *, int32_t);
  int32_t (*danmu_mode)(const SubDoc *, int32_t);
  uint32_t (*danmu_color)(const SubDoc *, int32_t);
  float (*danmu_fontsize)(const SubDoc *, int32_t);
  const char *(*error)(const SubDoc *);
  int32_t (*warning_count)(const SubDoc *);
  const char *(*warning)(const SubDoc *, int32_t);
  int32_t (*format)(const SubDoc *);
  const char *(*json)(SubDoc *);
};

inline constexpr Api kClassic = {
    [](const SubDoc *) { return sub_cue_count(); },
    [](const SubDoc *, int32_t i) { return sub_cue_start_ms(i); },
    [](const SubDoc *, int32_t i) { return sub_cue_end_ms(i); },
    [](const SubDoc *, int32_t i) { return sub_cue_line_count(i); },
    [](const SubDoc *, int32_t i, int32_t k) { return sub_cue_line(i, k); },
    [](const SubDoc *, int32_t i) { return sub_cue_is_danmu(i); },
    [](const SubDoc *, int32_t i) { return sub_cue_danmu_mode(i); },
    [](const SubDoc *, int32_t i) { return sub_cue_danmu_color(i); },
    [](const SubDoc *, int32_t i) { return sub_cue_danmu_fontsize(i); },
    [](const SubDoc *) { return sub_last_error(); },
    [](const SubDoc *) { return sub_warning_count(); },
    [](const SubDoc *, int32_t i) { return sub_warning(i); },
    [](const SubDoc *) { return sub_detected_format(); },
    [](SubDoc *) { return sub_result_json(); },
};

inline constexpr Api kDocument = {
    sub_doc_cue_count,
    sub_doc_cue_start_ms,
    sub_doc_cue_end_ms,
    sub_doc_cue_line_count,
    sub_doc_cue_line,
    sub_doc_cue_is_danmu,
    sub_doc_cue_danmu_mode,
    sub_doc_cue_danmu_color,
    sub_doc_cue_danmu_fontsize,
    sub_doc_error,
    sub_doc_warning_count,
    sub_doc_warning,
    sub_doc_format,
    sub_doc_json,
};

// A text an accessor returned; nullopt for NULL, which is an answer too.
using Text = std::optional<std::string>;

inline Text text(const char *s) { return s ? Text(s) : std::nullopt; }

inline std::string show(const Text &t) { return t ? '"' + *t + '"' : "NULL"; }

// Font sizes are compared bit for bit (0.0 and -0.0 differ), except that any
// NaN matches any NaN: the payload of a NaN is not part of the contract.
inline bool same_size(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  uint32_t x = 0, y = 0;
  std::memcpy(&x, &a, sizeof x);
  std::memcpy(&y, &b, sizeof y);
  return x == y;
}

struct Cue {
  int32_t start = 0, end = 0, danmu = 0, mode = 0;
  uint32_t color = 0;
  float fontsize = 0;
  std::vector<Text> lines;
  bool operator==(const Cue &o) const {
    return start == o.start && end == o.end && danmu == o.danmu && mode == o.mode &&
           color == o.color && same_size(fontsize, o.fontsize) && lines == o.lines;
  }
};

inline std::string show(const Cue &c) {
  std::string out = std::to_string(c.start) + "-" + std::to_string(c.end);
  if (c.danmu) {
    out += " danmu mode " + std::to_string(c.mode) + " color " + std::to_string(c.color) +
           " size " + std::to_string(c.fontsize);
  }
  for (const Text &line : c.lines) out += " | " + show(line);
  return out;
}

// Everything one API tells about a parse.
struct Result {
  int32_t rc = 0, format = 0;
  std::vector<Cue> cues;
  Text error;
  std::vector<Text> warnings;
  bool json_read = false;  // read() leaves the JSON alone, read_all() asks for it
  Text json;
  // The answers for indexes out of range, one text, as they are only ever
  // compared whole.
  std::string out_of_range;
};

inline std::string out_of_range_answers(const Api &api, const SubDoc *doc) {
  const int32_t n = api.cue_count(doc);
  std::string out;
  for (const int32_t i : {int32_t{-1}, n, INT32_MIN, INT32_MAX}) {
    float size = api.danmu_fontsize(doc, i);
    uint32_t bits = 0;
    std::memcpy(&bits, &size, sizeof bits);
    out += "cue " + std::to_string(i) + ": " + std::to_string(api.start_ms(doc, i)) + " " +
           std::to_string(api.end_ms(doc, i)) + " " + std::to_string(api.line_count(doc, i)) + " " +
           show(text(api.line(doc, i, 0))) + " " + std::to_string(api.is_danmu(doc, i)) + " " +
           std::to_string(api.danmu_mode(doc, i)) + " " + std::to_string(api.danmu_color(doc, i)) +
           " " + std::to_string(bits) + "\n";
  }
  if (n > 0) {
    const int32_t lines = api.line_count(doc, 0);
    for (const int32_t k : {int32_t{-1}, lines, INT32_MIN, INT32_MAX})
      out += "line " + std::to_string(k) + ": " + show(text(api.line(doc, 0, k))) + "\n";
  }
  const int32_t warnings = api.warning_count(doc);
  for (const int32_t k : {int32_t{-1}, warnings, INT32_MIN})
    out += "warning " + std::to_string(k) + ": " + show(text(api.warning(doc, k))) + "\n";
  return out;
}

// Reads everything but the JSON, which the caller asks for when it wants it
// (the document renders it on first use).
inline Result read(const Api &api, const SubDoc *doc, int32_t rc) {
  Result r;
  r.rc = rc;
  r.format = api.format(doc);
  const int32_t n = api.cue_count(doc);
  r.cues.reserve(n > 0 ? static_cast<size_t>(n) : 0);
  for (int32_t i = 0; i < n; ++i) {
    Cue c;
    c.start = api.start_ms(doc, i);
    c.end = api.end_ms(doc, i);
    c.danmu = api.is_danmu(doc, i);
    c.mode = api.danmu_mode(doc, i);
    c.color = api.danmu_color(doc, i);
    c.fontsize = api.danmu_fontsize(doc, i);
    const int32_t lines = api.line_count(doc, i);
    for (int32_t k = 0; k < lines; ++k) c.lines.push_back(text(api.line(doc, i, k)));
    r.cues.push_back(std::move(c));
  }
  r.error = text(api.error(doc));
  const int32_t warnings = api.warning_count(doc);
  for (int32_t k = 0; k < warnings; ++k) r.warnings.push_back(text(api.warning(doc, k)));
  r.out_of_range = out_of_range_answers(api, doc);
  return r;
}

// Reads everything, the JSON included.
inline Result read_all(const Api &api, SubDoc *doc, int32_t rc) {
  Result r = read(api, doc, rc);
  r.json_read = true;
  r.json = text(api.json(doc));
  return r;
}

// The first difference between two results, or "" when there is none. The
// JSON counts when both results asked for it.
inline std::string difference(const Result &a, const Result &b) {
  if (a.rc != b.rc) return "code " + std::to_string(a.rc) + " vs " + std::to_string(b.rc);
  if (a.format != b.format)
    return "format " + std::to_string(a.format) + " vs " + std::to_string(b.format);
  if (a.error != b.error) return "error " + show(a.error) + " vs " + show(b.error);
  if (a.cues.size() != b.cues.size())
    return "cue count " + std::to_string(a.cues.size()) + " vs " + std::to_string(b.cues.size());
  for (size_t i = 0; i < a.cues.size(); ++i) {
    if (!(a.cues[i] == b.cues[i]))
      return "cue " + std::to_string(i) + ": " + show(a.cues[i]) + " vs " + show(b.cues[i]);
  }
  if (a.warnings.size() != b.warnings.size()) {
    return "warning count " + std::to_string(a.warnings.size()) + " vs " +
           std::to_string(b.warnings.size());
  }
  for (size_t k = 0; k < a.warnings.size(); ++k) {
    if (a.warnings[k] != b.warnings[k])
      return "warning " + std::to_string(k) + ": " + show(a.warnings[k]) + " vs " +
             show(b.warnings[k]);
  }
  if (a.out_of_range != b.out_of_range)
    return "answers out of range:\n" + a.out_of_range + "vs\n" + b.out_of_range;
  if (a.json_read && b.json_read && a.json != b.json) {
    const auto head = [](const Text &json) {
      return json ? std::to_string(json->size()) + " bytes: " + json->substr(0, 200) : "NULL";
    };
    return "JSON " + head(a.json) + " vs " + head(b.json);
  }
  return "";
}

// sub_doc_parse with a format and an encoding, as sub_parse takes them, and
// the classic reading, which sub_parse follows.
inline int32_t parse_doc(const void *data, size_t size, int32_t format, const char *encoding,
                         SubDoc **out) {
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.format = format;
  options.encoding = encoding;
  options.reading = SUB_READING_CLASSIC;
  return sub_doc_parse(data, size, &options, out);
}

// Parses the input with both APIs and returns the first thing that differs,
// or that one of them left behind; "" when they agree. The document is parsed
// while the classic result is alive and that result is read again afterwards,
// so a document that touches the process-wide result shows up too. Clears the
// classic result.
inline std::string compare(const void *data, size_t size, int32_t format, const char *encoding) {
  sub_clear();
  const int64_t live_before = sub_alloc_live();
  const int32_t classic_rc = sub_parse(data, size, format, encoding);
  const Result classic = read_all(kClassic, nullptr, classic_rc);
  const int64_t live_classic = sub_alloc_live();

  SubDoc *doc = nullptr;
  const int32_t doc_rc = parse_doc(data, size, format, encoding, &doc);
  std::string diff;
  if (!doc) {
    diff = "sub_doc_parse stored no document (code " + std::to_string(doc_rc) + ")";
  } else {
    const Result document = read_all(kDocument, doc, doc_rc);
    diff = difference(classic, document);
    if (diff.empty() && sub_doc_json(doc) != sub_doc_json(doc))
      diff = "sub_doc_json rendered again instead of keeping its text";
    if (diff.empty() && !sub_doc_encoding(doc)) diff = "sub_doc_encoding gave NULL";
  }
  if (diff.empty()) {
    const std::string changed = difference(classic, read_all(kClassic, nullptr, classic_rc));
    if (!changed.empty()) diff = "the classic result changed after sub_doc_parse: " + changed;
  }
  sub_doc_free(doc);
  if (diff.empty() && sub_alloc_live() != live_classic) {
    diff = std::to_string(sub_alloc_live() - live_classic) +
           " blocks left allocated after sub_doc_free";
  }
  sub_clear();
  if (diff.empty() && sub_alloc_live() != live_before) {
    diff =
        std::to_string(sub_alloc_live() - live_before) + " blocks left allocated after sub_clear";
  }
  if (!diff.empty()) {
    diff = "format " + std::to_string(format) + ", encoding " + show(text(encoding)) + ": " + diff;
  }
  return diff;
}

// compare() over a fuzz input: two selector bytes, then the file.
inline std::string compare_fuzz_input(const uint8_t *data, size_t size) {
  if (size < 2) return "";
  const int32_t format = kFormats[data[0] % (sizeof kFormats / sizeof *kFormats)];
  const char *encoding = kEncodings[data[1] % (sizeof kEncodings / sizeof *kEncodings)];
  return compare(size > 2 ? data + 2 : nullptr, size - 2, format, encoding);
}

// A small file the tests can rely on: what it is, its bytes, the format it is
// written in and the cues it must give.
struct Sample {
  const char *name;
  std::string bytes;
  int32_t format;
  int32_t cues;
};

// Two or more cues of every format, with markup, danmaku fields, a skipped
// entry or a warning where the format has them, and the decoder's paths: a
// byte-order mark, UTF-16, CP1252 taken for invalid UTF-8.
inline const std::vector<Sample> &samples() {
  using namespace std::string_literals;
  static const std::vector<Sample> all = {
      {"srt",
       "1\r\n00:00:01,000 --> 00:00:02,500\r\n<i>first</i> line\r\nsecond line\r\n\r\n"
       "2\r\n00:00:03,000 --> 00:00:04,000\r\nthird &amp; last\r\n",
       SUB_FMT_SRT, 2},
      {"vtt",
       "WEBVTT\n\nNOTE a comment\n\nid-1\n00:01.000 --> 00:02.000 align:start\n<v Ann>hi</v>\n\n"
       "00:00:03.000 --> 00:00:04.500\nthere\nagain\n",
       SUB_FMT_VTT, 2},
      {"ass",
       "[Script Info]\nScriptType: v4.00+\n\n[Events]\n"
       "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
       "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\i1}hi{\\i0}\\Nthere\n"
       "Dialogue: 0,0:00:03.00,0:00:04.00,Default,,0,0,0,,second, with comma\n",
       SUB_FMT_ASS, 2},
      {"microdvd", "{1}{1}25\n{25}{50}hi|there\n{75}{100}{y:i}second\n", SUB_FMT_MICRODVD, 2},
      {"subviewer",
       "[INFORMATION]\n[TITLE]x\n[END INFORMATION]\n[SUBTITLE]\n"
       "00:00:01.00,00:00:02.00\nhi[br]there\n\n00:00:03.00,00:00:04.00\nsecond\n",
       SUB_FMT_SUBVIEWER, 2},
      {"ttml",
       "<?xml version=\"1.0\"?>\n<tt xmlns=\"http://www.w3.org/ns/ttml\" "
       "xmlns:ttp=\"http://www.w3.org/ns/ttml#parameter\" ttp:timeBase=\"media\">"
       "<body><div><p begin=\"1s\" end=\"2s\">hi<br/>there</p>"
       "<p begin=\"00:00:03.000\" dur=\"1s\"><span>second</span></p>"
       "<p begin=\"50f\" end=\"100f\">frames</p></div></body></tt>",
       SUB_FMT_TTML, 3},
      {"ytxml",
       "<?xml version=\"1.0\" encoding=\"utf-8\" ?><transcript>"
       "<text start=\"1\" dur=\"1.5\">hi &amp;amp; there</text>"
       "<text start=\"3\" dur=\"1\">second</text></transcript>",
       SUB_FMT_YTXML, 2},
      {"lrc", "[ti:x]\n[ar:y]\n[offset:+100]\n[00:01.00]hi\n[00:03.50][00:05.00]twice\n",
       SUB_FMT_LRC, 3},
      {"sami",
       "<SAMI><HEAD><STYLE TYPE=\"text/css\"><!-- .ENCC {Name: English; lang: en-US;} --></STYLE>"
       "</HEAD><BODY><SYNC Start=1000><P Class=ENCC>hi<br>there"
       "<SYNC Start=2000><P Class=ENCC>&nbsp;<SYNC Start=3000><P Class=ENCC>second"
       "<SYNC Start=4000><P Class=ENCC>&nbsp;</BODY></SAMI>",
       SUB_FMT_SAMI, 2},
      {"bilibili",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i><chatserver>x</chatserver>"
       "<d p=\"1.5,1,25,16777215,0,0,0,0\">hi</d><d p=\"2,5,18.5,255,0,0,0,0\">top</d>"
       "<d p=\"3,4,36,65280,0,0,0,0\">bottom</d></i>",
       SUB_FMT_BILIBILI, 3},
      {"acfun",
       "[{\"c\":\"1.5,16777215,1,25,0,0\",\"m\":\"hi\"},{\"c\":\"2,255,5,18,0,0\",\"m\":\"top\"}]",
       SUB_FMT_ACFUN, 2},
      {"srt as UTF-16LE",
       "\xFF\xFE"
       "1\0\n\0"
       "0\0000\0:\0000\0000\0:\0000\0001\0,\0000\0000\0000\0 \0-\0-\0>\0 \0"
       "0\0000\0:\0000\0000\0:\0000\0002\0,\0000\0000\0000\0\n\0"
       "h\0\xE9\0\n\0\n\0"
       "2\0\n\0"
       "0\0000\0:\0000\0000\0:\0000\0003\0,\0000\0000\0000\0 \0-\0-\0>\0 \0"
       "0\0000\0:\0000\0000\0:\0000\0004\0,\0000\0000\0000\0\n\0"
       "\x57\x5B\x55\x5E\n\0"s,
       SUB_FMT_SRT, 2},
      {"srt in CP1252",
       "1\n00:00:01,000 --> 00:00:02,000\ncaf\xE9 \x93quoted\x94\n\n"
       "2\n00:00:03,000 --> 00:00:04,000\nna\xEFve \x80 5\n\n"
       "3\n00:00:05,000 --> 00:00:06,000\n\xE0 la carte\n\n"
       "4\n00:00:07,000 --> 00:00:08,000\nd\xE9j\xE0 vu\n\n"
       "5\n00:00:09,000 --> 00:00:10,000\nr\xE9sum\xE9\n\n"
       "6\n00:00:11,000 --> 00:00:12,000\nfa\xE7"
       "ade\n",
       SUB_FMT_SRT, 6},
  };
  return all;
}

}  // namespace docdiff

#endif
