// The allocation layer: every block the library owns comes from sub_malloc,
// sub_realloc and sub_free, yyjson's included. The shipped allocator maps
// large blocks directly; a test installs its own in front of it (counting,
// failing the Nth allocation) through sub_set_allocator.
#ifndef SUB_UTIL_ALLOC_H
#define SUB_UTIL_ALLOC_H

#include <cstddef>
#include <cstdint>

// sub_realloc(p, n) with p null behaves as sub_malloc(n); a failed realloc
// leaves p untouched. Sizes of 0 are rounded up to 1.
void *sub_malloc(size_t size);
void *sub_realloc(void *ptr, size_t size);
void sub_free(void *ptr);

// A replacement for the three functions above. Its blocks must be ones that
// the shipped allocator's free accepts (a wrapper forwards to the shipped
// functions, as test allocators do).
struct SubAllocator {
  void *(*malloc)(size_t size);
  void *(*realloc)(void *ptr, size_t size);
  void (*free)(void *ptr);
};
// The allocator the library ships with.
const SubAllocator *sub_default_allocator(void);
// Installs `allocator` (null: the shipped one) for every later allocation.
// Meant for test programs, before any parse runs: blocks already handed out
// must stay valid for the new allocator's free.
void sub_set_allocator(const SubAllocator *allocator);
// The size asked for a block of the shipped allocator.
size_t sub_alloc_block_size(const void *block);

// a * b + c, or SIZE_MAX when that does not fit size_t (which every
// allocation refuses, so an impossible size becomes an out-of-memory failure).
inline size_t sub_size_mul_add(size_t a, size_t b, size_t c) {
  size_t product = 0;
  size_t sum = 0;
  if (__builtin_mul_overflow(a, b, &product) || __builtin_add_overflow(product, c, &sum))
    return SIZE_MAX;
  return sum;
}

// Doubles an array of `*cap` elements (to `first` elements when it has none).
// Returns true and updates *array and *cap, or false with both unchanged when
// memory runs out or the capacity would pass INT32_MAX.
template <typename T>
bool sub_grow(T **array, int32_t *cap, int32_t first) {
  if (*cap > INT32_MAX / 2) return false;
  const int32_t new_cap = *cap ? *cap * 2 : first;
  void *grown = sub_realloc(*array, sub_size_mul_add(static_cast<size_t>(new_cap), sizeof(T), 0));
  if (!grown) return false;
  *array = static_cast<T *>(grown);
  *cap = new_cap;
  return true;
}

// A scratch block from the layer, released at the end of its scope. Its
// `data` is null when memory ran out.
struct SubScratch {
  char *data;
  explicit SubScratch(size_t size) : data(static_cast<char *>(sub_malloc(size))) {}
  ~SubScratch() { sub_free(data); }
  SubScratch(const SubScratch &) = delete;
  SubScratch &operator=(const SubScratch &) = delete;
};

// The yyjson allocator that routes through the layer (a yyjson_alc*).
const struct yyjson_alc *sub_yyjson_alc(void);

#endif
