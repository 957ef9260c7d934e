// TTML output:
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <tt xmlns="http://www.w3.org/ns/ttml" xml:lang="en">
//   <body>
//   <div>
//   <p begin="00:00:01.000" end="00:00:02.500">first line<br/>second &amp; last</p>
//   <p begin="00:00:03.000" end="00:00:04.000" xml:space="preserve">two  spaces</p>
//   </div>
//   </body>
//   </tt>
//
// One paragraph per cue, in the document's order, its display lines (cut at
// LF, CR and CR LF) joined by <br/>, empty ones included. The text is XML
// character data: '&', '<' and '>' are escaped, and what XML 1.0 cannot hold
// (control bytes other than tab, ill-formed UTF-8, U+FFFE, U+FFFF) becomes
// U+FFFD, one per control byte, non-character or maximal ill-formed subpart
// of UTF-8, so the output is always well-formed. Hours take as many digits
// as they need (at least two); negative times are written as 0. A cue with
// no text, or whose end is not after its start, is written all the same and
// shows nothing.
//
// White space: TTML readers collapse runs of spaces and tabs and drop them at
// line ends unless told otherwise, so a paragraph whose lines hold a tab, two
// spaces in a row or a space at either end carries xml:space="preserve".
// The library's own TTML reading collapses white space in every case: read
// back, such a line has its runs of spaces and tabs as one space and no space
// at its ends, a line left empty is dropped, and a cue left with no line, or
// whose end is not after its start, gives no cue at all.
#include "sub_parser.h"
#include "writer.h"

namespace {

// Bytes written as they are: printable ASCII other than '&', '<' and '>',
// and tab. Every other byte needs a look (escaping, UTF-8 check).
struct TtmlPlainBytes {
  bool plain[256] = {};
  constexpr TtmlPlainBytes() {
    for (int c = 0x20; c < 0x80; ++c) plain[c] = c != '&' && c != '<' && c != '>';
    plain[static_cast<unsigned char>('\t')] = true;
  }
};
constexpr TtmlPlainBytes ttml_plain;

// Appends `s` as XML character data (also fit for an attribute value that
// holds no '"'): '&', '<', '>' escaped, control bytes other than tab,
// ill-formed UTF-8 and U+FFFE / U+FFFF written as U+FFFD.
void ttml_put_text(SubOut *out, std::string_view s) {
  const auto *u = reinterpret_cast<const unsigned char *>(s.data());
  const size_t n = s.size();
  size_t written = 0;  // bytes before this are in `out`
  size_t i = 0;
  while (i < n) {
    const unsigned char c = u[i];
    if (ttml_plain.plain[c]) {
      ++i;
      continue;
    }
    size_t skip = 1;
    std::string_view replace;
    if (c >= 0x80) {
      size_t subpart = 0;
      const size_t seq = sub_utf8_seq(u, n, i, &subpart);
      // U+FFFE and U+FFFF: EF BF BE and EF BF BF.
      const bool non_char = seq == 3 && c == 0xEF && u[i + 1] == 0xBF && u[i + 2] >= 0xBE;
      if (seq && !non_char) {
        i += seq;
        continue;
      }
      skip = seq ? seq : subpart;
      replace = "\xEF\xBF\xBD";
    } else if (c == '&') {
      replace = "&amp;";
    } else if (c == '<') {
      replace = "&lt;";
    } else if (c == '>') {
      replace = "&gt;";
    } else {
      replace = "\xEF\xBF\xBD";
    }
    out->put(s.data() + written, i - written);
    out->put(replace);
    i += skip;
    written = i;
  }
  out->put(s.data() + written, n - written);
}

// Whether a reader's default white space handling would change a display
// line of the cue: a tab, two spaces in a row, or a space at either end.
bool ttml_needs_preserve(const SubCue &cue) {
  bool needs = false;
  sub_each_piece(cue, SubBreaks::lf_cr, [&](std::string_view piece) {
    if (needs || piece.empty()) return;
    needs = piece.front() == ' ' || piece.back() == ' ' ||
            piece.find('\t') != std::string_view::npos ||
            piece.find("  ") != std::string_view::npos;
  });
  return needs;
}

}  // namespace

void sub_write_ttml(const SubDoc *doc, const SubWriteOptions &options, SubOut *out) {
  constexpr SubClockStyle clock{2, '.', 3};
  out->put(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<tt xmlns=\"http://www.w3.org/ns/ttml\" xml:lang=\"");
  // The options check keeps quotes out of the language.
  ttml_put_text(out, options.ttml_lang);
  out->put("\">\n<body>\n<div>\n");
  for (int32_t i = 0; i < doc->cue_count; ++i) {
    const SubCue &cue = doc->cues[i];
    out->put("<p begin=\"");
    sub_out_clock(out, cue.start_ms, clock);
    out->put("\" end=\"");
    sub_out_clock(out, cue.end_ms, clock);
    out->put(ttml_needs_preserve(cue) ? std::string_view("\" xml:space=\"preserve\">")
                                      : std::string_view("\">"));
    bool first = true;
    sub_each_piece(cue, SubBreaks::lf_cr, [&](std::string_view piece) {
      if (!first) out->put("<br/>");
      first = false;
      ttml_put_text(out, piece);
    });
    out->put("</p>\n");
  }
  out->put("</div>\n</body>\n</tt>\n");
}
