// TTML, the timed-text reading.
//
//   <tt xmlns="http://www.w3.org/ns/ttml" ttp:frameRate="25">   any prefix
//     <body><div timeContainer="seq">                           par or seq
//       <p begin="1s" dur="00:00:02:12">Hello <span begin="1s">you</span>
//       <br/>there</p>
//
// The markup is read by a small tokenizer that keeps no recursion: open
// elements live on an explicit stack, namespace declarations in a table with
// an undo log. Times are seconds held as doubles, an unending time as
// infinity. An element begins at its parent's begin (in a seq container, at
// its previous sibling's end) plus its own begin; it ends at its explicit end
// (end, dur or both), else at its implicit end (the latest child end in par,
// the last child end in seq; text has no end in par); everything is clipped
// to the parent. Each paragraph collects its text runs and breaks with their
// active intervals, then yields one cue per stretch between its own
// significant times in which the collapsed text does not change.
#include "ttml_standard.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "sub_parser.h"
#include "xml_scan.h"

namespace {

constexpr double ttmls_inf = HUGE_VAL;

// A growable array from the allocation layer; `ok` turns false for good
// when memory runs out.
template <typename T>
struct TtmlsVec {
  T *data = nullptr;
  int32_t count = 0;
  int32_t cap = 0;
  TtmlsVec() = default;
  TtmlsVec(const TtmlsVec &) = delete;
  TtmlsVec &operator=(const TtmlsVec &) = delete;
  ~TtmlsVec() { sub_free(data); }
  bool push(const T &v) {
    if (count == cap && !sub_grow(&data, &cap, 16)) return false;
    data[count++] = v;
    return true;
  }
  // Appends `n` elements at once; false when memory runs out.
  bool append(const T *p, size_t n) {
    if (n > static_cast<size_t>(INT32_MAX - count)) return false;
    while (static_cast<size_t>(cap - count) < n)
      if (!sub_grow(&data, &cap, 16)) return false;
    if (n) std::memcpy(data + count, p, n * sizeof(T));
    count += static_cast<int32_t>(n);
    return true;
  }
  T &back() { return data[count - 1]; }
};

// Namespace kinds that matter here.
enum TtmlsNs : int8_t {
  ns_unbound = -1,
  ns_other = 0,
  ns_tt = 1,
  ns_style = 2,
  ns_param = 3,
  ns_xml = 4
};

TtmlsNs ttmls_ns_kind(std::string_view uri) {
  static constexpr std::string_view bases[] = {"http://www.w3.org/ns/ttml",
                                               "http://www.w3.org/2006/10/ttaf1",
                                               "http://www.w3.org/2006/04/ttaf1"};
  for (std::string_view base : bases) {
    if (uri.substr(0, base.size()) != base) continue;
    const std::string_view rest = uri.substr(base.size());
    if (rest.empty()) return ns_tt;
    if (rest == "#styling") return ns_style;
    if (rest == "#parameter") return ns_param;
  }
  return ns_other;
}

// An open-addressed table from names in the text (not copied) to values.
template <typename Value>
struct TtmlsTable {
  struct Slot {
    const char *p;
    size_t n;
    bool used;
    Value value;
  };
  Slot *slots = nullptr;
  size_t cap = 0;
  size_t used = 0;
  TtmlsTable() = default;
  TtmlsTable(const TtmlsTable &) = delete;
  TtmlsTable &operator=(const TtmlsTable &) = delete;
  ~TtmlsTable() { sub_free(slots); }

  static size_t hash(std::string_view s) {
    size_t h = 1469598103934665603ULL;
    for (char c : s) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    return h;
  }
  // The slot of `s`, or the free slot where it would go; null when empty.
  Slot *find(std::string_view s) const {
    if (!cap) return nullptr;
    for (size_t i = hash(s) & (cap - 1);; i = (i + 1) & (cap - 1)) {
      Slot &slot = slots[i];
      if (!slot.used || std::string_view(slot.p, slot.n) == s) return &slot;
    }
  }
  // The value of `s`, or null.
  const Value *get(std::string_view s) const {
    const Slot *slot = find(s);
    return slot && slot->used ? &slot->value : nullptr;
  }
  // The slot of `s`, made when absent (*added then true); null when memory
  // runs out.
  Slot *slot_for(std::string_view s, bool *added) {
    if ((used + 1) * 2 > cap) {
      const size_t new_cap = cap ? cap * 2 : 16;
      auto *fresh = static_cast<Slot *>(sub_malloc(sub_size_mul_add(new_cap, sizeof(Slot), 0)));
      if (!fresh) return nullptr;
      for (size_t i = 0; i < new_cap; ++i) fresh[i] = Slot{nullptr, 0, false, Value{}};
      Slot *old = slots;
      const size_t old_cap = cap;
      slots = fresh;
      cap = new_cap;
      for (size_t i = 0; i < old_cap; ++i)
        if (old[i].used) *find(std::string_view(old[i].p, old[i].n)) = old[i];
      sub_free(old);
    }
    Slot *slot = find(s);
    *added = !slot->used;
    if (*added) {
      *slot = Slot{s.data(), s.size(), true, Value{}};
      ++used;
    }
    return slot;
  }
};

// Prefix bindings: prefix to kind, and a log of the bindings each open
// element replaced.
struct TtmlsUndo {
  const char *p;
  size_t n;
  int8_t old_kind;
};

struct TtmlsNames {
  TtmlsTable<int8_t> table;
  TtmlsVec<TtmlsUndo> undo;

  int8_t kind(std::string_view prefix) const {
    const int8_t *k = table.get(prefix);
    return k ? *k : static_cast<int8_t>(ns_unbound);
  }
  bool set(std::string_view prefix, int8_t kind) {
    bool added = false;
    auto *slot = table.slot_for(prefix, &added);
    if (!slot) return false;
    slot->value = kind;
    return true;
  }
  // Binds for the element being opened, logging what was there.
  bool bind(std::string_view prefix, int8_t kind) {
    return undo.push(TtmlsUndo{prefix.data(), prefix.size(), this->kind(prefix)}) &&
           set(prefix, kind);
  }
  void unwind(int32_t to) {
    while (undo.count > to) {
      const TtmlsUndo u = undo.data[--undo.count];
      auto *slot = table.find(std::string_view(u.p, u.n));
      if (slot && slot->used) slot->value = u.old_kind;
    }
  }
};

// Regions by identifier: the interval in which each is active.
struct TtmlsRegionTimes {
  double begin;
  double end;
};

struct TtmlsRegions {
  TtmlsTable<TtmlsRegionTimes> table;
  const TtmlsRegionTimes *find(std::string_view id) const { return table.get(id); }
  bool add(std::string_view id, double begin, double end) {
    bool added = false;
    auto *slot = table.slot_for(id, &added);
    if (!slot) return false;
    if (added) slot->value = TtmlsRegionTimes{begin, end};  // the first definition stands
    return true;
  }
};

// The timing parameters of the root.
struct TtmlsRates {
  double frame = 30;  // effective frame rate
  double sub_frame = 1;
  double tick = 1;
};

bool ttmls_number(std::string_view s, size_t *i, double *out, bool allow_fraction) {
  const size_t from = *i;
  double v = 0;
  while (*i < s.size() && sub_is_digit(s[*i])) v = v * 10 + (s[(*i)++] - '0');
  if (*i == from) return false;
  if (allow_fraction && *i < s.size() && s[*i] == '.') {
    ++*i;
    double scale = 0.1;
    const size_t frac = *i;
    while (*i < s.size() && sub_is_digit(s[*i])) {
      v += (s[(*i)++] - '0') * scale;
      scale /= 10;
    }
    if (*i == frac) return false;
  }
  *out = v;
  return true;
}

// A time expression in seconds: hh:mm:ss[.fraction], hh:mm:ss:ff[.sub] or
// N[.N] followed by h, m, s, ms, f or t.
bool ttmls_time(std::string_view s, const TtmlsRates &rates, double *out) {
  s = sub_sv_trim(s);
  size_t i = 0;
  double a = 0;
  if (!ttmls_number(s, &i, &a, true)) return false;
  if (i < s.size() && s[i] == ':') {
    if (s.find('.') < i || i < 2) return false;
    double m = 0, sec = 0;
    const size_t m_at = ++i;
    if (!ttmls_number(s, &i, &m, false) || i - m_at != 2 || i >= s.size() || s[i] != ':')
      return false;
    const size_t s_at = ++i;
    if (!ttmls_number(s, &i, &sec, false) || i - s_at != 2) return false;
    double total = a * 3600 + m * 60 + sec;
    if (i < s.size() && s[i] == '.') {
      --i;
      while (i > s_at) --i;
      if (!ttmls_number(s, &i, &sec, true)) return false;
      total = a * 3600 + m * 60 + sec;
    } else if (i < s.size() && s[i] == ':') {
      double frames = 0, sub = 0;
      const size_t f_at = ++i;
      if (!ttmls_number(s, &i, &frames, false) || i - f_at < 2) return false;
      if (i < s.size() && s[i] == '.') {
        ++i;
        if (!ttmls_number(s, &i, &sub, false)) return false;
      }
      total += (frames + sub / rates.sub_frame) / rates.frame;
    }
    if (i != s.size()) return false;
    *out = total;
    return true;
  }
  const std::string_view unit = s.substr(i);
  if (unit == "h")
    *out = a * 3600;
  else if (unit == "m")
    *out = a * 60;
  else if (unit == "s")
    *out = a;
  else if (unit == "ms")
    *out = a / 1000;
  else if (unit == "f")
    *out = a / rates.frame;
  else if (unit == "t")
    *out = a / rates.tick;
  else
    return false;
  return true;
}

// Element kinds in the TTML namespace that take part here.
enum TtmlsKind : uint8_t { k_other, k_tt, k_head, k_body, k_div, k_p, k_span, k_br, k_region };

TtmlsKind ttmls_kind(std::string_view local) {
  if (local == "tt") return k_tt;
  if (local == "head") return k_head;
  if (local == "body") return k_body;
  if (local == "div") return k_div;
  if (local == "p") return k_p;
  if (local == "span") return k_span;
  if (local == "br") return k_br;
  if (local == "region") return k_region;
  return k_other;
}

// One open element.
struct TtmlsFrame {
  std::string_view name;  // as written, to match its end tag
  int32_t undo_mark;      // namespace log length before its declarations
  TtmlsKind kind;
  bool timed;    // body, div, p, span, br in the TTML namespace
  bool content;  // its text is paragraph text
  bool hidden;   // display none here or above
  bool seq;      // a seq container
  bool has_end;  // end or dur given
  bool had_child;
  bool has_text;  // text of its own (an unending child in par)
  double begin;
  double explicit_end;
  double clip;      // no content of it shows at or after this time
  double last_end;  // end of the latest timed child
  double max_end;
  double region_begin;  // the active interval of its region
  double region_end;
};

// A run of paragraph text, or a break (n == SIZE_MAX), and when it shows.
struct TtmlsItem {
  size_t at;
  size_t n;
  double begin;
  double end;
  bool blank;  // white space only: counted, not listed, while it shows
};

// An item starting (on) or stopping to show.
struct TtmlsEvent {
  double t;
  int32_t item;
  bool on;
};

struct TtmlsAttr {
  std::string_view name;
  std::string_view value;
};

struct TtmlsParse {
  SubDoc *doc;
  TtmlsRates rates;
  TtmlsNames names;
  TtmlsRegions regions;
  TtmlsVec<TtmlsFrame> stack;
  TtmlsVec<TtmlsAttr> attrs;
  TtmlsVec<TtmlsItem> items;
  TtmlsVec<char> text;  // the decoded runs of the open paragraph
  TtmlsVec<TtmlsEvent> events;
  TtmlsVec<int32_t> active;  // indices of the non-blank items showing, in order
  TtmlsVec<int32_t> merged;  // scratch of the same, while a time's changes apply
  TtmlsVec<char> ending;     // per item: it ends at the time being applied
  TtmlsVec<int32_t> blanks;  // a Fenwick tree counting the blank items showing
  TtmlsVec<char> line;
  TtmlsVec<char> shown;  // the text of the last cue, lines joined by '\n'
  int32_t p_depth = -1;  // stack index of the open paragraph
  bool root_seen = false;
  bool root_tt = false;
  bool oom = false;
};

bool ttmls_name_char(char c) {
  return !sub_is_blank(static_cast<unsigned char>(c)) && c != '>' && c != '/' && c != '=' &&
         c != '<';
}

std::string_view ttmls_prefix(std::string_view qname, std::string_view *local) {
  const size_t colon = qname.find(':');
  if (colon == std::string_view::npos) {
    *local = qname;
    return {};
  }
  *local = qname.substr(colon + 1);
  return qname.substr(0, colon);
}

// Appends one code point as UTF-8.
bool ttmls_put_code(TtmlsVec<char> *out, uint32_t c) {
  if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  char b[4];
  int n;
  if (c < 0x80) {
    b[0] = static_cast<char>(c);
    n = 1;
  } else if (c < 0x800) {
    b[0] = static_cast<char>(0xC0 | (c >> 6));
    b[1] = static_cast<char>(0x80 | (c & 0x3F));
    n = 2;
  } else if (c < 0x10000) {
    b[0] = static_cast<char>(0xE0 | (c >> 12));
    b[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    b[2] = static_cast<char>(0x80 | (c & 0x3F));
    n = 3;
  } else {
    b[0] = static_cast<char>(0xF0 | (c >> 18));
    b[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    b[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    b[3] = static_cast<char>(0x80 | (c & 0x3F));
    n = 4;
  }
  for (int k = 0; k < n; ++k)
    if (!out->push(b[k])) return false;
  return true;
}

// Appends `raw` with references decoded (when `refs`) to the paragraph text.
bool ttmls_decode(TtmlsVec<char> *out, std::string_view raw, bool refs) {
  for (size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c != '&' || !refs) {
      // The run up to the next reference goes at once.
      const size_t amp = refs ? raw.find('&', i) : std::string_view::npos;
      const size_t end = amp == std::string_view::npos ? raw.size() : amp;
      if (!out->append(raw.data() + i, end - i)) return false;
      i = end - 1;
      continue;
    }
    const size_t semi = raw.find(';', i);
    if (semi == std::string_view::npos || semi - i > 12) {
      if (!out->push(c)) return false;
      continue;
    }
    const std::string_view ref = raw.substr(i + 1, semi - i - 1);
    uint32_t code = 0;
    bool ok = true;
    if (ref == "lt")
      code = '<';
    else if (ref == "gt")
      code = '>';
    else if (ref == "amp")
      code = '&';
    else if (ref == "quot")
      code = '"';
    else if (ref == "apos")
      code = '\'';
    else if (ref == "nbsp")
      code = 0xA0;
    else if (ref.size() > 1 && ref[0] == '#') {
      const bool hex = ref[1] == 'x' || ref[1] == 'X';
      const size_t from = hex ? 2 : 1;
      if (from >= ref.size()) ok = false;
      for (size_t k = from; ok && k < ref.size(); ++k) {
        const int d = hex ? sub_hex_value(ref[k]) : (sub_is_digit(ref[k]) ? ref[k] - '0' : -1);
        if (d < 0)
          ok = false;
        else if (code <= 0x10FFFF)
          code = code * (hex ? 16 : 10) + static_cast<uint32_t>(d);
      }
    } else {
      ok = false;
    }
    if (!ok) {
      if (!out->push(c)) return false;
      continue;
    }
    if (!ttmls_put_code(out, code)) return false;
    i = semi;
  }
  return true;
}

bool ttmls_is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The interval of content directly inside `f`: none in a seq container.
void ttmls_content_span(const TtmlsFrame &f, double *b, double *e) {
  *b = std::max(f.begin, f.region_begin);
  *e = std::min(f.seq ? f.begin : f.clip, f.region_end);
}

// Text inside the open paragraph.
void ttmls_text(TtmlsParse *ps, std::string_view raw, bool refs) {
  if (ps->stack.count == 0) return;
  TtmlsFrame &f = ps->stack.back();
  bool blank = true;
  for (size_t k = 0; blank && k < raw.size(); ++k) blank = ttmls_is_space(raw[k]);
  if (!blank && f.timed && (f.kind == k_p || f.kind == k_span)) f.has_text = true;
  if (!f.content || f.hidden || ps->p_depth < 0) return;
  double b, e;
  ttmls_content_span(f, &b, &e);
  if (!(b < e)) return;
  const size_t at = static_cast<size_t>(ps->text.count);
  if (!ttmls_decode(&ps->text, raw, refs)) {
    ps->oom = true;
    return;
  }
  const size_t n = static_cast<size_t>(ps->text.count) - at;
  bool item_blank = true;
  for (size_t k = at; item_blank && k < at + n; ++k) item_blank = ttmls_is_space(ps->text.data[k]);
  if (n && !ps->items.push(TtmlsItem{at, n, b, e, item_blank})) ps->oom = true;
}

int32_t ttmls_ms(double t) {
  const double ms = std::floor(t * 1000 + 0.5);
  if (!(ms < 2147483647.0)) return INT32_MAX;
  if (ms < 0) return 0;
  return static_cast<int32_t>(ms);
}

void ttmls_blank_add(TtmlsVec<int32_t> *tree, int32_t index, int32_t delta) {
  for (int32_t i = index + 1; i <= tree->count; i += i & -i) tree->data[i - 1] += delta;
}

// Blank items showing among the first `n` items.
int32_t ttmls_blank_prefix(const TtmlsVec<int32_t> &tree, int32_t n) {
  int32_t sum = 0;
  for (int32_t i = n; i > 0; i -= i & -i) sum += tree.data[i - 1];
  return sum;
}

// Builds the collapsed text of the active items into ps->line, lines joined by
// '\n'; false when memory runs out.
bool ttmls_compose(TtmlsParse *ps) {
  ps->line.count = 0;
  bool pending = false;  // a space waits for the next character of the line
  bool line_start = true;
  int32_t previous = -1;
  for (int32_t a = 0; a < ps->active.count; ++a) {
    const int32_t index = ps->active.data[a];
    const TtmlsItem &it = ps->items.data[index];
    // Blank runs showing between the previous item and this one.
    if (ttmls_blank_prefix(ps->blanks, index) - ttmls_blank_prefix(ps->blanks, previous + 1) > 0)
      pending = !line_start;
    previous = index;
    if (it.n == SIZE_MAX) {
      if (!ps->line.push('\n')) return false;
      pending = false;
      line_start = true;
      continue;
    }
    for (size_t j = 0; j < it.n;) {
      const char *run = ps->text.data + it.at + j;
      if (ttmls_is_space(*run)) {
        pending = !line_start;
        ++j;
        continue;
      }
      // A run of characters other than white space goes at once.
      size_t len = 1;
      while (j + len < it.n && !ttmls_is_space(run[len])) ++len;
      if (pending && !ps->line.push(' ')) return false;
      pending = false;
      line_start = false;
      if (!ps->line.append(run, len)) return false;
      j += len;
    }
  }
  return true;
}

// Emits the cues of the paragraph that just closed, over [pb, pe).
void ttmls_flush_paragraph(TtmlsParse *ps, double pb, double pe) {
  SubDoc *doc = ps->doc;
  ps->events.count = 0;
  ps->active.count = 0;
  ps->blanks.count = 0;
  ps->ending.count = 0;
  for (int32_t k = 0; k < ps->items.count; ++k)
    if (!ps->blanks.push(0) || !ps->ending.push(0)) {
      ps->oom = true;
      return;
    }
  for (int32_t k = 0; k < ps->items.count; ++k) {
    TtmlsItem &it = ps->items.data[k];
    it.begin = std::max(it.begin, pb);
    it.end = std::min(it.end, pe);
    if (!(it.begin < it.end)) continue;
    if (!ps->events.push(TtmlsEvent{it.begin, k, true}) ||
        !ps->events.push(TtmlsEvent{it.end, k, false})) {
      ps->oom = true;
      return;
    }
  }
  // By time, then by item: the items a time brings come in document order.
  std::sort(ps->events.data, ps->events.data + ps->events.count,
            [](const TtmlsEvent &x, const TtmlsEvent &y) {
              return x.t < y.t || (x.t == y.t && x.item < y.item);
            });
  int32_t last_cue = -1;
  ps->shown.count = 0;
  int32_t e = 0;
  while (e < ps->events.count) {
    // Every change at this time, then the text until the next one. The
    // active list stays in document order.
    const double t = ps->events.data[e].t;
    // A time's changes apply at once, in one pass over the active list:
    // the items that end are marked, those that start (already in document
    // order) merged in. Item by item, a paragraph of many breaks or spans
    // would move the list once per item.
    ps->merged.count = 0;
    int32_t kept = 0;
    int32_t ends = 0;
    for (; e < ps->events.count && ps->events.data[e].t == t; ++e) {
      const TtmlsEvent &ev = ps->events.data[e];
      if (ps->items.data[ev.item].blank) {
        ttmls_blank_add(&ps->blanks, ev.item, ev.on ? 1 : -1);
      } else if (ev.on) {
        if (!ps->merged.push(ev.item)) {
          ps->oom = true;
          return;
        }
      } else {
        ps->ending.data[ev.item] = 1;
        ++ends;
      }
    }
    if (ends) {
      for (int32_t j = 0; j < ps->active.count; ++j) {
        const int32_t item = ps->active.data[j];
        if (ps->ending.data[item]) {
          ps->ending.data[item] = 0;
        } else {
          ps->active.data[kept++] = item;
        }
      }
      ps->active.count = kept;
    }
    if (ps->merged.count) {
      // Merged from the back, in place: the list grows by the new items.
      const int32_t old_count = ps->active.count;
      const int32_t adds = ps->merged.count;
      for (int32_t j = 0; j < adds; ++j)
        if (!ps->active.push(0)) {
          ps->oom = true;
          return;
        }
      int32_t a = old_count - 1, b = adds - 1, w = old_count + adds - 1;
      while (b >= 0) {
        if (a >= 0 && ps->active.data[a] > ps->merged.data[b]) {
          ps->active.data[w--] = ps->active.data[a--];
        } else {
          ps->active.data[w--] = ps->merged.data[b--];
        }
      }
    }
    if (e >= ps->events.count) break;
    const double u = ps->events.data[e].t;
    if (!ttmls_compose(ps)) {
      ps->oom = true;
      return;
    }
    // Drop empty lines.
    bool any = false;
    for (int32_t j = 0; j < ps->line.count; ++j)
      if (ps->line.data[j] != '\n') any = true;
    if (!any) {
      last_cue = -1;
      continue;
    }
    if (last_cue >= 0 && ps->shown.count == ps->line.count &&
        std::memcmp(ps->shown.data, ps->line.data, static_cast<size_t>(ps->line.count)) == 0) {
      doc->cues[last_cue].end_ms = ttmls_ms(u);
      continue;
    }
    last_cue = sub_cue_add(doc, ttmls_ms(t), ttmls_ms(u));
    if (last_cue < 0) {
      ps->oom = true;
      return;
    }
    ps->shown.count = 0;
    for (int32_t j = 0; j < ps->line.count; ++j)
      if (!ps->shown.push(ps->line.data[j])) {
        ps->oom = true;
        return;
      }
    int32_t from = 0;
    for (int32_t j = 0; j <= ps->line.count; ++j) {
      if (j < ps->line.count && ps->line.data[j] != '\n') continue;
      // Each line trimmed of the space a break left behind.
      int32_t a = from, b = j;
      while (a < b && ps->line.data[a] == ' ') ++a;
      while (b > a && ps->line.data[b - 1] == ' ') --b;
      if (b > a &&
          sub_cue_add_line(doc, last_cue, ps->line.data + a, static_cast<size_t>(b - a)) != 0)
        sub_doc_note_oom(doc);
      from = j + 1;
    }
  }
}

double ttmls_ratio(std::string_view v) {
  size_t i = 0;
  double num = 0, den = 1;
  v = sub_sv_trim(v);
  if (!ttmls_number(v, &i, &num, false)) return 1;
  while (i < v.size() && ttmls_is_space(v[i])) ++i;
  if (i < v.size() && !ttmls_number(v, &i, &den, false)) return 1;
  if (num <= 0 || den <= 0) return 1;
  return num / den;
}

// Reads the root's timing parameters.
void ttmls_root_params(TtmlsParse *ps) {
  double frame = 0, multiplier = 1, sub = 0, tick = 0;
  for (int32_t k = 0; k < ps->attrs.count; ++k) {
    std::string_view local;
    const std::string_view prefix = ttmls_prefix(ps->attrs.data[k].name, &local);
    if (prefix.empty() || ps->names.kind(prefix) != ns_param) continue;
    const std::string_view v = sub_sv_trim(ps->attrs.data[k].value);
    size_t i = 0;
    double x = 0;
    if (local == "frameRateMultiplier") {
      multiplier = ttmls_ratio(v);
    } else if (ttmls_number(v, &i, &x, false) && i == v.size() && x > 0) {
      if (local == "frameRate")
        frame = x;
      else if (local == "subFrameRate")
        sub = x;
      else if (local == "tickRate")
        tick = x;
    }
  }
  ps->rates.frame = (frame > 0 ? frame : 30) * multiplier;
  ps->rates.sub_frame = sub > 0 ? sub : 1;
  ps->rates.tick = tick > 0 ? tick : (frame > 0 ? ps->rates.frame * ps->rates.sub_frame : 1);
}

// Opens an element whose attributes are in ps->attrs. Returns false when
// memory runs out.
bool ttmls_open(TtmlsParse *ps, std::string_view qname) {
  const int32_t mark = ps->names.undo.count;
  for (int32_t k = 0; k < ps->attrs.count; ++k) {
    const std::string_view n = ps->attrs.data[k].name;
    if (n == "xmlns") {
      if (!ps->names.bind({}, ttmls_ns_kind(ps->attrs.data[k].value))) return false;
    } else if (n.substr(0, 6) == "xmlns:") {
      if (!ps->names.bind(n.substr(6), ttmls_ns_kind(ps->attrs.data[k].value))) return false;
    }
  }
  std::string_view local;
  const std::string_view prefix = ttmls_prefix(qname, &local);
  const bool in_tt = ps->names.kind(prefix) == ns_tt;
  const TtmlsKind kind = in_tt ? ttmls_kind(local) : k_other;

  TtmlsFrame f{};
  f.name = qname;
  f.undo_mark = mark;
  f.kind = kind;
  f.begin = 0;
  f.clip = ttmls_inf;
  f.explicit_end = ttmls_inf;
  f.region_begin = -ttmls_inf;
  f.region_end = ttmls_inf;
  TtmlsFrame *parent = ps->stack.count ? &ps->stack.back() : nullptr;
  if (!parent) {
    ps->root_seen = true;
    ps->root_tt = kind == k_tt;
    if (ps->root_tt) ttmls_root_params(ps);
  }
  f.timed = kind == k_body || kind == k_div || kind == k_p || kind == k_span || kind == k_br;
  if (parent) {
    f.hidden = parent->hidden;
    f.content = (parent->content || kind == k_p) && (kind == k_p || kind == k_span || kind == k_br);
    f.begin = parent->begin;
    f.clip = parent->clip;
    f.region_begin = parent->region_begin;
    f.region_end = parent->region_end;
  }
  std::string_view region_ref, xml_id;
  bool has_begin = false, has_end = false, has_dur = false;
  double b = 0, e = 0, d = 0;
  for (int32_t k = 0; k < ps->attrs.count; ++k) {
    const std::string_view n = ps->attrs.data[k].name;
    const std::string_view v = ps->attrs.data[k].value;
    std::string_view alocal;
    const std::string_view aprefix = ttmls_prefix(n, &alocal);
    if (aprefix.empty()) {
      if (kind == k_region) {
        if (n == "begin")
          has_begin = ttmls_time(v, ps->rates, &b);
        else if (n == "end")
          has_end = ttmls_time(v, ps->rates, &e);
        else if (n == "dur")
          has_dur = ttmls_time(v, ps->rates, &d);
        continue;
      }
      if (!f.timed || kind == k_br) continue;
      if (n == "region")
        region_ref = sub_sv_trim(v);
      else if (n == "begin")
        has_begin = ttmls_time(v, ps->rates, &b);
      else if (n == "end")
        has_end = ttmls_time(v, ps->rates, &e);
      else if (n == "dur")
        has_dur = ttmls_time(v, ps->rates, &d);
      else if (n == "timeContainer")
        f.seq = sub_sv_trim(v) == "seq";
    } else if (n == "xml:id") {
      xml_id = sub_sv_trim(v);
    } else if (alocal == "display" && ps->names.kind(aprefix) == ns_style) {
      f.hidden = f.hidden || sub_sv_trim(v) == "none";
    }
  }
  if (kind == k_region && !xml_id.empty()) {
    const double rb = has_begin ? b : 0;
    double re = has_end ? e : ttmls_inf;
    if (has_dur) re = std::min(re, rb + d);
    if (!ps->regions.add(xml_id, rb, re)) return false;
  }
  if (!region_ref.empty() && f.timed) {
    const TtmlsRegionTimes *r = ps->regions.find(region_ref);
    if (r) {
      f.region_begin = r->begin;
      f.region_end = r->end;
    }
  }
  if (f.timed && parent) {
    const double implicit_begin =
        parent->seq && parent->had_child ? parent->last_end : parent->begin;
    f.begin = implicit_begin + (has_begin ? b : 0);
    if (has_end && has_dur)
      f.explicit_end = std::min(f.begin + d, implicit_begin + e);
    else if (has_end)
      f.explicit_end = implicit_begin + e;
    else if (has_dur)
      f.explicit_end = f.begin + d;
    f.has_end = has_end || has_dur;
    f.clip = std::min(parent->clip, f.explicit_end);
  } else if (parent) {
    f.seq = false;
  }
  f.last_end = f.begin;
  f.max_end = f.begin;
  if (!ps->stack.push(f)) return false;
  if (kind == k_p && ps->p_depth < 0) {
    ps->p_depth = ps->stack.count - 1;
    ps->items.count = 0;
    ps->text.count = 0;
  }
  if (kind == k_br && ps->p_depth >= 0 && f.content && !f.hidden) {
    // The push may have moved the stack: the parent is read again.
    double cb, ce;
    ttmls_content_span(ps->stack.data[ps->stack.count - 2], &cb, &ce);
    if (cb < ce && !ps->items.push(TtmlsItem{0, SIZE_MAX, cb, ce, false})) return false;
  }
  return true;
}

// Closes the top element.
void ttmls_close(TtmlsParse *ps) {
  TtmlsFrame f = ps->stack.back();
  --ps->stack.count;
  ps->names.unwind(f.undo_mark);
  TtmlsFrame *parent = ps->stack.count ? &ps->stack.back() : nullptr;
  double end = f.explicit_end;
  if (!f.has_end) {
    if (f.seq)
      end = f.had_child ? f.last_end : f.begin;
    else
      end = f.has_text || f.kind == k_br ? ttmls_inf : std::max(f.begin, f.max_end);
  }
  if (parent) end = std::min(end, parent->clip);
  if (f.timed && parent) {
    parent->had_child = true;
    parent->last_end = end;
    parent->max_end = std::max(parent->max_end, end);
  }
  if (ps->p_depth == ps->stack.count) {
    ps->p_depth = -1;
    ttmls_flush_paragraph(ps, f.begin, end);
  }
}

// Reads the start tag at text[i] ('<' then a name); returns the position
// after it, or npos when it does not end.
size_t ttmls_start_tag(TtmlsParse *ps, std::string_view s, size_t i, bool *ok) {
  *ok = true;
  size_t j = i + 1;
  while (j < s.size() && ttmls_name_char(s[j])) ++j;
  const std::string_view qname = s.substr(i + 1, j - i - 1);
  ps->attrs.count = 0;
  bool empty = false;
  for (;;) {
    while (j < s.size() && sub_is_blank(static_cast<unsigned char>(s[j]))) ++j;
    if (j >= s.size()) return std::string_view::npos;
    if (s[j] == '>') {
      ++j;
      break;
    }
    if (s[j] == '/') {
      if (j + 1 < s.size() && s[j + 1] == '>') {
        empty = true;
        j += 2;
        break;
      }
      ++j;
      continue;
    }
    const size_t n_at = j;
    while (j < s.size() && ttmls_name_char(s[j])) ++j;
    const std::string_view name = s.substr(n_at, j - n_at);
    if (name.empty()) {
      ++j;
      continue;
    }
    while (j < s.size() && sub_is_blank(static_cast<unsigned char>(s[j]))) ++j;
    std::string_view value;
    if (j < s.size() && s[j] == '=') {
      ++j;
      while (j < s.size() && sub_is_blank(static_cast<unsigned char>(s[j]))) ++j;
      if (j < s.size() && (s[j] == '"' || s[j] == '\'')) {
        const size_t close = s.find(s[j], j + 1);
        if (close == std::string_view::npos) return std::string_view::npos;
        value = s.substr(j + 1, close - j - 1);
        j = close + 1;
      } else {
        const size_t v_at = j;
        while (j < s.size() && ttmls_name_char(s[j])) ++j;
        value = s.substr(v_at, j - v_at);
      }
    }
    if (!ps->attrs.push(TtmlsAttr{name, value})) {
      *ok = false;
      return j;
    }
  }
  if (!ttmls_open(ps, qname)) {
    *ok = false;
    return j;
  }
  if (empty) ttmls_close(ps);
  return j;
}

}  // namespace

int ttml_parse_standard(SubDoc *doc, const char *text, size_t len) {
  const std::string_view s(text ? text : "", text ? xml_text_len(text, len) : 0);
  TtmlsParse ps;
  ps.doc = doc;
  bool saw_root = false;
  bool root_closed = false;
  size_t i = 0;
  while (i < s.size() && !ps.oom && !root_closed) {
    if (s[i] != '<') {
      const size_t lt = s.find('<', i);
      const size_t end = lt == std::string_view::npos ? s.size() : lt;
      ttmls_text(&ps, s.substr(i, end - i), true);
      i = end;
      continue;
    }
    const std::string_view rest = s.substr(i);
    if (rest.substr(0, 4) == "<!--") {
      const size_t close = s.find("-->", i + 4);
      i = close == std::string_view::npos ? s.size() : close + 3;
    } else if (rest.substr(0, 9) == "<![CDATA[") {
      const size_t close = s.find("]]>", i + 9);
      const size_t end = close == std::string_view::npos ? s.size() : close;
      ttmls_text(&ps, s.substr(i + 9, end - i - 9), false);
      i = close == std::string_view::npos ? s.size() : close + 3;
    } else if (rest.substr(0, 2) == "<?") {
      const size_t close = s.find("?>", i + 2);
      i = close == std::string_view::npos ? s.size() : close + 2;
    } else if (rest.substr(0, 2) == "<!") {
      // A declaration; an internal subset in brackets is read past.
      size_t j = i + 2;
      int bracket = 0;
      while (j < s.size() && (s[j] != '>' || bracket > 0)) {
        if (s[j] == '[')
          ++bracket;
        else if (s[j] == ']' && bracket > 0)
          --bracket;
        ++j;
      }
      i = j < s.size() ? j + 1 : s.size();
    } else if (rest.substr(0, 2) == "</") {
      size_t j = i + 2;
      while (j < s.size() && ttmls_name_char(s[j])) ++j;
      const std::string_view name = s.substr(i + 2, j - i - 2);
      const size_t gt = s.find('>', j);
      i = gt == std::string_view::npos ? s.size() : gt + 1;
      // Closes the innermost element of that name (and any left open in
      // it); an end tag that matches nothing open is dropped.
      int32_t k = ps.stack.count - 1;
      while (k >= 0 && ps.stack.data[k].name != name) --k;
      if (k < 0) continue;
      while (ps.stack.count > k) ttmls_close(&ps);
      if (ps.stack.count == 0) root_closed = true;
    } else if (rest.size() > 1 && ttmls_name_char(rest[1])) {
      bool ok = true;
      i = ttmls_start_tag(&ps, s, i, &ok);
      if (!ok) {
        ps.oom = true;
        break;
      }
      if (i == std::string_view::npos || !ps.root_tt) break;
      saw_root = true;
      if (ps.stack.count == 0) root_closed = true;
    } else {
      ttmls_text(&ps, s.substr(i, 1), true);
      ++i;
    }
  }
  while (ps.stack.count > 0 && !ps.oom) ttmls_close(&ps);
  if (ps.oom) {
    sub_doc_note_oom(doc);
    if (doc->cue_count == 0 && !saw_root) return SUB_ERR_NOMEM;
  }
  if (!saw_root) {
    sub_set_error(doc, "TTML: no tt root element");
    return SUB_ERR_NOCUES;
  }
  doc->detected_format = SUB_FMT_TTML;
  return SUB_OK;
}
