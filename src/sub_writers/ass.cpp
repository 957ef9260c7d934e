// Placeholder until the ass writer lands.
#include "writer.h"

void sub_write_ass(const SubDoc *, const SubWriteOptions &, SubOut *) {}
