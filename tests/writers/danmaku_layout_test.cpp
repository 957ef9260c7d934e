// The danmaku layout: rows taken by scrolling, top and bottom comments,
// drops and filters, positioned comments, and its cost on a million
// comments. What the ASS text looks like in a renderer is proved with
// libass in tests/render.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "sub_writers/danmaku_layout.h"
#include "test_support.h"

namespace {

struct DocFree {
  void operator()(SubDoc *doc) const { sub_doc_free(doc); }
};
using DocPtr = std::unique_ptr<SubDoc, DocFree>;

struct Comment {
  double seconds;
  int mode;
  const char *text;
  uint32_t color = 0xFFFFFF;
  int size = 25;
};

std::string bilibili(const std::vector<Comment> &comments) {
  std::string xml = "<?xml version=\"1.0\"?><i>";
  for (const Comment &c : comments)
    xml += "<d p=\"" + std::to_string(c.seconds) + "," + std::to_string(c.mode) + "," +
           std::to_string(c.size) + "," + std::to_string(c.color) + ",0,0,0,0\">" + c.text + "</d>";
  return xml + "</i>";
}

DocPtr parse(const std::string &xml) {
  SubDoc *doc = nullptr;
  EXPECT_EQ(sub_doc_parse(xml.data(), xml.size(), nullptr, &doc), SUB_OK) << xml.substr(0, 200);
  return DocPtr(doc);
}

SubWriteOptions defaults() {
  SubWriteOptions o;
  sub_write_options_init(&o);
  return o;
}

// Each placed comment as "cue:kind:row", the row counted from its edge.
std::vector<std::string> placed(const SubDoc *doc, const SubWriteOptions &o,
                                SubDanmakuLayout *layout) {
  EXPECT_TRUE(sub_danmaku_layout(doc, o, layout));
  std::vector<std::string> out;
  const char *kinds[] = {"left", "right", "top", "bottom", "pos"};
  for (int32_t i = 0; i < layout->count; ++i) {
    const SubDanmakuEvent &e = layout->events[i];
    double row = std::floor(e.y1 / layout->row_height);
    if (e.kind == SubDanmakuKind::bottom)
      row = std::floor((o.ass_play_res_y - e.y1) / layout->row_height);
    out.push_back(std::to_string(e.cue) + ":" + kinds[static_cast<int>(e.kind)] + ":" +
                  std::to_string(static_cast<int>(row)));
  }
  return out;
}

TEST(DanmakuLayout, RowsTakenByEachKind) {
  struct Row {
    const char *name;
    std::vector<Comment> comments;
    std::vector<std::string> want;
  };
  const Row rows[] = {
      {"together: one row each",
       {{1, 1, "a"}, {1, 1, "b"}, {1, 1, "c"}},
       {"0:left:0", "1:left:1", "2:left:2"}},
      {"the first has moved in: same row", {{1, 1, "a"}, {3, 1, "b"}}, {"0:left:0", "1:left:0"}},
      // A long comment is faster: it would catch the short one ahead.
      {"faster behind: next row",
       {{1, 1, "a"}, {3, 1, "a very long comment that crosses the screen much faster"}},
       {"0:left:0", "1:left:1"}},
      {"left to right never shares a busy row",
       {{1, 1, "a"}, {3, 6, "b"}},
       {"0:left:0", "1:right:1"}},
      {"top and bottom stack from their edges",
       {{1, 5, "t1"}, {1, 5, "t2"}, {1, 4, "b1"}, {1, 4, "b2"}},
       {"0:top:0", "1:top:1", "2:bottom:0", "3:bottom:1"}},
      {"a top row frees after its time", {{1, 5, "t1"}, {5.5, 5, "t2"}}, {"0:top:0", "1:top:0"}},
      {"in time order whatever the file's",
       {{3, 1, "later"}, {1, 1, "first"}},
       {"1:left:0", "0:left:0"}},
      {"a large comment takes two rows",
       {{1, 1, "big", 0xFFFFFF, 36}, {1, 1, "next"}},
       {"0:left:0", "1:left:2"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    DocPtr doc = parse(bilibili(row.comments));
    SubDanmakuLayout layout;
    EXPECT_EQ(placed(doc.get(), defaults(), &layout), row.want);
  }
}

// Nowhere left: dropped and counted by default, or put where a row frees
// first; filters drop and count too.
TEST(DanmakuLayout, DropsOverflowAndFilters) {
  const std::vector<Comment> full(25, Comment{1, 1, "x"});
  DocPtr doc = parse(bilibili(full));
  SubWriteOptions o = defaults();
  SubDanmakuLayout dropped;
  EXPECT_EQ(placed(doc.get(), o, &dropped).size(), 19u);  // 1080 / 56-pixel rows
  EXPECT_EQ(dropped.dropped_no_row, 6);
  o.danmaku_overflow = SUB_DANMAKU_OVERLAP;
  SubDanmakuLayout kept;
  EXPECT_EQ(placed(doc.get(), o, &kept).size(), 25u);
  EXPECT_EQ(kept.dropped_no_row, 0);

  o = defaults();
  o.danmaku_scroll_share = 0.25;  // four rows for scrolling
  SubDanmakuLayout share;
  EXPECT_EQ(placed(doc.get(), o, &share).size(), 4u);

  DocPtr mixed = parse(bilibili({{1, 1, "keep"},
                                 {1, 5, "top"},
                                 {1, 1, "spoiler ahead"},
                                 {1, 8, "code"},
                                 {1, 7, "not an array"}}));
  o = defaults();
  o.danmaku_drop_modes = 1u << 5;
  o.danmaku_block_words = "nothing\nspoiler";
  SubDanmakuLayout filtered;
  EXPECT_EQ(placed(mixed.get(), o, &filtered), (std::vector<std::string>{"0:left:0"}));
  EXPECT_EQ(filtered.dropped_filtered, 2);
  EXPECT_EQ(filtered.dropped_unreadable, 2);
}

// The ASS text: colours in ASS's byte order, a light outline for dark
// colours, the size, and the warnings that count what was left out. The top
// comment stands in the second row: the scrolling one in the first has not
// passed the middle yet.
TEST(DanmakuLayout, WrittenAsAss) {
  DocPtr doc = parse(bilibili({{1, 1, "red", 0xFF0000},
                               {1, 5, "dark", 0x000010, 36},
                               {2, 7, "[0.5,0.25,\"1-0\",3,\"placed\"]"},
                               {2, 9, "unknown"}}));
  char *out = nullptr;
  ASSERT_EQ(sub_doc_write(doc.get(), SUB_FMT_ASS, nullptr, &out, nullptr), SUB_OK);
  const std::string ass = out;
  sub_text_free(out);
  EXPECT_NE(ass.find("Style: Danmaku,Arial,50,"), std::string::npos);
  EXPECT_NE(ass.find("Dialogue: 0,0:00:01.00,0:00:09.00,Danmaku,,0,0,0,,{\\an7\\move(1930,2,-94,2)"
                     "\\c&H0000FF&\\alpha&H33&}red\n"),
            std::string::npos)
      << ass;
  EXPECT_NE(ass.find("{\\an8\\pos(960,58)\\fs72\\c&H100000&\\3c&HFFFFFF&\\alpha&H33&}dark"),
            std::string::npos)
      << ass;
  EXPECT_NE(ass.find("0:00:02.00,0:00:05.00,Danmaku,,0,0,0,,{\\an7\\pos(960,270)\\t(\\alpha&HFF&)}"
                     "placed\n"),
            std::string::npos)
      << ass;
  ASSERT_EQ(sub_doc_warning_count(doc.get()), 1);
  EXPECT_STREQ(sub_doc_warning(doc.get(), 0),
               "danmaku: 1 comment dropped: positioned comments that do not read, or modes not "
               "shown");
  // Writing again reports nothing new.
  ASSERT_EQ(sub_doc_write(doc.get(), SUB_FMT_ASS, nullptr, &out, nullptr), SUB_OK);
  sub_text_free(out);
  EXPECT_EQ(sub_doc_warning_count(doc.get()), 1);
}

// A host's measure replaces the estimate: a wider text scrolls faster and
// starts further off screen.
TEST(DanmakuLayout, HostMeasure) {
  DocPtr doc = parse(bilibili({{1, 1, "abc"}}));
  SubWriteOptions o = defaults();
  o.danmaku_measure = [](const char *text, double font_px, void *user) {
    *static_cast<int *>(user) += 1;
    return std::string(text) == "abc" ? 10 * font_px : -1.0;
  };
  int calls = 0;
  o.danmaku_measure_user = &calls;
  SubDanmakuLayout layout;
  ASSERT_EQ(placed(doc.get(), o, &layout).size(), 1u);
  EXPECT_EQ(calls, 1);
  EXPECT_DOUBLE_EQ(layout.events[0].x2, -510.0);  // and a fifth of an em clear
  // The estimate: "a" 0.6 em, "W" 0.95, a CJK character and "…" one em.
  EXPECT_DOUBLE_EQ(sub_danmaku_text_width("a\xE4\xB8\xAD", 4, 50), 1.6 * 50 + 4);
  EXPECT_DOUBLE_EQ(sub_danmaku_text_width("W\xE2\x80\xA6", 4, 50), 1.95 * 50 + 4);
}

// The estimate of a text's width: each character's class in ems, times the
// font size, plus the outline on both sides (4 pixels).
TEST(DanmakuLayout, EstimatedWidthByCharacterClass) {
  struct Row {
    const char *text;
    double ems;
  };
  const Row rows[] = {
      {"", 0},
      {" ", 0.4},
      {"iljtfr", 6 * 0.4},
      {".,;:!|'()[]", 11 * 0.4},
      {"abz", 3 * 0.6},
      {"mwMW@", 5 * 0.95},
      {"AZ09?#~", 7 * 0.75},
      {"\xC3\xA9\xD0\x96", 2 * 0.8},              // e acute, Cyrillic Zhe
      {"\xC2\xA0\xD4\xAF", 2 * 0.8},              // U+00A0 and U+052F: the ends of that range
      {"\xC2\x9F\xD4\xB0", 2 * 1.0},              // U+009F and U+0530: just outside it
      {"\xE3\x81\x82\xF0\x9F\x98\x80", 2 * 1.0},  // kana, emoji
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    const std::string text = row.text;
    EXPECT_DOUBLE_EQ(sub_danmaku_text_width(text.data(), text.size(), 20), row.ems * 20 + 4);
  }
}

// A million comments in a few seconds of video: the cost is linear in the
// comments (with rows fixed), never quadratic.
TEST(DanmakuLayout, MillionCommentsStayLinear) {
  auto make = [](int n) {
    std::string xml = "<?xml version=\"1.0\"?><i>";
    xml.reserve(static_cast<size_t>(n) * 48);
    for (int i = 0; i < n; ++i)
      xml += "<d p=\"" + std::to_string((i % 600) / 10.0) + "," + std::to_string(1 + i % 6) +
             ",25,16777215,0,0,0,0\">c" + std::to_string(i) + "</d>";
    return xml + "</i>";
  };
  double secs[2] = {};
  const int counts[2] = {100000, 1000000};
  for (int k = 0; k < 2; ++k) {
    DocPtr doc = parse(make(counts[k]));
    ASSERT_EQ(sub_doc_cue_count(doc.get()), counts[k]);
    secs[k] = subtest::seconds_to_run([&] {
      char *out = nullptr;
      EXPECT_EQ(sub_doc_write(doc.get(), SUB_FMT_ASS, nullptr, &out, nullptr), SUB_OK);
      sub_text_free(out);
    });
  }
  EXPECT_LT(secs[1], 30 * secs[0] + 0.5) << secs[0] << " s, then " << secs[1] << " s";
}

}  // namespace
