// The allocation layer: every block the library owns goes through these three
// functions, so a test can fail the Nth allocation and can count live blocks.
#include <yyjson.h>

#include <cstdlib>

#include "sub_internal.h"

namespace {

uint64_t alloc_attempts = 0;  // since the last sub_alloc_fail_at()
uint64_t alloc_fail_at = 0;   // 1-based attempt that fails; 0 = never
bool alloc_fail_after = false;
int64_t alloc_live = 0;

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
  if (size == SIZE_MAX || alloc_should_fail()) return nullptr;
  void *p = std::malloc(size ? size : 1);
  if (p) ++alloc_live;
  return p;
}

void *sub_realloc(void *ptr, size_t size) {
  if (!ptr) return sub_malloc(size);
  if (size == SIZE_MAX || alloc_should_fail()) return nullptr;
  return std::realloc(ptr, size ? size : 1);
}

void sub_free(void *ptr) {
  if (!ptr) return;
  --alloc_live;
  std::free(ptr);
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

const yyjson_alc *sub_yyjson_alc(void) { return &yy_alc; }
