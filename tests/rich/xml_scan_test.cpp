// The markup helpers: attribute values read from one tag copy (double-quoted
// form first, name matched as a substring ignoring case, cut to the buffer),
// element text with every <...> dropped, references decoded and both ends
// trimmed (at most 65535 bytes copied), and the length up to the first NUL.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>

#include "test_support.h"

using namespace std::string_literals;

namespace {

const std::string long_value(100, 'v');
const std::string long_name(70, 'n');

struct AttrRow {
  std::string tag;
  std::string name;
  size_t out_size;
  bool found;
  std::string want;  // "<unchanged>" when not found
};

const AttrRow attr_rows[] = {
    {R"(<p begin="00:00:01.000" end='00:00:02.000'>)", "begin", 64, true, "00:00:01.000"},
    {R"(<p begin="00:00:01.000" end='00:00:02.000'>)", "end", 64, true, "00:00:02.000"},
    {R"(<p begin="00:00:01.000" end='00:00:02.000'>)", "dur", 64, false, ""},
    {R"(<text Start="1.5">)", "start", 64, true, "1.5"},
    {R"(<text start="1.5">)", "START", 64, true, "1.5"},
    {R"(<p ttp:frameRate="30">)", "ttp:framerate", 64, true, "30"},
    // The double-quoted form is searched over the whole tag first.
    {R"(<p a='one' a="two">)", "a", 64, true, "two"},
    {R"(<p a='one' b="x" a='three'>)", "a", 64, true, "one"},
    // The other quote inside a value is an ordinary byte.
    {R"(<p t="it's">)", "t", 64, true, "it's"},
    {R"(<p t='say "hi"'>)", "t", 64, true, "say \"hi\""},
    // A substring match: the first attribute whose name ends in the name.
    {R"(<p xbegin="1" begin="2">)", "begin", 64, true, "1"},
    {R"(<p begin="2" xbegin="1">)", "begin", 64, true, "2"},
    {R"(<div clip="c" p="1">)", "p", 64, true, "c"},
    // No white space around '=', no unquoted values.
    {R"(<p begin = "1s">)", "begin", 64, false, ""},
    {R"(<p begin= "1s">)", "begin", 64, false, ""},
    {R"(<p begin=1s>)", "begin", 64, false, ""},
    // Empty, raw, unclosed.
    {R"(<p end="">)", "end", 64, true, ""},
    {R"(<p t=" &amp; x ">)", "t", 64, true, " &amp; x "},
    {R"(<p t="no closing quote)", "t", 64, true, "no closing quote"},
    {R"(<p t='open)", "t", 64, true, "open"},
    {R"(<p t=")", "t", 64, true, ""},
    {"", "t", 64, false, ""},
    // Cut to out_size - 1 bytes.
    {"<p t=\"" + long_value + "\">", "t", 64, true, long_value.substr(0, 63)},
    {"<p t=\"" + long_value + "\">", "t", 512, true, long_value},
    {"<p t=\"" + long_value, "t", 64, true, long_value.substr(0, 63)},
    {R"(<p t="abc">)", "t", 4, true, "abc"},
    {R"(<p t="abcd">)", "t", 4, true, "abc"},
    {R"(<p t="abc">)", "t", 1, true, ""},
    // A name longer than 61 bytes is cut so that its pattern fits 64 bytes.
    {"<p " + long_name.substr(0, 61) + "=\"v\">", long_name, 64, true, "v"},
    {"<p " + long_name.substr(0, 60) + "=\"v\">", long_name, 64, false, ""},
};

}  // namespace

TEST(XmlScan, GetAttr) {
  for (const AttrRow &row : attr_rows) {
    SCOPED_TRACE(row.tag + " / " + row.name + " / " + std::to_string(row.out_size));
    char out[600];
    std::memset(out, '#', sizeof out);
    out[sizeof out - 1] = '\0';
    const bool found = xml_get_attr(row.tag, row.name, out, row.out_size);
    EXPECT_EQ(found, row.found);
    if (row.found) {
      EXPECT_EQ(std::string(out), row.want);
      EXPECT_EQ(out[row.want.size() + 1], '#');  // nothing written past the NUL
    } else {
      EXPECT_EQ(std::string(out), std::string(sizeof out - 1, '#'));
    }
  }
}

// The tag is a view: a value runs to the view's end, not to a NUL beyond it.
TEST(XmlScan, GetAttrReadsOnlyItsView) {
  const std::string bytes = R"(<p t="abc" u="x">)";
  char out[64] = "keep";
  EXPECT_TRUE(xml_get_attr(std::string_view(bytes).substr(0, 8), "t", out, sizeof out));
  EXPECT_STREQ(out, "ab");
  std::strcpy(out, "keep");
  EXPECT_FALSE(xml_get_attr(std::string_view(bytes).substr(0, 13), "u", out, sizeof out));
  EXPECT_STREQ(out, "keep");
}

// A buffer of no bytes holds nothing, not even the NUL: presence is still told.
TEST(XmlScan, GetAttrIntoNoBytesWritesNothing) {
  char out[4] = "abc";
  EXPECT_TRUE(xml_get_attr(R"(<p t="value">)", "t", out, 0));
  EXPECT_FALSE(xml_get_attr(R"(<p u="value">)", "t", out, 0));
  EXPECT_STREQ(out, "abc");
}

namespace {

struct TextRow {
  std::string in;
  std::string want;
};

const TextRow text_rows[] = {
    {R"(  <span tts:color="red">Hi</span> &amp; bye  )", "Hi & bye"},
    {"a<br/>b", "ab"},
    {"x > y", "x  y"},  // a stray '>' disappears
    {">>a>", "a"},
    {"a <b", "a"},  // an unclosed '<' drops the rest
    {"a <b c>d", "a d"},
    {"&lt;b&gt;bold&lt;/b&gt;", "<b>bold</b>"},  // escaped markup stays visible
    {"<![CDATA[a>b]]>", "b]]"},                  // no CDATA: markup runs to the first '>'
    {"<!-- c -->z", "z"},
    {"<a><b>nested</b></a>", "nested"},
    {"<<a>b", "b"},
    {"line one\n  line  two\r\n", "line one\n  line  two"},
    {" \t\r\n<p> \t x \n</p>\n", "x"},
    {"&nbsp;x&nbsp;", "x"},  // trimming comes after decoding
    {"&#65;&#x1F600;", "A"},
    {"&amp;lt;", "&lt;"},
    {"", ""},
    {"   ", ""},
    {"<p></p>", ""},
};

}  // namespace

TEST(XmlScan, TextDecodeCopy) {
  static char out[SUB_XML_TEXT_SIZE];
  for (const TextRow &row : text_rows) {
    SCOPED_TRACE(testing::PrintToString(row.in));
    std::memset(out, '#', sizeof out);
    const std::string_view got =
        xml_text_decode_copy(row.in.data(), row.in.data() + row.in.size(), out);
    EXPECT_EQ(got, row.want);
    EXPECT_EQ(got.data(), out);
    EXPECT_EQ(std::string(out), row.want);
  }
}

TEST(XmlScan, TextDecodeCopyRanges) {
  static char out[SUB_XML_TEXT_SIZE];
  const std::string s = "<p>hello world</p>";
  const char *b = s.data();

  // Only [begin, end) is read: the end can fall inside text or inside a tag.
  EXPECT_EQ(xml_text_decode_copy(b + 3, b + 8, out), "hello");
  EXPECT_EQ(xml_text_decode_copy(b, b + 2, out), "");
  EXPECT_EQ(xml_text_decode_copy(b + 4, b + 15, out), "ello world");
  // An empty or reversed range gives the empty string.
  std::strcpy(out, "old");
  EXPECT_EQ(xml_text_decode_copy(b + 5, b + 5, out), "");
  EXPECT_STREQ(out, "");
  std::strcpy(out, "old");
  EXPECT_EQ(xml_text_decode_copy(b + 8, b + 3, out), "");
  EXPECT_STREQ(out, "");
}

// At most 65535 bytes are copied; the cut comes before decoding and trimming.
TEST(XmlScan, TextDecodeCopyCutsAt65535Bytes) {
  static char out[SUB_XML_TEXT_SIZE];
  struct Row {
    std::string name;
    std::string in;
    std::string want;
  };
  std::string plain;
  for (size_t i = 0; i < 70000; ++i) plain += static_cast<char>('a' + i % 26);
  const Row rows[] = {
      {"70000 plain bytes", plain, plain.substr(0, 65535)},
      {"exactly 65535", plain.substr(0, 65535), plain.substr(0, 65535)},
      {"65536", plain.substr(0, 65536), plain.substr(0, 65535)},
      // Markup does not count toward the limit.
      {"tags between", "<p>" + plain.substr(0, 40000) + "<br/>" + plain.substr(0, 30000) + "</p>",
       plain.substr(0, 40000) + plain.substr(0, 25535)},
      // A reference cut in half by the limit stays as text.
      {"cut reference", std::string(65532, 'x') + "&amp;tail", std::string(65532, 'x') + "&am"},
      {"whole reference", std::string(65530, 'x') + "&amp;tail", std::string(65530, 'x') + "&"},
      // White space at the cut is trimmed away like any other end.
      {"blank at the cut", std::string(65530, 'x') + std::string(10, ' ') + "y",
       std::string(65530, 'x')},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::memset(out, '#', sizeof out);
    const std::string_view got =
        xml_text_decode_copy(row.in.data(), row.in.data() + row.in.size(), out);
    EXPECT_EQ(got.size(), row.want.size());
    EXPECT_TRUE(got == row.want);
    EXPECT_EQ(std::strlen(out), row.want.size());
  }
}

TEST(XmlScan, TextLenStopsAtFirstNul) {
  struct Row {
    std::string bytes;
    size_t len;
    size_t want;
  };
  const Row rows[] = {
      {"abc", 3, 3},    {"abc\0def"s, 7, 3}, {"\0abc"s, 4, 0},
      {"abcdef", 4, 4}, {"", 0, 0},          {"ab\0"s, 3, 2},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.bytes));
    EXPECT_EQ(xml_text_len(row.bytes.data(), row.len), row.want);
  }
}
