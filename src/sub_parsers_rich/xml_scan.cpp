// The two helpers shared by the XML-like formats: attribute values from a
// copy of one opening tag, and the text content of an element with its
// markup dropped, references decoded and both ends trimmed.
#include <cstdio>
#include <cstring>

#include "xml_scan.h"

#include "sub_util/strings.h"
#include "sub_util/values.h"

namespace {

constexpr size_t xml_pattern_size = 64;  // "name=\"" with the name cut to 61 bytes
constexpr size_t xml_text_max = SUB_XML_TEXT_SIZE - 1;

}  // namespace

size_t xml_text_len(const char *text, size_t len) {
  const void *nul = std::memchr(text, '\0', len);
  return nul ? static_cast<size_t>(static_cast<const char *>(nul) - text) : len;
}

bool xml_get_attr(std::string_view tag, std::string_view name, char *out, size_t out_size) {
  char pattern[xml_pattern_size];
  const size_t name_len = name.size() < xml_pattern_size - 3 ? name.size() : xml_pattern_size - 3;
  std::memcpy(pattern, name.data(), name_len);
  pattern[name_len] = '=';
  for (const char quote : {'"', '\''}) {
    pattern[name_len + 1] = quote;
    const size_t at = sub_sv_ifind(tag, std::string_view(pattern, name_len + 2));
    if (at == std::string_view::npos) continue;
    std::string_view value = tag.substr(at + name_len + 2);
    value = value.substr(0, value.find(quote));
    if (out_size == 0) return true;
    if (value.size() > out_size - 1) value = value.substr(0, out_size - 1);
    std::memcpy(out, value.data(), value.size());
    out[value.size()] = '\0';
    return true;
  }
  return false;
}

std::string_view xml_text_decode_copy(const char *begin, const char *end, char *out) {
  size_t n = 0;
  bool in_markup = false;
  for (const char *p = begin; p < end && n < xml_text_max; ++p) {
    const char c = *p;
    if (c == '<') {
      in_markup = true;
    } else if (c == '>') {
      in_markup = false;
    } else if (!in_markup) {
      // Copy the run up to the next markup byte at once.
      const char *stop = p;
      while (stop < end && *stop != '<' && *stop != '>') ++stop;
      size_t run = static_cast<size_t>(stop - p);
      if (run > xml_text_max - n) run = xml_text_max - n;
      std::memcpy(out + n, p, run);
      n += run;
      p += run - 1;
    }
  }
  n = sub_html_decode(out, n);
  std::string_view text = sub_sv_trim(std::string_view(out, n));
  // Trimming moves the start: shift so that `out` holds the NUL-terminated text.
  if (text.data() != out) std::memmove(out, text.data(), text.size());
  out[text.size()] = '\0';
  return std::string_view(out, text.size());
}
