// Format detection from the first bytes of a file, and the extension hint.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using namespace std::string_literals;

const std::string kBom = "\xEF\xBB\xBF";

// Detects on an exactly sized heap copy, so that a read past the end (or a
// reliance on a terminating NUL) shows under the address sanitizer.
int32_t detect(const std::string &bytes, const char *name) {
  std::unique_ptr<char[]> copy(new char[bytes.empty() ? 1 : bytes.size()]);
  std::memcpy(copy.get(), bytes.data(), bytes.size());
  return sub_detect_format(copy.get(), bytes.size(), name);
}

std::string pad(size_t n) { return std::string(n, 'x'); }

std::string printable(const std::string &s) {
  std::string out;
  for (unsigned char c : s.substr(0, 60)) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return s.size() > 60 ? out + "... (" + std::to_string(s.size()) + " bytes)" : out;
}

struct Row {
  std::string bytes;
  const char *name;
  int32_t expected;
};

const std::vector<Row> &rows() {
  static const std::vector<Row> table = {
      // Each test beats every later one.
      {"WEBVTT\n\n[Events]\n", nullptr, 1},
      {"[INFORMATION]\n[Events]\n", nullptr, 2},
      {"[INFORMATION]\n<SAMI>\n", nullptr, 4},
      {"<SAMI><d p=\"1,1\">", nullptr, 8},
      {"<i><d p=\"0,1\">ttml</d>", nullptr, 9},
      {"<tt xmlns=\"\"><text start=\"1\" dur=\"2\">", nullptr, 5},
      {"[ti:x]\n[00:01.00]<text start=\"1\" dur=\"2\">", nullptr, 6},
      {"[00:01.00]{y}", nullptr, 7},
      {"[2,{\"c\":\"x\",\"m\":\"y\"}]", nullptr, 3},
      {"[{\"c\":\"0,1\",\"m\":\"a->b\"}]", nullptr, 10},
      {"1\n00:00:01,000 --> 00:00:02,000\nHi\n", "a.ass", 0},
      {"Hello\n", "a.ass", 2},
      // A word from an earlier test inside SRT dialogue wins.
      {"1\n00:00:01,000 --> 00:00:02,000\nTTML\n", nullptr, 5},
      {"1\n00:00:01,000 --> 00:00:02,000\n[events]\n", nullptr, 2},
      // WEBVTT: exact case, at the start of text only.
      {"webvtt\n\n00:01.000 --> 00:02.000\n", nullptr, 0},
      {"NOTE x\nWEBVTT\n00:01.000 --> 00:02.000\n", nullptr, 0},
      {" \t\r\n\r\nWEBVTT", nullptr, 1},
      {"WEBVT", "a.lrc", 7},
      {"\vWEBVTT", nullptr, -1},
      {"\fWEBVTT", nullptr, -1},
      // ASS, SubViewer, SAMI, Bilibili, TTML and YouTube markers.
      {"x [sCRIPT iNFO]", nullptr, 2},
      {"x [v4+ STYLES]", nullptr, 2},
      {"[information]\n", nullptr, -1},
      {"x\n[INFORMATION]\n", nullptr, -1},
      {"\r\n  [INFORMATION]", nullptr, 4},
      {"x <sAmI>", nullptr, 8},
      {"<sync start=10>", nullptr, 8},
      {"<SYNC>", nullptr, -1},
      {"x <d p =\"1\">", nullptr, 9},
      {"x <d p =1>", nullptr, -1},
      {"x <D p=\"1\">", nullptr, -1},
      {"x <TT ", nullptr, 5},
      {"x <Tt>", nullptr, 5},
      {"x <P BEGIN=", nullptr, 5},
      {"x <tt", nullptr, -1},
      {"<text start=\"1\" dur=\"2\">a</text>", nullptr, 6},
      {"<text start=\"1\">a</text>", nullptr, -1},
      {"<TEXT start=\"1\" dur=\"2\">", nullptr, -1},
      {"<text>start=1 dur=2", nullptr, -1},
      // LRC: tags or a leading digit with a colon, a ']', and "[0", "[1" or "[ti".
      {"[ti:Song]\n[00:01.00]la\n", nullptr, 7},
      {"[00:12.34]la\n", nullptr, 7},
      {"  [12:00]la", nullptr, 7},
      {"[ar:x]\n[ti]\n", nullptr, 7},
      {"[ar:x]\n[20:01]\n", nullptr, -1},
      {"[TI:x]\n[00:01]\n", "a.srt", 0},
      {"[00]\n", nullptr, -1},
      {"[00:01.00 la", nullptr, -1},
      {"x[ti:a]\n[00:01]", nullptr, -1},
      {"[x:1]\n[01]\n", nullptr, -1},
      // MicroDVD: a '}', a '{' after the first character, a digit or '-' second.
      {"{0}{25}Hello\n", nullptr, 3},
      {"{-5}{25}Hi\n", nullptr, 3},
      {"[-5}{2}", nullptr, 3},
      {"\n\t{0}{1}x", nullptr, 3},
      {"{0}x\n", nullptr, -1},
      {"{0{1\n", nullptr, -1},
      {"{a}{25}x", nullptr, -1},
      {"x{0}{25}", nullptr, -1},
      // AcFun: "c" and "m" with their quotes, after a '[' or '{'.
      {"[[\"c\",\"m\"]]", nullptr, 10},
      {"{\"c\":\"0,1\",\"m\":\"hi\"}", nullptr, 10},
      {"{\"c\":\"0,1\"}", nullptr, -1},
      {"{\"c\":\"0,1\"}", "danmu.json", 10},
      {"{'c':1,'m':2}", nullptr, -1},
      {"{\"C\":1,\"M\":2}", nullptr, -1},
      {"x \"c\" \"m\"", nullptr, -1},
      // Arrows.
      {"a->b", nullptr, 0},
      {"a - > b", nullptr, 0},
      {"a<-b", nullptr, -1},
      {"->", nullptr, 0},
      // The window: 8192 bytes, or everything after a UTF-8 byte-order mark.
      {pad(8190) + "->", nullptr, 0},
      {pad(8191) + "->", nullptr, -1},
      {std::string(8190, ' ') + "->", nullptr, 0},
      {kBom + pad(8191) + "->", nullptr, 0},
      {kBom + pad(20000) + "<SAMI>", nullptr, 8},
      {"x" + kBom + pad(8190) + "->", nullptr, -1},
      {kBom + "\r\n\r\nWEBVTT\n", nullptr, 1},
      {kBom, "a.srt", 0},
      {kBom.substr(0, 2), "a.srt", 0},
      {kBom.substr(0, 1), nullptr, -1},
      {kBom.substr(0, 2) + "->", nullptr, 0},
      // A NUL byte ends the window's text.
      {"ab\0-->"s, nullptr, -1},
      {"-->\0ab"s, nullptr, 0},
      {"\0WEBVTT"s, "a.smi", 8},
      {kBom + "x\0->"s, "a.ttml", 5},
      {pad(100) + "\0"s + pad(100) + "->", nullptr, -1},
      // UTF-16 text offers only the hint.
      {"\xFF\xFE-\0-\0>\0"s, nullptr, -1},
      {"\xFF\xFE-\0-\0>\0"s, "a.srt", 0},
      {"\xFE\xFF\0W\0E\0B\0V\0T\0T"s, "a.vtt", 1},
      // Nothing to examine: the hint.
      {"", "a.lrc", 7},
      {" \t\r\n", "a.ass", 2},
      {"Hello", nullptr, -1},
  };
  return table;
}

TEST(Detect, ContentTestsInOrderThenHint) {
  const auto &table = rows();
  for (size_t i = 0; i < table.size(); ++i) {
    const Row &row = table[i];
    SCOPED_TRACE("row " + std::to_string(i) + ": \"" + printable(row.bytes) + "\" name " +
                 (row.name ? row.name : "(null)"));
    EXPECT_EQ(detect(row.bytes, row.name), row.expected);
  }
}

TEST(Detect, ExtensionHint) {
  const struct {
    const char *name;
    int32_t expected;
  } table[] = {
      {"a.srt", 0},   {"movie.EN.SRT", 0}, {".srt", 0},          {"a.vtt", 1},   {"a.WebVTT", 1},
      {"a.ass", 2},   {"a.SSA", 2},        {"a.sub", 3},         {"a.SuB", 3},   {"a.ttml", 5},
      {"a.DFXP", 5},  {"a.xml", 6},        {"a.lrc", 7},         {"a.smi", 8},   {"a.Sami", 8},
      {"a.json", 10}, {"a.txt", -1},       {"a.srt.txt", -1},    {"a.srtx", -1}, {"a.sr", -1},
      {"a.srt ", -1}, {"srt", -1},         {"dir.srt/file", -1}, {".", -1},      {"", -1},
      {nullptr, -1},
  };
  for (const auto &row : table) {
    SCOPED_TRACE(row.name ? row.name : "(null)");
    EXPECT_EQ(sub_ext_hint(row.name), row.expected);
    EXPECT_EQ(detect("no signature", row.name), row.expected);
  }
}

TEST(Detect, NullBuffer) {
  EXPECT_EQ(sub_detect_format(nullptr, 5, "a.srt"), -1);
  EXPECT_EQ(sub_detect_format(nullptr, 0, "a.srt"), 0);
  EXPECT_EQ(sub_detect_format(nullptr, 0, nullptr), -1);
}

TEST(Detect, LengthBoundsTheBuffer) {
  const char text[] = "abc->";
  EXPECT_EQ(sub_detect_format(text, 3, nullptr), -1);
  EXPECT_EQ(sub_detect_format(text, 4, nullptr), -1);
  EXPECT_EQ(sub_detect_format(text, 5, nullptr), 0);
}

TEST(Detect, LeavesParseStateAlone) {
  sub_clear();
  EXPECT_EQ(detect("WEBVTT\n", nullptr), 1);
  EXPECT_EQ(sub_detected_format(), SUB_FMT_AUTO);
  EXPECT_STREQ(sub_last_error(), "");
  EXPECT_EQ(sub_warning_count(), 0);
  EXPECT_EQ(sub_cue_count(), 0);
}

TEST(Detect, AtMostOneAllocationAndHintWithoutMemory) {
  const std::string data = kBom + pad(9000) + "->";
  int32_t result = -2;
  const uint64_t total = subtest::for_each_allocation_failure(
      [&] { result = detect(data, "a.lrc"); }, [&](uint64_t) { EXPECT_EQ(result, 7); });
  EXPECT_LE(total, 1u);
  EXPECT_EQ(detect(data, "a.lrc"), 0);
}

}  // namespace
