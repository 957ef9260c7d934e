// The danmaku layout. The screen is divided into rows one normal comment
// high (the font size of a size-25 comment, plus its outline). Comments are
// taken in time order:
//
//   scrolling (modes 1, 2, 3 right to left, 6 left to right) take the first
//   row, from the top and within the share given to them, where they neither
//   touch the comment ahead when they enter nor catch up with it before it
//   leaves the screen, and where they never cross a standing comment;
//   top (5) and bottom (4) comments take the first row from their edge with
//   no standing comment and no scrolling comment still to pass the middle;
//   positioned comments (7) are placed where their JSON array says.
//
// A row keeps only its last scrolling comment and its standing comment: the
// last comment in a row is the furthest behind, so a newcomer that clears it
// clears those ahead of it too. Each comment costs O(rows).
#include "danmaku_layout.h"

#include <yyjson.h>

#include <cmath>
#include <cstring>

#include "sub_parser.h"

namespace {

constexpr double layout_outline = 2;  // the Danmaku style's outline, in pixels

struct LayoutRow {
  int8_t scroll_dir = 0;  // 0: none yet, -1: right to left, +1: left to right
  double scroll_start = 0, scroll_end = 0;
  double tail_in = -1e300;  // when the last one has moved its width and the gap in
  double scroll_width = 0, scroll_speed = 0;  // pixels, pixels per millisecond
  double stand_until = -1e300;                // the standing comment's end
  double stand_x0 = 0, stand_x1 = 0;          // and its extent
};

struct LayoutRows {
  LayoutRow *rows = nullptr;
  int32_t count = 0;
  ~LayoutRows() { sub_free(rows); }
};

// A new comment as the row search sees it.
struct LayoutItem {
  double start, end;
  double width, height;
  int dir;  // scrolling: -1 or +1
  double speed;
};

// Width of a code point in ems, an upper bound of what common fonts draw
// (a sans-serif Latin font, a CJK font for the rest): narrow ASCII (i, l, j,
// t, f, r, most punctuation) 0.4, other lower-case letters 0.6, upper-case letters, digits
// and symbols 0.75, m, w, M, W and @ 0.95, a space 0.4; Latin, Greek and
// Cyrillic beyond ASCII 0.8; everything else (CJK, kana, hangul, full-width
// forms, symbols such as "…", "●", "♥", emoji) one em. ASCII comes from a
// table: every character of every comment is measured.
struct LayoutAsciiEms {
  double ems[128] = {};
  constexpr LayoutAsciiEms() {
    for (int c = 0; c < 128; ++c) ems[c] = 0.75;
    for (int c = 'a'; c <= 'z'; ++c) ems[c] = 0.6;
    for (const char c : std::string_view("mwMW@")) ems[static_cast<unsigned char>(c)] = 0.95;
    for (const char c : std::string_view(" iljtfr.,;:!|'()[]"))
      ems[static_cast<unsigned char>(c)] = 0.4;
  }
};
constexpr LayoutAsciiEms layout_ascii_ems;

double layout_char_ems(uint32_t cp) {
  if (cp < 0x80) return layout_ascii_ems.ems[cp];
  if (cp >= 0xA0 && cp <= 0x52F) return 0.8;
  return 1.0;
}

// The longest line of a cue's text, measured by the host or estimated; and
// its number of lines (cut at line feeds).
double layout_measure(const SubCue &cue, double font_px, const SubWriteOptions &o, int *lines) {
  double widest = 0;
  *lines = 0;
  SubOut piece_copy;  // the host's measure takes a NUL-terminated line
  // The lines as the ASS writer writes them: trimmed, empty ones left out.
  sub_each_text_line(cue, [&](std::string_view piece) {
    ++*lines;
    double w = 0;
    if (o.danmaku_measure) {
      piece_copy.len = 0;
      piece_copy.put(piece);
      piece_copy.put('\0');
      if (!piece_copy.failed)
        w = o.danmaku_measure(piece_copy.data, font_px, o.danmaku_measure_user);
      if (!std::isfinite(w) || w < 0)
        w = sub_danmaku_text_width(piece.data(), piece.size(), font_px);
    } else {
      w = sub_danmaku_text_width(piece.data(), piece.size(), font_px);
    }
    if (w > widest) widest = w;
  });
  if (*lines == 0) *lines = 1;
  return widest;
}

// Whether the cue's text holds any of the line-feed separated words.
bool layout_blocked(const SubCue &cue, std::string_view words) {
  while (!words.empty()) {
    const size_t nl = words.find('\n');
    const std::string_view word = words.substr(0, nl);
    words = nl == std::string_view::npos ? std::string_view() : words.substr(nl + 1);
    if (word.empty()) continue;
    for (int32_t l = 0; l < cue.lines.count; ++l)
      if (std::string_view(cue.lines.items[l]).find(word) != std::string_view::npos) return true;
  }
  return false;
}

// The cue indexes of `doc` in start order, equal starts in document order
// (with room for the sort's scratch after them).
int32_t *layout_order(const SubDoc *doc) {
  const auto n = static_cast<size_t>(doc->cue_count);
  auto *order = static_cast<int32_t *>(sub_malloc(sub_size_mul_add(n, 2 * sizeof(int32_t), 0)));
  if (!order) return nullptr;
  for (size_t i = 0; i < n; ++i) order[i] = static_cast<int32_t>(i);
  sub_cue_sort_indexes(doc->cues, order, order + n, n);
  return order;
}

struct Layout {
  const SubWriteOptions &o;
  double screen_w, screen_h;
  double row_h;
  double gap;  // the least distance kept between two comments in a row
  LayoutRow *rows;
  int32_t row_count;
  int32_t scroll_rows;

  // Whether a scrolling item fits row `r`.
  bool scroll_fits(const LayoutRow &row, const LayoutItem &it) const {
    if (row.scroll_dir != 0 && it.start < row.scroll_end) {
      if (row.scroll_dir != it.dir) return false;
      // The comment ahead has moved its whole width and the gap in.
      if (it.start < row.tail_in) return false;
      // A faster newcomer must not reach it before it has left.
      if (it.speed > row.scroll_speed && (row.scroll_end - it.start) * it.speed > screen_w - gap)
        return false;
    }
    if (it.start < row.stand_until) {
      // When the newcomer first covers the standing comment's extent.
      const double x0 = row.stand_x0 - gap, x1 = row.stand_x1 + gap;
      const double reach = it.dir < 0 ? (screen_w - x1) / it.speed : (x0 + 0.0) / it.speed;
      if (it.start + reach < row.stand_until) return false;
    }
    return true;
  }

  // Whether a standing item over [x0, x1] fits row `r`.
  bool stand_fits(const LayoutRow &row, const LayoutItem &it, double x0, double x1) const {
    if (it.start < row.stand_until) return false;
    if (row.scroll_dir != 0 && it.start < row.scroll_end) {
      // The row's last scrolling comment, and so every one before it, must
      // have passed the standing comment's extent already.
      const double moved = (it.start - row.scroll_start) * row.scroll_speed;
      const double passed = row.scroll_dir < 0 ? screen_w + row.scroll_width - (x0 - gap)
                                               : x1 + gap + row.scroll_width;
      if (moved < passed) return false;
    }
    return true;
  }

  // The first run of `k` rows from `first` stepping by `step` (within
  // `limit` rows) where `fits` holds for each; -1 when none.
  template <typename Fits>
  int32_t find_rows(int32_t limit, int32_t k, bool from_bottom, Fits &&fits) const {
    for (int32_t r = 0; r + k <= limit; ++r) {
      bool ok = true;
      for (int32_t j = 0; j < k && ok; ++j)
        ok = fits(rows[from_bottom ? row_count - 1 - (r + j) : r + j]);
      if (ok) return r;
    }
    return -1;
  }

  // The run of `k` rows that frees first, by `free_at`.
  template <typename FreeAt>
  int32_t earliest_rows(int32_t limit, int32_t k, bool from_bottom, FreeAt &&free_at) const {
    int32_t best = 0;
    double best_at = 1e300;
    for (int32_t r = 0; r + k <= limit; ++r) {
      double at = -1e300;
      for (int32_t j = 0; j < k; ++j) {
        const double f = free_at(rows[from_bottom ? row_count - 1 - (r + j) : r + j]);
        if (f > at) at = f;
      }
      if (at < best_at) {
        best_at = at;
        best = r;
      }
    }
    return best;
  }
};

uint8_t layout_alpha(double opacity) {
  if (!(opacity >= 0)) opacity = 0;
  if (opacity > 1) opacity = 1;
  return static_cast<uint8_t>(std::lround((1.0 - opacity) * 255.0));
}

// Colours too dark to read on the black outline (luma below 48 of 255:
// black, navy, dark grey; not pure red, 54) get a light one.
bool layout_is_dark(uint32_t rgb) {
  const double r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  return 0.2126 * r + 0.7152 * g + 0.0722 * b < 48;
}

// A number of a positioned comment's array: a JSON number or a numeric
// string. False when it is neither.
bool layout_json_number(yyjson_val *v, double *out) {
  if (yyjson_is_num(v)) {
    *out = yyjson_get_num(v);
    return std::isfinite(*out);
  }
  if (!yyjson_is_str(v)) return false;
  const std::string_view s(yyjson_get_str(v), yyjson_get_len(v));
  const size_t used = sub_strtod(s, out);
  return used > 0 && std::isfinite(*out);
}

// Whether `v` is written as a fraction ("0.5"): positions of 0 to 1 so
// written are shares of the screen, others are pixels.
bool layout_json_fraction(yyjson_val *v, double value) {
  if (!(value >= 0 && value <= 1)) return false;
  if (yyjson_is_real(v)) return true;
  if (!yyjson_is_str(v)) return false;
  return std::string_view(yyjson_get_str(v), yyjson_get_len(v)).find('.') != std::string_view::npos;
}

// Reads a positioned comment's array [x, y, "from-to" opacity, seconds,
// text, rotation z, rotation y, x2, y2, move ms, delay ms, ...] into *e.
// False when it does not read.
bool layout_positioned(const char *json, size_t len, double w, double h, SubDanmakuEvent *e,
                       SubOut *texts) {
  yyjson_read_err err;
  yyjson_doc *doc = yyjson_read_opts(const_cast<char *>(json), len, 0, sub_yyjson_alc(), &err);
  if (!doc) return false;
  yyjson_val *arr = yyjson_doc_get_root(doc);
  bool ok = yyjson_is_arr(arr) && yyjson_arr_size(arr) >= 5;
  double x = 0, y = 0, seconds = 0;
  if (ok) {
    yyjson_val *vx = yyjson_arr_get(arr, 0), *vy = yyjson_arr_get(arr, 1);
    yyjson_val *text = yyjson_arr_get(arr, 4);
    ok = layout_json_number(vx, &x) && layout_json_number(vy, &y) &&
         layout_json_number(yyjson_arr_get(arr, 3), &seconds) && seconds > 0 && seconds <= 3600 &&
         yyjson_is_str(text);
    if (ok) {
      if (layout_json_fraction(vx, x)) x *= w;
      if (layout_json_fraction(vy, y)) y *= h;
      e->x1 = x;
      e->y1 = y;
      e->end_ms = sub_double_sat_i32(static_cast<double>(e->start_ms) + seconds * 1000.0);
      // Opacity "from-to" (or one number).
      double from = 1, to = 1;
      yyjson_val *va = yyjson_arr_get(arr, 2);
      if (yyjson_is_str(va)) {
        const std::string_view a(yyjson_get_str(va), yyjson_get_len(va));
        const size_t dash = a.find('-', 1);
        sub_strtod(a.substr(0, dash), &from);
        to = from;
        if (dash != std::string_view::npos) sub_strtod(a.substr(dash + 1), &to);
      } else if (yyjson_is_num(va)) {
        from = to = yyjson_get_num(va);
      }
      e->alpha_from = layout_alpha(from);
      e->alpha_to = layout_alpha(to);
      // An optional move: x2, y2, its length and delay in milliseconds.
      double x2 = 0, y2 = 0, move_ms = 0, delay_ms = 0;
      if (yyjson_arr_size(arr) >= 9 && layout_json_number(yyjson_arr_get(arr, 7), &x2) &&
          layout_json_number(yyjson_arr_get(arr, 8), &y2)) {
        if (layout_json_fraction(yyjson_arr_get(arr, 7), x2)) x2 *= w;
        if (layout_json_fraction(yyjson_arr_get(arr, 8), y2)) y2 *= h;
        const double total = seconds * 1000.0;
        if (!layout_json_number(yyjson_arr_get(arr, 9), &move_ms) || move_ms <= 0) move_ms = total;
        if (!layout_json_number(yyjson_arr_get(arr, 10), &delay_ms) || delay_ms < 0) delay_ms = 0;
        e->moves = true;
        e->x2 = x2;
        e->y2 = y2;
        e->move_from_ms = sub_double_sat_i32(std::fmin(delay_ms, total));
        e->move_to_ms = sub_double_sat_i32(std::fmin(delay_ms + move_ms, total));
      }
      e->text_at = texts->len;
      e->text_len = yyjson_get_len(text);
      texts->put(yyjson_get_str(text), e->text_len);
      texts->put('\0');  // read as a line: see sub_danmaku_positioned_text
    }
  }
  yyjson_doc_free(doc);
  return ok;
}

bool layout_push(SubDanmakuLayout *layout, const SubDanmakuEvent &e) {
  if (layout->count == layout->cap && !sub_grow(&layout->events, &layout->cap, 256)) return false;
  layout->events[layout->count++] = e;
  return true;
}

}  // namespace

SubCue sub_danmaku_positioned_text(const SubDanmakuLayout &layout, const SubDanmakuEvent &e,
                                   const char **line) {
  SubCue cue{};
  *line = layout.texts.data ? layout.texts.data + e.text_at : "";
  cue.lines.items = line;
  cue.lines.count = 1;
  cue.lines.cap = 1;
  return cue;
}

double sub_danmaku_text_width(const char *text, size_t n, double font_px) {
  double ems = 0;
  const auto *u = reinterpret_cast<const unsigned char *>(text);
  for (size_t i = 0; i < n;) {
    uint32_t cp = u[i];
    size_t len = 1;
    if (cp >= 0xC0) {
      len = cp >= 0xF0 ? 4 : cp >= 0xE0 ? 3 : 2;
      if (i + len > n) len = n - i;
      cp &= 0x3Fu >> (len - 1);
      for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (u[i + k] & 0x3Fu);
    }
    ems += layout_char_ems(cp);
    i += len;
  }
  return ems * font_px + 2 * layout_outline;
}

bool sub_danmaku_layout(const SubDoc *doc, const SubWriteOptions &o, SubDanmakuLayout *layout) {
  const double base = o.danmaku_font_size;
  Layout lay{o,
             static_cast<double>(o.ass_play_res_x),
             static_cast<double>(o.ass_play_res_y),
             std::ceil(base + 2 * layout_outline + 2),
             base / 2,
             nullptr,
             0,
             0};
  layout->row_height = lay.row_h;
  LayoutRows rows;
  const double fit = std::floor(lay.screen_h / lay.row_h);
  rows.count = fit < 1 ? 1 : static_cast<int32_t>(fit);
  rows.rows = static_cast<LayoutRow *>(
      sub_malloc(sub_size_mul_add(static_cast<size_t>(rows.count), sizeof(LayoutRow), 0)));
  int32_t *order = doc->cue_count ? layout_order(doc) : nullptr;
  if (!rows.rows || (doc->cue_count && !order)) {
    sub_free(order);
    return false;
  }
  for (int32_t r = 0; r < rows.count; ++r) rows.rows[r] = LayoutRow{};
  lay.rows = rows.rows;
  lay.row_count = rows.count;
  const double scroll_fit = std::floor(rows.count * o.danmaku_scroll_share);
  lay.scroll_rows = scroll_fit < 1 ? 1 : static_cast<int32_t>(scroll_fit);
  const uint8_t alpha = layout_alpha(o.danmaku_opacity);
  bool ok = true;

  for (int32_t n = 0; n < doc->cue_count && ok; ++n) {
    sub_danmaku_prefetch(doc, n, doc->cue_count, [&](int32_t k) { return order[k]; });
    const int32_t index = order[n];
    const SubCue &cue = doc->cues[index];
    // Like every writer, the layout leaves out what has no text to show.
    if (!cue.is_danmu || (cue.danmu_mode != 7 && !sub_has_text_line(cue))) continue;
    const int32_t mode = cue.danmu_mode;
    if ((mode >= 0 && mode < 32 && (o.danmaku_drop_modes >> mode) & 1u) ||
        layout_blocked(cue, o.danmaku_block_words)) {
      ++layout->dropped_filtered;
      continue;
    }
    double size = cue.danmu_fontsize;
    if (!std::isfinite(size) || size <= 0) size = 25;
    if (size > 250) size = 250;
    SubDanmakuEvent e{};
    e.cue = index;
    e.start_ms = cue.start_ms;
    e.color = cue.danmu_color & 0xFFFFFF;
    e.dark = layout_is_dark(e.color);
    e.alpha_from = e.alpha_to = alpha;
    e.font_px = base * size / 25.0;
    if (mode == 7) {
      if (cue.lines.count < 1 ||
          !layout_positioned(cue.lines.items[0], std::strlen(cue.lines.items[0]), lay.screen_w,
                             lay.screen_h, &e, &layout->texts)) {
        ++layout->dropped_unreadable;
        continue;
      }
      e.kind = SubDanmakuKind::positioned;
      if (layout->texts.failed) {
        ok = false;
        continue;
      }
      const char *line = nullptr;
      if (!sub_has_text_line(sub_danmaku_positioned_text(*layout, e, &line))) {
        layout->texts.len = e.text_at;  // nothing to show: left out, as any textless comment
        continue;
      }
      ok = layout_push(layout, e);
      continue;
    }
    const bool scrolls = mode == 1 || mode == 2 || mode == 3 || mode == 6;
    if (!scrolls && mode != 4 && mode != 5) {
      ++layout->dropped_unreadable;
      continue;
    }
    int lines = 1;
    LayoutItem it{};
    // Glyphs may reach a little beyond their advance (a "J" to the left): a
    // scrolling comment keeps a fifth of an em clear on each side, laid out
    // as part of its width.
    const double pad = scrolls ? 0.2 * e.font_px : 0;
    it.width = layout_measure(cue, e.font_px, o, &lines) + 2 * pad;
    it.height = lines * (e.font_px + 2 * layout_outline);
    const double k_rows = std::ceil(it.height / lay.row_h);
    const int32_t k = k_rows < 1            ? 1
                      : k_rows > rows.count ? rows.count
                                            : static_cast<int32_t>(k_rows);
    it.start = cue.start_ms;
    if (scrolls) {
      const double duration = o.danmaku_scroll_ms;
      it.end = it.start + duration;
      it.dir = mode == 6 ? 1 : -1;
      it.speed = (lay.screen_w + it.width) / duration;
      const int32_t limit = k > lay.scroll_rows ? k : lay.scroll_rows;
      int32_t r = lay.find_rows(limit, k, false,
                                [&](const LayoutRow &row) { return lay.scroll_fits(row, it); });
      if (r < 0 && o.danmaku_overflow == SUB_DANMAKU_OVERLAP)
        r = lay.earliest_rows(limit, k, false, [](const LayoutRow &row) {
          return std::fmax(row.scroll_end, row.stand_until);
        });
      if (r < 0) {
        ++layout->dropped_no_row;
        continue;
      }
      for (int32_t j = 0; j < k; ++j) {
        LayoutRow &row = rows.rows[r + j];
        row.scroll_dir = static_cast<int8_t>(it.dir);
        row.scroll_start = it.start;
        row.scroll_end = it.end;
        row.scroll_width = it.width;
        row.scroll_speed = it.speed;
        row.tail_in = it.start + (it.width + lay.gap) / it.speed;
      }
      e.kind = it.dir < 0 ? SubDanmakuKind::scroll_left : SubDanmakuKind::scroll_right;
      e.end_ms = sub_double_sat_i32(it.end);
      const double y = r * lay.row_h + layout_outline;
      e.y1 = e.y2 = y;
      // The text starts `pad` inside its laid-out box: off screen at the
      // first and the last moment.
      e.x1 = it.dir < 0 ? lay.screen_w + pad : pad - it.width;
      e.x2 = it.dir < 0 ? pad - it.width : lay.screen_w + pad;
    } else {
      const bool bottom = mode == 4;
      it.end = it.start + o.danmaku_fixed_ms;
      const double x0 = (lay.screen_w - it.width) / 2, x1 = x0 + it.width;
      int32_t r = lay.find_rows(rows.count, k, bottom, [&](const LayoutRow &row) {
        return lay.stand_fits(row, it, x0, x1);
      });
      if (r < 0 && o.danmaku_overflow == SUB_DANMAKU_OVERLAP)
        r = lay.earliest_rows(rows.count, k, bottom, [](const LayoutRow &row) {
          return std::fmax(row.scroll_end, row.stand_until);
        });
      if (r < 0) {
        ++layout->dropped_no_row;
        continue;
      }
      for (int32_t j = 0; j < k; ++j) {
        LayoutRow &row = rows.rows[bottom ? rows.count - 1 - (r + j) : r + j];
        row.stand_until = it.end;
        row.stand_x0 = x0;
        row.stand_x1 = x1;
      }
      e.kind = bottom ? SubDanmakuKind::bottom : SubDanmakuKind::top;
      e.end_ms = sub_double_sat_i32(it.end);
      // Bottom rows are the grid's last ones: a strip under them less than a
      // row high stays empty, so that they never straddle two grid rows.
      e.x1 = lay.screen_w / 2;
      e.y1 =
          bottom ? (rows.count - r) * lay.row_h - layout_outline : r * lay.row_h + layout_outline;
    }
    ok = layout_push(layout, e);
  }
  sub_free(order);
  return ok && !layout->texts.failed;
}
