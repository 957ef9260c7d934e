// Options structs that begin with their own size: filling one with its
// defaults without writing past the host's (possibly older, smaller) struct.
#ifndef SUB_UTIL_OPTIONS_H
#define SUB_UTIL_OPTIONS_H

#include <cstddef>
#include <cstring>

// The bytes of the members that the first `size` bytes hold whole, given
// where each member ends (`member_ends`, in order, the size member first).
template <size_t N>
size_t sub_options_whole(size_t size, const size_t (&member_ends)[N]) {
  size_t whole = 0;
  for (const size_t end : member_ends)
    if (end <= size) whole = end;
  return whole;
}

// Copies the members of `defaults` that the first `size` bytes hold whole to
// `options`, and sets its size to the bytes copied. Nothing is written when
// `options` is null or `size` cannot hold the size member.
template <typename Options, size_t N>
void sub_options_fill(Options *options, const Options *defaults, size_t size,
                      const size_t (&member_ends)[N]) {
  if (!options) return;
  const size_t filled = sub_options_whole(size, member_ends);
  if (filled < member_ends[0]) return;
  Options copy = *defaults;
  copy.size = filled;
  std::memcpy(static_cast<void *>(options), &copy, filled);
}

// The options a host passed (null: none): the members its struct holds whole
// (by its own size) over `defaults`, the rest as `defaults` has them.
template <typename Options, size_t N>
Options sub_options_read(const Options *given, const Options &defaults,
                         const size_t (&member_ends)[N]) {
  Options options = defaults;
  if (!given) return options;
  const size_t held = sub_options_whole(given->size, member_ends);
  if (held > member_ends[0]) std::memcpy(static_cast<void *>(&options), given, held);
  options.size = sizeof(Options);
  return options;
}

// The end of member `M` of an options struct: a host's struct of `size`
// bytes holds M whole when size >= this.
#define SUB_OPTIONS_END(Options, M) (offsetof(Options, M) + sizeof(Options::M))

#endif
