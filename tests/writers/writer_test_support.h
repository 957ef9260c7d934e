// What the writer tests share: owning a document, reading a test's input,
// writing a document to a string, the cues a written text reads back as,
// and a write with each of its allocations failing in turn.
#ifndef SUBPARSE_WRITER_TEST_SUPPORT_H
#define SUBPARSE_WRITER_TEST_SUPPORT_H

#include <cstdint>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "roundtrip.h"
#include "test_support.h"

namespace writertest {

// Owns a document and frees it with sub_doc_free.
using roundtrip::DocPtr;

// How a test reads its input.
struct Read {
  const char *format = "auto";             // any name sub_format_id knows
  const char *encoding = nullptr;          // null: the default ("auto")
  int32_t reading = SUB_READING_STANDARD;  // SUB_READING_*
  int64_t shift = 0;                       // sub_doc_shift() after the parse
};

// The document sub_doc_parse() makes of `text` as `how` says, shifted. A
// failed parse still gives a document, without cues (written as an empty
// track); null only when none could be made. `rc`, when given, receives the
// parse's result.
inline DocPtr parse(std::string_view text, const Read &how = {}, int32_t *rc = nullptr) {
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.format = sub_format_id(how.format);
  if (how.encoding) options.encoding = how.encoding;
  options.reading = how.reading;
  SubDoc *doc = nullptr;
  const int32_t got = sub_doc_parse(text.data(), text.size(), &options, &doc);
  if (rc) *rc = got;
  if (doc && how.shift) {
    EXPECT_EQ(sub_doc_shift(doc, how.shift), SUB_OK);
  }
  return DocPtr(doc);
}

// parse() of an input that must read: a failed parse fails the test.
inline DocPtr parse_ok(std::string_view text, const Read &how = {}) {
  int32_t rc = SUB_OK;
  DocPtr doc = parse(text, how, &rc);
  EXPECT_EQ(rc, SUB_OK) << text;
  return doc;
}

// An SRT cue numbered 1 with the timing line `timing`.
inline std::string srt_cue(std::string_view timing, std::string_view text) {
  return "1\n" + std::string(timing) + "\n" + std::string(text) + "\n\n";
}

// A YouTube timed-text file of one cue from 1 s to 2 s: its text (with
// references decoded) may hold any byte but NUL, line breaks included.
inline std::string yt_cue(std::string_view text) {
  return "<transcript><text start=\"1\" dur=\"1\">" + std::string(text) + "</text></transcript>";
}

// The text sub_doc_write() gives for `doc` in `format`, or "<rc N>" when it
// fails; the length it reports must be the text's.
inline std::string write(SubDoc *doc, int32_t format, const SubWriteOptions *options = nullptr) {
  char *out = nullptr;
  size_t len = 0;
  const int32_t rc = sub_doc_write(doc, format, options, &out, &len);
  if (rc != SUB_OK) return "<rc " + std::to_string(rc) + ">";
  std::string text(out, len);
  EXPECT_EQ(std::strlen(out), len);
  sub_text_free(out);
  return text;
}

// write() with the string option `member` set to `value` (null: left at its
// default).
inline std::string write_with(SubDoc *doc, int32_t format, const char *SubWriteOptions::*member,
                              const char *value) {
  SubWriteOptions options;
  sub_write_options_init(&options);
  if (value) options.*member = value;
  return write(doc, format, &options);
}

// A cue as a read-back check compares it: its times, its lines and its
// identifier ("" for none).
struct Cue {
  int32_t start;
  int32_t end;
  std::vector<std::string> lines;
  std::string id;
  bool operator==(const Cue &) const = default;
};

inline std::ostream &operator<<(std::ostream &os, const Cue &c) {
  os << c.start << " --> " << c.end;
  if (!c.id.empty()) os << " id '" << c.id << "'";
  for (const std::string &l : c.lines) os << " | " << l;
  return os;
}

// The cues of `doc` as its accessors give them.
inline std::vector<Cue> cues_of(const SubDoc *doc) {
  std::vector<Cue> cues;
  for (int32_t i = 0; i < sub_doc_cue_count(doc); ++i) {
    const char *id = sub_doc_cue_id(doc, i);
    Cue c{sub_doc_cue_start_ms(doc, i), sub_doc_cue_end_ms(doc, i), {}, id ? id : ""};
    for (int32_t l = 0; l < sub_doc_cue_line_count(doc, i); ++l)
      c.lines.emplace_back(sub_doc_cue_line(doc, i, l));
    cues.push_back(std::move(c));
  }
  return cues;
}

// The cues sub_doc_parse() reads from `text` as `format` (SUB_FMT_AUTO:
// detected). The parse must give a document of `want_format`, or, when the
// text holds no cue, SUB_ERR_NOCUES (SUB_ERR_EMPTY for an empty text).
inline std::vector<Cue> read_back(std::string_view text, int32_t format, int32_t want_format) {
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.format = format;
  SubDoc *raw = nullptr;
  const int32_t rc = sub_doc_parse(text.data(), text.size(), &options, &raw);
  const DocPtr doc(raw);
  const int32_t none = text.empty() ? SUB_ERR_EMPTY : SUB_ERR_NOCUES;
  EXPECT_TRUE(rc == SUB_OK || (rc == none && sub_doc_cue_count(raw) == 0)) << rc;
  if (rc == SUB_OK) {
    EXPECT_EQ(sub_doc_format(raw), want_format);
  }
  return cues_of(raw);
}

// The cues roundtrip::expected() says `doc` written in `format` reads back
// as, as a read-back check compares them: no settings, "" for no identifier.
inline std::vector<Cue> expected_cues(const SubDoc *doc, int32_t format) {
  std::vector<Cue> cues;
  for (roundtrip::Cue &c : roundtrip::expected(doc, format))
    cues.push_back({c.start, c.end, std::move(c.lines), c.id.value_or("")});
  return cues;
}

// A document of a cue "x" from 1 s to 2 s and `n` more with random times
// (negative ones too), each with up to two lines of random pieces: mostly
// drawn from `palette` (at most 30), else a lone non-ASCII byte. The same
// seed gives the same document.
inline DocPtr random_doc(uint32_t seed, int n, const std::vector<std::string> &palette) {
  DocPtr doc = parse_ok(srt_cue("00:00:01,000 --> 00:00:02,000", "x"));
  std::mt19937 rng(seed);
  for (int i = 0; i < n; ++i) {
    const int32_t start = static_cast<int32_t>(rng() % 7200000) - 600000;
    const int32_t end = start + static_cast<int32_t>(rng() % 5000) - 500;
    const int32_t c = sub_cue_add(doc.get(), start, end);
    for (uint32_t l = rng() % 3; l > 0; --l) {
      std::string line;
      for (uint32_t k = rng() % 12; k > 0; --k) {
        const uint32_t pick = rng() % 30;
        if (pick < palette.size())
          line += palette[pick];
        else
          line += static_cast<char>(0x80 + rng() % 0x80);
      }
      sub_cue_add_line(doc.get(), c, line.data(), line.size());
    }
  }
  return doc;
}

// One row of a writer's table: the document read from `input` (format
// detected, bytes taken as UTF-8 as they are: ill-formed sequences reach the
// lines), shifted by `shift` ms, then changed by `edit` (through the
// library's internal store, for lines no reader gives); `want` is its text
// written with `option`, the one write option a table may set (null: the
// default).
struct Row {
  const char *name;
  std::string input;
  std::string want;
  int64_t shift = 0;
  const char *option = nullptr;
  void (*edit)(SubDoc *) = nullptr;
};

// The document of `row`, ready to write.
inline DocPtr row_doc(const Row &row) {
  DocPtr doc = parse(row.input, {.encoding = "utf-8", .shift = row.shift});
  if (doc && row.edit) row.edit(doc.get());
  return doc;
}

// Writes a document with the given option (as Row::option).
using WriteFn = std::string (*)(SubDoc *doc, const char *option);

// Each row's document, written by `write` with the row's option, gives the
// row's text.
inline void expect_rows_written(const std::vector<Row> &rows, WriteFn write) {
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const DocPtr doc = row_doc(row);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(write(doc.get(), row.option), row.want);
  }
}

// A document a read-back check writes, with the option to write it with.
struct Sample {
  std::string name;
  const char *option;
  DocPtr doc;
};

// The documents of `rows`, then random_doc(seed, 200, palette) for the
// `count` seeds from `first_seed` on.
inline std::vector<Sample> samples(const std::vector<Row> &rows,
                                   const std::vector<std::string> &palette, uint32_t first_seed = 1,
                                   uint32_t count = 5) {
  std::vector<Sample> all;
  all.reserve(rows.size() + count);
  for (const Row &row : rows) all.push_back({row.name, row.option, row_doc(row)});
  for (uint32_t seed = first_seed; seed < first_seed + count; ++seed)
    all.push_back({"random " + std::to_string(seed), nullptr, random_doc(seed, 200, palette)});
  return all;
}

// Each sample written by `write` reads back, with its format detected and
// read as `format`, as the cues expected_cues() gives for the sample's
// document; `decode`, when given, first changes each line on both sides.
inline void expect_samples_read_back(const std::vector<Sample> &samples, int32_t format,
                                     WriteFn write,
                                     std::string (*decode)(std::string_view) = nullptr) {
  const auto decoded = [decode](std::vector<Cue> cues) {
    if (decode)
      for (Cue &c : cues)
        for (std::string &line : c.lines) line = decode(line);
    return cues;
  };
  for (const Sample &s : samples) {
    SCOPED_TRACE(s.name);
    ASSERT_NE(s.doc, nullptr);
    const std::string text = write(s.doc.get(), s.option);
    const std::vector<Cue> want = decoded(expected_cues(s.doc.get(), format));
    for (const int32_t as : {SUB_FMT_AUTO, format})
      EXPECT_EQ(decoded(read_back(text, as, format)), want) << text;
  }
}

// Writes `doc` in `format` with each of its allocations failing in turn:
// every such write returns SUB_ERR_NOMEM with no text, a length of 0 and no
// block held, and the document writes as before afterwards. Returns how
// many allocations a whole write takes.
inline uint64_t write_under_allocation_failures(SubDoc *doc, int32_t format,
                                                const SubWriteOptions *options = nullptr) {
  const std::string want = write(doc, format, options);
  int32_t rc = SUB_OK;
  char *out = nullptr;
  size_t len = 0;
  const uint64_t total = subtest::for_each_allocation_failure(
      [&] {
        out = reinterpret_cast<char *>(1);  // must come back null
        len = 7;
        rc = sub_doc_write(doc, format, options, &out, &len);
        if (rc == SUB_OK) sub_text_free(out);
      },
      [&](uint64_t n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        EXPECT_EQ(rc, SUB_ERR_NOMEM);
        EXPECT_EQ(static_cast<void *>(out), nullptr);
        EXPECT_EQ(len, 0u);
      });
  EXPECT_EQ(write(doc, format, options), want);
  return total;
}

}  // namespace writertest

#endif
