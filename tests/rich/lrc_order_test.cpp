// The LRC parser orders entries in O(n log n) yet must give exactly the cues
// of the exchange sort that picks among equal times: checked here against a
// literal exchange sort on many random small files.
#include <gtest/gtest.h>

#include <random>

#include "test_support.h"

namespace {

struct Entry {
  int32_t time;
  std::string text;
};

// The cues as the exchange sort and the cue rules give them.
std::vector<subtest::CueView> reference_cues(std::vector<Entry> e) {
  for (size_t p = 0; p + 1 < e.size(); ++p)
    for (size_t q = p + 1; q < e.size(); ++q)
      if (e[q].time < e[p].time) std::swap(e[p], e[q]);
  std::vector<subtest::CueView> cues;
  for (size_t i = 0; i < e.size(); ++i) {
    if (i > 0 && e[i].time == e[i - 1].time) continue;
    const int64_t end = (i + 1 < e.size() && e[i + 1].time > e[i].time)
                            ? e[i + 1].time
                            : std::min<int64_t>(int64_t{e[i].time} + 3000, INT32_MAX);
    cues.push_back({e[i].time, static_cast<int32_t>(end), {e[i].text}});
  }
  return cues;
}

std::string tag(int32_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "[%02d:%02d.%02d]", ms / 60000, ms / 1000 % 60, ms / 10 % 100);
  return buf;
}

TEST(LrcOrder, MatchesTheExchangeSortOnRandomFiles) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 3000; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const int lines = 1 + static_cast<int>(rng() % 12);
    const int distinct = 1 + static_cast<int>(rng() % 6);  // few times: many ties
    const int offset = (rng() % 4 == 0) ? static_cast<int>(rng() % 2001) - 1000 : 0;
    std::string file;
    std::vector<Entry> entries;
    if (offset && rng() % 2) file += "[offset:" + std::to_string(offset) + "]\n";
    for (int l = 0; l < lines; ++l) {
      const int tags = 1 + static_cast<int>(rng() % 3);
      const std::string text = "line" + std::to_string(l);
      std::string head;
      for (int t = 0; t < tags; ++t) {
        const int32_t ms = static_cast<int32_t>(rng() % distinct) * 1000;
        head += tag(ms);
        entries.push_back({ms, text});
      }
      file += head + text + "\n";
    }
    if (offset && file.rfind("[offset:", 0) != 0)
      file += "[offset:" + std::to_string(offset) + "]\n";
    for (Entry &e : entries) e.time -= offset;
    ASSERT_EQ(sub_parse(file.data(), file.size(), SUB_FMT_LRC, nullptr), SUB_OK) << file;
    ASSERT_EQ(subtest::current_cues(), reference_cues(entries)) << file;
  }
  sub_clear();
}

}  // namespace
