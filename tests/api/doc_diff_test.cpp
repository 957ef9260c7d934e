// The two APIs side by side: every input read by sub_parse() and by
// sub_doc_parse() with the same format and encoding must give the same
// answers (fuzz/doc_diff.h, shared with the fuzz target fuzz_doc_diff).
// Inputs: small files of every format under every selector the fuzz target
// can pick, the fuzz corpus and regressions, and the shared samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "doc_diff.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// Files of a folder and its subfolders, in name order, without the notes and
// expected outputs that sit beside the shared samples.
std::vector<fs::path> files_under(const fs::path &dir) {
  std::vector<fs::path> files;
  for (const auto &entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().filename().string();
    const auto ends_with = [&](std::string_view tail) {
      return name.size() >= tail.size() &&
             name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (ends_with(".md") || ends_with(".expected.json") || ends_with(".isd.txt")) continue;
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The format a shared sample folder is named after; -1 for any other folder.
int32_t format_of_folder(const std::string &folder) {
  for (int32_t format = 0; format < SUB_FMT_COUNT; ++format)
    if (folder == sub_format_name(format)) return format;
  return SUB_FMT_AUTO;
}

void expect_same(const std::string &bytes, int32_t format, const char *encoding = nullptr) {
  EXPECT_EQ(docdiff::compare(bytes.data(), bytes.size(), format, encoding), "");
}

// Inputs at the edges of the decoder and of detection, beside the samples.
const std::vector<std::string> &edge_inputs() {
  using namespace std::string_literals;
  static const std::vector<std::string> inputs = {
      "",
      "x",
      "\xEF\xBB\xBF",
      "\xFF\xFE",
      "\xFE\xFF\0"s,
      "\xFF\xFE"
      "1\0\n\0"s,  // UTF-16 text cut in the middle of a unit
      "\0\0\0\0"s,
      "1\n00:00:01,000 --> 00:00:02,000\nhi\0there\n"s,
      "1\n00:00:01,000 --> 00:00:02,000\nbad \xC3\x28 sequence\n",
      "WEBVTT\n\n",
      "<tt></tt>",
      "[]",
      "<i></i>",
  };
  return inputs;
}

TEST(DocDiff, SamplesUnderEverySelector) {
  std::vector<std::string> inputs = edge_inputs();
  for (const docdiff::Sample &s : docdiff::samples()) inputs.push_back(s.bytes);
  for (const std::string &input : inputs) {
    SCOPED_TRACE(testing::PrintToString(input.substr(0, 40)));
    for (const int32_t format : docdiff::kFormats)
      for (const char *encoding : docdiff::kEncodings) expect_same(input, format, encoding);
  }
}

// The fuzz inputs as the fuzz target reads them (selector bytes first), and
// their files under detection and under every format.
TEST(DocDiff, FuzzCorpusAndRegressions) {
  int files = 0;
  for (const char *folder : {"/fuzz/corpus", "/fuzz/regressions"}) {
    for (const fs::path &path : files_under(fs::path(SUBPARSE_SOURCE_DIR) += folder)) {
      SCOPED_TRACE(path.string());
      const std::string bytes = subtest::read_file(path.string());
      EXPECT_EQ(docdiff::compare_fuzz_input(reinterpret_cast<const uint8_t *>(bytes.data()),
                                            bytes.size()),
                "");
      const std::string file = bytes.size() > 2 ? bytes.substr(2) : std::string();
      for (int32_t format = SUB_FMT_AUTO; format < SUB_FMT_COUNT; ++format)
        expect_same(file, format);
      ++files;
    }
  }
  EXPECT_GT(files, 0);
}

// Every shared sample with detection and as the format of its folder; the
// smaller ones as every format, which drives each parser through inputs it
// must reject.
TEST(DocDiff, SharedCorpus) {
  const fs::path root = SUBPARSE_SOURCE_DIR "/../shared/corpus";
  if (!fs::is_directory(root)) GTEST_SKIP() << "no shared samples at " << root;
  int files = 0;
  for (const fs::path &path : files_under(root)) {
    SCOPED_TRACE(path.string());
    const std::string bytes = subtest::read_file(path.string());
    const int32_t own = format_of_folder(path.parent_path().filename().string());
    if (bytes.size() <= size_t{64} * 1024) {
      for (int32_t format = SUB_FMT_AUTO; format < SUB_FMT_COUNT; ++format)
        expect_same(bytes, format);
    } else {
      expect_same(bytes, SUB_FMT_AUTO);
      if (own != SUB_FMT_AUTO) expect_same(bytes, own);
    }
    ++files;
  }
  std::cout << files << " shared samples compared\n";
  EXPECT_GT(files, 0);
}

}  // namespace
