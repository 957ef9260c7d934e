// libFuzzer target over the writers' round trip. The selector bytes of
// doc_diff.h pick the format and the encoding of the parse; bit 4 of the
// second byte, which the encoding table does not read (byte % 16), picks the
// classic reading, so that the shared seeds (selector 0) keep the default
// standard reading. Whatever the parse gives, failures included, is written
// in SRT, WebVTT, ASS, LRC and TTML, and each text must read back as
// roundtrip.h expects; everything taken must be released. A difference
// aborts with a description and the start of the written text.
#include <cstdio>
#include <cstdlib>

#include "doc_diff.h"
#include "fault_alloc.h"
#include "roundtrip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.format = docdiff::kFormats[data[0] % (sizeof docdiff::kFormats / sizeof(int32_t))];
  options.encoding =
      docdiff::kEncodings[data[1] % (sizeof docdiff::kEncodings / sizeof(const char *))];
  options.reading = (data[1] & 0x10) ? SUB_READING_CLASSIC : SUB_READING_STANDARD;
  const int64_t live = sub_alloc_live();
  SubDoc *doc = nullptr;
  sub_doc_parse(size > 2 ? data + 2 : nullptr, size - 2, &options, &doc);
  if (doc) {
    for (const int32_t format : roundtrip::kWriters) {
      const roundtrip::Result r = roundtrip::check(doc, format);
      if (r.difference.empty()) continue;
      std::fprintf(stderr, "%s round trip: %s\nwritten (%zu bytes):\n%.2000s\n",
                   sub_format_name(format), r.difference.c_str(), r.text.size(), r.text.c_str());
      std::abort();
    }
  }
  sub_doc_free(doc);
  if (sub_alloc_live() != live) {
    std::fprintf(stderr, "%lld blocks left allocated\n",
                 static_cast<long long>(sub_alloc_live() - live));
    std::abort();
  }
  return 0;
}
