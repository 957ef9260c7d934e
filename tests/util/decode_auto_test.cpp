// The encoding "auto" as the decoder applies it: marks (UTF-32 before
// UTF-16), UTF-16/32 without a mark, valid UTF-8 read in place, damaged
// UTF-8, legacy bytes handed to the detector, and the classic rule left as it
// was for the same bytes without the name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

using namespace std::string_literals;

namespace {

// A text as UTF-16 or UTF-32 code units of its ASCII characters.
std::string widen(const std::string &ascii, size_t unit, bool big_endian) {
  std::string out;
  for (const char c : ascii) {
    std::string u(unit, '\0');
    u[big_endian ? unit - 1 : 0] = c;
    out += u;
  }
  return out;
}

const std::string srt = "1\n00:00:01,000 --> 00:00:02,000\nHello there\n";

struct Row {
  const char *what;
  std::string input;
  const char *encoding;
  std::string encoding_name;  // as the document names it
  std::string text;           // the decoded text
  std::vector<std::string> warnings;
};

}  // namespace

TEST(DecodeAuto, EachRuleInItsOrder) {
  const std::string damaged = subtest::repeat("\xD0\x9F\xD1\x80\xD0\xB8 ", 10) + "\xFF" + "\n";
  const std::string damaged_text =
      subtest::repeat("\xD0\x9F\xD1\x80\xD0\xB8 ", 10) + "\xEF\xBF\xBD" + "\n";
  // clang-format off
  const Row rows[] = {
      {"UTF-8 mark", "\xEF\xBB\xBFok", "auto", "UTF-8", "ok", {}},
      {"UTF-32LE mark", "\xFF\xFE\0\0"s + widen("ok", 4, false), "auto", "UTF-32LE", "ok", {}},
      {"UTF-32BE mark", "\0\0\xFE\xFF"s + widen("ok", 4, true), "AUTO", "UTF-32BE", "ok", {}},
      {"UTF-16LE mark", "\xFF\xFE"s + widen("ok", 2, false), "Auto", "UTF-16LE", "ok", {}},
      {"UTF-16BE mark", "\xFE\xFF"s + widen("ok", 2, true), "auto", "UTF-16BE", "ok", {}},
      {"UTF-16LE without a mark", widen(srt, 2, false), "auto", "UTF-16LE", srt,
       {"encoding: detected UTF-16LE"}},
      {"UTF-32BE without a mark", widen(srt, 4, true), "auto", "UTF-32BE", srt,
       {"encoding: detected UTF-32BE"}},
      {"damaged UTF-8 stays UTF-8, said so", damaged, "auto", "UTF-8", damaged_text,
       {"encoding: replaced 1 invalid sequences with U+FFFD"}},
      // One broken byte is UTF-8 under the classic rule (U+FFFD, silently);
      // "auto" reads the file as the single-byte text it is.
      {"short Latin-1 file", "Caf\xE9\n", "auto", "CP1252", "Caf\xC3\xA9\n",
       {"encoding: detected CP1252"}},
      {"the same without a name", "Caf\xE9\n", nullptr, "UTF-8", "Caf\xE9\n", {}},
      {"GBK lyrics", "[00:01.00]\xB3\xC9\xC8\xAB - \xC1\xF5\xC8\xF4\xD3\xA2\n", "auto", "GB18030",
       "[00:01.00]\xE6\x88\x90\xE5\x85\xA8 - \xE5\x88\x98\xE8\x8B\xA5\xE8\x8B\xB1\n",
       {"encoding: detected GB18030"}},
      // Without the name a UTF-32LE mark is still the UTF-16LE mark it begins with.
      {"UTF-32LE mark, classic rule", "\xFF\xFE\0\0"s + widen("ok", 4, false), nullptr, "UTF-16LE",
       "\0o\0k\0"s, {}},
  };
  // clang-format on
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    SubDoc *doc = sub_classic_doc();
    sub_doc_reset(doc);
    size_t skip = 0;
    if (sub_decode_in_place(row.input.data(), row.input.size(), row.encoding, &skip)) {
      EXPECT_EQ(row.input.substr(skip), row.text);
      EXPECT_EQ(row.encoding_name, "UTF-8");
      continue;
    }
    ASSERT_EQ(sub_decode_to_utf8(doc, row.input.data(), row.input.size(), row.encoding), SUB_OK);
    EXPECT_EQ(std::string(doc->text, doc->text_len), row.text);
    EXPECT_EQ(std::string(doc->encoding), row.encoding_name);
    EXPECT_EQ(subtest::current_warnings(), row.warnings);
  }
  sub_clear();
}

// Through the document API, whose default "auto" is: a GBK file parses as
// its text, while the classic API keeps its few broken bytes as they are.
TEST(DecodeAuto, DocumentDefaultAgainstTheClassicRule) {
  const std::string gbk = "1\n00:00:01,000 --> 00:00:02,000\n\xB3\xC9\xC8\xAB\n";
  SubDoc *doc = nullptr;
  ASSERT_EQ(sub_doc_parse(gbk.data(), gbk.size(), nullptr, &doc), SUB_OK);
  EXPECT_STREQ(sub_doc_cue_line(doc, 0, 0), "\xE6\x88\x90\xE5\x85\xA8");
  EXPECT_STREQ(sub_doc_encoding(doc), "GB18030");
  sub_doc_free(doc);
  ASSERT_EQ(sub_parse(gbk.data(), gbk.size(), SUB_FMT_AUTO, nullptr), SUB_OK);
  EXPECT_STREQ(sub_cue_line(0, 0), "\xB3\xC9\xC8\xAB");
  sub_clear();
}
