// The one internal header: the parse-state record g_sub, its cue store, the
// allocation layer and the helpers shared by the library's sources.
//
// Everything here has hidden visibility; only the functions of subparse.h
// leave the shared library. Nothing may throw: owned data lives in memory from
// the allocation layer below, never in standard containers.
#ifndef SUB_INTERNAL_H
#define SUB_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "subparse.h"

// ---------------------------------------------------------------------------
// Format identifiers
// ---------------------------------------------------------------------------
enum SubFormat : int32_t {
  SUB_FMT_AUTO = -1,
  SUB_FMT_SRT = 0,
  SUB_FMT_VTT = 1,
  SUB_FMT_ASS = 2,
  SUB_FMT_MICRODVD = 3,
  SUB_FMT_SUBVIEWER = 4,
  SUB_FMT_TTML = 5,
  SUB_FMT_YTXML = 6,
  SUB_FMT_LRC = 7,
  SUB_FMT_SAMI = 8,
  SUB_FMT_BILIBILI = 9,
  SUB_FMT_ACFUN = 10,
  SUB_FMT_COUNT = 11,
};

// Result codes shared by sub_parse and the parsers.
enum SubCode : int32_t {
  SUB_OK = 0,
  SUB_ERR_FORMAT = 1,  // identifier outside -1..10, or no parser for it
  SUB_ERR_DECODE = 2,
  SUB_ERR_EMPTY = 3,
  SUB_ERR_NOMEM = 4,
  SUB_ERR_NOCUES = 5,  // nothing parsed ("all parsers failed", "no ... cues")
};

// ---------------------------------------------------------------------------
// Allocation layer. Every block the library owns comes from here, yyjson's
// included, so that a test can make the Nth allocation fail and can check
// that nothing is left allocated after sub_clear().
// ---------------------------------------------------------------------------

// malloc/realloc/free with fault injection and a count of live blocks.
// sub_realloc(p, n) with p null behaves as sub_malloc(n); a failed realloc
// leaves p untouched. Sizes of 0 are rounded up to 1.
void *sub_malloc(size_t size);
void *sub_realloc(void *ptr, size_t size);
void sub_free(void *ptr);

// a * b + c, or SIZE_MAX when that does not fit size_t (which every
// allocation refuses, so an impossible size becomes an out-of-memory failure).
inline size_t sub_size_mul_add(size_t a, size_t b, size_t c) {
  size_t product = 0;
  size_t sum = 0;
  if (__builtin_mul_overflow(a, b, &product) || __builtin_add_overflow(product, c, &sum))
    return SIZE_MAX;
  return sum;
}

// Doubles an array of `*cap` elements of `elem` bytes (to `first` elements
// when it has none). Returns 0 and updates *array and *cap, or -1 with both
// unchanged when memory runs out or the capacity would pass INT32_MAX.
int sub_grow_array(void **array, int32_t *cap, int32_t first, size_t elem);

// Fault injection for tests: the `n`th allocation from now (1-based) and, if
// `every_after` is set, every later one fails; n = 0 switches it off.
void sub_alloc_fail_at(uint64_t n, bool every_after);
// Allocations attempted since the last sub_alloc_fail_at() call.
uint64_t sub_alloc_attempts(void);
// Blocks currently allocated through the layer.
int64_t sub_alloc_live(void);
// The most bytes held at once since the last reset; `reset` starts a new
// measurement from what is held now.
size_t sub_alloc_peak_bytes(bool reset);

// A scratch block from the layer, released at the end of its scope. Its
// `data` is null when memory ran out.
struct SubScratch {
  char *data;
  explicit SubScratch(size_t size) : data(static_cast<char *>(sub_malloc(size))) {}
  ~SubScratch() { sub_free(data); }
  SubScratch(const SubScratch &) = delete;
  SubScratch &operator=(const SubScratch &) = delete;
};

// The yyjson allocator that routes through the layer (a yyjson_alc*).
const struct yyjson_alc *sub_yyjson_alc(void);

// ---------------------------------------------------------------------------
// Byte scanning, sixteen bytes at a time where SSE2 is available
// ---------------------------------------------------------------------------

// Offset of the first byte of p[0..n) that is CR, LF, 0xE2 (the lead byte of
// U+2028) or NUL; n when there is none.
inline size_t sub_find_line_special(const unsigned char *p, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i e2 = _mm_set1_epi8(static_cast<char>(0xE2));
  const __m128i nul = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)),
                                     _mm_or_si128(_mm_cmpeq_epi8(v, e2), _mm_cmpeq_epi8(v, nul)));
    if (const int mask = _mm_movemask_epi8(hit))
      return i + static_cast<size_t>(__builtin_ctz(mask));
  }
#endif
  for (; i < n; ++i)
    if (p[i] == '\r' || p[i] == '\n' || p[i] == 0xE2 || p[i] == 0) return i;
  return n;
}

// Offset of the first byte of p[0..n) that a JSON string cannot hold as it
// is: below 0x20, '"', '\\', or 0x80 and above (to be checked as UTF-8).
inline size_t sub_find_json_special(const unsigned char *p, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(0x20);
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
    // A signed compare puts bytes of 0x80 and above below 0x20 as well.
    const __m128i hit =
        _mm_or_si128(_mm_cmplt_epi8(v, space),
                     _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)));
    if (const int mask = _mm_movemask_epi8(hit))
      return i + static_cast<size_t>(__builtin_ctz(mask));
  }
#endif
  for (; i < n; ++i)
    if (p[i] < 0x20 || p[i] == '"' || p[i] == '\\' || p[i] >= 0x80) return i;
  return n;
}

// Offset of the first byte of p[0..n) at 0x80 or above; n when all are ASCII.
inline size_t sub_find_non_ascii(const unsigned char *p, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
    if (const int mask = _mm_movemask_epi8(v)) return i + static_cast<size_t>(__builtin_ctz(mask));
  }
#endif
  for (; i < n; ++i)
    if (p[i] >= 0x80) return i;
  return n;
}

// ---------------------------------------------------------------------------
// Strings and lines
// ---------------------------------------------------------------------------

// An owned, growable list of owned strings; zero-filled means empty.
struct SubStrList {
  char **items;
  int32_t count;
  int32_t cap;
};

// Heap copy of `s` (null for null s or when memory runs out).
char *sub_strdup(const char *s);
// Heap copy of exactly `n` bytes at `p` plus a NUL (NULs inside are copied).
char *sub_strndup(const char *p, size_t n);
// Removes TAB, LF, CR and SPACE from both ends of `s` in place.
void sub_trim_inplace(char *s);
// ASCII case-insensitive equality; two nulls are equal, one null is not.
int sub_str_ieq(const char *a, const char *b);
// Whether `s` begins with `prefix` ignoring ASCII case (null gives 0).
int sub_str_istart(const char *s, const char *prefix);
// First occurrence of `needle` in `haystack` ignoring ASCII case, or null;
// a null or empty needle (or a null haystack) returns the haystack itself.
const char *sub_str_casestr(const char *haystack, const char *needle);
// Appends a heap copy of `s` ("" for null). 0, or -1 with the count unchanged.
int sub_strlist_push(SubStrList *list, const char *s);
// Appends a copy of `n` bytes at `p` plus a NUL. 0, or -1 with the count unchanged.
int sub_strlist_push_n(SubStrList *list, const char *p, size_t n);
// Releases every string and the array; the list is left empty and reusable.
void sub_strlist_free(SubStrList *list);
// Splits `len` bytes into owned lines at CR LF, CR CR LF, CR, LF and U+2028.
// Returns the array and its length in *out_count, or null (count unwritten)
// when the array cannot grow. A line that cannot be copied is a null slot.
char **sub_split_lines(const char *text, size_t len, int32_t *out_count);
// Releases what sub_split_lines returned (null entries are harmless).
void sub_free_lines(char **lines, int32_t count);

// ASCII case-insensitive search over views (no NUL needed); npos when absent.
size_t sub_sv_ifind(std::string_view hay, std::string_view needle);
inline bool sub_sv_contains(std::string_view hay, std::string_view needle) {
  return hay.find(needle) != std::string_view::npos;
}
inline bool sub_sv_icontains(std::string_view hay, std::string_view needle) {
  return sub_sv_ifind(hay, needle) != std::string_view::npos;
}
// Whether `s` begins with `prefix`, ignoring ASCII case.
bool sub_sv_istarts(std::string_view s, std::string_view prefix);
inline bool sub_is_blank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
inline unsigned char sub_ascii_lower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// A view of the next line of a text, cut exactly where sub_split_lines cuts
// (CR LF, CR CR LF, CR, LF, U+2028) but without copying. Like a copied line
// read as a C string, the view ends at the line's first NUL byte.
struct SubLineReader {
  const char *pos;
  const char *end;
  bool done;
};
inline SubLineReader sub_line_reader(const char *text, size_t len) {
  return SubLineReader{text, text + len, false};
}
// Stores the next line in *line and returns true; false after the last line
// (a text ending with a break has a final empty line; an empty text has one).
bool sub_line_next(SubLineReader *reader, std::string_view *line);
// The view without leading and trailing TAB, LF, CR and SPACE.
std::string_view sub_sv_trim(std::string_view s);

// Finds a needle at or after increasing positions of one text, remembering
// where it next occurs: a scan that asks again and again for the next
// "</p>" or "<sync" costs one pass over the text in all, also when the
// needle no longer occurs. Results equal those of a fresh search each time.
struct SubFinder {
  std::string_view hay;
  std::string_view needle;
  bool ignore_case;
  size_t searched_from = std::string_view::npos;  // where the remembered search began
  size_t next = std::string_view::npos;           // its result

  SubFinder(std::string_view h, std::string_view n, bool icase)
      : hay(h), needle(n), ignore_case(icase) {}
  // Position of the first occurrence at or after `from`, or npos.
  size_t find(size_t from) {
    if (searched_from != std::string_view::npos && from >= searched_from &&
        (next == std::string_view::npos || next >= from))
      return next;
    searched_from = from;
    if (from > hay.size()) return next = std::string_view::npos;
    const size_t at =
        ignore_case ? sub_sv_ifind(hay.substr(from), needle) : hay.substr(from).find(needle);
    return next = at == std::string_view::npos ? at : from + at;
  }
};

// ---------------------------------------------------------------------------
// Clock times
// ---------------------------------------------------------------------------

// [H:]M:S with an optional ',' or '.' fraction, after any leading non-digits;
// strict mode demands the separator after the seconds. Milliseconds, or -1.
int32_t sub_hms_ms(std::string_view text, bool strict);
// H:M:S[.fraction] after leading spaces and tabs (ASS/SSA). Milliseconds or -1.
int32_t sub_ssa_ms(std::string_view text);
// The same readers over NUL-terminated text.
int sub_parse_hms_ms(const char *text, int strict);
int sub_parse_subviewer_time(const char *text);
int sub_parse_ssa_time(const char *text);

// ---------------------------------------------------------------------------
// Numbers, read as the C runtime reads them with a 32-bit long, whatever the
// locale
// ---------------------------------------------------------------------------

// strtod/strtof: leading white space, sign, decimal or hexadecimal, inf, nan.
// Returns the bytes consumed (0 and a value of 0 when there is no number).
size_t sub_strtod(std::string_view s, double *value);
size_t sub_strtof(std::string_view s, float *value);
// atoi, saturating at the signed 32-bit limits.
int32_t sub_atoi(std::string_view s);
// strtoul in base 10, saturating at 4294967295 (a minus sign negates).
uint32_t sub_strtoul(std::string_view s);
// A double truncated toward zero; -2147483648 when out of range or NaN.
int32_t sub_double_to_i32(double v);
// a + b saturated at the signed 32-bit limits.
int32_t sub_add_sat(int32_t a, int64_t b);

// ---------------------------------------------------------------------------
// Character references
// ---------------------------------------------------------------------------

// Decodes &nbsp; &NBSP; &amp; &lt; &gt; &quot; &apos; and numeric references
// (up to U+FFFF; others removed) in place; returns the new length.
size_t sub_html_decode(char *text, size_t len);
// The same on a NUL-terminated string (null ignored).
void sub_html_decode_inplace(char *text);

// ---------------------------------------------------------------------------
// Parse state and cue store
// ---------------------------------------------------------------------------

struct SubCue {
  int32_t start_ms;
  int32_t end_ms;
  SubStrList lines;  // strings and array live in g_sub.pool, not owned by the list
  int32_t is_danmu;
  int32_t danmu_mode;
  uint32_t danmu_color;
  float danmu_fontsize;
};

constexpr int32_t SUB_MAX_WARNINGS = 64;
constexpr size_t SUB_ERROR_SIZE = 512;
constexpr size_t SUB_WARNING_SIZE = 256;

// The one parse-state record. All zero at load (detected_format reads 0);
// sub_state_reset() sets detected_format to -1.
struct SubState {
  SubCue *cues;
  int32_t cue_count;
  int32_t cue_cap;
  int32_t detected_format;
  char error[SUB_ERROR_SIZE];
  char *warnings[SUB_MAX_WARNINGS];
  int32_t warning_count;
  char *result_json;
  char *text;
  uint64_t text_len;
  struct SubPoolChunk *pool;  // holds every cue line and line array
};

extern SubState g_sub;

// Releases everything g_sub owns and leaves the reset state. Idempotent.
void sub_state_reset(void);
// Formats the error text (at most 511 bytes), replacing the older one.
void sub_set_error(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Appends a warning of at most 255 bytes; the 65th and later are dropped.
void sub_warn(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Appends a cue; returns its index, or -1 ("oom" error text) when the array
// cannot grow.
int32_t sub_cue_add(int32_t start_ms, int32_t end_ms);
// Appends a copy of `line` ("" for null) to cue `index`; 0, or -1 for a bad
// index or when memory runs out (no error text).
int sub_cue_add_line(int32_t index, const char *line);
// Like sub_cue_add_line for `n` bytes at `p` (need not be NUL-terminated).
int sub_cue_add_line_n(int32_t index, const char *p, size_t n);
// Releases every cue, their lines and the cue array; nothing else of g_sub
// changes.
void sub_cues_clear(void);
// Drops the most recently added cue; its slot is reused by the next cue.
void sub_cue_drop_last(void);

// ---------------------------------------------------------------------------
// Decoding, detection, JSON, dispatch
// ---------------------------------------------------------------------------

// Decodes the host's bytes into g_sub.text / text_len as NUL-terminated UTF-8.
// Returns 0, 2 (conversion failed) or 4 (out of memory).
int sub_decode_to_utf8(const void *data, size_t len, const char *encoding);
// Whether decoding would give the bytes themselves, after a UTF-8 mark of
// *skip bytes: then they can be read in place instead of copied.
bool sub_decode_in_place(const void *data, size_t len, const char *encoding, size_t *skip);

// Renders the cue store into g_sub.result_json; 0, or -1 when no text could
// be stored (memory ran out).
int sub_build_json(void);

// The name of an extension's format, -1 when unknown (null name included).
int32_t sub_ext_hint(const char *name);

// A parser reads `len` bytes of UTF-8 text (not NUL-terminated: often the
// host's own buffer, read in place; the markup parsers end the text at its
// first NUL), adds cues through the cue store, returns 0 (after storing its
// identifier in g_sub.detected_format) or a failure code after setting the
// error text.
using SubParserFn = int (*)(const char *text, size_t len);

// Runs the parser of `format`; 1, without an error text, when there is none.
int call_parser(int32_t format, const char *text, size_t len);

// XML-like markup, read without an XML parser (TTML, YouTube XML, Bilibili).
// The value of attribute `name` ("name=\"...\"" first, else "name='...'",
// the name matched as a substring ignoring case) in one tag copy, cut to
// out_size - 1 bytes into `out`; false, leaving `out` alone, when absent.
bool xml_get_attr(std::string_view tag, std::string_view name, char *out, size_t out_size);
// Size of the buffer xml_text_decode_copy writes.
constexpr size_t SUB_XML_TEXT_SIZE = 65536;
// The text of [begin, end) with every <...> dropped (at most 65535 bytes
// copied), references decoded and both ends trimmed, written into `out`
// (SUB_XML_TEXT_SIZE bytes, NUL-terminated); returns it as a view.
std::string_view xml_text_decode_copy(const char *begin, const char *end, char *out);
// The length of the text as the markup parsers read it: up to its first NUL.
size_t xml_text_len(const char *text, size_t len);

// The parsers, one per format.
int sub_parse_srt(const char *text, size_t len);
int sub_parse_vtt(const char *text, size_t len);
int sub_parse_ass(const char *text, size_t len);
int sub_parse_microdvd(const char *text, size_t len);
int sub_parse_subviewer(const char *text, size_t len);
int sub_parse_ttml(const char *text, size_t len);
int sub_parse_ytxml(const char *text, size_t len);
int sub_parse_sami(const char *text, size_t len);
int sub_parse_bilibili(const char *text, size_t len);
int sub_parse_lrc(const char *text, size_t len);
int sub_parse_acfun(const char *text, size_t len);

// Process-wide TTML warning flags: 1 until the warning is raised in a parse.
extern int g_tt_warn_frame;
extern int g_tt_warn_tick;

// SRT timing line "START --> END": true with both times in milliseconds when
// the first arrow form present splits the line into two readable times.
bool srt_try_tc(std::string_view line, int32_t *start, int32_t *end);
// The SRT block walk, shared with WebVTT (`vtt` skips the header words).
// Adds the cues and returns the cue count.
int srt_read_blocks(const char *text, size_t len, bool vtt);

// For tests only: installs `parser` for `format` and returns the one it
// replaces (null for an identifier outside 0..10).
SubParserFn sub_test_swap_parser(int32_t format, SubParserFn parser);

#endif  // SUB_INTERNAL_H
