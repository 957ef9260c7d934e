// LRC lyrics: lines that start with time tags, then the lyric text
//
//   [ti:Song]  [ar:Singer]  [offset:+500]       metadata; only offset counts
//   [00:01.00][00:05.00]Chorus                  one entry per time tag (16 at most)
//
// The entries of the whole file are ordered by time; each distinct time is
// one cue lasting until the next time (3000 ms when its time repeats or it
// is the last). When several entries share a time, the text is the one that
// an in-place exchange sort (for each p, swap in every later entry with a
// smaller time) would leave first among them; that winner is found here in
// O(n log n) from the positions of the entries, with a Fenwick tree.
#include <cstring>
#include <utility>

#include "sub_parser.h"

namespace {

constexpr size_t lrc_tag_max = 127;  // bytes of one tag's content
constexpr size_t lrc_key_max = 31;   // bytes of a metadata key
constexpr int lrc_max_times = 16;    // time tags of one line that count
constexpr int32_t lrc_last_ms = 3000;

struct LrcEntry {
  int32_t time;
  const char *text;  // the lyric text, in the text being parsed
  size_t len;
};

struct LrcEntries {
  LrcEntry *items = nullptr;
  int32_t count = 0;
  int32_t cap = 0;
  ~LrcEntries() { sub_free(items); }
  bool push(const LrcEntry &e) {
    if (count >= cap && !sub_grow(&items, &cap, 32)) return false;
    items[count++] = e;
    return true;
  }
};

// A sort key: the time (biased so that unsigned order is signed order) over
// the file position.
inline uint64_t lrc_key(int32_t time, uint32_t pos) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(time) ^ 0x80000000u) << 32) | pos;
}
inline uint32_t lrc_key_pos(uint64_t key) { return static_cast<uint32_t>(key); }

// (seconds + minutes × 60) × 1000 of a time tag's content "mm:ss.xx".
int32_t lrc_tag_time(std::string_view content, size_t colon) {
  const int64_t minutes = sub_atoi(content);
  double seconds = 0;
  sub_strtod(content.substr(colon + 1), &seconds);
  return sub_double_to_i32((seconds + static_cast<double>(minutes * 60)) * 1000.0);
}

// Reads the tags at the head of a trimmed line; adds one entry per time tag.
// Returns false when an entry could not be stored.
bool lrc_read_line(std::string_view line, LrcEntries *entries, double *offset, bool *has_offset) {
  int32_t times[lrc_max_times];
  int ntimes = 0;
  size_t at = 0;  // the current '['
  size_t text_from = 0;
  for (;;) {
    const size_t close = line.find(']', at + 1);
    if (close == std::string_view::npos) {
      text_from = at;
      break;
    }
    const std::string_view content = line.substr(at + 1, close - at - 1).substr(0, lrc_tag_max);
    const size_t colon = content.find(':');
    if (colon != std::string_view::npos) {
      if (sub_is_digit(content[0])) {
        const int32_t t = lrc_tag_time(content, colon);
        if (ntimes < lrc_max_times) times[ntimes++] = t;
      } else {
        const std::string_view key = content.substr(0, colon).substr(0, lrc_key_max);
        if (key.size() == 6 && sub_sv_istarts(key, "offset")) {
          sub_strtod(content.substr(colon + 1), offset);
          *has_offset = true;
        }
      }
    }
    if (close + 1 < line.size() && line[close + 1] == '[') {
      at = close + 1;
      continue;
    }
    text_from = close + 1;
    break;
  }
  const std::string_view text = sub_sv_trim(line.substr(text_from));
  for (int i = 0; i < ntimes; ++i)
    if (!entries->push(LrcEntry{times[i], text.data(), text.size()})) return false;
  return true;
}

// Counts of entries by position, for the exchange sort's tie rule.
struct Fenwick {
  int32_t *tree = nullptr;
  size_t n = 0;
  explicit Fenwick(size_t size)
      : tree(static_cast<int32_t *>(sub_malloc(sub_size_mul_add(size + 1, sizeof(int32_t), 0)))),
        n(size) {
    if (tree) std::memset(tree, 0, (size + 1) * sizeof(int32_t));
  }
  ~Fenwick() { sub_free(tree); }
  void add(size_t pos) {
    for (size_t i = pos + 1; i <= n; i += i & (~i + 1)) ++tree[i];
  }
  // Entries inserted at positions below `pos`.
  int64_t below(size_t pos) const {
    int64_t s = 0;
    for (size_t i = pos; i > 0; i -= i & (~i + 1)) s += tree[i];
    return s;
  }
};

// The entry of a group of equal times (its sort keys, file positions in
// increasing order) that the exchange sort leaves first: with c_j the number
// of smaller times between the j-th and the next member (after the last one:
// to the end), walk j from the last member down with f = (f + c_j) mod j; the
// first j where f = j - 1 wins. Returns that member's position.
uint32_t lrc_group_winner(const uint64_t *group, size_t m, const Fenwick &smaller, size_t total) {
  int64_t f = 0;
  for (size_t j = m; j >= 1; --j) {
    const size_t from = lrc_key_pos(group[j - 1]) + 1;
    const size_t to = j < m ? lrc_key_pos(group[j]) : total;
    const int64_t c = smaller.below(to) - smaller.below(from);
    f = (f + c) % static_cast<int64_t>(j);
    if (f == static_cast<int64_t>(j) - 1) return lrc_key_pos(group[j - 1]);
  }
  return lrc_key_pos(group[0]);
}

// Sorts the keys by time, keeping file order among equal times: a radix sort
// over the time bits (the positions below them are already in order).
// Returns false when the scratch array cannot be had.
bool lrc_sort_keys(uint64_t *keys, size_t n) {
  auto *scratch = static_cast<uint64_t *>(sub_malloc(sub_size_mul_add(n, sizeof(uint64_t), 0)));
  if (!scratch) return false;
  uint64_t *from = keys;
  uint64_t *to = scratch;
  for (int shift = 32; shift < 64; shift += 8) {
    size_t count[257] = {};
    for (size_t i = 0; i < n; ++i) ++count[((from[i] >> shift) & 0xFF) + 1];
    if (count[((from[0] >> shift) & 0xFF) + 1] == n) continue;  // one bucket: nothing moves
    for (int b = 0; b < 256; ++b) count[b + 1] += count[b];
    for (size_t i = 0; i < n; ++i) to[count[(from[i] >> shift) & 0xFF]++] = from[i];
    std::swap(from, to);
  }
  if (from != keys) std::memcpy(keys, from, n * sizeof(uint64_t));
  sub_free(scratch);
  return true;
}

}  // namespace

int sub_parse_lrc(SubDoc *doc, const char *text, size_t len) {
  LrcEntries entries;
  double offset = 0;
  bool has_offset = false;
  SubLineReader reader = sub_line_reader(text, len);
  std::string_view line;
  while (sub_line_next(&reader, &line)) {
    line = sub_sv_trim(line);
    if (!line.empty() && line[0] == '[' && !lrc_read_line(line, &entries, &offset, &has_offset))
      sub_doc_note_oom(doc);
  }
  if (entries.count == 0) return sub_parser_done(doc, SUB_FMT_LRC, 0);
  const auto total = static_cast<size_t>(entries.count);
  LrcEntry *e = entries.items;
  if (has_offset)
    for (size_t i = 0; i < total; ++i)
      e[i].time = sub_double_to_i32(static_cast<double>(e[i].time) - offset);
  Fenwick smaller(total);
  auto *keys = static_cast<uint64_t *>(sub_malloc(sub_size_mul_add(total, sizeof(uint64_t), 0)));
  bool sorted = smaller.tree && keys;
  if (sorted) {
    for (size_t i = 0; i < total; ++i) keys[i] = lrc_key(e[i].time, static_cast<uint32_t>(i));
    sorted = lrc_sort_keys(keys, total);
  }
  if (!sorted) {
    sub_free(keys);
    return SUB_ERR_NOMEM;
  }
  for (size_t g = 0; g < total;) {
    const int32_t start = e[lrc_key_pos(keys[g])].time;
    size_t m = 1;
    while (g + m < total && e[lrc_key_pos(keys[g + m])].time == start) ++m;
    const LrcEntry &win =
        e[m > 1 ? lrc_group_winner(keys + g, m, smaller, total) : lrc_key_pos(keys[g])];
    const int32_t end = (m == 1 && g + 1 < total) ? e[lrc_key_pos(keys[g + 1])].time
                                                  : sub_add_sat(start, lrc_last_ms);
    const int32_t cue = sub_cue_add(doc, start, end);
    if (cue >= 0) sub_cue_add_line(doc, cue, win.text, win.len);
    for (size_t k = 0; k < m; ++k) smaller.add(lrc_key_pos(keys[g + k]));
    g += m;
  }
  sub_free(keys);
  doc->detected_format = SUB_FMT_LRC;
  return SUB_OK;
}
