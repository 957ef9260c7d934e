/* Compiled as C99: the public header must need nothing beyond C. */
#include "subparse.h"

int32_t header_check(void) {
  static const char data[] = "1\n00:00:01,000 --> 00:00:02,000\nhi\n";
  return sub_parse(data, sizeof data - 1, SUB_FMT_AUTO, NULL) + sub_cue_count();
}
