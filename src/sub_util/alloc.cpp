// The allocation layer: every block the library owns goes through these three
// functions, so that a test can stand its own allocator in front of them.
//
// Large blocks (the decoded text, the JSON text, the cue array of a big file)
// are mapped directly and, on Linux, marked for transparent huge pages:
// touching fresh memory 4 KiB at a time costs more than parsing it.
#include <yyjson.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "alloc.h"

namespace {

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

void *yy_malloc(void * /*ctx*/, size_t size) { return sub_malloc(size); }
void *yy_realloc(void * /*ctx*/, void *ptr, size_t /*old_size*/, size_t size) {
  return sub_realloc(ptr, size);
}
void yy_free(void * /*ctx*/, void *ptr) { sub_free(ptr); }

const yyjson_alc yy_alc = {yy_malloc, yy_realloc, yy_free, nullptr};

void *shipped_malloc(size_t size) {
  if (size >= SIZE_MAX - header_size) return nullptr;
  BlockHeader *h = nullptr;
  if (size >= map_threshold) h = map_block(size);
  if (!h) {
    h = static_cast<BlockHeader *>(std::malloc(size + header_size));
    if (!h) return nullptr;
    h->mapped = 0;
  }
  h->size = size;
  return payload_of(h);
}

void *shipped_realloc(void *ptr, size_t size) {
  if (!ptr) return shipped_malloc(size);
  if (size >= SIZE_MAX - header_size) return nullptr;
  BlockHeader *h = header_of(ptr);
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
  return payload_of(grown);
}

void shipped_free(void *ptr) {
  if (ptr) release_block(header_of(ptr));
}

constexpr SubAllocator shipped = {shipped_malloc, shipped_realloc, shipped_free};

// The installed allocator; read on every allocation, from any thread.
std::atomic<const SubAllocator *> installed{&shipped};

inline const SubAllocator *allocator() { return installed.load(std::memory_order_relaxed); }

}  // namespace

void *sub_malloc(size_t size) { return allocator()->malloc(size); }

void *sub_realloc(void *ptr, size_t size) { return allocator()->realloc(ptr, size); }

void sub_free(void *ptr) { allocator()->free(ptr); }

const SubAllocator *sub_default_allocator(void) { return &shipped; }

void sub_set_allocator(const SubAllocator *a) {
  installed.store(a ? a : &shipped, std::memory_order_relaxed);
}

size_t sub_alloc_block_size(const void *block) {
  return block
             ? reinterpret_cast<const BlockHeader *>(static_cast<const char *>(block) - header_size)
                   ->size
             : 0;
}

const yyjson_alc *sub_yyjson_alc(void) { return &yy_alc; }
