// Placeholder until the ttml writer lands.
#include "writer.h"

void sub_write_ttml(const SubDoc *, const SubWriteOptions &, SubOut *) {}
