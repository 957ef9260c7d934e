// The document API's contract: answers for a NULL document and for indexes
// out of range, the options and their size for hosts built against a smaller
// struct, documents stored for failed parses, several documents alive at
// once, the encoding each one reports, its independence from the classic
// result, and parsing on a worker thread with a 64 KiB stack.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "doc_diff.h"
#include "test_support.h"

namespace {

using docdiff::kClassic;
using docdiff::kDocument;

const docdiff::Sample &sample(const char *name) {
  for (const docdiff::Sample &s : docdiff::samples())
    if (std::string_view(s.name) == name) return s;
  std::abort();
}

class DocApi : public ::testing::Test {
 protected:
  void SetUp() override {
    sub_alloc_fail_at(0, false);
    sub_clear();
    live_ = sub_alloc_live();
  }
  void TearDown() override {
    sub_clear();
    EXPECT_EQ(sub_alloc_live(), live_) << "blocks left allocated";
  }
  int64_t live_ = 0;
};

std::string bits(float f) {
  uint32_t b = 0;
  std::memcpy(&b, &f, sizeof b);
  return std::to_string(b);
}

TEST_F(DocApi, NullDocumentAnswers) {
  struct Row {
    const char *call;
    std::string got, want;
  };
  const Row rows[] = {
      {"cue_count", std::to_string(sub_doc_cue_count(nullptr)), "0"},
      {"cue_start_ms", std::to_string(sub_doc_cue_start_ms(nullptr, 0)), "-1"},
      {"cue_end_ms", std::to_string(sub_doc_cue_end_ms(nullptr, 0)), "-1"},
      {"cue_line_count", std::to_string(sub_doc_cue_line_count(nullptr, 0)), "0"},
      {"cue_line", docdiff::show(docdiff::text(sub_doc_cue_line(nullptr, 0, 0))), "NULL"},
      {"cue_is_danmu", std::to_string(sub_doc_cue_is_danmu(nullptr, 0)), "0"},
      {"cue_danmu_mode", std::to_string(sub_doc_cue_danmu_mode(nullptr, 0)), "0"},
      {"cue_danmu_color", std::to_string(sub_doc_cue_danmu_color(nullptr, 0)), "0"},
      {"cue_danmu_fontsize", bits(sub_doc_cue_danmu_fontsize(nullptr, 0)), bits(0.0f)},
      {"error", docdiff::show(docdiff::text(sub_doc_error(nullptr))), "\"\""},
      {"warning_count", std::to_string(sub_doc_warning_count(nullptr)), "0"},
      {"warning", docdiff::show(docdiff::text(sub_doc_warning(nullptr, 0))), "NULL"},
      {"format", std::to_string(sub_doc_format(nullptr)), "-1"},
      {"encoding", docdiff::show(docdiff::text(sub_doc_encoding(nullptr))), "\"\""},
      {"json", docdiff::show(docdiff::text(sub_doc_json(nullptr))), "NULL"},
  };
  for (const Row &row : rows) EXPECT_EQ(row.got, row.want) << "sub_doc_" << row.call << "(NULL)";
  sub_doc_free(nullptr);
  // The same answers as the classic accessors give with no result.
  EXPECT_EQ(docdiff::out_of_range_answers(kDocument, nullptr),
            docdiff::out_of_range_answers(kClassic, nullptr));
}

// Indexes out of range, after a success of every format and after a failure.
TEST_F(DocApi, OutOfRangeAnswersAreTheClassicOnes) {
  std::vector<std::pair<std::string, int32_t>> inputs;
  for (const docdiff::Sample &s : docdiff::samples()) inputs.emplace_back(s.bytes, s.format);
  inputs.emplace_back("no subtitles here", SUB_FMT_AUTO);
  inputs.emplace_back(sample("srt").bytes, 42);
  for (const auto &[bytes, format] : inputs) {
    SCOPED_TRACE(bytes.substr(0, 30));
    sub_parse(bytes.data(), bytes.size(), format, nullptr);
    SubDoc *doc = nullptr;
    docdiff::parse_doc(bytes.data(), bytes.size(), format, nullptr, &doc);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(docdiff::out_of_range_answers(kDocument, doc),
              docdiff::out_of_range_answers(kClassic, nullptr));
    sub_doc_free(doc);
  }
}

TEST_F(DocApi, OptionsInitFillsTheDefaults) {
  SubParseOptions options;
  std::memset(&options, 0xA5, sizeof options);
  sub_parse_options_init(&options);
  EXPECT_EQ(options.size, sizeof(SubParseOptions));
  EXPECT_EQ(options.format, SUB_FMT_AUTO);
  EXPECT_STREQ(options.encoding, "auto");
  EXPECT_EQ(options.reading, SUB_READING_STANDARD);
  sub_parse_options_init(nullptr);

  // NULL options are the defaults: detection of the format and of the
  // encoding.
  const std::string &bytes = sample("srt in CP1252").bytes;
  SubDoc *doc = nullptr;
  EXPECT_EQ(sub_doc_parse(bytes.data(), bytes.size(), nullptr, &doc), SUB_OK);
  EXPECT_EQ(sub_doc_format(doc), SUB_FMT_SRT);
  EXPECT_STREQ(sub_doc_encoding(doc), "CP1252");
  sub_doc_free(doc);
}

// The init functions never write past a host's smaller struct: each fills a
// block of exactly the size it is told (a sanitizer build catches a write
// past it), whole members only, and records the bytes it filled.
TEST_F(DocApi, OptionsInitWritesOnlyWhatTheHostsStructHolds) {
  constexpr size_t first_release = offsetof(SubParseOptions, reading) + sizeof(int32_t);
  struct Row {
    const char *name;
    size_t block;
    size_t filled;  // 0: nothing written
  };
  const Row rows[] = {
      {"whole struct", sizeof(SubParseOptions), sizeof(SubParseOptions)},
      {"first release", first_release, first_release},
      {"half the reading", first_release - 2, offsetof(SubParseOptions, encoding) + sizeof(char *)},
      {"only the size", sizeof(size_t), sizeof(size_t)},
      {"less than the size", sizeof(size_t) - 1, 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const std::unique_ptr<unsigned char, decltype(&std::free)> block(
        static_cast<unsigned char *>(std::malloc(sizeof(SubParseOptions))), &std::free);
    ASSERT_NE(block, nullptr);
    std::memset(block.get(), 0xA5, sizeof(SubParseOptions));
    auto *options = reinterpret_cast<SubParseOptions *>(block.get());
    sub_parse_options_init_size(options, row.block);
    for (size_t i = row.filled; i < sizeof(SubParseOptions); ++i)
      ASSERT_EQ(block.get()[i], 0xA5) << "byte " << i;
    if (row.filled) {
      EXPECT_EQ(options->size, row.filled);
    }
  }
  // The exported function of the plain name fills the first release's struct.
  const std::unique_ptr<unsigned char, decltype(&std::free)> older(
      static_cast<unsigned char *>(std::malloc(first_release)), &std::free);
  ASSERT_NE(older, nullptr);
  (sub_parse_options_init)(reinterpret_cast<SubParseOptions *>(older.get()));
  EXPECT_EQ(reinterpret_cast<SubParseOptions *>(older.get())->size, first_release);
  EXPECT_EQ(reinterpret_cast<SubParseOptions *>(older.get())->reading, SUB_READING_STANDARD);
}

// A host built against an older header passes a smaller struct: the members
// its size does not hold whole must not be read, and take their defaults. The struct lives in
// a block of exactly that size, so that a sanitizer build catches a read past
// it. The members hold values that would change the outcome if read: format
// acfun (which rejects the bilibili file) and an unknown encoding.
TEST_F(DocApi, SmallerOptionsFromOlderHostsKeepWorking) {
  const std::string &bytes = sample("bilibili").bytes;
  const int32_t as_acfun = sub_parse(bytes.data(), bytes.size(), SUB_FMT_ACFUN, nullptr);
  ASSERT_NE(as_acfun, SUB_OK);
  struct Row {
    const char *name;
    size_t size;
    int32_t rc;
    int32_t format;
  };
  const Row rows[] = {
      {"whole struct", sizeof(SubParseOptions), SUB_ERR_FORMAT, -1},
      {"up to the reading", offsetof(SubParseOptions, reading), SUB_ERR_DECODE, -1},
      {"up to the encoding", offsetof(SubParseOptions, encoding), as_acfun, -1},
      {"half the encoding", offsetof(SubParseOptions, encoding) + sizeof(const char *) / 2,
       as_acfun, -1},
      {"format without padding", offsetof(SubParseOptions, format) + sizeof(int32_t), as_acfun, -1},
      {"half the format", offsetof(SubParseOptions, format) + sizeof(int32_t) / 2, SUB_OK,
       SUB_FMT_BILIBILI},
      {"up to the format", offsetof(SubParseOptions, format), SUB_OK, SUB_FMT_BILIBILI},
      {"size zero", 0, SUB_OK, SUB_FMT_BILIBILI},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    SubParseOptions full;
    sub_parse_options_init(&full);
    full.size = row.size;
    full.format = SUB_FMT_ACFUN;
    full.encoding = "no-such-encoding";
    full.reading = 7;  // no such reading
    // The size member itself is always there.
    const size_t block = std::max(row.size, sizeof full.size);
    const std::unique_ptr<unsigned char, decltype(&std::free)> older(
        static_cast<unsigned char *>(std::malloc(block)), &std::free);
    ASSERT_NE(older, nullptr);
    std::memcpy(older.get(), &full, block);
    SubDoc *doc = nullptr;
    EXPECT_EQ(sub_doc_parse(bytes.data(), bytes.size(),
                            reinterpret_cast<const SubParseOptions *>(older.get()), &doc),
              row.rc);
    ASSERT_NE(doc, nullptr);
    if (row.rc == SUB_OK) {
      EXPECT_EQ(sub_doc_format(doc), row.format);
      EXPECT_EQ(sub_doc_cue_count(doc), sample("bilibili").cues);
    }
    sub_doc_free(doc);
  }
}

TEST_F(DocApi, NoOutPointerParsesNothing) {
  const std::string &bytes = sample("srt").bytes;
  sub_alloc_fail_at(0, false);
  EXPECT_EQ(sub_doc_parse(bytes.data(), bytes.size(), nullptr, nullptr), SUB_ERR_EMPTY);
  EXPECT_EQ(sub_alloc_attempts(), 0u);
  EXPECT_EQ(sub_alloc_live(), live_);
}

// A failure still gives a document that explains it, with the classic
// result's code, error text and warnings, and "{}" as its JSON. The pointer
// the host passes in is overwritten whatever happens.
TEST_F(DocApi, FailedParsesGiveADocument) {
  struct Row {
    const char *name;
    std::string bytes;
    bool null_data;
    int32_t format;
    const char *encoding;
    int32_t rc;
    bool explained;  // an error text says why (an unknown format identifier has none)
    bool warns;
  };
  // Bytes apart: a broken sequence counts once over the length its lead byte
  // announces.
  const std::string cp1252_noise =
      "\xE9 x \xE8 x \xE0 x \xF9 x \xE7 x \xEA x \xEB x \xEF x \xF4 x no cue at all";
  const Row rows[] = {
      {"NULL buffer", "", true, SUB_FMT_AUTO, nullptr, SUB_ERR_EMPTY, true, false},
      {"empty buffer", "", false, SUB_FMT_SRT, nullptr, SUB_ERR_EMPTY, true, false},
      {"format 11", sample("srt").bytes, false, SUB_FMT_COUNT, nullptr, SUB_ERR_FORMAT, false,
       false},
      {"format -2", sample("srt").bytes, false, -2, nullptr, SUB_ERR_FORMAT, false, false},
      {"unknown encoding", sample("srt").bytes, false, SUB_FMT_AUTO, "no-such-encoding",
       SUB_ERR_DECODE, true, false},
      {"nothing parsable", "just some words\n", false, SUB_FMT_AUTO, nullptr, SUB_ERR_NOCUES, true,
       false},
      {"CP1252 with nothing parsable", cp1252_noise, false, SUB_FMT_AUTO, nullptr, SUB_ERR_NOCUES,
       true, true},
      {"srt read as ttml", sample("srt").bytes, false, SUB_FMT_TTML, nullptr, -1, true, false},
  };
  static char sentinel;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const void *data = row.null_data ? nullptr : row.bytes.data();
    const int32_t classic_rc = sub_parse(data, row.bytes.size(), row.format, row.encoding);
    const docdiff::Result classic = docdiff::read_all(kClassic, nullptr, classic_rc);
    if (row.rc >= 0) {
      EXPECT_EQ(classic_rc, row.rc);
    }
    EXPECT_NE(classic_rc, SUB_OK);

    SubDoc *doc = reinterpret_cast<SubDoc *>(&sentinel);
    const int32_t rc = docdiff::parse_doc(data, row.bytes.size(), row.format, row.encoding, &doc);
    ASSERT_NE(doc, reinterpret_cast<SubDoc *>(&sentinel));
    ASSERT_NE(doc, nullptr);
    const docdiff::Result got = docdiff::read_all(kDocument, doc, rc);
    EXPECT_EQ(docdiff::difference(classic, got), "");
    EXPECT_EQ(got.error.value_or("") != "", row.explained) << docdiff::show(got.error);
    EXPECT_EQ(got.json.value_or("NULL"), "{}");
    EXPECT_EQ(got.warnings.empty(), !row.warns) << got.warnings.size() << " warnings";
    sub_doc_free(doc);
  }
}

// Two documents alive at once, freed in either order: the one left keeps its
// cues, texts and JSON (the same pointers as before).
TEST_F(DocApi, TwoDocumentsFreedInEitherOrder) {
  const docdiff::Sample *pair[] = {&sample("srt"), &sample("bilibili")};
  for (const bool first_goes_first : {true, false}) {
    SCOPED_TRACE(first_goes_first ? "first parsed, first freed" : "first parsed, last freed");
    SubDoc *docs[2] = {};
    docdiff::Result want[2];
    const char *json[2] = {};
    const char *line[2] = {};
    for (int k = 0; k < 2; ++k) {
      ASSERT_EQ(docdiff::parse_doc(pair[k]->bytes.data(), pair[k]->bytes.size(), SUB_FMT_AUTO,
                                   nullptr, &docs[k]),
                SUB_OK);
    }
    for (int k = 0; k < 2; ++k) {
      want[k] = docdiff::read_all(kDocument, docs[k], SUB_OK);
      json[k] = sub_doc_json(docs[k]);
      line[k] = sub_doc_cue_line(docs[k], 0, 0);
      EXPECT_EQ(want[k].cues.size(), static_cast<size_t>(pair[k]->cues));
    }
    const int gone = first_goes_first ? 0 : 1;
    const int kept = 1 - gone;
    sub_doc_free(docs[gone]);
    EXPECT_EQ(docdiff::difference(want[kept], docdiff::read_all(kDocument, docs[kept], SUB_OK)),
              "");
    EXPECT_EQ(sub_doc_json(docs[kept]), json[kept]);
    EXPECT_EQ(sub_doc_cue_line(docs[kept], 0, 0), line[kept]);
    EXPECT_EQ(docdiff::text(json[kept]), want[kept].json);
    sub_doc_free(docs[kept]);
  }
}

TEST_F(DocApi, EncodingTellsWhatTheBytesWereDecodedFrom) {
  using namespace std::string_literals;
  const std::string srt = "1\n00:00:01,000 --> 00:00:02,000\n";
  // More invalid UTF-8 sequences than the decoder repairs, with a byte CP1252
  // leaves undefined (0x81).
  const std::string latin1 =
      srt + "\x81 x \xE9 x \xE8 x \xE0 x \xF9 x \xE7 x \xEA x \xEB x \xEF x\n";
  struct Row {
    const char *name;
    std::string bytes;
    const char *encoding;
    const char *want;
  };
  const Row rows[] = {
      {"UTF-8", sample("srt").bytes, nullptr, "UTF-8"},
      {"UTF-8 with its mark", "\xEF\xBB\xBF" + srt + "hi\n", nullptr, "UTF-8"},
      {"UTF-8 named", sample("srt").bytes, "utf-8", "UTF-8"},
      {"UTF-16LE mark", sample("srt as UTF-16LE").bytes, nullptr, "UTF-16LE"},
      {"UTF-16BE mark", "\xFE\xFF\0001\0\n"s, nullptr, "UTF-16BE"},
      {"invalid UTF-8", sample("srt in CP1252").bytes, nullptr, "CP1252"},
      {"not even CP1252", latin1, nullptr, "ISO-8859-1"},
      {"cp936", srt + "\xD7\xD6\xC4\xBB\n", "cp936", "GBK"},
      {"latin1", srt + "caf\xE9\n", "latin1", "ISO-8859-1"},
      {"shift_jis", srt + "\x8E\x9A\x96\x8B\n", "shift_jis", "SHIFT_JIS"},
      {"empty buffer", "", nullptr, ""},
      {"unknown encoding", sample("srt").bytes, "no-such-encoding", ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    SubDoc *doc = nullptr;
    docdiff::parse_doc(row.bytes.data(), row.bytes.size(), SUB_FMT_AUTO, row.encoding, &doc);
    ASSERT_NE(doc, nullptr);
    EXPECT_STREQ(sub_doc_encoding(doc), row.want);
    sub_doc_free(doc);
  }
}

// A document and the classic result share nothing: parsing, clearing or
// replacing one leaves the other as it was.
TEST_F(DocApi, DocumentsAndTheClassicResultAreIndependent) {
  const std::string &a = sample("ass").bytes;
  const std::string &b = sample("acfun").bytes;
  ASSERT_EQ(sub_parse(a.data(), a.size(), SUB_FMT_AUTO, nullptr), SUB_OK);
  const docdiff::Result classic = docdiff::read_all(kClassic, nullptr, SUB_OK);

  SubDoc *doc = nullptr;
  ASSERT_EQ(docdiff::parse_doc(b.data(), b.size(), SUB_FMT_AUTO, nullptr, &doc), SUB_OK);
  const docdiff::Result document = docdiff::read_all(kDocument, doc, SUB_OK);
  EXPECT_EQ(document.format, SUB_FMT_ACFUN);
  EXPECT_EQ(docdiff::difference(classic, docdiff::read_all(kClassic, nullptr, SUB_OK)), "");

  sub_clear();
  EXPECT_EQ(docdiff::difference(document, docdiff::read_all(kDocument, doc, SUB_OK)), "");
  const std::string garbage = "nothing";
  sub_parse(garbage.data(), garbage.size(), SUB_FMT_AUTO, nullptr);
  EXPECT_EQ(docdiff::difference(document, docdiff::read_all(kDocument, doc, SUB_OK)), "");
  sub_doc_free(doc);
}

// Inputs that would take a parser that recurses, or keeps big buffers on the
// stack, past a small stack: deep nesting in every markup the formats have.
std::vector<std::pair<std::string, std::string>> deep_inputs() {
  const auto nest = [](const std::string &open, const std::string &close, const std::string &mid,
                       size_t depth) {
    return subtest::repeat(open, depth) + mid + subtest::repeat(close, depth);
  };
  constexpr size_t kDepth = 5000;
  const std::string timing = "00:00:01,000 --> 00:00:02,000\n";
  return {
      {"srt tags", "1\n" + timing + nest("<i>", "</i>", "deep", kDepth) + "\n"},
      {"vtt tags",
       "WEBVTT\n\n00:01.000 --> 00:02.000\n" + nest("<c.x><b>", "</b></c>", "deep", kDepth) + "\n"},
      {"ass overrides", "[Events]\nFormat: Start, End, Text\nDialogue: 0:00:01.00,0:00:02.00," +
                            subtest::repeat("{\\b1}x{", kDepth) + "\n"},
      {"ttml spans",
       "<tt xmlns=\"http://www.w3.org/ns/ttml\"><body><div><p begin=\"1s\" end=\"2s\">" +
           nest("<span>", "</span>", "deep", kDepth) + "</p></div></body></tt>"},
      {"ttml divs",
       "<tt xmlns=\"http://www.w3.org/ns/ttml\"><body>" +
           nest("<div begin=\"1s\">", "</div>", "<p begin=\"1s\" end=\"2s\">x</p>", kDepth) +
           "</body></tt>"},
      {"ytxml", "<transcript>" + nest("<x>", "</x>", "", kDepth) +
                    "<text start=\"1\" dur=\"1\">hi</text></transcript>"},
      {"sami fonts", "<SAMI><BODY><SYNC Start=1000><P>" +
                         nest("<font color=red>", "</font>", "deep", kDepth) + "</BODY></SAMI>"},
      {"bilibili", "<i>" + nest("<x>", "</x>", "<d p=\"1,1,25,255\">hi</d>", kDepth) + "</i>"},
      {"acfun arrays", nest("[", "]", "{\"c\":\"1,255,1,25\",\"m\":\"hi\"}", kDepth)},
      {"acfun objects",
       "[{\"c\":\"1,255,1,25\",\"m\":\"hi\",\"x\":" + nest("{\"a\":", "}", "1", kDepth) + "}]"},
  };
}

// A player may parse on a worker thread with a small stack: every format, in
// each sample's own format and detected, and the deeply nested inputs, give
// on a 64 KiB stack what they give on the test's own thread.
TEST_F(DocApi, ParsesOnA64KiBStack) {
  struct Job {
    std::string name;
    std::string bytes;
    int32_t format;
    docdiff::Result want;
  };
  std::vector<Job> jobs;
  for (const docdiff::Sample &s : docdiff::samples()) {
    jobs.push_back({std::string(s.name) + " detected", s.bytes, SUB_FMT_AUTO, {}});
    jobs.push_back({std::string(s.name) + " named", s.bytes, s.format, {}});
  }
  for (auto &[name, bytes] : deep_inputs()) jobs.push_back({name, bytes, SUB_FMT_AUTO, {}});
  for (Job &job : jobs) {
    SubDoc *doc = nullptr;
    const int32_t rc =
        docdiff::parse_doc(job.bytes.data(), job.bytes.size(), job.format, nullptr, &doc);
    job.want = docdiff::read_all(kDocument, doc, rc);
    sub_doc_free(doc);
  }
  for (size_t k = 0; k < docdiff::samples().size() * 2; ++k)
    EXPECT_EQ(jobs[k].want.rc, SUB_OK) << jobs[k].name;

  EXPECT_EQ(subtest::run_on_stack(size_t{64} * 1024,
                                  [&jobs] {
                                    for (const Job &job : jobs) {
                                      SubDoc *doc = nullptr;
                                      const int32_t rc =
                                          docdiff::parse_doc(job.bytes.data(), job.bytes.size(),
                                                             job.format, nullptr, &doc);
                                      const std::string diff = docdiff::difference(
                                          job.want, docdiff::read_all(kDocument, doc, rc));
                                      sub_doc_free(doc);
                                      if (!diff.empty()) return job.name + ": " + diff;
                                    }
                                    return std::string();
                                  }),
            "");
}

}  // namespace
