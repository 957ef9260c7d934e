// The output text of the writers.
#include "out.h"

#include "sub_util/strings.h"

bool SubOut::grow(size_t extra) {
  // Doubling keeps appends linear; the sum is checked so that no size wraps.
  size_t need = sub_size_mul_add(1, len, sub_size_mul_add(1, extra, 1));
  size_t next = cap < 256 ? 256 : sub_size_mul_add(cap, 2, 0);
  if (next < need) next = need;
  void *grown = need == SIZE_MAX ? nullptr : sub_realloc(data, next);
  if (!grown) {
    failed = true;
    return false;
  }
  data = static_cast<char *>(grown);
  cap = next;
  return true;
}

char *SubOut::release() {
  if (!reserve(0)) return nullptr;
  data[len] = '\0';
  char *text = data;
  data = nullptr;
  len = cap = 0;
  return text;
}

void sub_out_utf8(SubOut *out, std::string_view s) {
  const auto *u = reinterpret_cast<const unsigned char *>(s.data());
  const size_t n = s.size();
  size_t run = 0;
  for (size_t i = sub_find_non_ascii(u, n); i < n; i += sub_find_non_ascii(u + i, n - i)) {
    size_t subpart = 0;
    if (const size_t seq = sub_utf8_seq(u, n, i, &subpart)) {
      i += seq;
      continue;
    }
    out->put(s.substr(run, i - run));
    out->put("\xEF\xBF\xBD");
    i += subpart ? subpart : 1;
    run = i;
  }
  out->put(s.substr(run));
}

bool sub_has_text_line(const SubCue &cue) {
  bool any = false;
  sub_each_text_line(cue, [&](std::string_view) { any = true; });
  return any;
}

void sub_out_uint(SubOut *out, uint64_t value, int min_digits) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value);
  while (n < min_digits && n < 20) digits[n++] = '0';
  if (!out->reserve(static_cast<size_t>(n))) return;
  while (n) out->data[out->len++] = digits[--n];
}

void sub_out_clock(SubOut *out, int32_t ms, SubClockStyle style) {
  // Written into a small buffer and appended once: a writer puts two clocks
  // per cue, so this is on every writer's hot path.
  char buf[40];
  size_t n = 0;
  const auto put_digits = [&](uint32_t v, int min_digits) {
    char digits[12];
    int k = 0;
    do {
      digits[k++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v);
    while (k < min_digits && k < 10) digits[k++] = '0';
    while (k) buf[n++] = digits[--k];
  };
  const uint32_t t = ms < 0 ? 0u : static_cast<uint32_t>(ms);
  uint32_t fraction = t % 1000;
  if (style.fraction_digits == 2) fraction /= 10;
  const uint32_t seconds = t / 1000;
  if (style.hour_digits > 0) {
    put_digits(seconds / 3600, style.hour_digits);
    buf[n++] = ':';
    put_digits(seconds / 60 % 60, 2);
  } else {
    put_digits(seconds / 60, 2);
  }
  buf[n++] = ':';
  put_digits(seconds % 60, 2);
  buf[n++] = style.separator;
  put_digits(fraction, style.fraction_digits);
  out->put(buf, n);
}
