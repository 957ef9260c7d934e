// Decoding of the host's bytes to UTF-8: byte-order marks, named encodings,
// the invalid-UTF-8 count and the automatic fallback chain, and the decoder
// seen through sub_parse (including allocation failures).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "test_support.h"

using subtest::repeat;

namespace {

constexpr const char *kCp1252Warning = "encoding: auto-detected as CP1252 (invalid UTF-8)";
constexpr const char *kIsoWarning = "encoding: fell back to ISO-8859-1";
const std::string kFffd = "\xEF\xBF\xBD";

std::string replaced(int n) {
  return "encoding: replaced " + std::to_string(n) + " invalid sequences with U+FFFD";
}

// Bytes with NULs inside.
std::string b(const char *s, size_t n) { return std::string(s, n); }

// What one decoder call left behind.
struct Decoded {
  int rc = -1;
  std::optional<std::string> text;  // sub_classic_doc()->text (nullopt when null)
  std::string error;
  std::vector<std::string> warnings;  // "<null>" for a slot whose copy failed
};

Decoded read_state(int rc) {
  Decoded d;
  d.rc = rc;
  if (sub_classic_doc()->text) {
    EXPECT_EQ(sub_classic_doc()->text[sub_classic_doc()->text_len], '\0')
        << "text not NUL-terminated";
    d.text = std::string(sub_classic_doc()->text, sub_classic_doc()->text_len);
  }
  d.error = sub_last_error();
  d.warnings = subtest::current_warnings();
  return d;
}

Decoded decode(const std::string &data, const char *encoding) {
  sub_doc_reset(sub_classic_doc());
  return read_state(sub_decode_to_utf8(sub_classic_doc(), data.data(), data.size(), encoding));
}

struct Row {
  const char *what;
  std::string input;
  const char *encoding;
  int rc;
  std::optional<std::string> text;  // expected text on success
  std::string error;
  std::vector<std::string> warnings;
};

void run_rows(const std::vector<Row> &rows) {
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    const Decoded d = decode(row.input, row.encoding);
    EXPECT_EQ(d.rc, row.rc);
    EXPECT_EQ(d.text, row.text);
    EXPECT_EQ(d.error, row.error);
    EXPECT_EQ(d.warnings, row.warnings);
  }
  sub_doc_reset(sub_classic_doc());
}

const std::string kE9ab = "\xE9\x61\x62";          // one invalid sequence
const std::string kE9abUtf8 = "\xC3\xA9\x61\x62";  // the same from CP1252 or ISO-8859-1
constexpr auto kNone = std::nullopt;

// clang-format off
TEST(Decode, ByteOrderMarks) {
  run_rows({
      {"UTF-8 mark removed", "\xEF\xBB\xBF" "abc", nullptr, 0, "abc", "", {}},
      {"UTF-8 mark wins over a name", "\xEF\xBB\xBF\xC0\x62", "cp1251", 0, "\xC0\x62", "", {}},
      {"UTF-8 mark alone", "\xEF\xBB\xBF", nullptr, 0, "", "", {}},
      {"UTF-8 mark: rest copied unchecked", "\xEF\xBB\xBF" + repeat(kE9ab, 9), nullptr, 0,
       repeat(kE9ab, 9), "", {}},
      {"UTF-16LE mark", b("\xFF\xFE" "A\0\xE9\0", 6), nullptr, 0, "A\xC3\xA9", "", {}},
      {"UTF-16LE mark alone", "\xFF\xFE", nullptr, 0, "", "", {}},
      {"UTF-16LE mark and one odd byte", "\xFF\xFE\x41", nullptr, 2, kNone, "", {}},
      {"UTF-16LE mark wins over sjis", b("\xFF\xFE" "A\0", 4), "sjis", 0, "A", "", {}},
      {"FF FE 00 00 is UTF-16LE", b("\xFF\xFE\0\0A\0", 6), nullptr, 0, b("\0A", 2), "", {}},
      {"UTF-16BE mark", b("\xFE\xFF\0A\x4E\x2D", 6), nullptr, 0, "A\xE4\xB8\xAD", "", {}},
      {"UTF-16BE mark wins over utf-16le", b("\xFE\xFF\0A", 4), "utf-16le", 0, "A", "", {}},
      {"UTF-16BE mark and one odd byte", "\xFE\xFF\x41", "cp1252", 2, kNone, "", {}},
      {"UTF-16LE trailing odd byte", b("\xFF\xFE" "A\0B", 5), nullptr, 0, "A" + kFffd, "",
       {replaced(1)}},
      {"UTF-16LE lone high surrogate", b("\xFF\xFE\0\xD8" "A\0", 6), nullptr, 0, kFffd + "A", "",
       {replaced(1)}},
      {"UTF-16LE lone low surrogates", b("\xFF\xFE\0\xDC\0\xDC" "A\0", 8), nullptr, 0,
       kFffd + kFffd + "A", "", {replaced(2)}},
      {"UTF-16BE lone surrogate, odd end", b("\xFE\xFF\xDC\0\0A\0", 7), nullptr, 0,
       kFffd + "A" + kFffd, "", {replaced(2)}},
  });
}

TEST(Decode, NamedEncodings) {
  const std::string sjis = "\x83\x65\x83\x58\x83\x67";  // テスト
  const std::string tesuto = "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88";
  const std::string gbk = "\xD6\xD0\xCE\xC4", big5 = "\xA4\xA4\xA4\xE5";  // 中文
  const std::string zhongwen = "\xE4\xB8\xAD\xE6\x96\x87";
  run_rows({
      {"sjis", sjis, "sjis", 0, tesuto, "", {}},
      {"SJIS", sjis, "SJIS", 0, tesuto, "", {}},
      {"Sjis", sjis, "Sjis", 0, tesuto, "", {}},
      {"Shift-JIS", sjis, "Shift-JIS", 0, tesuto, "", {}},
      {"CP932", sjis, "CP932", 0, tesuto, "", {}},
      {"gbk", gbk, "gbk", 0, zhongwen, "", {}},
      {"cp936", gbk, "cp936", 0, zhongwen, "", {}},
      {"GB18030", gbk, "GB18030", 0, zhongwen, "", {}},
      {"Big5", big5, "Big5", 0, zhongwen, "", {}},
      {"cp950", big5, "cp950", 0, zhongwen, "", {}},
      {"UTF-16BE", b("\0A\0\xE9\x4E\x2D", 6), "UTF-16BE", 0, "A\xC3\xA9\xE4\xB8\xAD", "", {}},
      {"utf16le", b("A\0\xE9\0", 4), "utf16le", 0, "A\xC3\xA9", "", {}},
      {"windows-1251", "\xC0\xFF", "windows-1251", 0, "\xD0\x90\xD1\x8F", "", {}},
      {"CP1252 euro", "\x80", "CP1252", 0, "\xE2\x82\xAC", "", {}},
      {"latin1 keeps C1 controls", "\x80\xE9", "latin1", 0, "\xC2\x80\xC3\xA9", "", {}},
      {"ISO-8859-1", "\xE9", "ISO-8859-1", 0, "\xC3\xA9", "", {}},
      {"name outside the table goes to iconv", "\xC1", "KOI8-R", 0, "\xD0\xB0", "", {}},
      {"utf8 on valid text: plain copy", "h\xC3\xA9", "UTF8", 0, "h\xC3\xA9", "", {}},
      {"empty name means automatic", "h\xC3\xA9", "", 0, "h\xC3\xA9", "", {}},
      {"empty input, named", "", "gbk", 0, "", "", {}},
      {"unknown name", "abc", "No-Such-Enc", 2, kNone, "iconv failed for encoding No-Such-Enc", {}},
      {"error names SHIFT_JIS", "\x81", "sjis", 2, kNone, "iconv failed for encoding SHIFT_JIS", {}},
      {"error names CP1252", "\x81\x8D", "windows-1252", 2, kNone,
       "iconv failed for encoding CP1252", {}},
      {"error names BIG5", "\xFF", "cp950", 2, kNone, "iconv failed for encoding BIG5", {}},
      {"error names UTF-16BE", "\x41", "utf16be", 2, kNone, "iconv failed for encoding UTF-16BE",
       {}},
  });
}

TEST(Decode, NamedInvalidSequencesBecomeReplacementCharacters) {
  run_rows({
      {"cp1252 81 61 62", "\x81\x61\x62", "cp1252", 0, kFffd + "ab", "", {replaced(1)}},
      {"cp1252 two undefined bytes", "a\x8D\x62\x9D\x63", "cp1252", 0,
       "a" + kFffd + "b" + kFffd + "c", "", {replaced(2)}},
      {"sjis truncated lead at the end", "\x83\x65\x83", "sjis", 0, "\xE3\x83\x86" + kFffd, "",
       {replaced(1)}},
      {"gbk invalid byte then text", "\xFF\xD6\xD0\x78", "gbk", 0, kFffd + "\xE4\xB8\xADx", "",
       {replaced(1)}},
      {"UTF-16BE lone surrogate skips one unit", b("\xD8\0\0A\0B", 6), "UTF-16BE", 0,
       kFffd + "AB", "", {replaced(1)}},
      {"UTF-16LE odd trailing byte", b("A\0B", 3), "utf-16le", 0, "A" + kFffd, "", {replaced(1)}},
  });
}

TEST(Decode, InvalidCountAndThreshold) {
  const std::string odd = "\xC0\x80\xED\xA0\x80\xF5\x80\x80\x80";  // structurally valid
  const std::string skip = "\xE0\x41\x80\x42";  // the 80 lies inside E0's announced length
  run_rows({
      {"ASCII copied", "plain text\n", nullptr, 0, "plain text\n", "", {}},
      {"valid UTF-8 copied", "h\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80", nullptr, 0,
       "h\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80", "", {}},
      {"NUL bytes kept", b("a\0b", 3), nullptr, 0, b("a\0b", 3), "", {}},
      {"empty input", "", nullptr, 0, "", "", {}},
      {"7 invalid: copied unchanged", repeat(kE9ab, 7), nullptr, 0, repeat(kE9ab, 7), "", {}},
      {"8 invalid: CP1252", repeat(kE9ab, 8), nullptr, 0, repeat(kE9abUtf8, 8), "",
       {kCp1252Warning}},
      {"8 invalid, name utf-8: CP1252", repeat(kE9ab, 8), "utf-8", 0, repeat(kE9abUtf8, 8), "",
       {kCp1252Warning}},
      {"E9 E9 41 41 counts once (7)", repeat("\xE9\xE9\x41\x41", 7), nullptr, 0,
       repeat("\xE9\xE9\x41\x41", 7), "", {}},
      {"E9 E9 41 41 counts once (8)", repeat("\xE9\xE9\x41\x41", 8), nullptr, 0,
       repeat("\xC3\xA9\xC3\xA9\x41\x41", 8), "", {kCp1252Warning}},
      {"announced length skipped", repeat(skip, 7), nullptr, 0, repeat(skip, 7), "", {}},
      {"stray continuation bytes", repeat("\x80", 8), nullptr, 0, repeat("\xE2\x82\xAC", 8), "",
       {kCp1252Warning}},
      {"F8 counts", repeat("\xF8", 8), nullptr, 0, repeat("\xC3\xB8", 8), "", {kCp1252Warning}},
      {"overlong, surrogate, F5 are valid", repeat(odd, 3), nullptr, 0, repeat(odd, 3), "", {}},
      {"truncated lead ends the scan", repeat(kE9ab, 6) + "\xF0\x80", nullptr, 0,
       repeat(kE9ab, 6) + "\xF0\x80", "", {}},
      {"truncated lead is the eighth", repeat(kE9ab, 7) + "\xE3\x81", nullptr, 0,
       repeat(kE9abUtf8, 7) + "\xC3\xA3\xC2\x81", "", {kIsoWarning}},
  });
}

TEST(Decode, FallbackSkipsCp1252WhenAnyByteIsUndefined) {
  for (const std::string bad : {"\x81", "\x8D", "\x8F", "\x90", "\x9D"}) {
    const std::string c1 = "\xC2" + bad;  // the same byte through ISO-8859-1
    const std::string e4 = repeat(kE9ab, 4), u4 = repeat(kE9abUtf8, 4);
    run_rows({
        {"undefined byte first", bad + e4 + e4, nullptr, 0, c1 + u4 + u4, "", {kIsoWarning}},
        {"undefined byte inside", e4 + bad + e4, nullptr, 0, u4 + c1 + u4, "", {kIsoWarning}},
        {"undefined byte last", e4 + e4 + bad, nullptr, 0, u4 + u4 + c1, "", {kIsoWarning}},
    });
  }
}
// clang-format on

// Running out of memory ends the fallback: another encoding would give other
// text (CP1252's curly quotes as C1 controls), not the same text.
TEST(Decode, FallbackStopsWhenMemoryRunsOut) {
  // CP1252's buffer is the first allocation; it stops at 0x81, which CP1252
  // lacks, and ISO-8859-1's buffer is the second.
  const std::string undefined_in_cp1252 = "\x81" + repeat(kE9ab, 8);
  const std::string cp1252 = "\x93q\x94" + repeat(kE9ab, 8);
  const struct {
    const char *name;
    const std::string &input;
    uint64_t fail_at;
  } rows[] = {
      {"CP1252 buffer", cp1252, 1},
      {"ISO-8859-1 buffer after CP1252 stopped", undefined_in_cp1252, 2},
      {"CP1252 buffer, bytes CP1252 lacks", undefined_in_cp1252, 1},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    sub_doc_reset(sub_classic_doc());
    sub_alloc_fail_at(row.fail_at, false);
    const int rc =
        sub_decode_to_utf8(sub_classic_doc(), row.input.data(), row.input.size(), nullptr);
    sub_alloc_fail_at(0, false);
    EXPECT_EQ(rc, 4);
    EXPECT_EQ(sub_classic_doc()->text, nullptr);
    EXPECT_EQ(sub_warning_count(), 0);
  }
  sub_doc_reset(sub_classic_doc());
}

TEST(Decode, OutputAllocationFailureOnMarkAndNamedPathsIsOutOfMemory) {
  const std::vector<std::pair<std::string, const char *>> cases = {
      {b("\xFF\xFE"
         "A\0",
         4),
       nullptr},
      {b("\xFE\xFF\0A", 4), "gbk"},
      {"\x83\x65", "sjis"},
      {"\x81\x61\x62", "cp1252"},
  };
  for (const auto &[input, encoding] : cases) {
    SCOPED_TRACE(encoding ? encoding : "mark");
    sub_doc_reset(sub_classic_doc());
    sub_alloc_fail_at(1, true);
    const int rc = sub_decode_to_utf8(sub_classic_doc(), input.data(), input.size(), encoding);
    sub_alloc_fail_at(0, false);
    EXPECT_EQ(rc, 4);
    EXPECT_EQ(sub_classic_doc()->text, nullptr);
    EXPECT_STREQ(sub_last_error(), "");
  }
  sub_doc_reset(sub_classic_doc());
}

TEST(Decode, ReplacesTheTextHeldBefore) {
  sub_doc_reset(sub_classic_doc());
  const int64_t live = sub_alloc_live();
  ASSERT_EQ(sub_decode_to_utf8(sub_classic_doc(), "first", 5, nullptr), 0);
  ASSERT_EQ(sub_decode_to_utf8(sub_classic_doc(), "\x83\x65", 2, "sjis"), 0);
  EXPECT_EQ(std::string(sub_classic_doc()->text, sub_classic_doc()->text_len), "\xE3\x83\x86");
  EXPECT_EQ(sub_alloc_live(), live + 1);
  sub_doc_reset(sub_classic_doc());
  EXPECT_EQ(sub_alloc_live(), live);
}

// ---------------------------------------------------------------------------
// Through sub_parse: a stand-in SRT parser records that it ran and succeeds.
// ---------------------------------------------------------------------------

int g_parser_runs = 0;
std::string g_parser_text;  // what the parser was given

int stub_parser(SubDoc *doc, const char *text, size_t len) {
  ++g_parser_runs;
  g_parser_text.assign(text, len);
  doc->detected_format = SUB_FMT_SRT;
  return 0;
}

class DecodeThroughParse : public ::testing::Test {
 protected:
  void SetUp() override { table_.formats[SUB_FMT_SRT].parse = stub_parser; }
  void TearDown() override { sub_clear(); }
  int32_t parse(const std::string &data, const char *encoding) const {
    return table_.parse(data, SUB_FMT_SRT, encoding);
  }
  subtest::FormatTable table_;
};

// clang-format off
TEST_F(DecodeThroughParse, DecoderCodesEndTheParse) {
  const std::vector<Row> rows = {
      {"mark and one odd byte", "\xFF\xFE\x41", nullptr, 2, kNone, "", {}},
      {"unknown encoding", "abc", "no-such-enc", 2, kNone,
       "iconv failed for encoding no-such-enc", {}},
      {"named, nothing convertible", "\x90", "cp1252", 2, kNone,
       "iconv failed for encoding CP1252", {}},
      {"UTF-16LE mark decoded", b("\xFF\xFE" "H\0i\0", 6), "big5", 0, "Hi", "", {}},
      {"fallback warning kept", repeat(kE9ab, 8), nullptr, 0, repeat(kE9abUtf8, 8), "",
       {kCp1252Warning}},
      {"replacement warning kept", "\x81\x61\x62", "CP1252", 0, kFffd + "ab", "", {replaced(1)}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    g_parser_runs = 0;
    Decoded d = read_state(parse(row.input, row.encoding));
    if (g_parser_runs) d.text = g_parser_text;  // the library drops the text after a parse
    EXPECT_EQ(d.rc, row.rc);
    EXPECT_EQ(d.text, row.text);
    EXPECT_EQ(d.error, row.error);
    EXPECT_EQ(d.warnings, row.warnings);
    EXPECT_EQ(g_parser_runs, row.rc == 0 ? 1 : 0);
  }
}

TEST_F(DecodeThroughParse, AllocationFailures) {
  using Outcome = std::pair<std::vector<std::string>, std::string>;  // warnings, text
  struct AllocRow {
    const char *what;
    std::string input;
    const char *encoding;
    int clean_rc;  // without failures; a failed allocation may also give 4
    std::vector<Outcome> outcomes;  // acceptable results of a run that returns 0
  };
  const std::string srt = "1\n00:00:01,000 --> 00:00:02,000\nh\xC3\xA9\n";
  const std::string cp = repeat(kE9ab, 8), cp_text = repeat(kE9abUtf8, 8);
  const std::string iso = "\x81" + cp, iso_text = "\xC2\x81" + cp_text;
  const std::string sjis_text = "\xE3\x83\x86" + kFffd;
  const std::vector<AllocRow> rows = {
      {"valid UTF-8", srt, nullptr, 0, {{{}, srt}}},
      {"UTF-8 mark", "\xEF\xBB\xBF\x78", "sjis", 0, {{{}, "x"}}},
      // Memory running out never moves the fallback on to another encoding.
      {"CP1252 fallback", cp, nullptr, 0, {{{kCp1252Warning}, cp_text}, {{"<null>"}, cp_text}}},
      {"ISO-8859-1 fallback", iso, nullptr, 0, {{{kIsoWarning}, iso_text}, {{"<null>"}, iso_text}}},
      {"UTF-16LE mark", b("\xFF\xFE" "H\0i\0", 6), nullptr, 0, {{{}, "Hi"}}},
      {"named with a replacement", "\x83\x65\x83", "SJIS", 0,
       {{{replaced(1)}, sjis_text}, {{"<null>"}, sjis_text}}},
      {"mark and one odd byte", "\xFE\xFF\x41", nullptr, 2, {}},
      {"named, nothing convertible", "\x8F", "cp1252", 2, {}},
  };
  // clang-format on
  for (const AllocRow &row : rows) {
    SCOPED_TRACE(row.what);
    int rc = -1;
    const auto run = [&] {
      g_parser_runs = 0;
      rc = parse(row.input, row.encoding);
    };
    const auto check = [&](uint64_t n) {
      SCOPED_TRACE("allocation " + std::to_string(n) + " failed");
      Decoded d = read_state(rc);
      if (g_parser_runs) d.text = g_parser_text;
      if (rc == 0) {
        EXPECT_EQ(row.clean_rc, 0);
        EXPECT_EQ(g_parser_runs, 1);
        bool matched = false;
        for (const auto &[warnings, text] : row.outcomes)
          matched = matched || (d.warnings == warnings && d.text == text);
        EXPECT_TRUE(matched) << "text " << d.text.value_or("<null>") << ", " << d.warnings.size()
                             << " warnings";
      } else {
        EXPECT_TRUE(rc == 4 || rc == row.clean_rc) << "rc " << rc;
        EXPECT_EQ(d.text, std::nullopt);
        EXPECT_EQ(g_parser_runs, 0);
        if (rc == 4) {
          EXPECT_EQ(d.error, "");
        }
      }
    };
    EXPECT_GT(subtest::for_each_allocation_failure(run, check), 0u);
    run();  // the clean run once more
    EXPECT_EQ(rc, row.clean_rc);
    sub_clear();
  }
}

}  // namespace
