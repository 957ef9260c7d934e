// Placeholder until the vtt writer lands.
#include "writer.h"

void sub_write_vtt(const SubDoc *, const SubWriteOptions &, SubOut *) {}
