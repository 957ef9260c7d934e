// What a format parser sees: the document it fills, the registry it ends
// through, and the shared readers of text and values.
#ifndef SUB_PARSER_H
#define SUB_PARSER_H

#include "sub_registry.h"
#include "sub_util/alloc.h"
#include "sub_util/doc.h"
#include "sub_util/strings.h"
#include "sub_util/values.h"

#endif
