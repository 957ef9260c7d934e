// The table of formats and the ending every parser shares.
#include "sub_registry.h"

#include "subparse.h"

const SubFormatDesc sub_formats[SUB_FMT_COUNT] = {
    {"srt", sub_parse_srt, "no SRT cues"},
    {"vtt", sub_parse_vtt, "no VTT cues"},
    {"ass", sub_parse_ass, "no ASS cues"},
    {"microdvd", sub_parse_microdvd, "no MicroDVD cues"},
    {"subviewer", sub_parse_subviewer, "no SubViewer cues"},
    {"ttml", sub_parse_ttml, "no TTML cues"},
    {"ytxml", sub_parse_ytxml, "no YouTube XML cues"},
    {"lrc", sub_parse_lrc, "no LRC lyrics"},
    {"sami", sub_parse_sami, "no SAMI cues"},
    {"bilibili", sub_parse_bilibili, "no Bilibili danmaku"},
    {"acfun", sub_parse_acfun, "no Acfun danmaku"},
};

int sub_parser_done(SubDoc *doc, int32_t format, int64_t found) {
  if (found < 1) {
    sub_set_error(doc, "%s", sub_formats[format].no_cues);
    return SUB_ERR_NOCUES;
  }
  doc->detected_format = format;
  return SUB_OK;
}

extern "C" const char *sub_format_name(int32_t format) {
  if (format == SUB_FMT_AUTO) return "auto";
  if (format < 0 || format >= SUB_FMT_COUNT) return "unknown";
  return sub_formats[format].name;
}
