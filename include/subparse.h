/*
 * subparse: subtitle, lyrics and danmaku parsing behind a plain C ABI.
 *
 * The host hands sub_parse() one whole file as bytes; the library decodes it
 * to UTF-8, recognises the format when asked to, parses it into timed cues and
 * keeps that one result until the next sub_parse() or sub_clear(). The host
 * reads it through the accessors below or as one JSON document.
 *
 * Threading: the library keeps a single process-wide result and is not
 * reentrant. Call it from one thread at a time; every pointer it returns stays
 * valid until the next sub_parse() or sub_clear() and must not be freed or
 * modified by the host.
 *
 * Format identifiers: 0 srt, 1 vtt, 2 ass, 3 microdvd, 4 subviewer, 5 ttml,
 * 6 ytxml, 7 lrc, 8 sami, 9 bilibili, 10 acfun; -1 asks for detection.
 */
#ifndef SUBPARSE_H
#define SUBPARSE_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define SUB_EXPORT __declspec(dllexport)
#elif defined(__GNUC__)
#define SUB_EXPORT __attribute__((visibility("default")))
#else
#define SUB_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Parses `len` bytes at `data` (read only, not kept after the call).
 * `format` is an identifier 0..10, or -1 to detect it from the bytes.
 * `encoding` names the input encoding ("utf-8", "cp1252", "gbk", ... or any
 * name iconv knows); NULL or "" decodes automatically (byte-order mark, UTF-8,
 * else CP1252 / ISO-8859-1 with a warning). The previous result is discarded
 * first. Returns 0 on success (cues, detected format and JSON are available),
 * 1 for an identifier outside -1..10, 2 when decoding failed, 3 for a NULL or
 * empty buffer, 4 when memory ran out, 5 when detection found nothing and every
 * parser failed; a parser's own failure code is returned unchanged.
 * sub_last_error() explains a failure.
 */
SUB_EXPORT int32_t sub_parse(const void *data, size_t len, int32_t format, const char *encoding);

/*
 * Returns the static name of a format identifier ("srt", "vtt", ... "acfun"),
 * "auto" for -1 and "unknown" for any other value. Never NULL; static lifetime.
 */
SUB_EXPORT const char *sub_format_name(int32_t format);

/*
 * Guesses the format of `len` bytes at `buf` from their content, using the
 * extension of the file name `name` (may be NULL) only when the content says
 * nothing. Returns an identifier 0..10 or -1. Keeps no state and does not
 * touch the parse result; `buf` may be NULL only when `len` is 0.
 */
SUB_EXPORT int32_t sub_detect_format(const void *buf, size_t len, const char *name);

/*
 * Releases the current result: no cues, empty error text, no warnings,
 * detected format -1, JSON "{}". Calling it twice is harmless.
 */
SUB_EXPORT void sub_clear(void);

/* Number of cues of the current result (0 when there is none). */
SUB_EXPORT int32_t sub_cue_count(void);

/* Start time of cue `i` in milliseconds; -1 when `i` is out of range. */
SUB_EXPORT int32_t sub_cue_start_ms(int32_t i);

/* End time of cue `i` in milliseconds; -1 when `i` is out of range. */
SUB_EXPORT int32_t sub_cue_end_ms(int32_t i);

/* Number of text lines of cue `i`; 0 when `i` is out of range. */
SUB_EXPORT int32_t sub_cue_line_count(int32_t i);

/*
 * Line `line` of cue `i` as NUL-terminated UTF-8 (it may contain LF bytes);
 * NULL when either index is out of range. Valid until the next sub_parse() or
 * sub_clear().
 */
SUB_EXPORT const char *sub_cue_line(int32_t i, int32_t line);

/* 1 when cue `i` is a danmaku comment, else 0 (also when out of range). */
SUB_EXPORT int32_t sub_cue_is_danmu(int32_t i);

/* Danmaku display mode of cue `i`; 0 for other cues and out of range. */
SUB_EXPORT int32_t sub_cue_danmu_mode(int32_t i);

/* Danmaku colour of cue `i` as 0xRRGGBB; 0 for other cues and out of range. */
SUB_EXPORT uint32_t sub_cue_danmu_color(int32_t i);

/* Danmaku font size of cue `i`; 25.0 for other cues, 0.0 when out of range. */
SUB_EXPORT float sub_cue_danmu_fontsize(int32_t i);

/*
 * The error text of the last sub_parse(): "" when there is none. Never NULL;
 * valid until the next sub_parse() or sub_clear().
 */
SUB_EXPORT const char *sub_last_error(void);

/* Number of warnings the last sub_parse() raised (at most 64). */
SUB_EXPORT int32_t sub_warning_count(void);

/*
 * Warning `i` of the last sub_parse(), in the order raised; NULL when `i` is
 * out of range (or when memory ran out while the warning was stored).
 */
SUB_EXPORT const char *sub_warning(int32_t i);

/*
 * Identifier of the format whose parser produced the result; -1 after a
 * failure or sub_clear(), 0 before the first call.
 */
SUB_EXPORT int32_t sub_detected_format(void);

/*
 * The whole result as one compact JSON document:
 * {"format":NAME,"cues":[{"start":MS,"end":MS,"lines":[...]}, ...]}, danmaku
 * cues adding "danmu":true,"mode","color","fontsize". "{}" when there is no
 * result (before any parse, after a failure or sub_clear(), or when memory ran
 * out while rendering). Valid until the next sub_parse() or sub_clear().
 */
SUB_EXPORT const char *sub_result_json(void);

#ifdef __cplusplus
}
#endif

#endif /* SUBPARSE_H */
