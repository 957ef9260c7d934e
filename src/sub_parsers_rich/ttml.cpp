// TTML / DFXP as the classic reading reads it (ttml_standard.cpp holds the
// standard reading), by scanning for five tag openings, not by parsing XML:
//
//   <tt ttp:tickRate="10000000" ttp:frameRate="30" ttp:frameRateMultiplier="1000 1001">
//   <body><div begin="10s">                    div begins offset the paragraphs inside
//     <p begin="00:00:01.000" end="2.5s">Hello<br/>world</p>
//
// <tt, <body and <div carry the timing parameters; <div and </div keep a
// stack of up to 8 begin offsets (deeper divs neither push nor pop); every
// <p with a readable start and end and non-empty text is one cue of one line.
#include <cmath>
#include <cstring>

#include "sub_parser.h"
#include "ttml_standard.h"
#include "xml_scan.h"

namespace {

constexpr size_t ttml_param_tag_max = 1023;  // bytes of a <tt>, <body>, <div> copy
constexpr size_t ttml_p_tag_max = 511;       // bytes of a <p> copy
constexpr size_t ttml_attr_size = 64;        // an attribute value and its NUL
constexpr int ttml_max_divs = 8;

// The document being filled, and the warnings it has had: each once a parse.
struct TtmlParse {
  SubDoc *doc;
  bool warned_frame = false;
  bool warned_tick = false;
};

struct TtmlParams {
  bool has_tick = false;
  double tick_rate = 0;
  bool has_frame = false;
  double frame_rate = 0;
  double multiplier = 1.0;
};

struct TtmlDivs {
  int32_t offsets[ttml_max_divs] = {};
  int depth = 0;        // entries on the stack
  int64_t ignored = 0;  // open divs beyond the stack, which pop nothing
  int64_t sum() const {
    int64_t s = 0;
    for (int i = 0; i < depth; ++i) s += offsets[i];
    return s;
  }
};

// Reads an attribute into a fresh 64-byte value; empty when absent.
std::string_view ttml_attr(std::string_view tag, std::string_view name,
                           char (&buf)[ttml_attr_size]) {
  buf[0] = '\0';
  xml_get_attr(tag, name, buf, sizeof buf);
  return buf;
}

// Terms and sums are held within ±2^62, so adding two never overflows; any
// time that large is unreadable anyway.
constexpr int64_t ttml_huge = INT64_MAX / 2;

inline int64_t ttml_trunc(double v) {
  if (!(v > -4.6e18 && v < 4.6e18)) return v > 0 ? ttml_huge : -ttml_huge;
  return static_cast<int64_t>(v);
}

// sum + term, held within ±2^62.
inline int64_t ttml_add(int64_t sum, int64_t term) {
  const int64_t total = sum + term;
  return total > ttml_huge ? ttml_huge : (total < -ttml_huge ? -ttml_huge : total);
}

int32_t ttml_result(int64_t sum) {
  if (sum > INT32_MAX || sum < INT32_MIN) return -1;  // no time beyond 32 bits
  return static_cast<int32_t>(sum);
}

// An offset time: terms of a number and a unit (h, m, s, ms, f, t), or one
// bare number of seconds. Milliseconds, or -1 when it cannot be read.
int ttml_offset_ms(std::string_view expr, const TtmlParams &params, TtmlParse *parse) {
  if (expr.empty()) return -1;
  int64_t sum = 0;
  bool had_unit = false;
  size_t i = 0;
  for (;;) {
    double value = 0;
    const size_t used = sub_strtod(expr.substr(i), &value);
    if (!used) return -1;
    i += used;
    if (i >= expr.size())
      return ttml_result(had_unit ? ttml_add(sum, ttml_trunc(value)) : ttml_trunc(value * 1000.0));
    const char unit = expr[i];
    const bool unit_ends = i + 1 == expr.size();  // s, f and t must end the expression
    had_unit = true;
    if (unit == 'h') {
      sum = ttml_add(sum, ttml_trunc(value * 3600000.0));
      ++i;
      if (i == expr.size()) return ttml_result(sum);
      if (!sub_is_digit(expr[i])) return -1;
    } else if (unit == 'm' && i + 1 < expr.size() && expr[i + 1] == 's') {
      sum = ttml_add(sum, ttml_trunc(value));
      i += 2;
      if (i == expr.size()) return ttml_result(sum);
    } else if (unit == 'm') {
      sum = ttml_add(sum, ttml_trunc(value * 60000.0));
      ++i;
      if (i == expr.size()) return ttml_result(sum);
    } else if (unit == 's' && unit_ends) {
      return ttml_result(ttml_add(sum, ttml_trunc(value * 1000.0)));
    } else if (unit == 'f' && unit_ends) {
      double rate = 25.0;
      if (params.has_frame) {
        if (params.frame_rate <= 0 || params.multiplier <= 0) return -1;
        rate = params.frame_rate;
      } else if (!parse->warned_frame) {
        parse->warned_frame = true;
        sub_warn(parse->doc, "ttml: ttp:frameRate missing, defaulting to 25");
      }
      return ttml_result(ttml_add(sum, ttml_trunc(value / (rate * params.multiplier) * 1000.0)));
    } else if (unit == 't' && unit_ends) {
      double rate = 10000.0;
      if (params.has_tick) {
        if (params.tick_rate <= 0) return -1;
        rate = params.tick_rate;
      } else if (!parse->warned_tick) {
        parse->warned_tick = true;
        sub_warn(parse->doc, "ttml: ttp:tickRate missing, defaulting to 10000");
      }
      return ttml_result(ttml_add(sum, ttml_trunc(value / rate * 1000.0)));
    } else {
      return -1;
    }
  }
}

// A begin or end: a clock time first, else an offset time.
int32_t ttml_time(std::string_view expr, const TtmlParams &params, TtmlParse *parse) {
  const int32_t clock = sub_hms_ms(expr, false);
  return clock >= 0 ? clock : ttml_offset_ms(expr, params, parse);
}

// Reads the timing parameters of a <tt>, <body> or <div> tag copy.
void ttml_read_params(std::string_view tag, TtmlParams *params) {
  char value[ttml_attr_size];
  value[0] = '\0';
  if (xml_get_attr(tag, "ttp:tickRate", value, sizeof value)) {
    sub_strtod(value, &params->tick_rate);
    params->has_tick = true;
  }
  value[0] = '\0';
  if (!xml_get_attr(tag, "ttp:frameRate", value, sizeof value)) return;
  sub_strtod(value, &params->frame_rate);
  params->has_frame = true;
  value[0] = '\0';
  if (!xml_get_attr(tag, "ttp:frameRateMultiplier", value, sizeof value)) return;
  const std::string_view mult = value;
  double numerator = 0;
  const size_t used = sub_strtod(mult, &numerator);
  if (!used) return;  // no number: the multiplier stays
  size_t i = used;
  if (i < mult.size() && (sub_is_blank(static_cast<unsigned char>(mult[i])) || mult[i] == ';')) {
    double denominator = 0;
    if (sub_strtod(mult.substr(i + 1), &denominator) && denominator != 0)
      params->multiplier = numerator / denominator;
    return;
  }
  params->multiplier = numerator;
}

void ttml_push_div(std::string_view tag, const TtmlParams &params, TtmlDivs *divs,
                   TtmlParse *parse) {
  if (divs->depth >= ttml_max_divs) {
    ++divs->ignored;
    return;
  }
  char begin_buf[ttml_attr_size];
  char container_buf[ttml_attr_size];
  const std::string_view begin = ttml_attr(tag, "begin", begin_buf);
  const std::string_view container = ttml_attr(tag, "timeContainer", container_buf);
  int32_t offset = 0;
  if (!begin.empty()) {
    if (container.empty() || (container.size() == 3 && sub_sv_istarts(container, "par"))) {
      offset = ttml_time(begin, params, parse);
      if (offset < 0) offset = 0;
    } else {
      sub_warn(parse->doc, "ttml: timeContainer=\"%s\" unsupported, div begin ignored",
               container_buf);
    }
  }
  divs->offsets[divs->depth++] = offset;
}

void ttml_pop_div(TtmlDivs *divs) {
  if (divs->ignored > 0)
    --divs->ignored;
  else if (divs->depth > 0)
    --divs->depth;
}

// A time relative to the enclosing divs: counted from them when below their sum.
inline int32_t ttml_offset_by(int32_t t, int64_t divs_sum) {
  return t < divs_sum ? sub_add_sat(t, divs_sum) : t;
}

// One <p> element; `tag` is its opening tag copy, `body` its content.
void ttml_paragraph(std::string_view tag, const char *body, const char *body_end,
                    const TtmlParams &params, int64_t divs_sum, char *text_buf, TtmlParse *parse) {
  char begin_buf[ttml_attr_size];
  char end_buf[ttml_attr_size];
  char dur_buf[ttml_attr_size];
  const std::string_view begin = ttml_attr(tag, "begin", begin_buf);
  const std::string_view end_attr = ttml_attr(tag, "end", end_buf);
  const std::string_view dur = ttml_attr(tag, "dur", dur_buf);
  const std::string_view text = xml_text_decode_copy(body, body_end, text_buf);

  int32_t start = 0;
  if (!begin.empty()) {
    const int32_t b = ttml_time(begin, params, parse);
    start = b < 0 ? 0 : ttml_offset_by(b, divs_sum);
  }
  int32_t end = -1;
  const int32_t e = end_attr.empty() ? -1 : ttml_time(end_attr, params, parse);
  if (e >= 0) {
    end = ttml_offset_by(e, divs_sum);
  } else if (!dur.empty()) {
    const int32_t d = ttml_offset_ms(dur, params, parse);
    if (d >= 0) end = sub_add_sat(start, d);
  }
  if (end < 0 || end <= start || text.empty()) return;
  const int32_t cue = sub_cue_add(parse->doc, start, end);
  if (cue >= 0) sub_cue_add_line(parse->doc, cue, text.data(), text.size());
}

inline bool ttml_name_ends(char c) {
  return sub_is_blank(static_cast<unsigned char>(c)) || c == '>';
}

enum TtmlTag { TT_TT, TT_BODY, TT_DIV, TT_DIV_CLOSE, TT_P, TT_COUNT };

constexpr std::string_view ttml_tag_names[TT_COUNT] = {"<tt", "<body", "<div", "</div", "<p"};

// Which of the five openings (ignoring case) `s` starts with; TT_COUNT for none.
int ttml_tag_kind(std::string_view s) {
  for (int k = 0; k < TT_COUNT; ++k)
    if (sub_sv_istarts(s, ttml_tag_names[k])) return k;
  return TT_COUNT;
}

}  // namespace

int sub_parse_ttml(SubDoc *doc, const char *text_in, size_t len_in) {
  if (doc->reading == SUB_READING_STANDARD) return ttml_parse_standard(doc, text_in, len_in);
  TtmlParse parse{doc};
  const std::string_view text(text_in, xml_text_len(text_in, len_in));
  SubScratch text_buf(SUB_XML_TEXT_SIZE);
  if (!text_buf.data) return SUB_ERR_NOMEM;
  SubFinder p_close(text, "</p>", true);
  TtmlParams params;
  TtmlDivs divs;
  size_t pos = 0;
  for (;;) {
    // The earliest of the five openings is at the first '<' that starts one.
    size_t at = pos;
    int kind = TT_COUNT;
    while (kind == TT_COUNT) {
      const void *lt =
          at < text.size() ? std::memchr(text.data() + at, '<', text.size() - at) : nullptr;
      if (!lt) break;
      at = static_cast<size_t>(static_cast<const char *>(lt) - text.data());
      kind = ttml_tag_kind(text.substr(at));
      if (kind == TT_COUNT) ++at;
    }
    if (kind == TT_COUNT) break;
    const size_t name_end = at + ttml_tag_names[kind].size();
    if (kind != TT_DIV_CLOSE && (name_end >= text.size() || !ttml_name_ends(text[name_end]))) {
      pos = at + 1;  // part of another name: <ttml, <pre, <division
      continue;
    }
    const size_t close = text.find('>', at);
    if (close == std::string_view::npos) break;
    const std::string_view whole_tag = text.substr(at, close + 1 - at);
    if (kind == TT_P) {
      const std::string_view tag = whole_tag.substr(0, ttml_p_tag_max);
      const size_t end_p = p_close.find(close);
      if (end_p == std::string_view::npos) {
        pos = close + 1;
        continue;
      }
      ttml_paragraph(tag, text.data() + close + 1, text.data() + end_p, params, divs.sum(),
                     text_buf.data, &parse);
      pos = end_p + 4;
      continue;
    }
    const std::string_view tag = whole_tag.substr(0, ttml_param_tag_max);
    ttml_read_params(tag, &params);
    if (kind == TT_DIV) ttml_push_div(tag, params, &divs, &parse);
    if (kind == TT_DIV_CLOSE) ttml_pop_div(&divs);
    pos = close + 1;
  }
  return sub_parser_done(doc, SUB_FMT_TTML, doc->cue_count);
}
