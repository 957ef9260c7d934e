// The formats the library writes: one writer per format, in its own file,
// registered in write.cpp.
#ifndef SUB_WRITERS_WRITER_H
#define SUB_WRITERS_WRITER_H

#include "out.h"
#include "subparse.h"

// A writer appends the whole text of `doc` in its format to `out`. Options
// are already checked and complete (every member set). Running out of memory
// shows in out->failed; a writer has no other failure.
using SubWriterFn = void (*)(const SubDoc *doc, const SubWriteOptions &options, SubOut *out);

void sub_write_srt(const SubDoc *doc, const SubWriteOptions &options, SubOut *out);
void sub_write_vtt(const SubDoc *doc, const SubWriteOptions &options, SubOut *out);
void sub_write_ass(const SubDoc *doc, const SubWriteOptions &options, SubOut *out);
void sub_write_lrc(const SubDoc *doc, const SubWriteOptions &options, SubOut *out);
void sub_write_ttml(const SubDoc *doc, const SubWriteOptions &options, SubOut *out);

#endif
