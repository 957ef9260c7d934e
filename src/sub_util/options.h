// Options structs that begin with their own size: filling one with its
// defaults without writing past the host's (possibly older, smaller) struct.
#ifndef SUB_UTIL_OPTIONS_H
#define SUB_UTIL_OPTIONS_H

#include <cstddef>
#include <cstring>

// Copies the members of `defaults` that the first `size` bytes hold whole to
// `options`, and sets its size to the bytes copied. `member_ends` lists where
// each member ends, in order, the size member first. Nothing is written when
// `options` is null or `size` cannot hold the size member.
template <typename Options, size_t N>
void sub_options_fill(Options *options, const Options *defaults, size_t size,
                      const size_t (&member_ends)[N]) {
  if (!options) return;
  size_t filled = 0;
  for (const size_t end : member_ends)
    if (end <= size) filled = end;
  if (filled < member_ends[0]) return;
  Options copy = *defaults;
  copy.size = filled;
  std::memcpy(static_cast<void *>(options), &copy, filled);
}

// The end of member `M` of an options struct: a host's struct of `size`
// bytes holds M whole when size >= this.
#define SUB_OPTIONS_END(Options, M) (offsetof(Options, M) + sizeof(Options::M))

#endif
