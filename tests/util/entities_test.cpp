// Character references: the seven named ones, decimal and hexadecimal
// numeric ones written as UTF-8 up to U+FFFF, one pass with no rescanning,
// and the length-based form that reads exactly the bytes it is given.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "test_support.h"

using namespace std::string_literals;

namespace {

struct DecodeRow {
  const char *in;
  std::string want;
};

const DecodeRow decode_rows[] = {
    // Named references, case-sensitive, exact.
    {"a &lt;b&gt; &amp; c", "a <b> & c"},
    {"&quot;x&quot; &apos;y&apos;", "\"x\" 'y'"},
    {"&nbsp;|&NBSP;", " | "},  // an ordinary space, not U+00A0
    {"&AMP; &Nbsp; &LT; &eacute; &copy;", "&AMP; &Nbsp; &LT; &eacute; &copy;"},
    {"&nbsp &amp &lt", "&nbsp &amp &lt"},
    {"&amp;lt;", "&lt;"},  // one pass: the output is not scanned again
    {"&amp;amp;", "&amp;"},
    {"&&amp;&", "&&&"},
    {"&", "&"},
    {"a & b", "a & b"},
    {"&;", "&;"},
    // Numeric references: decimal, hexadecimal with x or X, leading zeros.
    {"&#65;&#x42;&#X43;", "ABC"},
    {"&#x61;&#X6A;", "aj"},
    {"&#0000000000000000065;", "A"},
    {"&#x00000000000041;", "A"},
    {"&#9;&#10;", "\t\n"},
    {"&#127;", "\x7F"},
    {"&#128;", "\xC2\x80"},  // no remapping of 0x80..0x9F
    {"&#x9F;", "\xC2\x9F"},
    {"&#233;|&#xE9;", "\xC3\xA9|\xC3\xA9"},
    {"&#x7FF;", "\xDF\xBF"},
    {"&#x800;", "\xE0\xA0\x80"},
    {"&#x20AC;", "\xE2\x82\xAC"},
    {"&#xFFFF;", "\xEF\xBF\xBF"},
    // Surrogate values are written like any other three-byte value.
    {"&#xD800;", "\xED\xA0\x80"},
    {"&#xDFFF;", "\xED\xBF\xBF"},
    {"&#55357;&#56832;", "\xED\xA0\xBD\xED\xB8\x80"},
    // Values above U+FFFF vanish with their semicolon.
    {"a&#x1F600;b", "ab"},
    {"a&#128512;b", "ab"},
    {"&#x10000;&#65536;", ""},
    // So do references to NUL, with or without digits...
    {"a&#0;b", "ab"},
    {"a&#x0000;b", "ab"},
    {"a&#;b&#x;c&#X;d", "abcd"},
    // ...and values too long for 32 bits, which never wrap to a small one.
    {"a&#4294967361;b", "ab"},            // 2^32 + 65
    {"a&#x100000041;b", "ab"},            // 2^32 + 0x41
    {"a&#18446744073709551681;b", "ab"},  // 2^64 + 65
    {"a&#xFFFFFFFFFFFFFFFFFFFF0041;b", "ab"},
    {"a&#4294967295;b", "ab"},
    // Incomplete numeric references stay as text.
    {"&#65", "&#65"},
    {"&#65 ;", "&#65 ;"},
    {"&#xZZ;", "&#xZZ;"},
    {"&#x41G;", "&#x41G;"},
    {"&#6A;", "&#6A;"},  // 'A' is no decimal digit
    {"&#", "&#"},
    {"&#x", "&#x"},
    {"&# 65;", "&# 65;"},
    {"&&#65;", "&A"},
    {"&#&#65;", "&#A"},
    {"&#65&#66;", "&#65B"},
    // Text without references is untouched.
    {"", ""},
    {"plain text, no refs", "plain text, no refs"},
    {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},
};

}  // namespace

TEST(Entities, LengthFormMatchesAndReturnsTheNewLength) {
  for (const DecodeRow &row : decode_rows) {
    SCOPED_TRACE(testing::PrintToString(std::string(row.in)));
    std::string buf = row.in;
    const size_t n = sub_html_decode(buf.data(), buf.size());
    EXPECT_LE(n, buf.size());
    EXPECT_EQ(buf.substr(0, n), row.want);
  }
}

// The length form reads exactly `len` bytes: a reference cut by the end is
// text, a NUL inside is an ordinary byte, and nothing past `len` is touched.
TEST(Entities, LengthFormStopsAtItsLength) {
  struct Row {
    std::string bytes;
    size_t len;
    std::string want;
  };
  const Row rows[] = {
      {"&amp;", 4, "&amp"},
      {"&amp;", 5, "&"},
      {"&#65;", 4, "&#65"},
      {"&#x1F600;", 8, "&#x1F600"},
      {"&nbsp;", 1, "&"},
      {"&lt;\0&gt;"s, 9, "<\0>"s},
      {"a\0&#65;\0"s, 8, "a\0A\0"s},
      {"&#0;x"s, 5, "x"},  // never writes a NUL
      {"xyz", 0, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.bytes.substr(0, row.len)));
    std::string buf = row.bytes + "#guard";
    const size_t n = sub_html_decode(buf.data(), row.len);
    EXPECT_EQ(buf.substr(0, n), row.want);
    EXPECT_EQ(buf.substr(row.bytes.size()), "#guard");
  }
}

TEST(Entities, LongInput) {
  // A long run of references shrinks in one pass with the NUL where it ends.
  std::string in, want;
  for (int i = 0; i < 20000; ++i) {
    in += "&lt;&#x20AC;&#128512;x";
    want +=
        "<\xE2\x82\xAC"
        "x";
  }
  in += "&amp";
  want += "&amp";
  in.resize(sub_html_decode(in.data(), in.size()));
  EXPECT_EQ(in, want);
}
