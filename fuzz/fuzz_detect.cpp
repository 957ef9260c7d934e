// libFuzzer target over sub_detect_format: the first byte says how many of
// the following bytes form the file name; the rest is the file.
#include <cstdlib>
#include <string>

#include "subparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  size_t name_len = data[0] % 16;
  if (name_len > size - 1) name_len = size - 1;
  const std::string name(reinterpret_cast<const char *>(data + 1), name_len);
  data += 1 + name_len;
  size -= 1 + name_len;
  const int32_t format = sub_detect_format(data, size, name_len ? name.c_str() : nullptr);
  if (format < -1 || format > 10) std::abort();
  if (sub_detect_format(nullptr, size ? size : 1, name.c_str()) != -1) std::abort();
  return 0;
}
