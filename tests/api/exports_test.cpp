// The shared library exports exactly the functions of the public header, under
// their plain names, and carries the SONAME of ABI version 0.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "test_support.h"

namespace {

std::string quoted(const std::string &path) { return "'" + path + "'"; }

// Function names declared in the public header (comments and preprocessor
// lines removed first, so names mentioned in prose do not count).
std::set<std::string> header_functions() {
  std::string text = subtest::read_file(SUBPARSE_PUBLIC_HEADER);
  text = std::regex_replace(text, std::regex(R"(/\*[\s\S]*?\*/|//[^\n]*)"), " ");
  text = std::regex_replace(text, std::regex(R"((^|\n)[ \t]*#[^\n]*)"), "\n");
  std::set<std::string> names;
  const std::regex declaration(R"(([A-Za-z_]\w*)\s*\(([^()]*)\)\s*;)");
  for (std::sregex_iterator it(text.begin(), text.end(), declaration), end; it != end; ++it)
    names.insert((*it)[1]);
  return names;
}

struct Symbols {
  std::set<std::string> text;   // defined functions
  std::set<std::string> other;  // any other defined symbol: "NAME (TYPE)"
};

Symbols exported_symbols() {
  std::string out, err;
  const int code =
      subtest::run_command("nm -D --defined-only " + quoted(SUBPARSE_SHARED_LIB), &out, &err);
  EXPECT_EQ(code, 0) << err;
  Symbols symbols;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string value, type, name;
    if (!(fields >> value >> type >> name)) continue;
    name = name.substr(0, name.find('@'));  // drop a version suffix
    if (type == "T" || type == "t")
      symbols.text.insert(name);
    else
      symbols.other.insert(name + " (" + type + ")");
  }
  return symbols;
}

// The 18 classic functions and the document API.
const std::set<std::string> kExternalInterface = {
    "sub_parse",
    "sub_format_name",
    "sub_detect_format",
    "sub_clear",
    "sub_cue_count",
    "sub_cue_start_ms",
    "sub_cue_end_ms",
    "sub_cue_line_count",
    "sub_cue_line",
    "sub_cue_is_danmu",
    "sub_cue_danmu_mode",
    "sub_cue_danmu_color",
    "sub_cue_danmu_fontsize",
    "sub_last_error",
    "sub_warning_count",
    "sub_warning",
    "sub_detected_format",
    "sub_result_json",
    // The document API.
    "sub_parse_options_init_size",
    "sub_parse_options_init",
    "sub_doc_parse",
    "sub_doc_free",
    "sub_doc_cue_count",
    "sub_doc_cue_start_ms",
    "sub_doc_cue_end_ms",
    "sub_doc_cue_line_count",
    "sub_doc_cue_line",
    "sub_doc_cue_is_danmu",
    "sub_doc_cue_danmu_mode",
    "sub_doc_cue_danmu_color",
    "sub_doc_cue_danmu_fontsize",
    "sub_doc_cue_id",
    "sub_doc_cue_settings",
    "sub_doc_error",
    "sub_doc_warning_count",
    "sub_doc_warning",
    "sub_doc_format",
    "sub_doc_encoding",
    "sub_doc_json",
    "sub_format_id",
    "sub_write_options_init_size",
    "sub_write_options_init",
    "sub_doc_write",
    "sub_text_free",
    "sub_doc_shift",
    "sub_doc_scale",
    "sub_doc_sort",
};

TEST(Exports, HeaderDeclaresTheExternalInterface) {
  EXPECT_EQ(header_functions(), kExternalInterface);
}

TEST(Exports, SharedLibraryExportsExactlyTheHeaderFunctions) {
  const Symbols symbols = exported_symbols();
  EXPECT_EQ(symbols.text, header_functions());
  EXPECT_TRUE(symbols.other.empty())
      << "also exported: " << ::testing::PrintToString(symbols.other);
}

TEST(Exports, SonameIsAbiVersionZero) {
  std::string out, err;
  ASSERT_EQ(subtest::run_command("readelf -d " + quoted(SUBPARSE_SHARED_LIB), &out, &err), 0)
      << err;
  EXPECT_NE(out.find("(SONAME)"), std::string::npos) << out;
  EXPECT_NE(out.find("Library soname: [libsubparse.so.0]"), std::string::npos) << out;
}

}  // namespace
