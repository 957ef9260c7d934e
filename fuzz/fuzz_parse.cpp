// libFuzzer target over sub_parse. The first byte picks the format
// identifier, the second the encoding name (the tables of doc_diff.h, shared
// with fuzz_doc_diff.cpp; "auto" among them); the rest is the file. After each
// parse the result is checked: a known code, JSON that reads back and agrees
// with the accessors, out-of-range accessors that answer as documented, and
// nothing left allocated after sub_clear().
#include <yyjson.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "doc_diff.h"
#include "fault_alloc.h"
#include "subparse.h"

namespace {

using docdiff::kEncodings;
using docdiff::kFormats;

void check(bool ok, const char *what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

void check_json_matches_accessors() {
  const char *json = sub_result_json();
  yyjson_doc *doc = yyjson_read(json, std::strlen(json), 0);
  check(doc != nullptr, "JSON reads back");
  yyjson_val *root = yyjson_doc_get_root(doc);
  check(std::strcmp(yyjson_get_str(yyjson_obj_get(root, "format")),
                    sub_format_name(sub_detected_format())) == 0,
        "format name");
  yyjson_val *cues = yyjson_obj_get(root, "cues");
  check(yyjson_arr_size(cues) == static_cast<size_t>(sub_cue_count()), "cue count");
  size_t i = 0, max = 0;
  yyjson_val *cue = nullptr;
  yyjson_arr_foreach(cues, i, max, cue) {
    const auto c = static_cast<int32_t>(i);
    check(yyjson_get_sint(yyjson_obj_get(cue, "start")) == sub_cue_start_ms(c), "start");
    check(yyjson_get_sint(yyjson_obj_get(cue, "end")) == sub_cue_end_ms(c), "end");
    check(
        yyjson_arr_size(yyjson_obj_get(cue, "lines")) == static_cast<size_t>(sub_cue_line_count(c)),
        "line count");
    for (int32_t k = 0; k < sub_cue_line_count(c); ++k) check(sub_cue_line(c, k), "line");
    check(sub_cue_line(c, -1) == nullptr && sub_cue_line(c, sub_cue_line_count(c)) == nullptr,
          "line index out of range");
    const bool danmu = yyjson_obj_get(cue, "danmu") != nullptr;
    check(danmu == (sub_cue_is_danmu(c) != 0), "danmu flag");
    if (danmu) {
      check(yyjson_get_sint(yyjson_obj_get(cue, "mode")) == sub_cue_danmu_mode(c), "mode");
      check(yyjson_get_uint(yyjson_obj_get(cue, "color")) == sub_cue_danmu_color(c), "color");
      yyjson_val *size = yyjson_obj_get(cue, "fontsize");
      const float f = sub_cue_danmu_fontsize(c);
      check(
          std::isfinite(f) ? yyjson_get_real(size) == static_cast<double>(f) : yyjson_is_null(size),
          "font size");
    }
  }
  yyjson_doc_free(doc);
}

void check_out_of_range() {
  const int32_t n = sub_cue_count();
  for (const int32_t i : {int32_t{-1}, n, INT32_MIN}) {
    check(sub_cue_start_ms(i) == -1 && sub_cue_end_ms(i) == -1, "times out of range");
    check(sub_cue_line_count(i) == 0 && sub_cue_line(i, 0) == nullptr, "lines out of range");
    check(sub_cue_is_danmu(i) == 0 && sub_cue_danmu_mode(i) == 0 && sub_cue_danmu_color(i) == 0 &&
              sub_cue_danmu_fontsize(i) == 0.0f,
          "danmaku out of range");
  }
  check(sub_warning(-1) == nullptr && sub_warning(sub_warning_count()) == nullptr,
        "warning out of range");
  check(sub_warning_count() >= 0 && sub_warning_count() <= 64, "warning count");
  check(sub_last_error() != nullptr, "error text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const int32_t format = kFormats[data[0] % (sizeof kFormats / sizeof *kFormats)];
  const char *encoding = kEncodings[data[1] % (sizeof kEncodings / sizeof *kEncodings)];
  data += 2;
  size -= 2;
  const int32_t rc = sub_parse(size ? data : nullptr, size, format, encoding);
  check(rc >= 0 && rc <= 5, "result code");
  check_out_of_range();
  if (rc == 0) {
    check(sub_detected_format() >= 0 && sub_detected_format() <= 10, "detected format");
    check_json_matches_accessors();
  } else {
    check(std::strcmp(sub_result_json(), "{}") == 0, "no JSON after a failure");
  }
  // A second parse replaces everything; sub_clear releases everything.
  sub_parse(data, size, -1, nullptr);
  sub_clear();
  check(sub_alloc_live() == 0, "everything released");
  check(sub_cue_count() == 0 && sub_detected_format() == -1, "cleared state");
  return 0;
}
