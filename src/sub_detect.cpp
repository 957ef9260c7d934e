// Format detection: an ordered list of cheap textual tests over the start of
// the file (the first 8192 bytes, or everything after a UTF-8 byte-order
// mark), the first match deciding; the file name's extension is the last
// resort. The window is read as text, so it ends at its first NUL byte.
#include <cstring>

#include "sub_engine.h"
#include "sub_util/strings.h"

namespace {

constexpr size_t detect_window = 8192;

struct ExtensionHint {
  const char *ext;
  int32_t format;
};

constexpr ExtensionHint extension_hints[] = {
    {".srt", SUB_FMT_SRT},    {".vtt", SUB_FMT_VTT},   {".webvtt", SUB_FMT_VTT},
    {".ass", SUB_FMT_ASS},    {".ssa", SUB_FMT_ASS},   {".sub", SUB_FMT_MICRODVD},
    {".ttml", SUB_FMT_TTML},  {".dfxp", SUB_FMT_TTML}, {".lrc", SUB_FMT_LRC},
    {".smi", SUB_FMT_SAMI},   {".sami", SUB_FMT_SAMI}, {".xml", SUB_FMT_YTXML},
    {".json", SUB_FMT_ACFUN},
};

bool detect_any_of(std::string_view text, std::initializer_list<std::string_view> needles,
                   bool ignore_case) {
  for (std::string_view needle : needles)
    if (ignore_case ? sub_sv_icontains(text, needle) : sub_sv_contains(text, needle)) return true;
  return false;
}

// LRC: tags or a leading time, a closing bracket, and a tag-like opening.
bool detect_lrc(std::string_view text) {
  const bool tags = detect_any_of(text, {"[ti:", "[ar:"}, false) ||
                    (text.size() > 1 && sub_is_digit(text[1]) && sub_sv_contains(text, ":"));
  return tags && sub_sv_contains(text, "]") && detect_any_of(text, {"[0", "[1", "[ti"}, false);
}

// The content tests; `text` starts at the first non-blank byte.
int32_t detect_content(std::string_view text) {
  if (text.substr(0, 6) == "WEBVTT") return SUB_FMT_VTT;
  if (detect_any_of(text, {"[Script Info]", "[V4+ Styles]", "[Events]"}, true)) return SUB_FMT_ASS;
  if (text.substr(0, 13) == "[INFORMATION]") return SUB_FMT_SUBVIEWER;
  if (detect_any_of(text, {"<SAMI", "<SYNC "}, true)) return SUB_FMT_SAMI;
  if (detect_any_of(text, {"<d p=", "<d p =\""}, false)) return SUB_FMT_BILIBILI;
  if (detect_any_of(text, {"<tt ", "<tt>", "ttml", "<p begin="}, true)) return SUB_FMT_TTML;
  if (sub_sv_contains(text, "<text ") && sub_sv_contains(text, "start=") &&
      sub_sv_contains(text, "dur="))
    return SUB_FMT_YTXML;
  const char first = text.empty() ? '\0' : text[0];
  if (first == '[' && detect_lrc(text)) return SUB_FMT_LRC;
  if (first == '[' || first == '{') {
    const char second = text.size() > 1 ? text[1] : '\0';
    if ((sub_is_digit(second) || second == '-') && sub_sv_contains(text, "}") &&
        sub_sv_contains(text.substr(1), "{"))
      return SUB_FMT_MICRODVD;
    if (sub_sv_contains(text, "\"c\"") && sub_sv_contains(text, "\"m\"")) return SUB_FMT_ACFUN;
  }
  if (detect_any_of(text, {"-->", "- >", "->"}, false)) return SUB_FMT_SRT;
  return SUB_FMT_AUTO;
}

}  // namespace

int32_t sub_ext_hint(const char *name) {
  const char *dot = name ? std::strrchr(name, '.') : nullptr;
  if (!dot) return SUB_FMT_AUTO;
  for (const auto &hint : extension_hints)
    if (sub_str_ieq(dot, hint.ext)) return hint.format;
  return SUB_FMT_AUTO;
}

extern "C" int32_t sub_detect_format(const void *buf, size_t len, const char *name) {
  if (!buf) return len ? SUB_FMT_AUTO : sub_ext_hint(name);
  const char *bytes = static_cast<const char *>(buf);
  std::string_view window;
  if (len > 2 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0)
    window = std::string_view(bytes + 3, len - 3);
  else
    window = std::string_view(bytes, len < detect_window ? len : detect_window);
  if (const void *nul = std::memchr(window.data(), '\0', window.size()))
    window = window.substr(0, static_cast<size_t>(static_cast<const char *>(nul) - window.data()));

  size_t start = 0;
  while (start < window.size() && sub_is_blank(static_cast<unsigned char>(window[start]))) ++start;
  const int32_t found = detect_content(window.substr(start));
  return found != SUB_FMT_AUTO ? found : sub_ext_hint(name);
}
