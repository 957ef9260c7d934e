// render_frame: draws one frame of an ASS file with libass into a PNG.
//
//   render_frame IN.ass SECONDS OUT.png [WIDTH HEIGHT]
//
// The frame (1920x1080 unless given) is a dark backdrop, like a paused
// video, with the subtitles shown at SECONDS (a decimal number: 63.5) drawn
// over it. The PNG is 8-bit RGB, written here with zlib.
#include <ass/ass.h>
#include <zlib.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Only libass's errors matter here; its notes on font fallback do not.
void frame_quiet(int level, const char *fmt, va_list args, void *) {
  if (level > 1) return;
  std::fputs("libass: ", stderr);
  std::vfprintf(stderr, fmt, args);
  std::fputc('\n', stderr);
}

bool frame_read_file(const char *path, std::string *out) {
  std::FILE *f = std::fopen(path, "rb");
  if (!f) return false;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// A positive whole number of at most `max`, or 0.
int frame_dimension(const char *s, int max) {
  char *end = nullptr;
  errno = 0;
  const long v = std::strtol(s, &end, 10);
  if (errno || end == s || *end || v < 1 || v > max) return 0;
  return static_cast<int>(v);
}

// The backdrop: a vertical gradient from slate to near black, so that both
// the black outlines and the light outlines of dark comments show.
void frame_backdrop(std::vector<uint8_t> *rgb, int w, int h) {
  for (int y = 0; y < h; ++y) {
    const double f = static_cast<double>(y) / h;
    const auto r = static_cast<uint8_t>(std::lround(58 - 40 * f));
    const auto g = static_cast<uint8_t>(std::lround(72 - 48 * f));
    const auto b = static_cast<uint8_t>(std::lround(92 - 58 * f));
    uint8_t *p = rgb->data() + static_cast<size_t>(y) * w * 3;
    for (int x = 0; x < w; ++x) {
      *p++ = r;
      *p++ = g;
      *p++ = b;
    }
  }
}

// Blends libass's images, in order, over the frame. An image's colour is
// 0xRRGGBBAA with AA its transparency; each bitmap byte is coverage.
void frame_blend(const ASS_Image *img, std::vector<uint8_t> *rgb, int w, int h) {
  for (; img; img = img->next) {
    const unsigned opacity = 255 - (img->color & 0xFF);
    const unsigned cr = img->color >> 24, cg = (img->color >> 16) & 0xFF,
                   cb = (img->color >> 8) & 0xFF;
    for (int y = 0; y < img->h; ++y) {
      const int fy = img->dst_y + y;
      if (fy < 0 || fy >= h) continue;
      const unsigned char *src = img->bitmap + static_cast<size_t>(y) * img->stride;
      uint8_t *row = rgb->data() + static_cast<size_t>(fy) * w * 3;
      for (int x = 0; x < img->w; ++x) {
        const int fx = img->dst_x + x;
        if (fx < 0 || fx >= w || !src[x]) continue;
        const unsigned a = src[x] * opacity;  // out of 255 * 255
        uint8_t *p = row + 3 * static_cast<size_t>(fx);
        p[0] = static_cast<uint8_t>((p[0] * (65025 - a) + cr * a + 32512) / 65025);
        p[1] = static_cast<uint8_t>((p[1] * (65025 - a) + cg * a + 32512) / 65025);
        p[2] = static_cast<uint8_t>((p[2] * (65025 - a) + cb * a + 32512) / 65025);
      }
    }
  }
}

void frame_put_u32(std::string *out, uint32_t v) {
  const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 8), static_cast<char>(v)};
  out->append(b, 4);
}

// Appends a PNG chunk: length, type, data, and the CRC of type and data.
void frame_chunk(std::string *out, const char *type, const std::string &data) {
  frame_put_u32(out, static_cast<uint32_t>(data.size()));
  const size_t at = out->size();
  out->append(type, 4);
  out->append(data);
  const uLong crc = crc32(0L, reinterpret_cast<const Bytef *>(out->data() + at),
                          static_cast<uInt>(out->size() - at));
  frame_put_u32(out, static_cast<uint32_t>(crc));
}

// The frame as a PNG file: one IDAT chunk, every row unfiltered (filter
// type 0): on these frames, text over a smooth backdrop, the predicting
// filters make deflate's output larger, not smaller.
bool frame_png(const std::vector<uint8_t> &rgb, int w, int h, std::string *png) {
  const size_t row = static_cast<size_t>(w) * 3;
  std::string raw;
  raw.reserve((row + 1) * h);
  for (int y = 0; y < h; ++y) {
    raw.push_back('\0');
    raw.append(reinterpret_cast<const char *>(rgb.data()) + y * row, row);
  }
  uLongf packed_len = compressBound(raw.size());
  std::string packed(packed_len, '\0');
  if (compress2(reinterpret_cast<Bytef *>(packed.data()), &packed_len,
                reinterpret_cast<const Bytef *>(raw.data()), raw.size(), 9) != Z_OK)
    return false;
  packed.resize(packed_len);
  png->assign("\x89PNG\r\n\x1a\n", 8);
  std::string ihdr;
  frame_put_u32(&ihdr, static_cast<uint32_t>(w));
  frame_put_u32(&ihdr, static_cast<uint32_t>(h));
  ihdr.append("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, deflate, PNG filtering, no interlace
  frame_chunk(png, "IHDR", ihdr);
  frame_chunk(png, "IDAT", packed);
  frame_chunk(png, "IEND", std::string());
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4 && argc != 6) {
    std::fprintf(stderr, "usage: render_frame IN.ass SECONDS OUT.png [WIDTH HEIGHT]\n");
    return 64;
  }
  char *end = nullptr;
  const double seconds = std::strtod(argv[2], &end);
  if (end == argv[2] || *end || !(seconds >= 0 && seconds < 1e8)) {
    std::fprintf(stderr, "render_frame: bad time '%s' (seconds, such as 63.5)\n", argv[2]);
    return 64;
  }
  int w = 1920, h = 1080;
  if (argc == 6) {
    w = frame_dimension(argv[4], 8192);
    h = frame_dimension(argv[5], 8192);
    if (!w || !h) {
      std::fprintf(stderr, "render_frame: bad size '%s' x '%s' (1 .. 8192)\n", argv[4], argv[5]);
      return 64;
    }
  }
  std::string script;
  if (!frame_read_file(argv[1], &script)) {
    std::fprintf(stderr, "render_frame: cannot read %s\n", argv[1]);
    return 66;
  }

  ASS_Library *lib = ass_library_init();
  if (!lib) return 70;
  ass_set_message_cb(lib, frame_quiet, nullptr);
  ASS_Renderer *renderer = ass_renderer_init(lib);
  if (!renderer) return 70;
  ass_set_frame_size(renderer, w, h);
  ass_set_fonts(renderer, nullptr, "sans-serif", ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
  // libass parses the text in place: it gets a copy it may write.
  ASS_Track *track = ass_read_memory(lib, script.data(), script.size(), nullptr);
  if (!track) {
    std::fprintf(stderr, "render_frame: libass cannot read %s\n", argv[1]);
    return 65;
  }
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  frame_backdrop(&rgb, w, h);
  int changed = 0;
  frame_blend(ass_render_frame(renderer, track, std::llround(seconds * 1000.0), &changed), &rgb, w,
              h);
  ass_free_track(track);
  ass_renderer_done(renderer);
  ass_library_done(lib);

  std::string png;
  if (!frame_png(rgb, w, h, &png)) {
    std::fprintf(stderr, "render_frame: compression failed\n");
    return 70;
  }
  std::FILE *f = std::fopen(argv[3], "wb");
  bool written = f && std::fwrite(png.data(), 1, png.size(), f) == png.size();
  if (f && std::fclose(f) != 0) written = false;
  if (!written) {
    std::fprintf(stderr, "render_frame: cannot write %s\n", argv[3]);
    return 73;
  }
  return 0;
}
