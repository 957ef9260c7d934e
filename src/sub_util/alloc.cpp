// The allocation layer: every block the library owns goes through these three
// functions, so a test can fail the Nth allocation and can count live blocks.
//
// Large blocks (the decoded text, the JSON text, the cue array of a big file)
// are mapped directly and, on Linux, marked for transparent huge pages:
// touching fresh memory 4 KiB at a time costs more than parsing it.
#include <yyjson.h>

#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "sub_internal.h"

namespace {

uint64_t alloc_attempts = 0;  // since the last sub_alloc_fail_at()
uint64_t alloc_fail_at = 0;   // 1-based attempt that fails; 0 = never
bool alloc_fail_after = false;
int64_t alloc_live = 0;
size_t alloc_bytes = 0;       // bytes asked for and not yet released
size_t alloc_bytes_peak = 0;  // the most of them at any time since the last reset

inline void alloc_count_bytes(size_t released, size_t taken) {
  alloc_bytes = alloc_bytes - released + taken;
  if (alloc_bytes > alloc_bytes_peak) alloc_bytes_peak = alloc_bytes;
}

// Every block starts with this header; 16 bytes keep the payload aligned.
struct BlockHeader {
  size_t mapped;  // bytes of the mapping, header included; 0 for heap blocks
  size_t size;    // bytes asked for
};
constexpr size_t header_size = sizeof(BlockHeader);
static_assert(header_size == 16);

#if defined(__linux__)
constexpr size_t map_threshold = size_t{4} << 20;
constexpr size_t huge_page = size_t{2} << 20;

size_t map_size(size_t payload) {
  const size_t total = sub_size_mul_add(payload, 1, header_size + huge_page - 1);
  return total == SIZE_MAX ? SIZE_MAX : total & ~(huge_page - 1);
}

BlockHeader *map_block(size_t payload) {
  const size_t size = map_size(payload);
  if (size == SIZE_MAX) return nullptr;
  void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  madvise(p, size, MADV_HUGEPAGE);
  auto *h = static_cast<BlockHeader *>(p);
  h->mapped = size;
  return h;
}

BlockHeader *remap_block(BlockHeader *h, size_t payload) {
  const size_t size = map_size(payload);
  if (size == SIZE_MAX) return nullptr;
  if (size <= h->mapped) return h;
  void *p = mremap(h, h->mapped, size, MREMAP_MAYMOVE);
  if (p == MAP_FAILED) return nullptr;
  madvise(p, size, MADV_HUGEPAGE);
  h = static_cast<BlockHeader *>(p);
  h->mapped = size;
  return h;
}
#else
constexpr size_t map_threshold = SIZE_MAX;
BlockHeader *map_block(size_t) { return nullptr; }
BlockHeader *remap_block(BlockHeader *, size_t) { return nullptr; }
#endif

void release_block(BlockHeader *h) {
#if defined(__linux__)
  if (h->mapped) {
    munmap(h, h->mapped);
    return;
  }
#endif
  std::free(h);
}

BlockHeader *header_of(void *payload) {
  return reinterpret_cast<BlockHeader *>(static_cast<char *>(payload) - header_size);
}

void *payload_of(BlockHeader *h) { return reinterpret_cast<char *>(h) + header_size; }

// Counts one attempt; true when fault injection says it must fail.
inline bool alloc_should_fail() {
  ++alloc_attempts;
  if (alloc_fail_at == 0) return false;
  return alloc_attempts == alloc_fail_at || (alloc_fail_after && alloc_attempts > alloc_fail_at);
}

void *yy_malloc(void * /*ctx*/, size_t size) { return sub_malloc(size); }
void *yy_realloc(void * /*ctx*/, void *ptr, size_t /*old_size*/, size_t size) {
  return sub_realloc(ptr, size);
}
void yy_free(void * /*ctx*/, void *ptr) { sub_free(ptr); }

const yyjson_alc yy_alc = {yy_malloc, yy_realloc, yy_free, nullptr};

}  // namespace

void *sub_malloc(size_t size) {
  if (size >= SIZE_MAX - header_size || alloc_should_fail()) return nullptr;
  BlockHeader *h = nullptr;
  if (size >= map_threshold) h = map_block(size);
  if (!h) {
    h = static_cast<BlockHeader *>(std::malloc(size + header_size));
    if (!h) return nullptr;
    h->mapped = 0;
  }
  h->size = size;
  ++alloc_live;
  alloc_count_bytes(0, size);
  return payload_of(h);
}

void *sub_realloc(void *ptr, size_t size) {
  if (!ptr) return sub_malloc(size);
  if (size >= SIZE_MAX - header_size || alloc_should_fail()) return nullptr;
  BlockHeader *h = header_of(ptr);
  const size_t old_size = h->size;
  BlockHeader *grown = nullptr;
  if (h->mapped) {
    grown = remap_block(h, size);
  } else if (size >= map_threshold && (grown = map_block(size)) != nullptr) {
    // A heap block growing large moves into a mapping once.
    std::memcpy(payload_of(grown), ptr, h->size < size ? h->size : size);
    std::free(h);
  } else {
    grown = static_cast<BlockHeader *>(std::realloc(h, size + header_size));
  }
  if (!grown) return nullptr;
  grown->size = size;
  alloc_count_bytes(old_size, size);
  return payload_of(grown);
}

void sub_free(void *ptr) {
  if (!ptr) return;
  --alloc_live;
  alloc_count_bytes(header_of(ptr)->size, 0);
  release_block(header_of(ptr));
}

int sub_grow_array(void **array, int32_t *cap, int32_t first, size_t elem) {
  if (*cap > INT32_MAX / 2) return -1;
  const int32_t new_cap = *cap ? *cap * 2 : first;
  void *grown = sub_realloc(*array, sub_size_mul_add(static_cast<size_t>(new_cap), elem, 0));
  if (!grown) return -1;
  *array = grown;
  *cap = new_cap;
  return 0;
}

void sub_alloc_fail_at(uint64_t n, bool every_after) {
  alloc_attempts = 0;
  alloc_fail_at = n;
  alloc_fail_after = every_after;
}

uint64_t sub_alloc_attempts(void) { return alloc_attempts; }

int64_t sub_alloc_live(void) { return alloc_live; }

size_t sub_alloc_peak_bytes(bool reset) {
  const size_t peak = alloc_bytes_peak;
  if (reset) alloc_bytes_peak = alloc_bytes;
  return peak;
}

const yyjson_alc *sub_yyjson_alc(void) { return &yy_alc; }
