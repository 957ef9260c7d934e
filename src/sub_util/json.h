// The JSON rendering of a document's cue store.
#ifndef SUB_UTIL_JSON_H
#define SUB_UTIL_JSON_H

struct SubDoc;

// Renders the cue store into doc->result_json, replacing an older text;
// 0, or -1 with no text stored when memory ran out.
int sub_build_json(SubDoc *doc);

#endif
