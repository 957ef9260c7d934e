// Placeholder until the lrc writer lands.
#include "writer.h"

void sub_write_lrc(const SubDoc *, const SubWriteOptions &, SubOut *) {}
