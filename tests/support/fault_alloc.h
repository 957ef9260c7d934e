// A counting, fault-injecting allocator for tests, fuzz targets and
// benchmarks. Linking fault_alloc.cpp installs it in front of the library's
// own allocator before main() runs (through sub_set_allocator), so every block
// the library takes is counted and any one allocation can be made to fail.
// The counters are atomic: documents parsed on several threads at once keep
// them exact, but fault injection itself is meant for one thread at a time.
#ifndef SUBPARSE_FAULT_ALLOC_H
#define SUBPARSE_FAULT_ALLOC_H

#include <cstddef>
#include <cstdint>

// The `n`th allocation from now (1-based) and, if `every_after` is set, every
// later one fails; n = 0 switches failures off. Restarts the attempt count.
void sub_alloc_fail_at(uint64_t n, bool every_after);
// Allocations attempted since the last sub_alloc_fail_at() call.
uint64_t sub_alloc_attempts(void);
// Blocks the library holds right now.
int64_t sub_alloc_live(void);
// The most bytes held at once since the last reset; `reset` starts a new
// measurement from what is held now.
size_t sub_alloc_peak_bytes(bool reset);

#endif
