// The counting, fault-injecting allocator: it stands in front of the
// library's shipped allocator from before main() on.
#include "fault_alloc.h"

#include <atomic>

#include "sub_util/alloc.h"

namespace {

std::atomic<uint64_t> attempts{0};  // since the last sub_alloc_fail_at()
std::atomic<uint64_t> fail_at{0};   // 1-based attempt that fails; 0 = never
std::atomic<bool> fail_after{false};
std::atomic<int64_t> live{0};
std::atomic<size_t> bytes{0};       // asked for and not yet released
std::atomic<size_t> bytes_peak{0};  // the most of them since the last reset

// Counts one attempt; true when it must fail.
bool should_fail() {
  const uint64_t attempt = attempts.fetch_add(1, std::memory_order_relaxed) + 1;
  const uint64_t at = fail_at.load(std::memory_order_relaxed);
  return at != 0 && (attempt == at || (fail_after.load(std::memory_order_relaxed) && attempt > at));
}

void count_bytes(size_t released, size_t taken) {
  // One step, so that threads at once never see a sum that never was;
  // unsigned wrap-around makes a shrinking change come out right.
  const size_t change = taken - released;
  const size_t now = bytes.fetch_add(change, std::memory_order_relaxed) + change;
  size_t peak = bytes_peak.load(std::memory_order_relaxed);
  while (now > peak && !bytes_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

void *counting_malloc(size_t size) {
  if (should_fail()) return nullptr;
  void *p = sub_default_allocator()->malloc(size);
  if (p) {
    live.fetch_add(1, std::memory_order_relaxed);
    count_bytes(0, size);
  }
  return p;
}

void *counting_realloc(void *ptr, size_t size) {
  if (!ptr) return counting_malloc(size);
  if (should_fail()) return nullptr;
  const size_t old_size = sub_alloc_block_size(ptr);
  void *p = sub_default_allocator()->realloc(ptr, size);
  if (p) count_bytes(old_size, size);
  return p;
}

void counting_free(void *ptr) {
  if (!ptr) return;
  live.fetch_sub(1, std::memory_order_relaxed);
  count_bytes(sub_alloc_block_size(ptr), 0);
  sub_default_allocator()->free(ptr);
}

constexpr SubAllocator counting = {counting_malloc, counting_realloc, counting_free};

}  // namespace

// Before any other initialiser of the program can allocate through the
// library, so that every block it frees was counted when taken.
__attribute__((constructor(101))) static void fault_alloc_install() {
  sub_set_allocator(&counting);
}

void sub_alloc_fail_at(uint64_t n, bool every_after) {
  attempts.store(0, std::memory_order_relaxed);
  fail_after.store(every_after, std::memory_order_relaxed);
  fail_at.store(n, std::memory_order_relaxed);
}

uint64_t sub_alloc_attempts(void) { return attempts.load(std::memory_order_relaxed); }

int64_t sub_alloc_live(void) { return live.load(std::memory_order_relaxed); }

size_t sub_alloc_peak_bytes(bool reset) {
  const size_t peak = bytes_peak.load(std::memory_order_relaxed);
  if (reset) bytes_peak.store(bytes.load(std::memory_order_relaxed), std::memory_order_relaxed);
  return peak;
}
