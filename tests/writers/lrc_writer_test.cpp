// The LRC writer: the lyrics it writes for documents read from other
// formats, that the LRC reader gives the same lyrics back, and running out
// of memory while writing.
#include <string>
#include <vector>

#include "test_support.h"
#include "writer_test_support.h"

namespace {

namespace wt = writertest;
using wt::DocPtr;
using wt::srt_cue;

// The document of `input` read as `format`, shifted by `shift` ms.
DocPtr read_doc(const char *format, const std::string &input, int64_t shift = 0) {
  return wt::parse_ok(input, {.format = format, .shift = shift});
}

// The written text, or "<rc N>" when writing failed.
std::string write_lrc(SubDoc *doc) { return wt::write(doc, SUB_FMT_LRC); }

struct LrcCase {
  const char *name;
  const char *format;  // of the input
  std::string input;
  int64_t shift;  // applied before writing
  std::string want;
};

const std::vector<LrcCase> &lrc_cases() {
  static const std::vector<LrcCase> cases = {
      {"lines joined", "srt", srt_cue("00:00:01,000 --> 00:00:02,500", " first \n second\t"), 0,
       "[00:01.00]first / second\n[00:02.50]\n"},
      {"breaks inside a line", "vtt",
       "WEBVTT\n\n00:01.000 --> 00:02.000\na\xE2\x80\xA8 b\rc\n\t\nd\n", 0,
       "[00:01.00]a / b / c / d\n[00:02.00]\n"},
      {"unsorted input", "srt",
       srt_cue("00:00:05,000 --> 00:00:06,000", "third") +
           srt_cue("00:00:01,000 --> 00:00:02,000", "first") +
           srt_cue("00:00:03,000 --> 00:00:04,000", "second"),
       0,
       "[00:01.00]first\n[00:02.00]\n[00:03.00]second\n[00:04.00]\n[00:05.00]third\n"
       "[00:06.00]\n"},
      // Equal starts keep the document's order; starts within one
      // centisecond are one entry, ordered by their exact start.
      {"same start merged", "srt",
       srt_cue("00:00:01,005 --> 00:00:02,000", "b") +
           srt_cue("00:00:01,000 --> 00:00:04,000", "a") +
           srt_cue("00:00:01,005 --> 00:00:03,000", "c") +
           srt_cue("00:00:05,000 --> 00:00:06,000", "d"),
       0, "[00:01.00]a / b / c\n[00:04.00]\n[00:05.00]d\n[00:06.00]\n"},
      {"cues without text do not part an entry", "vtt",
       "WEBVTT\n\n00:01.000 --> 00:02.000\na\n\n00:01.000 --> 00:09.000\n\n"
       "00:01.000 --> 00:02.000\nb\n",
       0, "[00:01.00]a / b\n[00:02.00]\n"},
      {"ends marked only in gaps", "srt",
       srt_cue("00:00:01,000 --> 00:00:03,000", "touches the next") +
           srt_cue("00:00:03,000 --> 00:00:09,000", "overlaps the next") +
           srt_cue("00:00:05,000 --> 00:00:06,000", "gap after") +
           srt_cue("00:00:07,000 --> 00:00:07,000", "zero length") +
           srt_cue("00:00:08,000 --> 00:00:07,500", "reversed") +
           srt_cue("00:00:10,000 --> 00:00:10,009", "same centisecond"),
       0,
       "[00:01.00]touches the next\n"
       "[00:03.00]overlaps the next\n"
       "[00:05.00]gap after\n[00:06.00]\n"
       "[00:07.00]zero length\n"
       "[00:08.00]reversed\n"
       "[00:10.00]same centisecond\n"},
      {"text starting with a bracket", "srt",
       srt_cue("00:00:01,000 --> 00:00:02,000", "[music] la") +
           srt_cue("00:00:01,000 --> 00:00:02,000", "[x]") +
           srt_cue("00:00:03,000 --> 00:00:04,000", "]x"),
       0, "[00:01.00] [music] la / [x]\n[00:02.00]\n[00:03.00]]x\n[00:04.00]\n"},
      // The LRC reader gives its end markers back as cues with an empty line.
      {"empty cues left out", "lrc", "[00:01.00]a\n[00:02.00]\n[00:03.00]b\n", 0,
       "[00:01.00]a\n[00:02.00]\n[00:03.00]b\n[00:06.00]\n"},
      {"times floored to centiseconds", "srt",
       srt_cue("00:00:01,239 --> 00:00:02,019", "x") +
           srt_cue("00:00:03,001 --> 00:00:03,019", "y"),
       0, "[00:01.23]x\n[00:02.01]\n[00:03.00]y\n[00:03.01]\n"},
      {"negative times written as 0", "srt",
       srt_cue("00:00:01,000 --> 00:00:01,400", "wholly before 0") +
           srt_cue("00:00:01,000 --> 00:00:02,000", "starts before 0"),
       -1500, "[00:00.00]wholly before 0 / starts before 0\n[00:00.50]\n"},
      {"minutes beyond 99", "srt",
       srt_cue("01:40:00,000 --> 01:40:01,000", "x") +
           srt_cue("596:31:23,000 --> 596:31:23,647", "y"),
       0, "[100:00.00]x\n[100:01.00]\n[35791:23.00]y\n[35791:23.64]\n"},
      {"end of the time range", "srt", srt_cue("00:00:01,000 --> 00:00:02,000", "x"), INT32_MAX,
       "[35791:23.64]x\n"},
      {"danmaku keep time and text", "bilibili",
       "<?xml version=\"1.0\"?><i><d p=\"1.5,1,25,16777215,0,0,0,0\">hi</d>"
       "<d p=\"0.25,5,25,255,0,0,0,0\">top</d></i>",
       0, "[00:00.25]top\n[00:01.50]hi\n[00:04.50]\n"},
  };
  return cases;
}

TEST(LrcWriter, WritesTheLyrics) {
  for (const LrcCase &row : lrc_cases()) {
    SCOPED_TRACE(row.name);
    DocPtr doc = read_doc(row.format, row.input, row.shift);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(write_lrc(doc.get()), row.want);
  }
}

TEST(LrcWriter, DocumentKeepsItsOrder) {
  DocPtr doc = read_doc("srt", srt_cue("00:00:02,000 --> 00:00:03,000", "b") +
                                   srt_cue("00:00:01,000 --> 00:00:02,000", "a"));
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(write_lrc(doc.get()), "[00:01.00]a\n[00:02.00]b\n[00:03.00]\n");
  EXPECT_EQ(sub_doc_cue_start_ms(doc.get(), 0), 2000);
  EXPECT_STREQ(sub_doc_cue_line(doc.get(), 0, 0), "b");
}

TEST(LrcWriter, EmptyDocumentWritesNothing) {
  DocPtr doc = read_doc("lrc", "[00:01.00]\n[00:02.00] \n");
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(sub_doc_cue_count(doc.get()), 2);
  EXPECT_EQ(write_lrc(doc.get()), "");
}

// Each case reads back as the shared round-trip model expects: entries in
// start order, starts within one centisecond joined, each ending at its end
// marker or at the next entry, at the millisecond the reader computes.
TEST(LrcWriter, ReadsBackAsTheSameLyrics) {
  for (const LrcCase &row : lrc_cases()) {
    SCOPED_TRACE(row.name);
    DocPtr doc = read_doc(row.format, row.input, row.shift);
    ASSERT_NE(doc, nullptr);
    const roundtrip::Result r = roundtrip::check(doc.get(), SUB_FMT_LRC);
    EXPECT_EQ(r.difference, "") << r.text;
  }
}

// 200,000 cues in reverse order with runs of equal starts: the sort must
// not be quadratic and must keep each run's order.
TEST(LrcWriter, SortIsStableAndFast) {
  std::string input;
  const int n = 200000;
  for (int i = 0; i < n; ++i) {
    const int start = (n - 1 - i) / 4;
    const int end = start + 1;
    char cue[96];
    std::snprintf(cue, sizeof cue, "1\n%02d:%02d:%02d,000 --> %02d:%02d:%02d,000\n%d\n\n",
                  start / 3600, start / 60 % 60, start % 60, end / 3600, end / 60 % 60, end % 60,
                  i % 4);
    input += cue;
  }
  DocPtr doc = read_doc("srt", input);
  ASSERT_NE(doc, nullptr);
  std::string text;
  const double seconds = subtest::seconds_to_run([&] { text = write_lrc(doc.get()); });
  EXPECT_LT(seconds, 2.0);
  EXPECT_EQ(text.substr(0, 36), "[00:00.00]0 / 1 / 2 / 3\n[00:01.00]0 ");
}

// Every allocation of a write failing in turn.
TEST(LrcWriter, AllocationFailures) {
  std::string input;
  for (int i = 0; i < 300; ++i) {
    const int second = 300 - i;
    char times[64];
    std::snprintf(times, sizeof times, "00:%02d:%02d,000 --> 00:%02d:%02d,500", second / 60,
                  second % 60, second / 60, second % 60);
    input += srt_cue(times, "a line\nand another");
  }
  DocPtr doc = read_doc("srt", input);
  ASSERT_NE(doc, nullptr);
  EXPECT_GT(wt::write_under_allocation_failures(doc.get(), SUB_FMT_LRC), 3u);
}

}  // namespace
