// The writers at their limits: a million cues, lines of a mebibyte built to
// make a scan go back over itself (runs of "{\", "<a", "&a", white space),
// and times at both ends of the 32-bit range. Every writer stays linear,
// never overflows, and its text reads back as the round trip expects.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "roundtrip.h"
#include "test_support.h"

namespace {

using roundtrip::DocPtr;

// An empty, successfully parsed document that the test fills.
DocPtr empty_doc() {
  DocPtr doc = roundtrip::built({});
  EXPECT_NE(doc, nullptr);
  return doc;
}

// Cue `i` of a document shape: its times and its one line.
struct ShapeCue {
  int32_t start;
  int32_t end;
  std::string line;
  bool danmu;
};
using Shape = std::function<ShapeCue(int32_t i, int32_t n)>;

DocPtr shaped_doc(int32_t n, const Shape &shape) {
  DocPtr doc = empty_doc();
  if (!doc) return doc;
  for (int32_t i = 0; i < n; ++i) {
    const ShapeCue c = shape(i, n);
    const int32_t k = sub_cue_add(doc.get(), c.start, c.end);
    if (k < 0 || sub_cue_add_line(doc.get(), k, c.line.data(), c.line.size()) != 0) return nullptr;
    if (c.danmu) {
      doc->cues[k].is_danmu = 1;
      doc->cues[k].danmu_mode = 1;
      doc->cues[k].danmu_color = 0xFFFFFF;
    }
  }
  return doc;
}

// Seconds to write `doc` in `format`; the text's size in *size.
double seconds_to_write(SubDoc *doc, int32_t format, size_t *size) {
  char *out = nullptr;
  const double seconds = subtest::seconds_to_run(
      [&] { EXPECT_EQ(sub_doc_write(doc, format, nullptr, &out, size), SUB_OK); });
  sub_text_free(out);
  return seconds;
}

// The best of two writes, so that a pause of the machine counts less.
double best_seconds_to_write(SubDoc *doc, int32_t format, size_t *size) {
  const double first = seconds_to_write(doc, format, size);
  return std::min(first, seconds_to_write(doc, format, size));
}

// Success when a write ten or eight times larger took under 30 times as
// long (quadratic work would take 64 to 100 times), with a quarter of a
// second more for the pauses of a busy machine, and `floor` seconds as the
// least time a small write counts for.
testing::AssertionResult near_linear(double t_small, double t_big, double floor) {
  if (t_big < 30 * std::max(t_small, floor) + 0.25) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "small: " << t_small << " s, large: " << t_big << " s";
}

// Writing `big` in every format takes near-linear time against `small`
// (`floor` as near_linear has it, `what` names the two); when `grows`, its
// text is more than five times as large.
void expect_near_linear_writes(SubDoc *small, SubDoc *big, double floor, const char *what,
                               bool grows) {
  for (const int32_t format : roundtrip::kWriters) {
    SCOPED_TRACE(sub_format_name(format));
    size_t small_size = 0, big_size = 0;
    const double t_small = best_seconds_to_write(small, format, &small_size);
    const double t_big = best_seconds_to_write(big, format, &big_size);
    if (grows) {
      EXPECT_GT(big_size, small_size * 5);
    }
    EXPECT_TRUE(near_linear(t_small, t_big, floor)) << what;
  }
}

struct NamedShape {
  const char *name;
  Shape shape;
};

std::vector<NamedShape> shapes() {
  return {
      {"in order",
       [](int32_t i, int32_t) {
         // Short enough for strings to hold it inline: the read-back check
         // of a million cues costs less.
         return ShapeCue{i * 1000 + i % 7, i * 1000 + 900, "<i>" + std::to_string(i) + "</i>",
                         false};
       }},
      {"reversed, for the LRC sort",
       [](int32_t i, int32_t n) {
         return ShapeCue{(n - i) * 1000, (n - i) * 1000 + 500, "{x} & y", false};
       }},
      {"all at one start, one LRC entry",
       [](int32_t i, int32_t) {
         return ShapeCue{0, i, "same", false};
       }},
      {"danmaku, laid out in ASS",
       [](int32_t i, int32_t) {
         return ShapeCue{i * 40, i * 40 + 3000, "comment " + std::to_string(i % 100), true};
       }},
  };
}

// Writing 10^6 cues takes well under 30 times as long as 10^5 in every
// format and shape (10 times for a linear writer), and the big text reads
// back as expected.
TEST(WriteLimits, MillionCuesInLinearTime) {
  for (const NamedShape &s : shapes()) {
    SCOPED_TRACE(s.name);
    DocPtr small = shaped_doc(100000, s.shape);
    DocPtr big = shaped_doc(1000000, s.shape);
    ASSERT_NE(small, nullptr);
    ASSERT_NE(big, nullptr);
    expect_near_linear_writes(small.get(), big.get(), 0.001, "10^5 and 10^6 cues", true);
  }
}

TEST(WriteLimits, MillionCuesReadBack) {
  DocPtr big = shaped_doc(1000000, shapes()[0].shape);
  ASSERT_NE(big, nullptr);
  const std::vector<roundtrip::SourceCue> src = roundtrip::source_cues(big.get());
  for (const int32_t format : roundtrip::kWriters) {
    SCOPED_TRACE(sub_format_name(format));
    const roundtrip::Result r = roundtrip::check(big.get(), format, src);
    EXPECT_EQ(r.difference, "");
    EXPECT_EQ(r.expected_cues, 1000000);
  }
}

// A line of `bytes` bytes repeating `unit`.
std::string long_line(std::string_view unit, size_t bytes) {
  std::string s;
  s.reserve(bytes + unit.size());
  while (s.size() < bytes) s += unit;
  s.resize(bytes);
  return s;
}

// Units that would make a careless scan look ahead again and again: override
// blocks never closed, tags never closed, references never ended, runs of
// white space for TTML, breaks for the display-line cut.
constexpr const char *hostile_units[] = {
    "{\\", "{\\a}{", "<a", "<1 &", "&a", "&#x1", " \t  ", "--", "a\r\nb\xE2\x80\xA8", "\\N{",
};

// A line of a mebibyte in every hostile shape reads back in every format
// (ASS keeps 65535 bytes of a line, as its reader does). The unit with
// breaks makes a display line of every 8 bytes: 64 KiB of it already is a
// cue of 16 thousand lines, and TTML reads them as one paragraph.
TEST(WriteLimits, MebibyteLinesReadBack) {
  std::vector<roundtrip::Cue> cues;
  int32_t t = 0;
  for (const char *unit : hostile_units) {
    const bool breaks = std::string_view(unit).find('\n') != std::string_view::npos;
    cues.push_back({t, t + 1000, {"x" + long_line(unit, size_t{1} << (breaks ? 16 : 20)) + "x"}});
    t += 2000;
  }
  DocPtr doc = roundtrip::built(cues);
  ASSERT_NE(doc, nullptr);
  for (const int32_t format : roundtrip::kWriters) {
    SCOPED_TRACE(sub_format_name(format));
    const roundtrip::Result r = roundtrip::check(doc.get(), format);
    EXPECT_EQ(r.difference, "");
    EXPECT_GT(r.text.size(), size_t{7} << 20);
  }
}

// Writing a line 8 times longer takes well under 64 times as long.
TEST(WriteLimits, LongLinesInLinearTime) {
  for (const char *unit : hostile_units) {
    SCOPED_TRACE(unit);
    DocPtr small = roundtrip::built({{0, 1000, {long_line(unit, size_t{1} << 17)}}});
    DocPtr big = roundtrip::built({{0, 1000, {long_line(unit, size_t{1} << 20)}}});
    ASSERT_NE(small, nullptr);
    ASSERT_NE(big, nullptr);
    // A line of white space alone is no text in SRT, ASS and LRC.
    expect_near_linear_writes(small.get(), big.get(), 0.0005, "128 KiB and 1 MiB lines", false);
  }
}

// Times shifted to the 32-bit limits (saturating), and a shift that takes
// some ends past the top while their starts stay below, are written without
// overflow and read back as expected; the top time reads back as itself
// where the format holds milliseconds.
TEST(WriteLimits, TimesAtTheLimits) {
  struct Row {
    const char *name;
    int64_t shift;
  };
  const Row rows[] = {
      {"everything at INT32_MAX", INT64_MAX},
      {"everything at INT32_MIN", INT64_MIN},
      {"ends past the top", int64_t{INT32_MAX} - 2500},
      {"starts below zero", int64_t{INT32_MIN} + 1500},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    DocPtr doc = roundtrip::built({
        {0, 1000, {"a"}},
        {2000, 2000, {"b"}, "id", "align:start"},
        {3000, 1500, {"c", "d"}},
        {-7, 4005, {"e"}},
    });
    ASSERT_NE(doc, nullptr);
    ASSERT_EQ(sub_doc_shift(doc.get(), row.shift), SUB_OK);
    for (const int32_t format : roundtrip::kWriters) {
      SCOPED_TRACE(sub_format_name(format));
      const roundtrip::Result r = roundtrip::check(doc.get(), format);
      EXPECT_EQ(r.difference, "") << r.text;
    }
  }
  DocPtr top = roundtrip::built({{0, 0, {"top"}}});
  ASSERT_NE(top, nullptr);
  ASSERT_EQ(sub_doc_shift(top.get(), INT64_MAX), SUB_OK);
  for (const int32_t format : {SUB_FMT_SRT, SUB_FMT_VTT}) {
    const std::vector<roundtrip::Cue> cues = roundtrip::expected(top.get(), format);
    ASSERT_EQ(cues.size(), 1u);
    EXPECT_EQ(cues[0].start, INT32_MAX);
    EXPECT_EQ(roundtrip::check(top.get(), format).difference, "");
  }
}

}  // namespace
