// Memory running out during sub_doc_parse() and sub_doc_json(): every
// allocation of a clean run fails in turn (alone, then with every later one
// failing too). A parse answers SUB_ERR_NOMEM or the clean run's complete
// result, never a success cut short; a document it stores stays readable and
// holds nothing of a partial result; freeing it releases every block.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "doc_diff.h"
#include "test_support.h"

namespace {

struct Case {
  std::string name;
  std::string bytes;
  int32_t format;
  const char *encoding;
};

// An SRT file of `n` cues, so that the cue store and the line arrays grow
// more than once.
std::string long_srt(int n) {
  std::string out;
  for (int i = 0; i < n; ++i) {
    const int s = i * 2;
    char timing[64];
    std::snprintf(timing, sizeof timing, "00:%02d:%02d,000 --> 00:%02d:%02d,500", s / 60, s % 60,
                  s / 60, s % 60);
    out += std::to_string(i + 1) + "\n" + timing + "\nline " + std::to_string(i) +
           "\n<b>second</b> line\n\n";
  }
  return out;
}

// Each sample of every format with detection (the decoder's samples too),
// each format's sample named explicitly, a named encoding through iconv, and
// a file big enough for the arrays to grow.
std::vector<Case> cases() {
  std::vector<Case> out;
  for (const docdiff::Sample &s : docdiff::samples()) {
    out.push_back({std::string(s.name) + " detected", s.bytes, SUB_FMT_AUTO, nullptr});
    out.push_back({std::string(s.name) + " named", s.bytes, s.format, nullptr});
  }
  out.push_back({"srt in GBK named cp936",
                 "1\n00:00:01,000 --> 00:00:02,000\n\xD7\xD6\xC4\xBB\n\n"
                 "2\n00:00:03,000 --> 00:00:04,000\n\xD6\xD0\xCE\xC4\n",
                 SUB_FMT_AUTO, "cp936"});
  out.push_back({"srt of 300 cues", long_srt(300), SUB_FMT_SRT, nullptr});
  return out;
}

// Each case twice: with one allocation failing, then with every allocation
// from that one on failing (as when memory stays short).
std::vector<std::pair<Case, bool>> cases_by_mode() {
  std::vector<std::pair<Case, bool>> out;
  for (const bool every_after : {false, true})
    for (Case &c : cases()) out.emplace_back(std::move(c), every_after);
  return out;
}

class DocAlloc : public ::testing::Test {
 protected:
  void SetUp() override {
    sub_alloc_fail_at(0, false);
    sub_clear();
    live_ = sub_alloc_live();
  }
  void TearDown() override { sub_alloc_fail_at(0, false); }
  int64_t live_ = 0;
};

TEST_F(DocAlloc, ParseIsCompleteOrOutOfMemory) {
  for (const auto &[c, every_after] : cases_by_mode()) {
    SCOPED_TRACE(c.name + (every_after ? ", every later allocation failing too" : ""));
    SubDoc *doc = nullptr;
    sub_alloc_fail_at(0, false);
    ASSERT_EQ(docdiff::parse_doc(c.bytes.data(), c.bytes.size(), c.format, c.encoding, &doc),
              SUB_OK);
    const uint64_t attempts = sub_alloc_attempts();
    ASSERT_NE(doc, nullptr);
    const docdiff::Result want = docdiff::read_all(docdiff::kDocument, doc, SUB_OK);
    const std::string want_encoding = sub_doc_encoding(doc);
    sub_doc_free(doc);
    ASSERT_EQ(sub_alloc_live(), live_) << "the clean run left blocks";
    ASSERT_GT(attempts, 0u);

    uint64_t out_of_memory = 0;
    for (uint64_t n = 1; n <= attempts; ++n) {
      SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(attempts));
      doc = nullptr;
      sub_alloc_fail_at(n, every_after);
      const int32_t rc =
          docdiff::parse_doc(c.bytes.data(), c.bytes.size(), c.format, c.encoding, &doc);
      sub_alloc_fail_at(0, false);
      if (rc == SUB_ERR_NOMEM) {
        ++out_of_memory;
        if (doc) {
          // Nothing of a partial result: no cue, no format, no JSON; the
          // warnings raised before memory ran out, which need not be the
          // clean run's (a conversion that failed for want of memory may
          // have been followed by another one, with its own warning).
          const docdiff::Result got = docdiff::read_all(docdiff::kDocument, doc, rc);
          EXPECT_EQ(got.error.value_or("NULL"), "out of memory");
          EXPECT_EQ(got.cues.size(), 0u);
          EXPECT_EQ(got.format, -1);
          EXPECT_EQ(got.json.value_or("NULL"), "{}");
          EXPECT_NE(sub_doc_encoding(doc), nullptr);
          EXPECT_LE(got.warnings.size(), 64u);
          for (const docdiff::Text &warning : got.warnings) EXPECT_NE(warning.value_or("-"), "");
        }
      } else {
        EXPECT_EQ(rc, SUB_OK);
        ASSERT_NE(doc, nullptr);
        EXPECT_EQ(docdiff::difference(want, docdiff::read_all(docdiff::kDocument, doc, rc)), "");
        EXPECT_EQ(sub_doc_encoding(doc), want_encoding);
      }
      sub_doc_free(doc);
      ASSERT_EQ(sub_alloc_live(), live_) << "blocks left after sub_doc_free";
    }
    // Failures that all went unnoticed would mean the parse bypasses the
    // allocator under test.
    EXPECT_GT(out_of_memory, 0u);
  }
}

// The JSON is rendered on first use: when memory runs out there it is NULL
// (never a shortened text), and a later call renders it whole.
TEST_F(DocAlloc, JsonIsWholeOrNullAndRetried) {
  for (const auto &[c, every_after] : cases_by_mode()) {
    SCOPED_TRACE(c.name + (every_after ? ", every later allocation failing too" : ""));
    SubDoc *doc = nullptr;
    ASSERT_EQ(docdiff::parse_doc(c.bytes.data(), c.bytes.size(), c.format, c.encoding, &doc),
              SUB_OK);
    sub_alloc_fail_at(0, false);
    const std::string want = docdiff::show(docdiff::text(sub_doc_json(doc)));
    const uint64_t attempts = sub_alloc_attempts();
    sub_doc_free(doc);
    ASSERT_GT(attempts, 0u) << "sub_doc_json allocated nothing: it is not rendered on first use";

    uint64_t nulls = 0;
    for (uint64_t n = 1; n <= attempts; ++n) {
      SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(attempts));
      doc = nullptr;
      ASSERT_EQ(docdiff::parse_doc(c.bytes.data(), c.bytes.size(), c.format, c.encoding, &doc),
                SUB_OK);
      sub_alloc_fail_at(n, every_after);
      const char *json = sub_doc_json(doc);
      sub_alloc_fail_at(0, false);
      if (json) {
        EXPECT_EQ(docdiff::show(docdiff::text(json)), want);
      } else {
        ++nulls;
      }
      EXPECT_EQ(docdiff::show(docdiff::text(sub_doc_json(doc))), want) << "the retry";
      sub_doc_free(doc);
      ASSERT_EQ(sub_alloc_live(), live_) << "blocks left after sub_doc_free";
    }
    EXPECT_GT(nulls, 0u);
  }
}

}  // namespace
