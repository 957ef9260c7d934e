// The danmaku layout proved with a real renderer. Danmaku documents are
// written as ASS and rendered with libass at 1920x1080 every 100 ms; in every
// frame:
//   - no two comments (scrolling, top or bottom; positioned ones may overlap)
//     cover each other: the boxes of their glyph images, outline included,
//     never intersect;
//   - every comment kept shows while it is active (a scrolling one while its
//     position puts it on screen);
//   - scrolling comments move their way along their row, standing comments
//     stay where they were put, centred;
// and, rendering each comment alone: a scrolling comment is off screen at its
// first and last moment (nothing pops in or out), and every comment is drawn
// in its own colour, a dark one with a light outline.
//
// Comments are told apart by colour: each frame renders the whole track once
// with every event's colours replaced by its own number, so every image
// libass returns names its event, even where two comments overlap.
#include <ass/ass.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "subparse.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr int render_w = 1920, render_h = 1080;
constexpr int render_wide_w = 8192;  // the frame text is measured in
constexpr int render_step_ms = 100;
// How far an image may stray from where its event's tags put it: the
// outline (2 px), antialiasing and rounding.
constexpr int render_slack = 6;

// ---------------------------------------------------------------------------
// The ASS text, read back as the renderer will read it.

enum class RenderKind { scroll_left, scroll_right, top, bottom, positioned };

const char *render_kind_name(RenderKind k) {
  switch (k) {
    case RenderKind::scroll_left: return "right to left";
    case RenderKind::scroll_right: return "left to right";
    case RenderKind::top: return "top";
    case RenderKind::bottom: return "bottom";
    case RenderKind::positioned: return "positioned";
  }
  return "?";
}

struct RenderEvent {
  int line = 0;  // in the ASS text, from 1
  int32_t start = 0, end = 0;
  std::string head;   // "Dialogue: ..." up to the Text field
  std::string text;   // the Text field
  std::string plain;  // the text as shown: no override blocks, line breaks as LF
  RenderKind kind = RenderKind::positioned;
  int an = 0;
  bool has_move = false, has_pos = false;
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  double font_px = 0;
  int lines = 1;
  bool blank = true;           // nothing to draw: white space only
  bool leading_space = true;   // the first character draws nothing
  bool trailing_space = true;  // the last one
  bool gappy = false;          // blank characters in a row between others
};

struct RenderScript {
  std::string header;  // every line before the first event
  int w = 0, h = 0;
  std::map<std::string, double, std::less<>> style_font_px;  // by style name
  std::vector<RenderEvent> events;
  std::string error;  // why the text does not read, or empty
};

// "H:MM:SS.cc" in milliseconds; -1 when it does not read.
int64_t render_time(std::string_view s) {
  int64_t h = 0;
  size_t i = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9' && h < 100000) h = h * 10 + (s[i++] - '0');
  if (i == 0 || s.size() != i + 9 || s[i] != ':' || s[i + 3] != ':' || s[i + 6] != '.') return -1;
  int64_t v[3];
  for (size_t k = 0; k < 3; ++k) {
    const char a = s[i + 1 + 3 * k], b = s[i + 2 + 3 * k];
    if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
    v[k] = (a - '0') * 10 + (b - '0');
  }
  return ((h * 60 + v[0]) * 60 + v[1]) * 1000 + v[2] * 10;
}

// The numbers of "(a,b,...)" at the start of `s`.
std::vector<double> render_args(std::string_view s) {
  std::vector<double> out;
  if (s.empty() || s[0] != '(') return out;
  const size_t close = s.find(')');
  std::string inner(s.substr(1, close == std::string_view::npos ? s.npos : close - 1));
  const char *p = inner.c_str();
  while (*p) {
    char *end = nullptr;
    const double v = std::strtod(p, &end);
    if (end == p) break;
    out.push_back(v);
    p = end;
    while (*p == ' ' || *p == ',') ++p;
  }
  return out;
}

// Whether the UTF-8 text `s` from byte `i` starts with a character that
// draws nothing (a space or a control character); *len gets its length.
bool render_is_space(std::string_view s, size_t i, size_t *len) {
  if (static_cast<unsigned char>(s[i]) < 0x20 || s[i] == 0x7F) {
    *len = 1;
    return true;
  }
  static constexpr std::string_view spaces[] = {" ", "\t", "\xC2\xA0", "\xE3\x80\x80",
                                                "\xE2\x80\x8B"};
  for (std::string_view sp : spaces)
    if (s.substr(i, sp.size()) == sp) {
      *len = sp.size();
      return true;
    }
  *len = 1;
  return false;
}

// Reads the tags of the event's first override block and the text shown.
void render_read_text(RenderEvent *e, double style_font_px) {
  e->font_px = style_font_px;
  const std::string &t = e->text;
  bool first_block = true;
  for (size_t i = 0; i < t.size();) {
    if (t[i] == '{') {
      const size_t close = t.find('}', i);
      if (close == std::string::npos) {  // libass shows an unclosed brace
        e->plain += t.substr(i);
        break;
      }
      if (first_block) {
        const std::string_view block(t.data() + i + 1, close - i - 1);
        size_t at = 0;
        while ((at = block.find('\\', at)) != std::string_view::npos) {
          const std::string_view tag = block.substr(++at);
          if (tag.starts_with("an") && tag.size() > 2) e->an = tag[2] - '0';
          if (tag.starts_with("pos(")) {
            const std::vector<double> a = render_args(tag.substr(3));
            if (a.size() >= 2) {
              e->has_pos = true;
              e->x1 = e->x2 = a[0];
              e->y1 = e->y2 = a[1];
            }
          }
          if (tag.starts_with("move(")) {
            const std::vector<double> a = render_args(tag.substr(4));
            if (a.size() >= 4) {
              e->has_move = true;
              e->x1 = a[0];
              e->y1 = a[1];
              e->x2 = a[2];
              e->y2 = a[3];
              // A timed move is not a scroll across the event.
              if (a.size() >= 6 && (a[4] != 0 || a[5] != 0)) e->has_pos = true;
            }
          }
          if (tag.starts_with("fs") && tag.size() > 2 && tag[2] >= '0' && tag[2] <= '9')
            e->font_px = std::strtod(std::string(tag.substr(2, 12)).c_str(), nullptr);
        }
      }
      first_block = false;
      i = close + 1;
      continue;
    }
    if (t[i] == '\\' && i + 1 < t.size()) {
      const char c = t[i + 1];
      if (c == 'N' || c == 'n') {
        ++e->lines;
        e->plain += '\n';
        i += 2;
        continue;
      }
      if (c == 'h') {
        e->plain += ' ';
        i += 2;
        continue;
      }
      if (c == '{' || c == '}') {
        e->plain += c;
        i += 2;
        continue;
      }
    }
    e->plain += t[i++];
  }
  e->blank = true;
  e->leading_space = e->trailing_space = true;
  int run = 0;  // blank characters in a row
  for (size_t i = 0, len = 0; i < e->plain.size(); i += len) {
    const bool space = render_is_space(e->plain, i, &len);
    if (i == 0) e->leading_space = space;
    e->trailing_space = space;
    if (!space) {
      if (!e->blank && run >= 2) e->gappy = true;
      e->blank = false;
    }
    run = space ? run + 1 : 0;
  }
}

void render_classify(RenderEvent *e, int w) {
  const bool across = (e->x1 >= w && e->x2 <= 0) || (e->x1 <= 0 && e->x2 >= w);
  if (e->has_move && !e->has_pos && e->an == 7 && e->y1 == e->y2 && across)
    e->kind = e->x2 < e->x1 ? RenderKind::scroll_left : RenderKind::scroll_right;
  else if (e->has_pos && !e->has_move && e->an == 8)
    e->kind = RenderKind::top;
  else if (e->has_pos && !e->has_move && e->an == 2)
    e->kind = RenderKind::bottom;
  else
    e->kind = RenderKind::positioned;
}

RenderScript render_read(const std::string &ass) {
  RenderScript s;
  size_t at = 0;
  int line_no = 0;
  bool in_events = false;
  while (at < ass.size()) {
    size_t nl = ass.find('\n', at);
    if (nl == std::string::npos) nl = ass.size();
    std::string_view line(ass.data() + at, nl - at);
    at = nl + 1;
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.starts_with("Dialogue:")) {
      RenderEvent e;
      e.line = line_no;
      size_t p = 9, field = 0;
      std::vector<std::string_view> fields;
      while (field < 9) {
        const size_t comma = line.find(',', p);
        if (comma == std::string_view::npos) break;
        fields.push_back(line.substr(p, comma - p));
        p = comma + 1;
        ++field;
      }
      if (fields.size() != 9) {
        s.error = "line " + std::to_string(line_no) + ": a Dialogue line without 10 fields";
        return s;
      }
      const auto trim = [](std::string_view v) {
        while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
        return v;
      };
      const int64_t start = render_time(trim(fields[1])), end = render_time(trim(fields[2]));
      if (start < 0 || end < 0 || end > INT32_MAX) {
        s.error = "line " + std::to_string(line_no) + ": a time that does not read";
        return s;
      }
      e.start = static_cast<int32_t>(start);
      e.end = static_cast<int32_t>(end);
      e.head = std::string(line.substr(0, p));
      e.text = std::string(line.substr(p));
      const auto style = s.style_font_px.find(trim(fields[3]));
      if (style == s.style_font_px.end()) {
        s.error = "line " + std::to_string(line_no) + ": an event of no style";
        return s;
      }
      render_read_text(&e, style->second);
      render_classify(&e, s.w);
      s.events.push_back(std::move(e));
      continue;
    }
    if (!s.events.empty()) continue;  // nothing but events after the first
    s.header.append(line).push_back('\n');
    if (line == "[Events]") in_events = true;
    if (line.starts_with("PlayResX:")) s.w = std::atoi(std::string(line.substr(9)).c_str());
    if (line.starts_with("PlayResY:")) s.h = std::atoi(std::string(line.substr(9)).c_str());
    if (line.starts_with("Style:")) {
      // Style: Name,Fontname,Fontsize,...
      const size_t c1 = line.find(','), c2 = line.find(',', c1 + 1);
      std::string_view name = line.substr(6, c1 == std::string_view::npos ? 0 : c1 - 6);
      while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
      if (c2 != std::string_view::npos)
        s.style_font_px[std::string(name)] =
            std::strtod(std::string(line.substr(c2 + 1, 12)).c_str(), nullptr);
    }
  }
  if (!in_events) s.error = "no [Events] section";
  return s;
}

// ---------------------------------------------------------------------------
// libass.

void render_quiet(int level, const char *fmt, va_list args, void *) {
  if (level > 1) return;  // font fallback notes and the like
  std::fputs("libass: ", stderr);
  std::vfprintf(stderr, fmt, args);
  std::fputc('\n', stderr);
}

struct RenderTrackFree {
  void operator()(ASS_Track *t) const { ass_free_track(t); }
};
using RenderTrack = std::unique_ptr<ASS_Track, RenderTrackFree>;

// A library and renderer that live for the whole run: fontconfig is set up
// once. get() renders the frames; wide() measures text wider than them.
class Libass {
 public:
  static Libass &get() {
    static Libass instance(render_w, render_h);
    return instance;
  }
  static Libass &wide() {
    static Libass instance(render_wide_w, render_h);
    return instance;
  }
  Libass(const Libass &) = delete;
  Libass &operator=(const Libass &) = delete;
  ~Libass() {
    ass_renderer_done(renderer_);
    ass_library_done(lib_);
  }

  // A track of `text`; libass parses a copy in place.
  RenderTrack read(std::string text) const {
    return RenderTrack(ass_read_memory(lib_, text.data(), text.size(), nullptr));
  }
  // The images of `track` at `ms`, valid until the next render.
  const ASS_Image *render(ASS_Track *track, int64_t ms) {
    int changed = 0;
    return ass_render_frame(renderer_, track, ms, &changed);
  }

 private:
  Libass(int w, int h) : lib_(ass_library_init()) {
    ass_set_message_cb(lib_, render_quiet, nullptr);
    renderer_ = ass_renderer_init(lib_);
    ass_set_frame_size(renderer_, w, h);
    ass_set_fonts(renderer_, nullptr, "sans-serif", ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
  }
  ASS_Library *lib_;
  ASS_Renderer *renderer_ = nullptr;
};

// A pixel rectangle [x0, x1) x [y0, y1); empty when x0 >= x1.
struct Box {
  int x0 = INT_MAX, y0 = INT_MAX, x1 = INT_MIN, y1 = INT_MIN;
  bool empty() const { return x0 >= x1 || y0 >= y1; }
  void add(const Box &b) {
    if (b.empty()) return;
    x0 = std::min(x0, b.x0);
    y0 = std::min(y0, b.y0);
    x1 = std::max(x1, b.x1);
    y1 = std::max(y1, b.y1);
  }
  bool meets(const Box &b) const {
    return !empty() && !b.empty() && x0 < b.x1 && b.x0 < x1 && y0 < b.y1 && b.y0 < y1;
  }
  std::string show() const {
    if (empty()) return "(empty)";
    return "[" + std::to_string(x0) + "," + std::to_string(y0) + " .. " + std::to_string(x1) + "," +
           std::to_string(y1) + ")";
  }
};

bool render_inked(const ASS_Image *img) {
  for (int y = 0; y < img->h; ++y) {
    const unsigned char *row = img->bitmap + static_cast<size_t>(y) * img->stride;
    for (int x = 0; x < img->w; ++x)
      if (row[x]) return true;
  }
  return false;
}

// The smallest box holding every covered pixel of the image.
Box render_ink(const ASS_Image *img) {
  Box b;
  for (int y = 0; y < img->h; ++y) {
    const unsigned char *row = img->bitmap + static_cast<size_t>(y) * img->stride;
    int l = 0;
    while (l < img->w && !row[l]) ++l;
    if (l == img->w) continue;
    int r = img->w - 1;
    while (!row[r]) --r;
    b.add(Box{img->dst_x + l, img->dst_y + y, img->dst_x + r + 1, img->dst_y + y + 1});
  }
  return b;
}

// The covered pixels of a rendering, and whether its left and right edges
// are its own: libass crops an image at the frame's edge, so an edge is
// known when no image reaches the frame's edge.
struct Ink {
  Box box;
  bool left_known = true, right_known = true;
};

Ink render_ink_all(const ASS_Image *img) {
  Ink ink;
  for (; img; img = img->next) {
    const Box b = render_ink(img);
    if (b.empty()) continue;
    ink.box.add(b);
    ink.left_known = ink.left_known && img->dst_x > 0;
    ink.right_known = ink.right_known && img->dst_x + img->w < render_w;
  }
  return ink;
}

// ---------------------------------------------------------------------------
// What went wrong, by check, with the first few cases in words.

class Findings {
 public:
  // The first 12 cases of each check are told; SUBPARSE_RENDER_ALL=1 tells
  // every one.
  void add(const std::string &check, const std::string &message) {
    static const bool all = std::getenv("SUBPARSE_RENDER_ALL") != nullptr;
    if (++counts_[check] <= 12 || all) messages_.push_back(check + ": " + message);
  }
  bool empty() const { return counts_.empty(); }
  int64_t count(const std::string &check) const {
    const auto it = counts_.find(check);
    return it == counts_.end() ? 0 : it->second;
  }
  std::string summary() const {
    std::string s;
    for (const auto &[check, n] : counts_) s += "  " + check + ": " + std::to_string(n) + "\n";
    for (const std::string &m : messages_) s += "  - " + m + "\n";
    return s;
  }

 private:
  std::map<std::string, int64_t> counts_;
  std::vector<std::string> messages_;
};

std::string render_clock(int64_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lld.%03llds", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000));
  return buf;
}

std::string render_who(const RenderEvent &e) {
  std::string text;
  for (const char c : e.plain) c == '\n' ? text += " / " : text += c;
  if (text.size() > 60) text = text.substr(0, 57) + "...";
  char where[96];
  if (e.kind == RenderKind::scroll_left || e.kind == RenderKind::scroll_right)
    std::snprintf(where, sizeof where, "y %.0f", e.y1);
  else
    std::snprintf(where, sizeof where, "at %.0f,%.0f", e.x1, e.y1);
  return "'" + text + "' (line " + std::to_string(e.line) + ", " + render_kind_name(e.kind) + ", " +
         render_clock(e.start) + "-" + render_clock(e.end) + ", " + where + ")";
}

// ---------------------------------------------------------------------------
// The comments of the document, to check the colours against.

struct RenderCue {
  int32_t start_cs;  // the start as written (floored to 10 ms)
  RenderKind kind;
  uint32_t color;
};

RenderKind render_mode_kind(int32_t mode) {
  switch (mode) {
    case 4: return RenderKind::bottom;
    case 5: return RenderKind::top;
    case 6: return RenderKind::scroll_right;
    case 7: return RenderKind::positioned;
    default: return RenderKind::scroll_left;
  }
}

std::multimap<int32_t, RenderCue> render_cues(const SubDoc *doc) {
  std::multimap<int32_t, RenderCue> cues;
  for (int32_t i = 0; i < sub_doc_cue_count(doc); ++i) {
    if (!sub_doc_cue_is_danmu(doc, i)) continue;
    const int32_t start = std::max(sub_doc_cue_start_ms(doc, i), 0);
    const RenderCue c{start - start % 10, render_mode_kind(sub_doc_cue_danmu_mode(doc, i)),
                      sub_doc_cue_danmu_color(doc, i) & 0xFFFFFF};
    cues.emplace(c.start_cs, c);
  }
  return cues;
}

double render_luma(uint32_t rgb) {
  return 0.2126 * ((rgb >> 16) & 0xFF) + 0.7152 * ((rgb >> 8) & 0xFF) + 0.0722 * (rgb & 0xFF);
}

// ---------------------------------------------------------------------------
// The checks.

struct RenderExpect {
  int32_t scroll_ms = 8000;  // the options the ASS was written with
  int32_t fixed_ms = 4000;
  int alpha = 51;  // of an opacity of 0.8
};

struct RenderStats {
  int64_t frames = 0;    // rendered with something active
  int64_t kept[5] = {};  // events by RenderKind
};

// The laid out events (positioned ones, which the frames do not check, left
// out) with each override block ending in colours that name the event:
// primary, outline and shadow colour all event index + 1.
std::string render_id_track(const RenderScript &s) {
  std::string out = s.header;
  for (size_t i = 0; i < s.events.size(); ++i) {
    const RenderEvent &e = s.events[i];
    if (e.kind == RenderKind::positioned) continue;
    char tags[64];
    const auto id = static_cast<unsigned>(i + 1);
    std::snprintf(tags, sizeof tags, "\\1c&H%06X&\\3c&H%06X&\\4c&H%06X&", id, id, id);
    out += e.head;
    if (e.text.empty() || e.text[0] != '{') out += std::string("{") + tags + "}";
    for (size_t k = 0; k < e.text.size(); ++k) {
      if (e.text[k] == '}' && (k == 0 || e.text[k - 1] != '\\')) out += tags;
      out += e.text[k];
    }
    out += '\n';
  }
  return out;
}

// The id an image carries: libass gives its colour as 0xRRGGBBAA, and the
// id was written as &HBBGGRR&, so RR holds the id's low byte.
uint32_t render_image_id(const ASS_Image *img) {
  const uint32_t rr = img->color >> 24, gg = (img->color >> 16) & 0xFF,
                 bb = (img->color >> 8) & 0xFF;
  return (bb << 16) | (gg << 8) | rr;
}

// Where a scrolling event's pen is at `t`, as libass moves it.
double render_pen_x(const RenderEvent &e, int64_t t) {
  const double k = e.end > e.start ? static_cast<double>(t - e.start) / (e.end - e.start) : 0;
  return e.x1 + (e.x2 - e.x1) * std::clamp(k, 0.0, 1.0);
}

// The layout's own width of a scrolling comment: it starts or ends just off
// screen by that much.
double render_layout_width(const RenderEvent &e) {
  return e.kind == RenderKind::scroll_left ? -e.x2 : -e.x1;
}

bool render_scrolls(const RenderEvent &e) {
  return e.kind == RenderKind::scroll_left || e.kind == RenderKind::scroll_right;
}

struct OverlapRecord {
  int64_t first = 0, last = 0, frames = 0;
  Box a, b;
};

// Where a scrolling event's ink lies from its pen, as measured alone.
struct RenderExtent {
  double from = 0;   // the ink's left edge less the pen's x
  double width = 0;  // the ink's width
};

// Renders the laid out events every `render_step_ms` and checks each frame.
void render_check_frames(const RenderScript &s, const std::vector<RenderExtent> &extents,
                         Findings *f, RenderStats *stats) {
  Libass &lib = Libass::get();
  const size_t n = s.events.size();
  RenderTrack track = lib.read(render_id_track(s));
  ASSERT_TRUE(track) << "libass does not read the track";
  const auto laid = std::count_if(s.events.begin(), s.events.end(), [](const RenderEvent &e) {
    return e.kind != RenderKind::positioned;
  });
  ASSERT_EQ(track->n_events, laid) << "libass reads another number of events";

  std::vector<size_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return s.events[a].start < s.events[b].start; });

  struct Seen {
    int64_t t = -1;  // the last frame it showed in, with its box
    Box box;
    bool whole = false;  // wholly on screen then
    int64_t frames_inked = 0;
  };
  std::vector<Seen> seen(n);
  std::map<std::pair<size_t, size_t>, OverlapRecord> overlaps;
  std::vector<size_t> active;
  std::vector<std::pair<size_t, const ASS_Image *>> hits;
  size_t next = 0;
  int64_t t = 0;
  while (next < n || !active.empty()) {
    if (active.empty()) {
      const int64_t s0 = s.events[order[next]].start;
      t = std::max(t, (s0 + render_step_ms - 1) / render_step_ms * render_step_ms);
    }
    while (next < n && s.events[order[next]].start <= t) active.push_back(order[next++]);
    std::erase_if(active, [&](size_t i) { return s.events[i].end <= t; });
    if (active.empty()) continue;
    std::sort(active.begin(), active.end());

    ++stats->frames;
    hits.clear();
    for (const ASS_Image *img = lib.render(track.get(), t); img; img = img->next) {
      if (img->w <= 0 || img->h <= 0) continue;
      const uint32_t id = render_image_id(img);
      if (id == 0 || id > n) {
        f->add("unknown image", "at " + render_clock(t) + " an image of colour " +
                                    std::to_string(img->color) + " names no event");
        continue;
      }
      const size_t i = id - 1;
      if (!std::binary_search(active.begin(), active.end(), i))
        f->add("shown outside its time", render_who(s.events[i]) + " shows at " + render_clock(t));
      hits.emplace_back(i, img);
    }
    std::stable_sort(hits.begin(), hits.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });

    // Each laid out event's box in this frame: the covered pixels of its
    // images (libass pads its bitmaps by a few pixels). An outline covers
    // its glyphs' box and more, so the glyphs count only without one.
    struct Shown {
      size_t i;
      Box box;
    };
    std::vector<Shown> shown;
    for (size_t h = 0; h < hits.size();) {
      Shown sh{hits[h].first, Box{}};
      size_t end = h;
      while (end < hits.size() && hits[end].first == sh.i) ++end;
      if (s.events[sh.i].kind != RenderKind::positioned) {
        for (size_t k = h; k < end; ++k)
          if (hits[k].second->type != ASS_Image::IMAGE_TYPE_CHARACTER)
            sh.box.add(render_ink(hits[k].second));
        if (sh.box.empty())
          for (size_t k = h; k < end; ++k) sh.box.add(render_ink(hits[k].second));
      }
      if (!sh.box.empty()) shown.push_back(sh);
      h = end;
    }

    // Every active comment shows, where it should.
    size_t k = 0;
    for (size_t i : active) {
      const RenderEvent &e = s.events[i];
      while (k < shown.size() && shown[k].i < i) ++k;
      const Shown *sh = k < shown.size() && shown[k].i == i ? &shown[k] : nullptr;
      if (e.kind == RenderKind::positioned || e.blank) continue;
      bool expected = true;
      if (render_scrolls(e)) {
        const double x = render_pen_x(e, t) + extents[i].from, w = extents[i].width;
        const double margin = e.font_px / 2;
        expected = x + w > margin && x < render_w - margin;
      }
      if (!sh) {
        // A scrolling comment with wide gaps may show only a gap.
        if (expected && !(e.gappy && render_scrolls(e)))
          f->add("missing", render_who(e) + " shows nothing at " + render_clock(t));
        continue;
      }
      const Box &b = sh->box;
      Seen &prev = seen[i];
      ++prev.frames_inked;
      const bool follows = prev.t == t - render_step_ms;
      if (render_scrolls(e)) {
        // Wholly on screen, the box is the one measured alone, moved with
        // the pen: libass moves it as the tags say, along its row.
        const double ink_x = render_pen_x(e, t) + extents[i].from, ink_w = extents[i].width;
        const bool whole = ink_x >= 1 && ink_x + ink_w <= render_w - 1;
        if (whole && (std::abs(b.x0 - ink_x) > 2 || std::abs(b.x1 - b.x0 - ink_w) > 2))
          f->add("position", render_who(e) + " at " + render_clock(t) + " draws " + b.show() +
                                 ", not from x " + std::to_string(std::lround(ink_x)) + " wide " +
                                 std::to_string(std::lround(ink_w)));
        if (whole && (b.y0 < e.y1 - render_slack || b.y0 > e.y1 + e.font_px))
          f->add("position",
                 render_who(e) + " at " + render_clock(t) + " draws " + b.show() + " off its row");
        if (whole && follows && prev.whole) {
          const Box &p = prev.box;
          const bool ahead = e.kind == RenderKind::scroll_left ? b.x0 < p.x0 : b.x0 > p.x0;
          if (!ahead || std::abs(b.y0 - p.y0) > 1 || std::abs(b.y1 - p.y1) > 1)
            f->add("direction", render_who(e) + " goes from " + p.show() + " at " +
                                    render_clock(prev.t) + " to " + b.show() + " at " +
                                    render_clock(t));
        }
        prev.whole = whole;
      } else {
        const double mid = (b.x0 + b.x1) / 2.0;
        const bool clipped = b.x0 <= 0 && b.x1 >= render_w;
        if (!clipped && !e.leading_space && !e.trailing_space &&
            std::abs(mid - render_w / 2.0) > e.font_px / 2 + 4)
          f->add("position",
                 render_who(e) + " at " + render_clock(t) + " draws " + b.show() + ", not centred");
        const bool top = e.kind == RenderKind::top;
        if (top ? (b.y0 < e.y1 - render_slack || b.y0 > e.y1 + e.font_px)
                : (b.y1 > e.y1 + render_slack || b.y1 < e.y1 - e.font_px))
          f->add("position", render_who(e) + " at " + render_clock(t) + " draws " + b.show() +
                                 " away from its row");
        if (follows && (std::abs(b.x0 - prev.box.x0) > 1 || std::abs(b.x1 - prev.box.x1) > 1 ||
                        std::abs(b.y0 - prev.box.y0) > 1 || std::abs(b.y1 - prev.box.y1) > 1))
          f->add("direction",
                 render_who(e) + " stands at " + prev.box.show() + " then at " + b.show());
      }
      prev.t = t;
      prev.box = b;
    }

    // No two comments cover each other: boxes sorted by top, each met
    // against those that start above its bottom.
    std::vector<const Shown *> laid;
    laid.reserve(shown.size());
    for (const Shown &sh : shown) laid.push_back(&sh);
    std::sort(laid.begin(), laid.end(),
              [](const Shown *a, const Shown *b) { return a->box.y0 < b->box.y0; });
    for (size_t a = 0; a < laid.size(); ++a)
      for (size_t b = a + 1; b < laid.size() && laid[b]->box.y0 < laid[a]->box.y1; ++b) {
        if (!laid[a]->box.meets(laid[b]->box)) continue;
        const bool a_first = laid[a]->i < laid[b]->i;
        const Shown &first = a_first ? *laid[a] : *laid[b], &second = a_first ? *laid[b] : *laid[a];
        OverlapRecord &r = overlaps[{first.i, second.i}];
        if (r.frames++ == 0) {
          r.first = t;
          r.a = first.box;
          r.b = second.box;
        }
        r.last = t;
      }
    t += render_step_ms;
  }

  // A scrolling comment's width as laid out and as drawn (from its pen to
  // its ink's right edge) tells an underestimated width.
  const auto widths = [&](size_t i) {
    const RenderEvent &e = s.events[i];
    if (!render_scrolls(e)) return std::string();
    return " [laid out " + std::to_string(std::lround(render_layout_width(e))) +
           " px wide, drawn " + std::to_string(std::lround(extents[i].from + extents[i].width)) +
           "]";
  };
  for (const auto &[pair, r] : overlaps)
    f->add("overlap", render_who(s.events[pair.first]) + widths(pair.first) + " and " +
                          render_who(s.events[pair.second]) + widths(pair.second) +
                          " overlap from " + render_clock(r.first) + " to " + render_clock(r.last) +
                          " (" + std::to_string(r.frames) + " frames), first " + r.a.show() +
                          " and " + r.b.show());
  for (size_t i = 0; i < n; ++i) {
    const RenderEvent &e = s.events[i];
    if (e.kind != RenderKind::positioned && !e.blank && seen[i].frames_inked == 0 &&
        e.end - e.start >= render_step_ms)
      f->add("never shown", render_who(e));
  }
}

// The colours an event is drawn in: its fill and outline images'.
struct RenderColours {
  uint32_t fill = 0, outline = 0;  // 0xRRGGBBAA, AA the transparency
  bool has_fill = false, has_outline = false, mixed = false;
};

RenderColours render_colours(const ASS_Image *img) {
  RenderColours c;
  for (; img; img = img->next) {
    if (img->w <= 0 || img->h <= 0 || !render_inked(img)) continue;
    if (img->type == ASS_Image::IMAGE_TYPE_CHARACTER) {
      c.mixed = c.mixed || (c.has_fill && img->color != c.fill);
      c.fill = img->color;
      c.has_fill = true;
    } else if (img->type == ASS_Image::IMAGE_TYPE_OUTLINE) {
      c.mixed = c.mixed || (c.has_outline && img->color != c.outline);
      c.outline = img->color;
      c.has_outline = true;
    }
  }
  return c;
}

// Checks an event's colours against the comment it comes from: one of the
// same written start and kind, in the same colour, with the alpha of the
// options and an outline that stands out from it.
void render_check_colours(const RenderEvent &e, const RenderColours &c,
                          const std::multimap<int32_t, RenderCue> &cues, const RenderExpect &x,
                          Findings *f) {
  char got[64];
  std::snprintf(got, sizeof got, "fill #%06X alpha %u, outline #%06X", c.fill >> 8, c.fill & 0xFF,
                c.outline >> 8);
  if (c.mixed) f->add("colour", render_who(e) + " draws in several colours (" + got + ")");
  if (e.kind != RenderKind::positioned) {
    if (std::abs(static_cast<int>(c.fill & 0xFF) - x.alpha) > 1)
      f->add("colour", render_who(e) + ": " + got + ", want alpha " + std::to_string(x.alpha));
    if (c.has_outline && (c.outline & 0xFF) != (c.fill & 0xFF))
      f->add("colour", render_who(e) + ": the outline's alpha differs (" + got + ")");
  }
  const uint32_t rgb = c.fill >> 8;
  const auto [lo, hi] = cues.equal_range(e.start);
  bool kind = false, found = false;
  for (auto it = lo; it != hi && !found; ++it) {
    kind = kind || it->second.kind == e.kind;
    found = it->second.kind == e.kind && it->second.color == rgb;
  }
  if (!found) {
    std::string want;
    for (auto it = lo; it != hi; ++it) {
      char one[48];
      std::snprintf(one, sizeof one, " %s #%06X", render_kind_name(it->second.kind),
                    it->second.color);
      want += one;
    }
    f->add(kind ? "colour" : "kind", render_who(e) + ": " + got + "; the comments of its start:" +
                                         (want.empty() ? " none" : want));
    return;
  }
  if (c.has_outline) {
    const uint32_t line = c.outline >> 8;
    const double luma = render_luma(rgb);
    if ((line == 0xFFFFFF && luma >= 100) || (line == 0 && luma < 20) ||
        (line != 0 && line != 0xFFFFFF))
      f->add("colour", render_who(e) + ": " + got + ", an outline that does not stand out");
  }
}

// Renders each event alone: a scrolling one at its first and last moment,
// when it must be off screen, then until both its ink's edges have shown
// (into *extents: where its ink lies from its pen); every one for its
// colours.
void render_check_events(const RenderScript &s, const SubDoc *doc, const RenderExpect &x,
                         std::vector<RenderExtent> *extents, Findings *f, RenderStats *stats) {
  Libass &lib = Libass::get();
  const std::multimap<int32_t, RenderCue> cues = render_cues(doc);
  extents->assign(s.events.size(), RenderExtent{});
  for (size_t i = 0; i < s.events.size(); ++i) {
    const RenderEvent &e = s.events[i];
    const bool scrolls = render_scrolls(e);
    const double layout_w = scrolls ? render_layout_width(e) : 0;
    (*extents)[i] = RenderExtent{0, layout_w};
    ++stats->kept[static_cast<int>(e.kind)];
    const int32_t length = e.end - e.start;
    if (scrolls && length != x.scroll_ms)
      f->add("duration", render_who(e) + " scrolls for " + std::to_string(length) + " ms");
    if ((e.kind == RenderKind::top || e.kind == RenderKind::bottom) && length != x.fixed_ms)
      f->add("duration", render_who(e) + " stands for " + std::to_string(length) + " ms");
    if (e.blank) continue;
    RenderTrack track = lib.read(s.header + e.head + e.text + "\n");
    if (!track || track->n_events != 1) {
      f->add("unreadable", render_who(e) + " does not read alone");
      continue;
    }
    if (scrolls) {
      for (const int64_t at : {static_cast<int64_t>(e.start), static_cast<int64_t>(e.end) - 1}) {
        const Box b = render_ink_all(lib.render(track.get(), at)).box;
        if (!b.empty() && b.x1 - b.x0 > 2)
          f->add("pops", render_who(e) + " laid out " + std::to_string(std::lround(layout_w)) +
                             " px wide shows " + b.show() + " at " + render_clock(at) +
                             (at == e.start ? ", its first moment" : ", its last moment"));
      }
    }
    // The moments to look at: a standing comment's middle; the moment a
    // scrolling one's layout box is centred, then moments half a screen
    // apart from its start.
    std::vector<int64_t> probes{e.start + length / 2};
    if (scrolls) {
      const double travel = std::abs(e.x2 - e.x1);
      const auto at_pen = [&](double pen) {
        const double k = std::clamp((pen - e.x1) / (e.x2 - e.x1), 0.0, 1.0);
        return std::min<int64_t>(e.start + std::llround(k * length), e.end - 1);
      };
      probes = {at_pen((render_w - layout_w) / 2)};
      for (double moved = render_w / 2.0; moved < travel; moved += render_w / 2.0)
        probes.push_back(at_pen(e.x1 + (e.x2 > e.x1 ? moved : -moved)));
    }
    RenderColours colours;
    bool coloured = false, has_from = false, has_to = false;
    double from = 0, to = layout_w;
    for (const int64_t at : probes) {
      const ASS_Image *images = lib.render(track.get(), at);
      const Ink ink = render_ink_all(images);
      const Box &b = ink.box;
      if (b.empty()) continue;
      if (!coloured) {
        colours = render_colours(images);
        coloured = true;
      }
      const double pen = render_pen_x(e, at);
      if (!has_from && ink.left_known) {
        from = b.x0 - pen;
        has_from = true;
      }
      if (!has_to && ink.right_known) {
        to = b.x1 - pen;
        has_to = true;
      }
      if (!scrolls || (has_from && has_to)) break;
    }
    if (scrolls) (*extents)[i] = RenderExtent{from, to - from};
    if (!coloured || !colours.has_fill) {
      if (e.kind != RenderKind::positioned)
        f->add("missing", render_who(e) + " draws nothing alone");
      continue;
    }
    render_check_colours(e, colours, cues, x, f);
  }
}

// Every check over one written track.
Findings render_check(const std::string &ass, const SubDoc *doc, const RenderExpect &x = {},
                      RenderStats *stats_out = nullptr) {
  Findings f;
  RenderStats stats;
  const RenderScript s = render_read(ass);
  if (!s.error.empty()) {
    f.add("unreadable", s.error);
    return f;
  }
  if (s.w != render_w || s.h != render_h)
    f.add("unreadable", "PlayRes " + std::to_string(s.w) + "x" + std::to_string(s.h));
  std::vector<RenderExtent> extents;
  render_check_events(s, doc, x, &extents, &f, &stats);
  render_check_frames(s, extents, &f, &stats);
  if (stats_out) *stats_out = stats;
  return f;
}

// ---------------------------------------------------------------------------
// Documents.

struct DocFree {
  void operator()(SubDoc *d) const { sub_doc_free(d); }
};
using Doc = std::unique_ptr<SubDoc, DocFree>;

Doc render_parse(const std::string &bytes, int32_t format = SUB_FMT_AUTO) {
  SubParseOptions o;
  sub_parse_options_init(&o);
  o.format = format;
  SubDoc *doc = nullptr;
  sub_doc_parse(bytes.data(), bytes.size(), &o, &doc);
  return Doc(doc);
}

std::string render_write(SubDoc *doc, const SubWriteOptions *o = nullptr) {
  char *out = nullptr;
  size_t len = 0;
  const int32_t code = sub_doc_write(doc, SUB_FMT_ASS, o, &out, &len);
  EXPECT_EQ(code, SUB_OK);
  std::string s = out ? std::string(out, len) : std::string();
  sub_text_free(out);
  return s;
}

std::string render_xml_escape(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else
      out += c;
  }
  return out;
}

// One Bilibili comment: time in seconds, mode, size, colour 0xRRGGBB.
struct RenderComment {
  double seconds;
  int mode;
  int size;
  uint32_t color;
  std::string text;
};

std::string render_bilibili(const std::vector<RenderComment> &comments) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<i>\n";
  int id = 1;
  for (const RenderComment &c : comments) {
    char p[128];
    std::snprintf(p, sizeof p, "%.3f,%d,%d,%u,1500000000,0,abcdef01,%d", c.seconds, c.mode, c.size,
                  c.color, id++);
    xml += std::string("<d p=\"") + p + "\">" + render_xml_escape(c.text) + "</d>\n";
  }
  return xml + "</i>\n";
}

// Whether one of the document's warnings starts with `text`; prints them
// all when none does.
bool render_has_warning(const SubDoc *doc, const std::string &text) {
  for (int32_t i = 0; i < sub_doc_warning_count(doc); ++i)
    if (const char *w = sub_doc_warning(doc, i); w && std::string_view(w).starts_with(text))
      return true;
  for (int32_t i = 0; i < sub_doc_warning_count(doc); ++i)
    std::printf("warning: %s\n", sub_doc_warning(doc, i));
  return false;
}

std::string render_repeat(std::string_view s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

// The whole proof over one document; the counts of kept comments by kind in
// *stats.
void render_prove(const std::string &label, SubDoc *doc, const SubWriteOptions *options = nullptr,
                  RenderStats *stats = nullptr, std::string *ass_out = nullptr) {
  ASSERT_NE(doc, nullptr);
  const std::string ass = render_write(doc, options);
  if (ass_out) *ass_out = ass;
  const auto t0 = std::chrono::steady_clock::now();
  RenderStats st;
  const Findings f = render_check(ass, doc, RenderExpect{}, &st);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("%s: %lld frames, %lld scrolling, %lld top, %lld bottom, %lld positioned, %.2f s\n",
              label.c_str(), static_cast<long long>(st.frames),
              static_cast<long long>(st.kept[0]) + static_cast<long long>(st.kept[1]),
              static_cast<long long>(st.kept[2]), static_cast<long long>(st.kept[3]),
              static_cast<long long>(st.kept[4]), secs);
  EXPECT_TRUE(f.empty()) << label << ":\n" << f.summary();
  if (stats) *stats = st;
}

// The renderer as the host's measure of a line: the written ASS's header
// (its play width that of the wide frame) and style.
struct RenderMeasure {
  std::string header;
  std::string style;  // the events' Style field
};

RenderMeasure render_measure_of(const std::string &ass) {
  RenderMeasure m;
  const RenderScript s = render_read(ass);
  m.header = s.header;
  const size_t at = m.header.find("PlayResX: ");
  if (at != std::string::npos) {
    const size_t nl = m.header.find('\n', at);
    m.header.replace(at, nl - at, "PlayResX: " + std::to_string(render_wide_w));
  }
  m.style = "Default";
  if (!s.events.empty()) {
    // "Dialogue: Layer,Start,End,Style,..."
    const std::string &h = s.events[0].head;
    size_t c = h.find(',');
    c = h.find(',', c + 1);
    c = h.find(',', c + 1);
    const size_t d = h.find(',', c + 1);
    if (d != std::string::npos) m.style = h.substr(c + 1, d - c - 1);
  }
  return m;
}

// The width the layout needs of one line: from the pen to the right edge of
// its ink, outline included, as libass draws it in the written style; -1
// (the layout then estimates) when it is wider than the wide frame.
double render_measure(const char *text, double font_px, void *user) {
  const auto *m = static_cast<const RenderMeasure *>(user);
  constexpr double pen = 100;
  char tags[96];
  std::snprintf(tags, sizeof tags, "{\\an7\\pos(%.0f,100)\\fs%.3f}", pen, font_px);
  std::string escaped;
  for (const char *p = text; *p; ++p) {
    if (*p == '{' || *p == '}') escaped += '\\';
    escaped += *p;
  }
  Libass &lib = Libass::wide();
  RenderTrack track = lib.read(m->header + "Dialogue: 0,0:00:00.00,0:01:00.00," + m->style +
                               ",,0,0,0,," + tags + escaped + "\n");
  if (!track) return -1;
  const ASS_Image *images = lib.render(track.get(), 0);
  Box b;
  for (const ASS_Image *img = images; img; img = img->next) {
    if (img->dst_x + img->w >= render_wide_w) return -1;
    b.add(render_ink(img));
  }
  return b.empty() ? 0 : b.x1 - pen;
}

// ---------------------------------------------------------------------------
// The checker itself, on hand-written ASS: each fault it must find.

constexpr std::string_view render_header =
    "[Script Info]\nScriptType: v4.00+\nPlayResX: 1920\nPlayResY: 1080\nWrapStyle: 0\n"
    "ScaledBorderAndShadow: yes\n\n[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
    "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
    "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
    "Style: Default,Arial,50,&H00FFFFFF,&H000000FF,&H00000000,&H80000000,0,0,0,0,100,100,0,0,1,"
    "2,0,7,0,0,0,1\n\n[Events]\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

struct HarnessCase {
  const char *name;
  std::vector<RenderComment> comments;  // the document the colours come from
  std::vector<std::string> events;      // "START,END,TEXT" with times as H:MM:SS.cc
  const char *check;                    // the finding wanted; "" for none
};

TEST(DanmakuRenderHarness, FindsEachFault) {
  const uint32_t white = 0xFFFFFF, red = 0xFF0000;
  const std::string scroll_a = "{\\an7\\move(1922,2,-254,2)\\c&HFFFFFF&\\alpha&H33&\\fs50}";
  const std::vector<HarnessCase> cases = {
      {"two rows, apart",
       {{1, 1, 25, white, "first"}, {1, 1, 25, white, "second"}},
       {"0:00:01.00,0:00:09.00," + scroll_a + "first one",
        "0:00:01.00,0:00:09.00,{\\an7\\move(1922,58,-254,58)\\c&HFFFFFF&\\alpha&H33&\\fs50}second"},
       ""},
      {"standing comments at top and bottom",
       {{1, 5, 25, white, "top"}, {1, 4, 25, red, "bottom"}},
       {"0:00:01.00,0:00:05.00,{\\an8\\pos(960,2)\\c&HFFFFFF&\\alpha&H33&\\fs50}top",
        "0:00:01.00,0:00:05.00,{\\an2\\pos(960,1062)\\c&H0000FF&\\alpha&H33&\\fs50}bottom"},
       ""},
      {"a dark comment with a light outline",
       {{1, 5, 25, 0x000080, "navy"}},
       {"0:00:01.00,0:00:05.00,{\\an8\\pos(960,2)\\c&H800000&\\3c&HFFFFFF&\\alpha&H33&\\fs50}navy"},
       ""},
      {"one row, the second on top of the first",
       {{1, 1, 25, white, "first"}, {1.5, 1, 25, white, "second"}},
       {"0:00:01.00,0:00:09.00," + scroll_a + "first one",
        "0:00:01.50,0:00:09.50,{\\an7\\move(1922,20,-254,20)\\c&HFFFFFF&\\alpha&H33&\\fs50}second"},
       "overlap"},
      {"a scrolling comment across a top one",
       {{1, 1, 25, white, "first"}, {3, 5, 25, white, "top"}},
       {"0:00:01.00,0:00:09.00," + scroll_a + "first one",
        "0:00:03.00,0:00:07.00,{\\an8\\pos(960,2)\\c&HFFFFFF&\\alpha&H33&\\fs50}top"},
       "overlap"},
      {"a comment placed below the screen",
       {{1, 1, 25, white, "lost"}},
       {"0:00:01.00,0:00:09.00,{\\an7\\move(1922,1200,-254,1200)\\c&HFFFFFF&\\alpha&H33&\\fs50}"
        "lost"},
       "missing"},
      {"a mode 1 comment going left to right",
       {{1, 1, 25, white, "backwards"}},
       {"0:00:01.00,0:00:09.00,{\\an7\\move(-254,2,1922,2)\\c&HFFFFFF&\\alpha&H33&\\fs50}"
        "backwards"},
       "kind"},
      {"a comment whose width was underestimated",
       {{1, 1, 25, white, "WWWWWWWWWW"}},
       {"0:00:01.00,0:00:09.00,{\\an7\\move(1922,2,-40,2)\\c&HFFFFFF&\\alpha&H33&\\fs50}"
        "WWWWWWWWWW"},
       "pops"},
      {"another colour than the comment's",
       {{1, 1, 25, red, "red"}},
       {"0:00:01.00,0:00:09.00,{\\an7\\move(1922,2,-254,2)\\c&H00FF00&\\alpha&H33&\\fs50}red"},
       "colour"},
      {"a black comment with a black outline",
       {{1, 1, 25, 0, "black"}},
       {"0:00:01.00,0:00:09.00,{\\an7\\move(1922,2,-254,2)\\c&H000000&\\alpha&H33&\\fs50}black"},
       "colour"},
      {"an opaque comment",
       {{1, 1, 25, white, "opaque"}},
       {"0:00:01.00,0:00:09.00,{\\an7\\move(1922,2,-254,2)\\c&HFFFFFF&\\fs50}opaque"},
       "colour"},
      {"a top comment that is not centred",
       {{1, 5, 25, white, "top"}},
       {"0:00:01.00,0:00:05.00,{\\an8\\pos(400,2)\\c&HFFFFFF&\\alpha&H33&\\fs50}top"},
       "position"},
      {"a scrolling comment that scrolls too fast",
       {{1, 1, 25, white, "fast"}},
       {"0:00:01.00,0:00:03.00,{\\an7\\move(1922,2,-254,2)\\c&HFFFFFF&\\alpha&H33&\\fs50}fast"},
       "duration"},
  };
  for (const HarnessCase &c : cases) {
    SCOPED_TRACE(c.name);
    Doc doc = render_parse(render_bilibili(c.comments));
    ASSERT_NE(doc, nullptr);
    std::string ass(render_header);
    for (const std::string &e : c.events)
      ass += "Dialogue: 0," + e.substr(0, 22) + "Default,,0,0,0,," + e.substr(22) + "\n";
    const Findings f = render_check(ass, doc.get());
    if (*c.check == '\0')
      EXPECT_TRUE(f.empty()) << f.summary();
    else
      EXPECT_GT(f.count(c.check), 0) << f.summary();
  }
}

// ---------------------------------------------------------------------------
// The layout, rendered.

TEST(DanmakuRender, EveryModeShowsAndAnUnknownModeIsDropped) {
  Doc doc = render_parse(render_bilibili({
      {1.0, 1, 25, 0xFFFFFF, "从右向左 right to left"},
      {1.2, 4, 25, 0xFF0000, "底部 bottom"},
      {1.4, 5, 25, 0x000000, "顶部 top, black"},
      {1.6, 6, 25, 0x00FF00, "从左向右 left to right"},
      {1.8, 7, 25, 0xFFFF00, "[0.2,0.3,\"1-1\",4,\"定位 positioned\",0,0]"},
      {2.0, 9, 25, 0xFFFFFF, "unknown mode nine"},
  }));
  RenderStats st;
  std::string ass;
  render_prove("every mode", doc.get(), nullptr, &st, &ass);
  EXPECT_EQ(st.kept[static_cast<int>(RenderKind::scroll_left)], 1) << ass;
  EXPECT_EQ(st.kept[static_cast<int>(RenderKind::scroll_right)], 1) << ass;
  EXPECT_EQ(st.kept[static_cast<int>(RenderKind::top)], 1) << ass;
  EXPECT_EQ(st.kept[static_cast<int>(RenderKind::bottom)], 1) << ass;
  EXPECT_EQ(st.kept[static_cast<int>(RenderKind::positioned)], 1) << ass;
  EXPECT_EQ(ass.find("unknown mode"), std::string::npos) << ass;
  EXPECT_TRUE(render_has_warning(doc.get(), "danmaku: 1 comment dropped"));
}

TEST(DanmakuRender, FiveHundredCommentsInOneSecond) {
  // Every kind, size and script at once, far more than the screen holds.
  static constexpr std::string_view words[] = {"前方高能",
                                               "hello world",
                                               "233333",
                                               "这是一条很长很长的弹幕评论，用来测试",
                                               "W",
                                               "ＡＢＣ全角",
                                               "哈哈哈哈哈哈",
                                               "Lorem ipsum dolor sit amet",
                                               "！！！",
                                               "?"};
  static constexpr int modes[] = {1, 1, 1, 1, 2, 3, 4, 5, 6, 1, 5, 4};
  static constexpr int sizes[] = {25, 25, 18, 36, 25};
  std::vector<RenderComment> comments;
  uint32_t color = 0x123456;
  for (int i = 0; i < 500; ++i) {
    color = color * 1103515245u + 12345u;
    comments.push_back({10.0 + i * 0.002, modes[i % 12], sizes[i % 5], (color >> 8) & 0xFFFFFF,
                        std::string(words[i % 10]) + " " + std::to_string(i)});
  }
  Doc doc = render_parse(render_bilibili(comments));
  RenderStats st;
  render_prove("500 in a second", doc.get(), nullptr, &st);
  const int64_t kept = st.kept[0] + st.kept[1] + st.kept[2] + st.kept[3];
  // At least a screenful: the 19 rows of 1080 pixels each hold one.
  EXPECT_GE(kept, 19);
  // The rest found no row, and the document says how many.
  EXPECT_TRUE(render_has_warning(
      doc.get(), "danmaku: " + std::to_string(500 - kept) + " comments dropped: no free row"));
}

// Comments far wider than the screen: one row each, never wrapped onto more
// lines (a renderer wraps long lines at spaces unless told not to).
TEST(DanmakuRender, FourHundredCharacterComment) {
  const std::string solid = render_repeat("弹", 200) + render_repeat("ab", 100);
  const std::string words = render_repeat("word ", 79) + "last";
  Doc doc = render_parse(render_bilibili({
      {1.0, 1, 25, 0xFFFFFF, solid},
      {1.5, 1, 25, 0x00FFFF, "behind the long one"},
      {3.0, 1, 25, 0xFF00FF, "后面的弹幕"},
      {2.0, 5, 25, 0xFFFFFF, solid},
      {2.0, 6, 25, 0x0000FF, solid},
      {2.5, 6, 25, 0xFFFFFF, "reverse behind"},
      {0.5, 1, 25, 0xFFFFFF, words},
      {0.5, 1, 25, 0xFFFF00, "the row below the words"},
      {4.0, 4, 25, 0xFFFFFF, words},
      {4.0, 4, 25, 0xFFFF00, "above the bottom words"},
  }));
  render_prove("400 characters", doc.get());
}

// A comment whose text looks like ASS override tags is still one comment of
// its row: the tags must not take it out of its place or size.
TEST(DanmakuRender, TextThatLooksLikeTags) {
  Doc doc = render_parse(render_bilibili({
      {1.0, 1, 25, 0xFFFFFF, "{\\fs300\\c&H0000FF&}big"},
      {1.0, 1, 25, 0xFFFFFF, "{\\pos(100,100)}moved"},
      {1.0, 5, 25, 0xFFFFFF, "{\\an5}centre"},
      {1.2, 1, 25, 0xFFFFFF, "after them"},
  }));
  render_prove("tag-like text", doc.get());
}

// ---------------------------------------------------------------------------
// The golden file: every mode, written exactly so.

TEST(DanmakuRender, GoldenEveryMode) {
  const std::string dir = SUBPARSE_RENDER_GOLDEN_DIR;
  const std::string xml = subtest::read_file(dir + "/every_mode.xml");
  ASSERT_FALSE(xml.empty()) << "cannot read " << dir << "/every_mode.xml";
  Doc doc = render_parse(xml);
  ASSERT_NE(doc, nullptr);
  const std::string ass = render_write(doc.get());
  const std::string golden_path = dir + "/every_mode.ass";
  const char *update = std::getenv("SUBPARSE_UPDATE_GOLDEN");
  if (update && std::string_view(update) == "1") {
    std::ofstream(golden_path, std::ios::binary) << ass;
    GTEST_SKIP() << "wrote " << golden_path << ": review it before committing";
  }
  const std::string golden = subtest::read_file(golden_path);
  ASSERT_FALSE(golden.empty()) << "no " << golden_path
                               << "; write it with SUBPARSE_UPDATE_GOLDEN=1 and review it";
  EXPECT_EQ(ass, golden) << "the ASS of every_mode.xml changed; if on purpose, rewrite "
                         << golden_path << " with SUBPARSE_UPDATE_GOLDEN=1 and review the diff";
  const Findings f = render_check(golden, doc.get());
  EXPECT_TRUE(f.empty()) << f.summary();
}

// ---------------------------------------------------------------------------
// Real files.

// The corpus files of `format`; the sanitizer builds take the smallest few.
std::vector<fs::path> render_corpus(const char *format) {
  std::vector<fs::path> files;
  const fs::path dir = fs::path(SUBPARSE_SOURCE_DIR) / ".." / "shared" / "corpus" / format;
  std::error_code ec;
  // SUBPARSE_RENDER_ONLY=NAME proves only the files whose name holds NAME.
  const char *only = std::getenv("SUBPARSE_RENDER_ONLY");
  for (const auto &entry : fs::directory_iterator(dir, ec))
    if (entry.is_regular_file() &&
        (!only || entry.path().filename().string().find(only) != std::string::npos))
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
#ifdef SUBPARSE_RENDER_SANITIZED
  std::sort(files.begin(), files.end(), [](const fs::path &a, const fs::path &b) {
    return fs::file_size(a) < fs::file_size(b);
  });
  if (files.size() > 3) files.resize(3);
#endif
  return files;
}

void render_prove_corpus(const char *format) {
  const std::vector<fs::path> files = render_corpus(format);
  if (files.empty())
    GTEST_SKIP() << "no files in ../shared/corpus/" << format << " (the shared corpus is absent)";
  int proved = 0;
  for (const fs::path &path : files) {
    Doc doc = render_parse(subtest::read_file(path.string()));
    if (!doc || sub_doc_cue_count(doc.get()) == 0) {
      std::printf("%s: no cues, skipped\n", path.filename().c_str());
      continue;
    }
    render_prove(path.filename().string(), doc.get());
    ++proved;
  }
  EXPECT_GT(proved, 0);
}

TEST(DanmakuRender, BilibiliCorpus) { render_prove_corpus("bilibili"); }

TEST(DanmakuRender, AcfunCorpus) { render_prove_corpus("acfun"); }

// With the renderer's own widths (the host's measure), the dense files must
// lay out with nothing on top of anything and nothing popping in or out:
// what remains is the layout's doing, not its width estimate's.
TEST(DanmakuRender, CorpusWithTheRenderersWidths) {
  static constexpr const char *names[] = {"dfm__res_raw_comments.bfc9c5c.xml", "ccl__boss.xml",
                                          "abplayer__miku.f6b106a.xml"};
#ifdef SUBPARSE_RENDER_SANITIZED
  const size_t count = 1;
#else
  const size_t count = std::size(names);
#endif
  const fs::path dir = fs::path(SUBPARSE_SOURCE_DIR) / ".." / "shared" / "corpus" / "bilibili";
  int proved = 0;
  for (size_t n = 0; n < count; ++n) {
    const char *name = names[n];
    const std::string bytes = subtest::read_file((dir / name).string());
    if (bytes.empty()) continue;
    Doc doc = render_parse(bytes);
    ASSERT_NE(doc, nullptr);
    RenderMeasure measure = render_measure_of(render_write(doc.get()));
    SubWriteOptions o;
    sub_write_options_init(&o);
    o.danmaku_measure = render_measure;
    o.danmaku_measure_user = &measure;
    render_prove(std::string(name) + " (measured)", doc.get(), &o);
    ++proved;
  }
  if (proved == 0) GTEST_SKIP() << "none of the dense files in ../shared/corpus/bilibili";
}

}  // namespace
