// Charset detection for the encoding "auto".
//
// UTF-16 and UTF-32 without a mark show themselves by their zero bytes on
// mostly-ASCII text. Legacy encodings are ranked on a sample from the start
// of the text (cut after a line feed, which no candidate uses inside a
// character): the charset detector proposes one, and every candidate whose
// strict conversion of the sample succeeds is scored by how plausible the
// text it gives is. Multi-byte candidates count the characters that fall in
// their encoding's frequent rows; single-byte ones read the letters as words
// of one script and, for Latin, of one language. Control characters of the
// C1 range, private-use and unknown code points, symbols inside words and
// letters of another script inside a word cost points.
#include "charset.h"

#include <iconv.h>
#include <uchardet.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "alloc.h"
#include "scan_sse2.h"
#include "strings.h"

namespace {

constexpr size_t charset_sample_max = 4096;     // bytes scored per candidate
constexpr float charset_accept = 0.5f;          // a proposal read this well is taken
constexpr float charset_proposal_edge = 0.01f;  // breaks ties in the ranking
constexpr size_t charset_detector_max = 1024;   // bytes the detector reads
constexpr size_t charset_wide_max = 4096;       // bytes looked at for UTF-16/32

// How a candidate's characters are counted.
enum CharsetKind : uint8_t { KIND_SINGLE, KIND_GB, KIND_BIG5, KIND_SJIS, KIND_EUCJP, KIND_KR };

struct Candidate {
  const char *name;
  CharsetKind kind;
};

// The fixed list, tried whatever the detector says. Supersets stand for
// their subsets (GB18030 for GBK and GB2312, CP949 for EUC-KR); where a
// superset maps a few bytes differently, the standard form comes first.
// Between equally plausible readings the earlier wins, so the encoding most
// files of a script come in comes first.
constexpr Candidate candidates[] = {
    {"GB18030", KIND_GB},         {"BIG5", KIND_BIG5},         {"CP950", KIND_BIG5},
    {"SHIFT_JIS", KIND_SJIS},     {"CP932", KIND_SJIS},        {"EUC-JP", KIND_EUCJP},
    {"CP949", KIND_KR},           {"CP1252", KIND_SINGLE},     {"ISO-8859-1", KIND_SINGLE},
    {"ISO-8859-15", KIND_SINGLE}, {"CP1251", KIND_SINGLE},     {"KOI8-R", KIND_SINGLE},
    {"KOI8-U", KIND_SINGLE},      {"ISO-8859-5", KIND_SINGLE}, {"CP1250", KIND_SINGLE},
    {"ISO-8859-2", KIND_SINGLE},  {"CP1253", KIND_SINGLE},     {"ISO-8859-7", KIND_SINGLE},
    {"CP1254", KIND_SINGLE},      {"ISO-8859-9", KIND_SINGLE}, {"CP1255", KIND_SINGLE},
    {"ISO-8859-8", KIND_SINGLE},  {"CP1256", KIND_SINGLE},     {"CP1257", KIND_SINGLE},
    {"CP1258", KIND_SINGLE},      {"TIS-620", KIND_SINGLE},    {"CP874", KIND_SINGLE},
};
static_assert(std::size(candidates) < SUB_CHARSET_MAX);

// The detector's names that differ from the candidates' for the same table.
struct DetectorAlias {
  const char *detector;
  const char *candidate;
};
constexpr DetectorAlias detector_aliases[] = {
    {"WINDOWS-1250", "CP1250"}, {"WINDOWS-1251", "CP1251"}, {"WINDOWS-1252", "CP1252"},
    {"WINDOWS-1253", "CP1253"}, {"WINDOWS-1254", "CP1254"}, {"WINDOWS-1255", "CP1255"},
    {"WINDOWS-1256", "CP1256"}, {"WINDOWS-1257", "CP1257"}, {"WINDOWS-1258", "CP1258"},
    {"EUC-KR", "CP949"},        {"UHC", "CP949"},           {"GB2312", "GB18030"},
    {"GBK", "GB18030"},         {"BIG5-HKSCS", "BIG5"},     {"EUC-TW", "BIG5"},
    {"WINDOWS-874", "CP874"},   {"ISO-8859-11", "TIS-620"},
};

// ---------------------------------------------------------------------------
// Letters of Latin script and the languages that use them
// ---------------------------------------------------------------------------

enum Language : uint16_t {
  LANG_FR = 1 << 0,
  LANG_DE = 1 << 1,
  LANG_ES = 1 << 2,
  LANG_PT = 1 << 3,
  LANG_IT = 1 << 4,
  LANG_PL = 1 << 5,
  LANG_CS = 1 << 6,  // Czech and Slovak
  LANG_HU = 1 << 7,
  LANG_RO = 1 << 8,
  LANG_TR = 1 << 9,
  LANG_VI = 1 << 10,
  LANG_NORDIC = 1 << 11,
  LANG_BALTIC = 1 << 12,
  LANG_COUNT = 13,
};

struct LanguageLetters {
  Language language;
  std::string_view letters;  // UTF-8, both cases
};

constexpr LanguageLetters language_letters[] = {
    {LANG_FR, "àâæçéèêëîïôœùûüÿÀÂÆÇÉÈÊËÎÏÔŒÙÛÜŸ"},
    {LANG_DE, "äöüßÄÖÜ"},
    {LANG_ES, "áéíñóúüÁÉÍÑÓÚÜ"},
    {LANG_PT, "áâãàçéêíóôõúÁÂÃÀÇÉÊÍÓÔÕÚ"},
    {LANG_IT, "àèéìòùÀÈÉÌÒÙ"},
    {LANG_PL, "ąćęłńóśźżĄĆĘŁŃÓŚŹŻ"},
    {LANG_CS, "áäčďéěíĺľňóôŕřšťúůýžÁÄČĎÉĚÍĹĽŇÓÔŔŘŠŤÚŮÝŽ"},
    {LANG_HU, "áéíóöőúüűÁÉÍÓÖŐÚÜŰ"},
    {LANG_RO, "ăâîșşțţĂÂÎȘŞȚŢ"},
    {LANG_TR, "çğıöşüâîÇĞİÖŞÜÂÎ"},
    {LANG_VI, "àáâãèéêìíòóôõùúýăđơưÀÁÂÃÈÉÊÌÍÒÓÔÕÙÚÝĂĐƠƯ"},
    {LANG_NORDIC, "åæøäöéðþÅÆØÄÖÉÐÞ"},
    {LANG_BALTIC, "āčēģīķļņšūžąęėįųõäöüĀČĒĢĪĶĻŅŠŪŽĄĘĖĮŲÕÄÖÜ"},
};

constexpr uint32_t latin_table_size = 0x250;

// Decodes the UTF-8 sequence at s[*i] (well-formed by construction).
constexpr uint32_t charset_next_cp(std::string_view s, size_t *i) {
  const auto c = static_cast<unsigned char>(s[*i]);
  const size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1Fu) : len == 3 ? (c & 0x0Fu) : (c & 0x07u);
  for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[*i + k]) & 0x3Fu);
  *i += len;
  return cp;
}

// For each code point below U+0250: the languages whose letters include it.
constexpr std::array<uint16_t, latin_table_size> make_latin_table() {
  std::array<uint16_t, latin_table_size> table{};
  for (const LanguageLetters &l : language_letters)
    for (size_t i = 0; i < l.letters.size();) {
      const uint32_t cp = charset_next_cp(l.letters, &i);
      if (cp < latin_table_size) table[cp] = static_cast<uint16_t>(table[cp] | l.language);
    }
  return table;
}
constexpr std::array<uint16_t, latin_table_size> latin_languages = make_latin_table();

// The letters that make up most running text of a script, lower case.
constexpr std::string_view cyrillic_common = "оеаинтсрвлкмдпуяіы";
constexpr std::string_view greek_common = "αεοιτνσςηυρπκμλάέίόήύώ";

constexpr std::array<bool, 0x60> make_common(std::string_view letters, uint32_t base) {
  std::array<bool, 0x60> table{};
  for (size_t i = 0; i < letters.size();) {
    const uint32_t cp = charset_next_cp(letters, &i);
    if (cp >= base && cp - base < 0x60) table[cp - base] = true;
  }
  return table;
}
constexpr auto cyrillic_common_table = make_common(cyrillic_common, 0x430);
constexpr auto greek_common_table = make_common(greek_common, 0x3A0);

// ---------------------------------------------------------------------------
// Classifying code points
// ---------------------------------------------------------------------------

enum Script : uint8_t {
  SCRIPT_NONE,
  SCRIPT_LATIN,
  SCRIPT_GREEK,
  SCRIPT_CYRILLIC,
  SCRIPT_HEBREW,
  SCRIPT_ARABIC,
  SCRIPT_THAI,
  SCRIPT_CJK,
  SCRIPT_HANGUL,
};

struct CpClass {
  Script script;  // of a letter; SCRIPT_NONE for anything else
  bool upper;
  float value;  // what the character adds to the plausibility
};

constexpr float value_letter_common = 1.0f;
constexpr float value_letter_other = 0.4f;
constexpr float value_punct = 0.5f;
constexpr float value_symbol = -0.5f;
constexpr float value_bad = -3.0f;  // C1 controls, private use, U+FFFD
constexpr float value_odd = -1.5f;  // blocks subtitles do not use

inline CpClass charset_letter(Script script, bool upper, float value) {
  return CpClass{script, upper, value};
}

inline CpClass charset_other(float value) { return CpClass{SCRIPT_NONE, false, value}; }

// Punctuation that running text of some language uses, beyond ASCII.
inline bool charset_common_punct(uint32_t cp) {
  switch (cp) {
    case 0xA0:
    case 0xA1:
    case 0xAB:
    case 0xB0:
    case 0xB7:
    case 0xBB:
    case 0xBF:
    case 0x2013:
    case 0x2014:
    case 0x2018:
    case 0x2019:
    case 0x201A:
    case 0x201C:
    case 0x201D:
    case 0x201E:
    case 0x2026:
    case 0x20AC:
    case 0x2116: return true;
    default: return false;
  }
}

CpClass charset_classify(uint32_t cp) {
  if (cp < 0x80) {
    if ((cp | 0x20) >= 'a' && (cp | 0x20) <= 'z') return charset_letter(SCRIPT_LATIN, cp < 'a', 0);
    return charset_other(0);
  }
  if (cp < 0xA0) return charset_other(value_bad);
  if (charset_common_punct(cp)) return charset_other(value_punct);
  if (cp < latin_table_size) {
    if (cp < 0xC0 || cp == 0xD7 || cp == 0xF7) return charset_other(value_symbol);
    const bool upper = cp < 0xE0 || (cp >= 0x100 && cp < 0x180 && cp % 2 == 0);
    if (cp >= 0x180 && !latin_languages[cp]) return charset_other(value_odd);
    return charset_letter(SCRIPT_LATIN, upper, latin_languages[cp] ? value_letter_common : 0.1f);
  }
  if (cp >= 0x300 && cp < 0x370) return charset_other(0);  // combining marks (CP1258)
  if (cp >= 0x386 && cp < 0x3D0) {
    const bool upper = cp < 0x3AC;
    const uint32_t lower = upper ? cp + 0x20 : cp;
    const bool common = lower >= 0x3A0 && lower < 0x400 && greek_common_table[lower - 0x3A0];
    return charset_letter(SCRIPT_GREEK, upper,
                          common || cp == 0x3AC ? value_letter_common : value_letter_other);
  }
  if (cp >= 0x400 && cp < 0x460) {
    const bool upper = cp < 0x430;
    const uint32_t lower = cp < 0x410 ? cp + 0x50 : cp < 0x430 ? cp + 0x20 : cp;
    if (lower >= 0x450) {
      // ё є і ї ў: Russian, Ukrainian, Belarusian; the rest belong to
      // alphabets whose files rarely come in these code pages.
      const bool known =
          lower == 0x451 || lower == 0x454 || lower == 0x456 || lower == 0x457 || lower == 0x45E;
      return charset_letter(SCRIPT_CYRILLIC, upper, known ? value_letter_other : value_symbol);
    }
    return charset_letter(
        SCRIPT_CYRILLIC, upper,
        cyrillic_common_table[lower - 0x430] ? value_letter_common : value_letter_other);
  }
  if (cp == 0x490 || cp == 0x491) return charset_letter(SCRIPT_CYRILLIC, cp == 0x490, 0.4f);
  if (cp >= 0x5B0 && cp < 0x5C8) return charset_other(0);  // Hebrew points
  if (cp >= 0x5D0 && cp <= 0x5EA) return charset_letter(SCRIPT_HEBREW, false, value_letter_common);
  if (cp >= 0x60C && cp < 0x700) {
    const bool letter = (cp >= 0x621 && cp <= 0x64A) || cp >= 0x671;
    return letter ? charset_letter(SCRIPT_ARABIC, false, value_letter_common) : charset_other(0);
  }
  if (cp >= 0xE01 && cp <= 0xE5B) return charset_letter(SCRIPT_THAI, false, value_letter_common);
  if (cp >= 0x1E00 && cp < 0x1F00) {  // Vietnamese letters, precomposed
    const bool vietnamese = cp >= 0x1EA0;
    return charset_letter(SCRIPT_LATIN, cp % 2 == 0, vietnamese ? value_letter_common : value_odd);
  }
  if (cp >= 0x2000 && cp < 0x2070) return charset_other(value_symbol);
  if (cp >= 0x3000 && cp < 0x3040) return charset_other(value_punct);
  if (cp >= 0x3040 && cp < 0x3100) return charset_letter(SCRIPT_CJK, false, value_letter_common);
  if (cp >= 0x4E00 && cp < 0xA000) return charset_letter(SCRIPT_CJK, false, value_letter_common);
  if (cp >= 0xAC00 && cp < 0xD7A4) return charset_letter(SCRIPT_HANGUL, false, value_letter_common);
  if (cp >= 0xFF01 && cp < 0xFF5F) return charset_other(value_punct);
  if ((cp >= 0xE000 && cp < 0xF900) || cp == 0xFFFD) return charset_other(value_bad);
  return charset_other(value_odd);
}

// ---------------------------------------------------------------------------
// Scoring
// ---------------------------------------------------------------------------

// How plausible the UTF-8 text `u` (converted by a single-byte candidate) is:
// letters by script and language, symbols inside words, case and script
// changes inside words.
// A candidate's plausibility, what of it is penalties, and how many of its
// characters look wrong.
struct Plausibility {
  float score = 0;
  float penalty = 0;
  uint32_t suspect = 0;
};

// Neighbours that tell an ideograph in running CJK text from one that a
// wrong reading put inside a Latin word.
enum Neighbour : uint8_t { NB_OTHER, NB_ASCII_LETTER, NB_CJK };

constexpr float value_isolated_cjk = -4.0f;

Plausibility charset_score_text(const unsigned char *u, size_t n) {
  Plausibility p;
  const auto add = [&p](float value, bool suspect) {
    p.score += value;
    if (value < 0) p.penalty += value;
    p.suspect += suspect ? 1 : 0;
  };
  uint32_t language_hits[LANG_COUNT] = {};
  uint32_t latin_letters = 0;
  CpClass prev{SCRIPT_NONE, false, 0};
  bool prev_letter = false;
  bool prev_symbol_after_letter = false;
  Neighbour before_prev = NB_OTHER;
  Neighbour before = NB_OTHER;
  // An ideograph that touches an ASCII letter and no other CJK character.
  const auto isolated = [](Neighbour left, Neighbour middle, Neighbour right) {
    return middle == NB_CJK && ((left == NB_ASCII_LETTER && right != NB_CJK) ||
                                (right == NB_ASCII_LETTER && left != NB_CJK));
  };
  for (size_t i = 0; i < n;) {
    size_t subpart = 1;
    const size_t len = u[i] < 0x80 ? 1 : sub_utf8_seq(u, n, i, &subpart);
    if (!len) {
      add(value_bad, true);
      i += subpart;
      continue;
    }
    uint32_t cp = u[i];
    if (len > 1) {
      size_t at = i;
      cp = charset_next_cp(std::string_view(reinterpret_cast<const char *>(u), n), &at);
    }
    i += len;
    const CpClass c = charset_classify(cp);
    const bool letter = c.script != SCRIPT_NONE;
    const Neighbour here = c.script == SCRIPT_CJK || c.script == SCRIPT_HANGUL ? NB_CJK
                           : letter && cp < 0x80                               ? NB_ASCII_LETTER
                                                                               : NB_OTHER;
    if (isolated(before_prev, before, here)) add(value_isolated_cjk, true);
    before_prev = before;
    before = here;
    if (cp >= 0x80) add(c.value, c.value < value_symbol);
    if (letter) {
      if (prev_symbol_after_letter) add(2 * value_symbol, true);  // a symbol between letters
      if (prev_letter && cp >= 0x80) {
        if (c.upper && !prev.upper) add(-1.0f, true);  // lower then upper inside a word
        if (c.script != prev.script && c.script != SCRIPT_CJK && prev.script != SCRIPT_CJK)
          add(-2.0f, true);  // two scripts inside one word
      }
      if (c.script == SCRIPT_LATIN && cp >= 0x80 && cp < latin_table_size) {
        ++latin_letters;
        for (int l = 0; l < LANG_COUNT; ++l)
          if (latin_languages[cp] & (1u << l)) ++language_hits[l];
      }
    }
    prev_symbol_after_letter = !letter && prev_letter && c.value < 0 && cp >= 0x80;
    prev_letter = letter;
    prev = c;
  }
  if (isolated(before_prev, before, NB_OTHER)) add(value_isolated_cjk, true);
  // Latin letters that no one language explains were probably meant as
  // others: each costs what it added.
  uint32_t best = 0;
  for (const uint32_t hits : language_hits) best = hits > best ? hits : best;
  const uint32_t foreign = latin_letters - best;
  p.score -= 1.2f * static_cast<float>(foreign);
  p.penalty -= 1.2f * static_cast<float>(foreign);
  p.suspect += foreign;
  return p;
}

// Characters of a multi-byte candidate in its encoding's frequent rows
// (common characters, kana, punctuation) against the others.
Plausibility charset_score_multibyte(const unsigned char *s, size_t n, CharsetKind kind) {
  float score = 0;
  uint32_t rare = 0;
  uint32_t chars = 0;
  for (size_t i = 0; i < n;) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    const unsigned char t = i + 1 < n ? s[i + 1] : 0;
    bool frequent = false;
    size_t len = 2;
    switch (kind) {
      case KIND_GB:
        if (t >= 0x30 && t <= 0x39) len = 4;  // four-byte form: rare characters
        frequent = len == 2 && t >= 0xA1 && ((b >= 0xB0 && b <= 0xD7) || (b >= 0xA1 && b <= 0xA3));
        break;
      case KIND_BIG5: frequent = b >= 0xA1 && b <= 0xC6; break;
      case KIND_SJIS:
        if (b >= 0xA1 && b <= 0xDF) len = 1;  // half-width katakana
        frequent = (b >= 0x81 && b <= 0x83) || (b >= 0x88 && b <= 0x98);
        break;
      case KIND_EUCJP:
        if (b == 0x8F) len = 3;
        frequent = (b >= 0xA1 && b <= 0xA5) || (b >= 0xB0 && b <= 0xCF);
        break;
      case KIND_KR:
        frequent = t >= 0xA1 && ((b >= 0xB0 && b <= 0xC8) || (b >= 0xA1 && b <= 0xAB));
        break;
      case KIND_SINGLE: break;
    }
    score += frequent ? 2.0f * value_letter_common : -1.0f;
    rare += frequent ? 0 : 1;
    ++chars;
    i += len;
  }
  // A few rare characters are normal; many mean the rows are the wrong ones.
  return Plausibility{score, 0, rare * 8 > chars ? rare : 0};
}

// The part of the text that is scored: up to the last line feed within its
// first charset_sample_max bytes (all of a shorter text).
size_t charset_sample_len(const char *data, size_t len) {
  if (len <= charset_sample_max) return len;
  for (size_t i = charset_sample_max; i > 0; --i)
    if (data[i - 1] == '\n') return i;
  return charset_sample_max;
}

// Converts the sample strictly into `out` (room for 4 bytes a byte, plus
// one); the UTF-8 length, or -1 when the candidate rejects it, -2 when
// memory ran out.
int64_t charset_convert(const char *from, const char *in, size_t in_len, char *out, size_t cap) {
  iconv_t cd = iconv_open("UTF-8", from);
  if (cd == reinterpret_cast<iconv_t>(-1))  // NOLINT(performance-no-int-to-ptr)
    return errno == ENOMEM ? -2 : -1;
  char *src = const_cast<char *>(in);
  size_t src_left = in_len;
  char *dst = out;
  size_t dst_left = cap;
  const size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1) || src_left) return -1;
  return static_cast<int64_t>(dst - out);
}

// The candidate the detector proposes for the start of the text, or null.
const Candidate *charset_detector(const char *data, size_t len, bool *oom) {
  uchardet_t detector = uchardet_new();
  if (!detector) {
    *oom = true;
    return nullptr;
  }
  const char *name_found = nullptr;
  if (uchardet_handle_data(detector, data, len) == 0) {
    uchardet_data_end(detector);
    const char *name = uchardet_get_charset(detector);
    name_found = name;
    for (const DetectorAlias &a : detector_aliases)
      if (sub_str_ieq(name, a.detector)) name_found = a.candidate;
  }
  const Candidate *found = nullptr;
  for (const Candidate &c : candidates)
    if (name_found && sub_str_ieq(name_found, c.name)) found = &c;
  uchardet_delete(detector);
  return found;
}

}  // namespace

namespace {

#if defined(__SSE2__)
// Whether the sixteen bytes at p (with p[-3..-1] readable) break the UTF-8
// structure: a continuation byte where none is due, none where one is due,
// or a byte of F8 or above.
inline bool decode_block_broken(const unsigned char *p) {
  const auto load = [](const unsigned char *q) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(q));
  };
  const auto at_least = [](__m128i v, unsigned char k) {
    return _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(static_cast<char>(k))), v);
  };
  const __m128i v = load(p);
  const __m128i due =
      _mm_or_si128(_mm_or_si128(at_least(load(p - 1), 0xC0), at_least(load(p - 2), 0xE0)),
                   at_least(load(p - 3), 0xF0));
  const __m128i cont = _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xC0))),
                                      _mm_set1_epi8(static_cast<char>(0x80)));
  const __m128i bad = _mm_or_si128(_mm_xor_si128(due, cont), at_least(v, 0xF8));
  return _mm_movemask_epi8(bad) != 0;
}
#endif

}  // namespace

namespace {

#if defined(__SSE2__)
// The bytes of the sixteen at p that may begin an overlong form, a surrogate
// or a code point past U+10FFFF (C0, C1, E0, ED, F0 and above), as a mask.
inline int charset_suspect_mask(const unsigned char *p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
  const __m128i f0 = _mm_set1_epi8(static_cast<char>(0xF0));
  const __m128i high = _mm_cmpeq_epi8(_mm_max_epu8(v, f0), v);  // v >= F0
  const __m128i hit = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xC0))),
                   _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xC1)))),
      _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xE0))),
                                _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xED)))),
                   high));
  return _mm_movemask_epi8(hit);
}
#endif

// The structure check, which also tells whether any suspect lead byte was
// seen on the way (only then need the forms be looked at one by one).
bool charset_structure_scan(const unsigned char *s, size_t len, bool *suspect) {
  *suspect = true;
#if defined(__SSE2__)
  // The first and last blocks go through a zero-padded copy, so that a
  // sequence cut short by the end of the text shows as a missing byte.
  bool seen = false;
  unsigned char edge[3 + 16 + 16] = {};
  const size_t head = len < 16 ? len : 16;
  std::memcpy(edge + 3, s, head);
  if (decode_block_broken(edge + 3)) return false;
  seen = charset_suspect_mask(edge + 3) != 0;
  size_t i = 16;
  for (; i + 16 <= len; i += 16) {
    if (decode_block_broken(s + i)) return false;
    seen = seen || charset_suspect_mask(s + i) != 0;
  }
  if (len > 16) {
    std::memset(edge, 0, sizeof edge);
    std::memcpy(edge, s + i - 3, len - i + 3);
    if (decode_block_broken(edge + 3)) return false;
    seen = seen || charset_suspect_mask(edge + 3) != 0;
  }
  *suspect = seen;
  // The bytes after the end must not be due as continuations either.
  if (len == 0) return true;
  const unsigned char last = s[len - 1];
  const unsigned char second = len > 1 ? s[len - 2] : 0;
  const unsigned char third = len > 2 ? s[len - 3] : 0;
  return last < 0xC0 && second < 0xE0 && third < 0xF0;
#else
  (void)s;
  (void)len;
  return false;
#endif
}

}  // namespace

bool sub_utf8_structure_ok(const unsigned char *s, size_t len) {
  bool suspect = false;
  return charset_structure_scan(s, len, &suspect);
}

namespace {

// Offset of the first byte of p[0..n) that may begin an overlong form, a
// surrogate or a code point past U+10FFFF (C0, C1, E0, ED, F0 and above);
// n when there is none.
size_t charset_find_suspect_lead(const unsigned char *p, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16)
    if (const int mask = charset_suspect_mask(p + i))
      return i + static_cast<size_t>(__builtin_ctz(mask));
#endif
  for (; i < n; ++i)
    if (p[i] == 0xC0 || p[i] == 0xC1 || p[i] == 0xE0 || p[i] == 0xED || p[i] >= 0xF0) return i;
  return n;
}

}  // namespace

bool sub_utf8_valid(const unsigned char *s, size_t len) {
  // The structure (lead and continuation bytes) is checked sixteen bytes at
  // a time; only the rare lead bytes that can begin a form the structure
  // allows but UTF-8 does not are then looked at one by one.
  bool suspect = true;
  if (!charset_structure_scan(s, len, &suspect)) {
    for (size_t i = 0;;) {
      i += sub_find_non_ascii(s + i, len - i);
      if (i >= len) return true;
      size_t subpart = 0;
      const size_t seq = sub_utf8_seq(s, len, i, &subpart);
      if (!seq) return false;
      i += seq;
    }
  }
  if (!suspect) return true;
  for (size_t i = 0;;) {
    i += charset_find_suspect_lead(s + i, len - i);
    if (i >= len) return true;
    size_t subpart = 0;
    if (!sub_utf8_seq(s, len, i, &subpart)) return false;
    ++i;
  }
}

const char *sub_charset_wide(const unsigned char *s, size_t len) {
  const size_t n = (len < charset_wide_max ? len : charset_wide_max) & ~size_t{3};
  if (n < 4) return nullptr;
  // UTF-32 in the Basic Multilingual Plane: two zero bytes in every unit.
  size_t zero_hi32 = 0, zero_lo32 = 0;
  for (size_t i = 0; i < n; i += 4) {
    zero_hi32 += !s[i + 2] && !s[i + 3] && (s[i] || s[i + 1]);
    zero_lo32 += !s[i] && !s[i + 1] && (s[i + 2] || s[i + 3]);
  }
  const size_t units32 = n / 4;
  if (zero_hi32 * 10 >= units32 * 9) return "UTF-32LE";
  if (zero_lo32 * 10 >= units32 * 9) return "UTF-32BE";
  // UTF-16: the ASCII of timing lines and markup shows as a zero byte on one
  // side of a unit, almost never on the other.
  size_t ascii_le = 0, ascii_be = 0;
  for (size_t i = 0; i < n; i += 2) {
    ascii_le += s[i] && !s[i + 1];
    ascii_be += !s[i] && s[i + 1];
  }
  const size_t units16 = n / 2;
  if (ascii_le * 5 >= units16 && ascii_be * 20 <= ascii_le) return "UTF-16LE";
  if (ascii_be * 5 >= units16 && ascii_le * 20 <= ascii_be) return "UTF-16BE";
  return nullptr;
}

namespace {

// A candidate's score on the sample (per byte of the sample beyond ASCII),
// or false when it does not convert the sample strictly.
bool charset_score(const Candidate &c, const char *data, size_t sample, char *out, size_t cap,
                   float non_ascii, Plausibility *result, bool *oom) {
  const int64_t got = charset_convert(c.name, data, sample, out, cap);
  if (got == -2) *oom = true;
  if (got < 0) return false;
  Plausibility p =
      charset_score_text(reinterpret_cast<const unsigned char *>(out), static_cast<size_t>(got));
  if (c.kind != KIND_SINGLE) {
    const Plausibility rows =
        charset_score_multibyte(reinterpret_cast<const unsigned char *>(data), sample, c.kind);
    // The rows judge the characters; the text adds what looks wrong in it.
    p = Plausibility{rows.score + p.penalty, p.penalty, rows.suspect + p.suspect};
  }
  p.score /= non_ascii;
  *result = p;
  return true;
}

// Latin single-byte tables that agree with CP1252 on most letters.
constexpr const char *cp1252_kin[] = {"ISO-8859-1", "ISO-8859-15", "CP1250", "ISO-8859-2",
                                      "CP1254",     "ISO-8859-9",  "CP1257", "CP1258"};

// When the first of `names` is a Latin table that reads the sample exactly
// as CP1252 does, CP1252, the table most such files come in, goes first (the
// text is the same; the name is the one a user expects). Returns the count.
int charset_prefer_cp1252(const char *data, size_t sample, char *out, size_t cap,
                          const char **names, int count, bool *oom) {
  bool kin = false;
  for (const char *name : cp1252_kin) kin = kin || name == names[0];
  if (!kin || count >= SUB_CHARSET_MAX) return count;
  const int64_t first = charset_convert(names[0], data, sample, out, cap);
  if (first < 0) return count;
  // Half the room each: a single-byte table writes at most 3 bytes a byte.
  const size_t half = cap / 2;
  if (static_cast<size_t>(first) > half) return count;
  const int64_t cp1252 = charset_convert("CP1252", data, sample, out + half, cap - half);
  if (cp1252 == -2) *oom = true;
  if (cp1252 != first || std::memcmp(out, out + half, static_cast<size_t>(first)) != 0)
    return count;
  for (int k = count; k > 0; --k) names[k] = names[k - 1];
  names[0] = "CP1252";
  return count + 1;
}

}  // namespace

int sub_charset_rank(const char *data, size_t len, const char **names, bool *oom) {
  // The sample starts at the line of the first byte beyond ASCII: a file
  // whose first kilobytes are all ASCII says nothing there.
  size_t from = sub_find_non_ascii(reinterpret_cast<const unsigned char *>(data), len);
  while (from > 0 && from < len && data[from - 1] != '\n') --from;
  if (from >= len) from = 0;
  data += from;
  len -= from;
  const size_t sample = charset_sample_len(data, len);
  const size_t cap = sub_size_mul_add(sample, 4, 16);
  SubScratch out(cap);
  if (!out.data) {
    *oom = true;
    return 0;
  }
  const auto *raw = reinterpret_cast<const unsigned char *>(data);
  float non_ascii = 0;
  for (size_t i = 0; i < sample; ++i) non_ascii += raw[i] >= 0x80 ? 1.0f : 0.0f;
  if (non_ascii < 1) non_ascii = 1;

  // The detector's proposal is taken at once when its reading of the sample
  // has nothing suspect and reads well: the usual case, and the fast one.
  const Candidate *proposal =
      charset_detector(data, sample < charset_detector_max ? sample : charset_detector_max, oom);
  Plausibility p;
  if (proposal && charset_score(*proposal, data, sample, out.data, cap, non_ascii, &p, oom) &&
      p.suspect == 0 && p.score >= charset_accept) {
    names[0] = proposal->name;
    return charset_prefer_cp1252(data, sample, out.data, cap, names, 1, oom);
  }

  // Otherwise every candidate is read and ranked; the proposal keeps a small
  // edge over equally plausible readings.
  float scores[SUB_CHARSET_MAX];
  int count = 0;
  for (const Candidate &c : candidates) {
    if (!charset_score(c, data, sample, out.data, cap, non_ascii, &p, oom)) continue;
    const float score = p.score + (&c == proposal ? charset_proposal_edge : 0.0f);
    // Insertion keeps the ranking sorted; an equal score keeps list order.
    int at = count++;
    for (; at > 0 && scores[at - 1] < score; --at) {
      scores[at] = scores[at - 1];
      names[at] = names[at - 1];
    }
    scores[at] = score;
    names[at] = c.name;
  }
  return count ? charset_prefer_cp1252(data, sample, out.data, cap, names, count, oom) : 0;
}
