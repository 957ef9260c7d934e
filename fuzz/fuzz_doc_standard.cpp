// libFuzzer target over the document API's defaults: the standard readings
// and the encoding "auto". The selector bytes of fuzz_parse.cpp pick the
// format and the encoding. Every accessor must answer within its contract,
// the JSON must read back with as many cues as the accessors count, and the
// document must release everything it took.
#include <yyjson.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "doc_diff.h"
#include "fault_alloc.h"

namespace {

void check(bool ok, const char *what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.format = docdiff::kFormats[data[0] % (sizeof docdiff::kFormats / sizeof(int32_t))];
  // The fixed rule's two slots keep the default, "auto".
  const char *encoding =
      docdiff::kEncodings[data[1] % (sizeof docdiff::kEncodings / sizeof(const char *))];
  if (encoding && *encoding) options.encoding = encoding;
  const int64_t live = sub_alloc_live();
  SubDoc *doc = nullptr;
  const int32_t rc = sub_doc_parse(size > 2 ? data + 2 : nullptr, size - 2, &options, &doc);
  check(rc >= SUB_OK && rc <= SUB_ERR_NOCUES, "result code");
  check(doc != nullptr, "a document for every outcome");
  const int32_t cues = sub_doc_cue_count(doc);
  for (int32_t i = 0; i < cues; ++i) {
    for (int32_t k = 0; k < sub_doc_cue_line_count(doc, i); ++k)
      check(sub_doc_cue_line(doc, i, k) != nullptr, "line");
    if (const char *settings = sub_doc_cue_settings(doc, i))
      check(std::strlen(settings) > 0, "settings non-empty when present");
  }
  check(sub_doc_cue_id(doc, cues) == nullptr && sub_doc_cue_line(doc, -1, 0) == nullptr,
        "out of range");
  const char *json = sub_doc_json(doc);
  check(json != nullptr, "JSON");
  yyjson_doc *read = yyjson_read(json, std::strlen(json), 0);
  check(read != nullptr, "JSON reads back");
  if (rc == SUB_OK)
    check(yyjson_arr_size(yyjson_obj_get(yyjson_doc_get_root(read), "cues")) ==
              static_cast<size_t>(cues),
          "JSON cue count");
  yyjson_doc_free(read);
  sub_doc_free(doc);
  check(sub_alloc_live() == live, "everything released");
  return 0;
}
