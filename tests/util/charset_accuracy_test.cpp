// How often the encoding "auto" finds what a subtitle file was written in.
//
// The set: dialogue in 21 languages (tests/data/charset, UTF-8), written at
// run time in every legacy encoding used for the language as SRT and LRC
// files of about 300 bytes, 2 KiB and 20 KiB, plus the files of the shared
// corpus that are not UTF-8. A file is right when every cue line equals the
// line of the same parse of its UTF-8 original; two encodings that write the
// text with the same bytes are both right, as the text is then identical.
//
// The run prints a confusion table (true encoding and size against the name
// sub_doc_encoding reports) and every miss, then holds the library to 99% of
// the files of 2 KiB and more and 95% of the 300-byte files.
#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const fs::path kTexts = SUBPARSE_SOURCE_DIR "/tests/data/charset";
const fs::path kCorpus = SUBPARSE_SOURCE_DIR "/../shared/corpus";

// ---------------------------------------------------------------------------
// iconv, strictly

// `in` converted from `from` to `to`; nullopt when a sequence is invalid or a
// character has no place in `to` (no transliteration, nothing skipped).
std::optional<std::string> convert(std::string_view in, const char *from, const char *to) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  // One input byte gives at most four output bytes for every pair used here.
  std::string out(in.size() * 4 + 16, '\0');
  char *src = const_cast<char *>(in.data());
  size_t src_left = in.size();
  char *dst = out.data();
  size_t dst_left = out.size();
  const bool ok = iconv(cd, &src, &src_left, &dst, &dst_left) == 0 &&
                  iconv(cd, nullptr, nullptr, &dst, &dst_left) == 0;
  iconv_close(cd);
  if (!ok) return std::nullopt;
  out.resize(out.size() - dst_left);
  return out;
}

// ---------------------------------------------------------------------------
// The sample texts

struct Language {
  const char *code;  // file name under tests/data/charset, without ".txt"
  const char *name;
  std::vector<const char *> encodings;  // iconv names, as the library reports them
};

// ISO-8859-15 is left out for the Western languages: without the euro sign
// and œ their texts are the same bytes in it as in ISO-8859-1.
const std::vector<Language> kLanguages = {
    {"zh-Hans", "Simplified Chinese", {"GB18030", "GBK"}},
    {"zh-Hant", "Traditional Chinese", {"BIG5", "CP950"}},
    {"ja", "Japanese", {"SHIFT_JIS", "CP932", "EUC-JP"}},
    {"ko", "Korean", {"EUC-KR", "CP949"}},
    {"ru", "Russian", {"CP1251", "KOI8-R", "ISO-8859-5"}},
    {"uk", "Ukrainian", {"CP1251", "KOI8-U"}},
    {"bg", "Bulgarian", {"CP1251"}},
    {"pl", "Polish", {"CP1250", "ISO-8859-2"}},
    {"cs", "Czech", {"CP1250", "ISO-8859-2"}},
    {"hu", "Hungarian", {"CP1250", "ISO-8859-2"}},
    {"ro", "Romanian", {"CP1250", "ISO-8859-2"}},
    {"el", "Greek", {"CP1253", "ISO-8859-7"}},
    {"tr", "Turkish", {"CP1254", "ISO-8859-9"}},
    {"he", "Hebrew", {"CP1255", "ISO-8859-8"}},
    {"ar", "Arabic", {"CP1256"}},
    {"th", "Thai", {"TIS-620", "CP874"}},
    {"vi", "Vietnamese", {"CP1258"}},
    {"fr", "French", {"CP1252", "ISO-8859-1"}},
    {"de", "German", {"CP1252", "ISO-8859-1"}},
    {"es", "Spanish", {"CP1252", "ISO-8859-1"}},
    {"pt", "Portuguese", {"CP1252", "ISO-8859-1"}},
    // Typographic quotes, dashes, the ellipsis, € and œ: the bytes 0x80-0x9F
    // that only CP1252 gives letters and punctuation.
    {"fr-typo", "French, typographic", {"CP1252"}},
};

using Cue = std::vector<std::string>;  // the lines of one cue

// The cues of a sample text: its lines, a blank line between cues.
std::vector<Cue> read_cues(const fs::path &path) {
  std::vector<Cue> cues(1);
  std::istringstream in(subtest::read_file(path.string()));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      if (!cues.back().empty()) cues.emplace_back();
    } else {
      cues.back().push_back(line);
    }
  }
  if (cues.back().empty()) cues.pop_back();
  return cues;
}

size_t characters(const std::vector<Cue> &cues) {
  size_t n = 0;
  for (const Cue &cue : cues)
    for (const std::string &line : cue)
      n += std::count_if(line.begin(), line.end(), [](char c) { return (c & 0xC0) != 0x80; });
  return n;
}

// ---------------------------------------------------------------------------
// The files

struct SizeClass {
  const char *label;
  size_t bytes;  // the file holds as many whole cues as fit, at least one
};
const SizeClass kSizes[] = {{"300B", 300}, {"2KiB", 2048}, {"20KiB", 20480}};
const int32_t kFormats[] = {SUB_FMT_SRT, SUB_FMT_LRC};

std::string two_digits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

std::string srt_time(int ms) {
  return two_digits(ms / 3600000) + ':' + two_digits(ms / 60000 % 60) + ':' +
         two_digits(ms / 1000 % 60) + ',' + std::to_string(1000 + ms % 1000).substr(1);
}

std::string lrc_time(int ms) {
  return '[' + two_digits(ms / 60000) + ':' + two_digits(ms / 1000 % 60) + '.' +
         two_digits(ms / 10 % 100) + ']';
}

// Cue `index` holding `lines` (already in the file's encoding): an SRT block
// with CRLF line ends, or one timed LRC line per text line.
std::string block(int32_t format, size_t index, const Cue &lines) {
  const int start = 1000 + static_cast<int>(index) * 3000;
  std::string out;
  if (format == SUB_FMT_SRT) {
    out = std::to_string(index + 1) + "\r\n" + srt_time(start) + " --> " + srt_time(start + 2500) +
          "\r\n";
    for (const std::string &line : lines) out += line + "\r\n";
    out += "\r\n";
  } else {
    for (size_t j = 0; j < lines.size(); ++j)
      out += lrc_time(start + static_cast<int>(j) * 1400) + lines[j] + "\n";
  }
  return out;
}

// One file in two encodings: the same cues, the same framing.
struct FilePair {
  std::string legacy;
  std::string utf8;
};

// The cues repeated in order until the legacy file holds `size` bytes.
FilePair make_file(const std::vector<Cue> &utf8, const std::vector<Cue> &legacy, int32_t format,
                   size_t size) {
  FilePair file;
  for (size_t k = 0;; ++k) {
    const std::string next = block(format, k, legacy[k % legacy.size()]);
    if (k > 0 && file.legacy.size() + next.size() > size) break;
    file.legacy += next;
    file.utf8 += block(format, k, utf8[k % utf8.size()]);
  }
  return file;
}

// ---------------------------------------------------------------------------
// Parsing

struct Outcome {
  int rc = -1;
  std::string encoding;  // sub_doc_encoding
  std::string error;
  std::vector<Cue> cues;
  std::vector<std::string> warnings;
};

Outcome parse(const std::string &bytes, int32_t format, const char *encoding) {
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.format = format;
  options.encoding = encoding;
  SubDoc *doc = nullptr;
  Outcome got;
  got.rc = sub_doc_parse(bytes.data(), bytes.size(), &options, &doc);
  if (!doc) return got;
  got.encoding = sub_doc_encoding(doc);
  got.error = sub_doc_error(doc);
  for (int32_t i = 0; i < sub_doc_cue_count(doc); ++i) {
    Cue cue;
    for (int32_t k = 0; k < sub_doc_cue_line_count(doc, i); ++k) {
      const char *line = sub_doc_cue_line(doc, i, k);
      cue.emplace_back(line ? line : "<null>");
    }
    got.cues.push_back(std::move(cue));
  }
  for (int32_t i = 0; i < sub_doc_warning_count(doc); ++i) {
    const char *w = sub_doc_warning(doc, i);
    got.warnings.emplace_back(w ? w : "<null>");
  }
  sub_doc_free(doc);
  return got;
}

// "auto" in any case; the spellings take turns over the files.
const char *const kAuto[] = {"auto", "AUTO", "Auto"};

// ---------------------------------------------------------------------------
// The measure

struct Trial {
  std::string language;  // or the corpus file's name
  std::string truth;     // the encoding the file was written in
  std::string size;      // a size class label, or "corpus"
  int32_t format;
  size_t bytes;
  Outcome want;  // the UTF-8 original's parse
  Outcome got;   // the "auto" parse
  bool right() const { return got.rc == SUB_OK && want.rc == SUB_OK && got.cues == want.cues; }
  bool large() const { return bytes >= 2048; }
};

Trial run_trial(std::string language, std::string truth, std::string size, int32_t format,
                const std::string &legacy, const std::string &utf8, size_t serial) {
  Trial t{std::move(language), std::move(truth), std::move(size), format, legacy.size(), {}, {}};
  t.want = parse(utf8, format, "UTF-8");
  t.got = parse(legacy, format, kAuto[serial % std::size(kAuto)]);
  return t;
}

// The non-UTF-8 files of the shared corpus, in the encodings its notes give.
struct CorpusFile {
  const char *path;
  int32_t format;
  const char *iconv_name;  // to convert it to UTF-8
  const char *truth;       // the name the library should report
};
const CorpusFile kCorpusFiles[] = {
    {"ass/subparser__SubtitlesFiles_HP2.ssa", SUB_FMT_ASS, "CP1252", "CP1252"},
    {"lrc/lyricparser__chengquan-liu_ruoying.gbk.lrc", SUB_FMT_LRC, "GBK", "GBK"},
    {"microdvd/subparser__SubtitlesFiles_20140115-194321_invalidSub.sub", SUB_FMT_MICRODVD,
     "CP1252", "CP1252"},
    {"microdvd/subparser__SubtitlesFiles_20140116-122022_invalidSub.sub", SUB_FMT_MICRODVD,
     "CP1252", "CP1252"},
    {"microdvd/subparser__SubtitlesFiles_20140118-184856_invalidSub.sub", SUB_FMT_MICRODVD,
     "CP1250", "CP1250"},
    {"microdvd/subparser__SubtitlesFiles_Pirates_of_Caraibean_CD1.sub", SUB_FMT_MICRODVD, "CP1252",
     "CP1252"},
    {"srt/gnomesubs__CC_Mayer_and_Bettle_Animation.878ce29.srt", SUB_FMT_SRT, "CP1252", "CP1252"},
    {"srt/pysrt__windows-1252.srt", SUB_FMT_SRT, "CP1252", "CP1252"},
    {"srt/subparser__SubtitlesFiles_20140115-204541_invalidSub.srt", SUB_FMT_SRT, "CP1252",
     "CP1252"},
    {"srt/subparser__TestFiles_4989_ES.srt", SUB_FMT_SRT, "CP1252", "CP1252"},
    {"srt/subparser__TestFiles_Children.of.Men.2006.DVD5.720p.HDDVD.x264-REVEiLLE.srt", SUB_FMT_SRT,
     "CP1252", "CP1252"},
    {"srt/subparser__TestFiles_Wiedzmin.s01e01.DVDRip.DreamLair.srt", SUB_FMT_SRT, "CP1250",
     "CP1250"},
    {"subviewer/subparser__SubtitlesFiles_20140119-151331_invalidSub.sub", SUB_FMT_SUBVIEWER,
     "CP1252", "CP1252"},
    {"ass/exo__ssa_typical_utf16le.ass", SUB_FMT_ASS, "UTF-16", "UTF-16LE"},
    {"srt/astisub__example-in-non-utf8.srt", SUB_FMT_SRT, "UTF-16", "UTF-16LE"},
    {"srt/exo__subrip_typical_utf16le.srt", SUB_FMT_SRT, "UTF-16", "UTF-16LE"},
    {"vtt/astisub__example-in-non-utf8.vtt", SUB_FMT_VTT, "UTF-16", "UTF-16LE"},
    {"srt/pysrt__bom-utf-32-be.srt", SUB_FMT_SRT, "UTF-32", "UTF-32BE"},
    {"srt/pysrt__bom-utf-32-le.srt", SUB_FMT_SRT, "UTF-32", "UTF-32LE"},
};

struct Measure {
  std::vector<Trial> trials;
  std::vector<std::string> notes;     // corpus files left out, and why
  std::vector<std::string> problems;  // faults of the sample texts themselves
};

const Measure &measure() {
  static const Measure all = [] {
    Measure m;
    size_t serial = 0;
    for (const Language &lang : kLanguages) {
      const std::vector<Cue> utf8 = read_cues(kTexts / (std::string(lang.code) + ".txt"));
      if (utf8.empty()) {
        m.problems.push_back(std::string(lang.code) + ".txt: missing or empty");
        continue;
      }
      for (const char *encoding : lang.encodings) {
        // Each line in the legacy encoding; it must come back unchanged.
        std::vector<Cue> legacy;
        bool round_trips = true;
        for (const Cue &cue : utf8) {
          Cue out;
          for (const std::string &line : cue) {
            const auto there = convert(line, "UTF-8", encoding);
            const auto back = there ? convert(*there, encoding, "UTF-8") : std::nullopt;
            if (!back || *back != line) {
              m.problems.push_back(std::string(lang.code) + ".txt: not exactly in " + encoding +
                                   ": " + line);
              round_trips = false;
            }
            out.push_back(there.value_or(""));
          }
          legacy.push_back(std::move(out));
        }
        if (!round_trips) continue;
        for (const SizeClass &size : kSizes)
          for (int32_t format : kFormats) {
            const FilePair file = make_file(utf8, legacy, format, size.bytes);
            m.trials.push_back(run_trial(lang.name, encoding, size.label, format, file.legacy,
                                         file.utf8, serial++));
          }
      }
    }
    for (const CorpusFile &cf : kCorpusFiles) {
      const fs::path path = kCorpus / cf.path;
      const std::string bytes = subtest::read_file(path.string());
      if (bytes.empty()) {
        m.notes.push_back(std::string(cf.path) + ": absent, skipped");
        continue;
      }
      const auto utf8 = convert(bytes, cf.iconv_name, "UTF-8");
      if (!utf8) {
        m.notes.push_back(std::string(cf.path) + ": not " + cf.iconv_name + ", skipped");
        continue;
      }
      Trial t = run_trial(path.filename().string(), cf.truth, "corpus", cf.format, bytes, *utf8,
                          serial++);
      if (t.want.rc != SUB_OK) {
        m.notes.push_back(std::string(cf.path) + ": its UTF-8 text does not parse (rc " +
                          std::to_string(t.want.rc) + "), skipped");
        continue;
      }
      m.trials.push_back(std::move(t));
    }
    return m;
  }();
  return all;
}

// ---------------------------------------------------------------------------
// The report

std::string chosen(const Outcome &got) {
  if (got.rc == SUB_OK) return got.encoding.empty() ? "(none)" : got.encoding;
  return "(rc " + std::to_string(got.rc) + ": " + got.error + ")";
}

// The first cue line that differs, for a miss.
std::string first_difference(const Trial &t) {
  const size_t n = std::min(t.want.cues.size(), t.got.cues.size());
  for (size_t i = 0; i < n; ++i)
    if (t.want.cues[i] != t.got.cues[i]) {
      const auto join = [](const Cue &cue) {
        std::string s;
        for (const std::string &line : cue) s += (s.empty() ? "" : " | ") + line;
        return s.size() > 90 ? s.substr(0, 90) + "..." : s;
      };
      return "cue " + std::to_string(i) + ": want \"" + join(t.want.cues[i]) + "\" got \"" +
             join(t.got.cues[i]) + "\"";
    }
  if (t.want.cues.size() != t.got.cues.size())
    return std::to_string(t.got.cues.size()) + " cues, want " + std::to_string(t.want.cues.size());
  return "";
}

std::string encoding_warnings(const Outcome &got) {
  std::string s;
  for (const std::string &w : got.warnings)
    if (w.rfind("encoding:", 0) == 0) s += (s.empty() ? "" : "; ") + w;
  return s;
}

struct Score {
  int files = 0;
  int right = 0;
  double percent() const { return files ? 100.0 * right / files : 100.0; }
  std::string show() const {
    std::ostringstream s;
    s << right << '/' << files << " (" << std::fixed << std::setprecision(1) << percent() << "%)";
    return s.str();
  }
};

void print_report(const Measure &m, Score *small, Score *large) {
  // The confusion table, one row per true encoding and size, in the order met.
  std::vector<std::pair<std::string, std::string>> rows;
  std::map<std::pair<std::string, std::string>, std::map<std::string, int>> reported;
  std::map<std::pair<std::string, std::string>, Score> per_row;
  std::map<std::string, Score> per_size;
  for (const Trial &t : m.trials) {
    const auto key = std::make_pair(t.truth, t.size);
    if (!per_row.count(key)) rows.push_back(key);
    ++reported[key][t.got.rc == SUB_OK ? t.got.encoding : "(failed)"];
    Score &row = per_row[key];
    Score &size =
        per_size[t.size == "corpus" ? (t.large() ? "corpus >= 2KiB" : "corpus < 2KiB") : t.size];
    Score &target = t.size == "300B" || (t.size == "corpus" && !t.large()) ? *small : *large;
    for (Score *s : {&row, &size, &target}) {
      ++s->files;
      s->right += t.right();
    }
  }
  std::sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) {
    const auto rank = [](const std::string &size) {
      for (size_t i = 0; i < std::size(kSizes); ++i)
        if (size == kSizes[i].label) return i;
      return std::size(kSizes);
    };
    return std::make_pair(rank(a.second), a.first) < std::make_pair(rank(b.second), b.first);
  });

  std::ostringstream out;
  out << "\n=== encoding \"auto\": confusion table (true encoding, size -> reported: files) ===\n";
  out << std::left << std::setw(12) << "true" << std::setw(8) << "size" << std::setw(9) << "right"
      << "reported\n";
  for (const auto &key : rows) {
    out << std::left << std::setw(12) << key.first << std::setw(8) << key.second << std::setw(9)
        << (std::to_string(per_row[key].right) + "/" + std::to_string(per_row[key].files));
    for (const auto &[name, count] : reported[key]) out << ' ' << name << ':' << count;
    out << '\n';
  }
  out << "\n=== misses (language, true encoding, size, format, bytes -> chosen) ===\n";
  int misses = 0;
  for (const Trial &t : m.trials) {
    if (t.right()) continue;
    ++misses;
    out << t.language << ", " << t.truth << ", " << t.size << ", " << sub_format_name(t.format)
        << ", " << t.bytes << " bytes -> " << chosen(t.got) << "\n    " << first_difference(t);
    const std::string w = encoding_warnings(t.got);
    if (!w.empty()) out << "\n    warnings: " << w;
    out << '\n';
  }
  if (!misses) out << "(none)\n";
  for (const std::string &note : m.notes) out << "note: corpus " << note << '\n';
  if (std::none_of(m.trials.begin(), m.trials.end(),
                   [](const Trial &t) { return t.size == "corpus"; }))
    out << "note: no shared corpus file measured (" << kCorpus.string() << " absent?)\n";
  out << "\n=== accuracy ===\n";
  for (const auto &[size, score] : per_size) out << std::setw(16) << size << score.show() << '\n';
  out << "300-byte files (and corpus files under 2 KiB): " << small->show() << ", target 95%\n";
  out << "files of 2 KiB and more: " << large->show() << ", target 99%\n";
  std::cout << out.str() << std::flush;
}

// ---------------------------------------------------------------------------
// The tests

// The sample texts are dialogue of a few hundred characters, each exactly
// representable in every encoding it is written in.
TEST(CharsetSamples, EveryTextRoundTripsThroughItsEncodings) {
  for (const Language &lang : kLanguages) {
    SCOPED_TRACE(lang.code);
    const std::vector<Cue> cues = read_cues(kTexts / (std::string(lang.code) + ".txt"));
    EXPECT_GE(cues.size(), 7u);
    EXPECT_GE(characters(cues), 200u);
    for (const Cue &cue : cues) {
      EXPECT_LE(cue.size(), 2u);
      for (const std::string &line : cue) EXPECT_LE(characters({{line}}), 60u) << line;
    }
  }
  for (const std::string &problem : measure().problems) ADD_FAILURE() << problem;
}

// The files are what they claim: the sizes, and the legacy bytes that are the
// UTF-8 original converted.
TEST(CharsetSamples, FilesHaveTheirSizeAndEncoding) {
  const std::vector<Cue> utf8 = read_cues(kTexts / "ru.txt");
  std::vector<Cue> koi8;
  for (const Cue &cue : utf8) {
    Cue out;
    for (const std::string &line : cue) out.push_back(convert(line, "UTF-8", "KOI8-R").value());
    koi8.push_back(out);
  }
  for (const SizeClass &size : kSizes)
    for (int32_t format : kFormats) {
      SCOPED_TRACE(std::string(size.label) + " " + sub_format_name(format));
      const FilePair file = make_file(utf8, koi8, format, size.bytes);
      EXPECT_LE(file.legacy.size(), size.bytes);
      EXPECT_GT(file.legacy.size(), size.bytes * 3 / 4);
      EXPECT_EQ(convert(file.legacy, "KOI8-R", "UTF-8"), file.utf8);
      const Outcome named = parse(file.legacy, format, "KOI8-R");
      const Outcome original = parse(file.utf8, format, "UTF-8");
      EXPECT_EQ(named.rc, SUB_OK);
      EXPECT_GE(original.cues.size(), 3u);
      EXPECT_EQ(named.cues, original.cues);
    }
}

// The measure itself: every file parsed with "auto" against its original.
TEST(CharsetAccuracy, AutoDecodesLegacyFilesToTheirText) {
  const Measure &m = measure();
  ASSERT_FALSE(m.trials.empty());
  Score small, large;
  print_report(m, &small, &large);
  EXPECT_GE(small.percent(), 95.0) << "300-byte files: " << small.show();
  EXPECT_GE(large.percent(), 99.0) << "files of 2 KiB and more: " << large.show();
}

// A guess is named by the warning "encoding: detected NAME", and NAME is the
// encoding the document reports.
TEST(CharsetAccuracy, DetectedWarningNamesTheReportedEncoding) {
  const std::string prefix = "encoding: detected ";
  for (const Trial &t : measure().trials) {
    if (t.got.rc != SUB_OK) continue;
    for (const std::string &w : t.got.warnings) {
      if (w.rfind(prefix, 0) == 0) {
        EXPECT_EQ(w.substr(prefix.size()), t.got.encoding)
            << t.language << ", " << t.truth << ", " << t.size << ", " << sub_format_name(t.format);
      }
    }
  }
}

// UTF-16 and UTF-32 without a byte-order mark are found by their zero bytes,
// whatever the language.
TEST(CharsetAccuracy, UnicodeWithoutByteOrderMark) {
  const char *const kUnicode[] = {"UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE"};
  size_t serial = 0;
  for (const Language &lang : kLanguages) {
    const std::vector<Cue> utf8 = read_cues(kTexts / (std::string(lang.code) + ".txt"));
    if (utf8.empty()) continue;
    for (const char *encoding : kUnicode) {
      // The framing is ASCII: convert the whole UTF-8 file.
      const FilePair file = make_file(utf8, utf8, SUB_FMT_SRT, 2048);
      const std::string bytes = convert(file.utf8, "UTF-8", encoding).value();
      const Trial t =
          run_trial(lang.name, encoding, "2KiB", SUB_FMT_SRT, bytes, file.utf8, serial++);
      EXPECT_TRUE(t.right() && t.got.encoding == encoding)
          << lang.name << " in " << encoding << " -> " << chosen(t.got) << "; "
          << first_difference(t);
    }
  }
}

}  // namespace
