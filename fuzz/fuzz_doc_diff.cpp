// libFuzzer target comparing the two APIs: every input goes through
// sub_parse() and through sub_doc_parse() with the same format and encoding
// (the selector bytes of fuzz_parse.cpp), and both must report the same
// codes, cues, danmaku fields, error text, warnings and JSON, and release
// everything afterwards. Any difference aborts with a description.
#include <cstdio>
#include <cstdlib>

#include "doc_diff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string diff = docdiff::compare_fuzz_input(data, size);
  if (!diff.empty()) {
    std::fprintf(stderr, "sub_parse and sub_doc_parse disagree: %s\n", diff.c_str());
    std::abort();
  }
  return 0;
}
