// The same generated files read by other readers, for comparison: FFmpeg's
// subtitle demuxers (read from memory through a custom AVIOContext, every
// packet pulled) and libass's ass_read_memory for ASS. Built only when
// libavformat-dev and libass-dev are installed.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <string>

#include "bench_corpus.h"

extern "C" {
#include <ass/ass.h>
#include <libavformat/avformat.h>
}

namespace {

using Generator = std::string (*)(size_t);

const std::string &input(Generator gen, size_t size) {
  static std::map<std::pair<Generator, size_t>, std::string> cache;
  auto it = cache.find({gen, size});
  if (it == cache.end()) it = cache.emplace(std::make_pair(gen, size), gen(size)).first;
  return it->second;
}

struct MemReader {
  const uint8_t *data;
  size_t size;
  size_t pos;
};

int mem_read(void *opaque, uint8_t *buf, int buf_size) {
  auto *r = static_cast<MemReader *>(opaque);
  const size_t left = r->size - r->pos;
  if (left == 0) return AVERROR_EOF;
  const size_t n = left < static_cast<size_t>(buf_size) ? left : static_cast<size_t>(buf_size);
  std::memcpy(buf, r->data + r->pos, n);
  r->pos += n;
  return static_cast<int>(n);
}

int64_t mem_seek(void *opaque, int64_t offset, int whence) {
  auto *r = static_cast<MemReader *>(opaque);
  if (whence == AVSEEK_SIZE) return static_cast<int64_t>(r->size);
  int64_t base = 0;
  if ((whence & 3) == SEEK_CUR) base = static_cast<int64_t>(r->pos);
  if ((whence & 3) == SEEK_END) base = static_cast<int64_t>(r->size);
  const int64_t to = base + offset;
  if (to < 0 || to > static_cast<int64_t>(r->size)) return AVERROR(EINVAL);
  r->pos = static_cast<size_t>(to);
  return to;
}

// Opens the buffer with the named demuxer and reads every packet; returns
// the number of packets, or -1 when the demuxer refused the input.
int64_t ffmpeg_read_all(const char *demuxer, const std::string &data) {
  MemReader reader{reinterpret_cast<const uint8_t *>(data.data()), data.size(), 0};
  AVFormatContext *fmt = avformat_alloc_context();
  auto *iobuf = static_cast<uint8_t *>(av_malloc(1 << 16));
  AVIOContext *avio = avio_alloc_context(iobuf, 1 << 16, 0, &reader, mem_read, nullptr, mem_seek);
  fmt->pb = avio;
  fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
  int64_t packets = -1;
  if (avformat_open_input(&fmt, nullptr, av_find_input_format(demuxer), nullptr) == 0) {
    packets = 0;
    AVPacket *pkt = av_packet_alloc();
    while (av_read_frame(fmt, pkt) >= 0) {
      ++packets;
      av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&fmt);
  } else {
    avformat_free_context(fmt);
  }
  av_freep(&avio->buffer);
  avio_context_free(&avio);
  return packets;
}

void ffmpeg(benchmark::State &state, Generator gen, const char *demuxer) {
  const std::string &data = input(gen, static_cast<size_t>(state.range(0)));
  int64_t packets = 0;
  for (auto _ : state) {
    packets = ffmpeg_read_all(demuxer, data);
    if (packets < 0) {
      state.SkipWithError("the demuxer refused the input");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
  state.counters["cues/s"] = benchmark::Counter(static_cast<double>(packets),
                                                benchmark::Counter::kIsIterationInvariantRate);
}

void libass(benchmark::State &state) {
  const std::string &data = input(bench::ass, static_cast<size_t>(state.range(0)));
  ASS_Library *lib = ass_library_init();
  std::string copy;
  int events = 0;
  for (auto _ : state) {
    copy = data;  // the reader may write to its buffer
    ASS_Track *track = ass_read_memory(lib, copy.data(), copy.size(), nullptr);
    events = track ? track->n_events : 0;
    if (track) ass_free_track(track);
  }
  ass_library_done(lib);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
  state.counters["cues/s"] = benchmark::Counter(static_cast<double>(events),
                                                benchmark::Counter::kIsIterationInvariantRate);
}

// FFmpeg's WebVTT demuxer stops reading at a STYLE block; give it the same
// file without one.
std::string vtt_without_style(size_t size) {
  std::string text = bench::vtt(size);
  const std::string style = "STYLE\n::cue { color: yellow }\n\n";
  const size_t at = text.find(style);
  if (at != std::string::npos) text.erase(at, style.size());
  return text;
}

constexpr int64_t small = 1 << 20;
constexpr int64_t large = 32 << 20;

}  // namespace

#define PEER_BENCH(name, gen, demuxer)          \
  BENCHMARK_CAPTURE(ffmpeg, name, gen, demuxer) \
      ->Arg(small)                              \
      ->Arg(large)                              \
      ->Unit(benchmark::kMillisecond)

PEER_BENCH(srt, bench::srt, "srt");
PEER_BENCH(vtt, vtt_without_style, "webvtt");
PEER_BENCH(ass, bench::ass, "ass");
PEER_BENCH(microdvd, bench::microdvd, "microdvd");
PEER_BENCH(subviewer, bench::subviewer, "subviewer");
PEER_BENCH(sami, bench::sami, "sami");
PEER_BENCH(lrc, bench::lrc, "lrc");
BENCHMARK(libass)->Arg(small)->Arg(large)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
