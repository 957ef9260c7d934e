// XML-like markup read without an XML parser (TTML, YouTube XML, Bilibili,
// SAMI): attribute values from a copy of one opening tag, and the text
// content of an element.
#ifndef SUB_PARSERS_RICH_XML_SCAN_H
#define SUB_PARSERS_RICH_XML_SCAN_H

#include <cstddef>
#include <string_view>

// The value of attribute `name` ("name=\"...\"" first, else "name='...'",
// the name matched as a substring ignoring case) in one tag copy, cut to
// out_size - 1 bytes and NUL-terminated in `out`; false, leaving `out` alone,
// when absent. With out_size 0 nothing is written.
bool xml_get_attr(std::string_view tag, std::string_view name, char *out, size_t out_size);

// Size of the buffer xml_text_decode_copy writes.
constexpr size_t SUB_XML_TEXT_SIZE = 65536;

// The text of [begin, end) with every <...> dropped (at most 65535 bytes
// copied), references decoded and both ends trimmed, written into `out`
// (SUB_XML_TEXT_SIZE bytes, NUL-terminated); returns it as a view.
std::string_view xml_text_decode_copy(const char *begin, const char *end, char *out);

// The length of the text as the markup parsers read it: up to its first NUL.
size_t xml_text_len(const char *text, size_t len);

#endif
