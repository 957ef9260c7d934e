// The writers' texts read by other programs' readers: libass reads our ASS,
// libavformat's demuxers our SRT, WebVTT and ASS, and each must find the
// events, and the times, that sub_doc_parse() reads back from the same text.
// Built only where pkg-config finds libass and libavformat; elsewhere the
// suite skips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "roundtrip.h"
#include "test_support.h"

#if SUBPARSE_HAVE_PEERS
extern "C" {
#include <ass/ass.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/mem.h>
}
#endif

namespace {

#if SUBPARSE_HAVE_PEERS

namespace fs = std::filesystem;
using roundtrip::DocPtr;

// A cue or an event: start and end in milliseconds, and its text where the
// reader gives it.
struct Timed {
  int64_t start;
  int64_t end;
  std::string text;
};
using Times = std::vector<Timed>;

void sort_by_start(Times *t) {
  std::stable_sort(t->begin(), t->end(),
                   [](const Timed &a, const Timed &b) { return a.start < b.start; });
}

// The documents written: built ones that reach each writer's rules (lines to
// trim and join, braces, markup, unsorted and overlapping cues, times to
// floor, a cue of no length, hours past 99, times shifted below zero), then
// the shared corpus's SRT, WebVTT, ASS and Bilibili files (danmaku, laid
// out in ASS) when they are there.
struct Sample {
  std::string name;
  DocPtr doc;
};

DocPtr parse_text(const std::string &text) {
  SubDoc *doc = nullptr;
  const int32_t rc = sub_doc_parse(text.data(), text.size(), nullptr, &doc);
  DocPtr owned(doc);
  return rc == SUB_OK ? std::move(owned) : nullptr;
}

std::vector<Sample> samples() {
  std::vector<Sample> out;
  out.push_back({"built", roundtrip::built({
                              {1000, 2500, {"  first line ", "<i>second</i> & {brace}"}},
                              {900, 1800, {"overlaps, starts earlier"}},
                              {3005, 3009, {"a cue shorter than a centisecond"}},
                              {4000, 4000, {"no length"}},
                              {5000, 6000, {"one\nline\r\nper\rbreak\xE2\x80\xA8here"}},
                              {445506789, 445507789, {"hour 123"}},
                              {7000, 8000, {"{\\i1}italic{\\i0} -> not a timing --> line"}},
                          })});
  DocPtr shifted = parse_text(
      "1\n00:00:01,000 --> 00:00:03,000\nbefore zero\n\n"
      "2\n00:00:04,000 --> 00:00:05,000\nafter\n\n");
  if (shifted) sub_doc_shift(shifted.get(), -2000);
  out.push_back({"shifted below zero", std::move(shifted)});
  const fs::path root = SUBPARSE_SOURCE_DIR "/../shared/corpus";
  const std::pair<const char *, const char *> folders[] = {
      {"srt", ".srt"}, {"vtt", ".vtt"}, {"ass", ".ass"}, {"bilibili", ".xml"}};
  for (const auto &[folder, extension] : folders) {
    if (!fs::is_directory(root / folder)) continue;
    std::vector<fs::path> paths;
    for (const auto &entry : fs::directory_iterator(root / folder))
      if (entry.is_regular_file() && entry.path().extension() == extension)
        paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    for (const fs::path &p : paths)
      if (DocPtr doc = parse_text(subtest::read_file(p.string())))
        out.push_back({fs::relative(p, root).string(), std::move(doc)});
  }
  return out;
}

std::string write(SubDoc *doc, int32_t format) {
  char *out = nullptr;
  size_t len = 0;
  EXPECT_EQ(sub_doc_write(doc, format, nullptr, &out, &len), SUB_OK);
  std::string text(out ? out : "", len);
  sub_text_free(out);
  return text;
}

// What sub_doc_parse() reads back, sorted by start as the demuxers queue
// events (cues that start together stay in file order).
Times own_reading(const std::string &text, int32_t format) {
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.format = format;
  SubDoc *doc = nullptr;
  const int32_t rc = sub_doc_parse(text.data(), text.size(), &options, &doc);
  DocPtr owned(doc);
  Times t;
  if (rc != SUB_OK) return t;
  for (int32_t i = 0; i < sub_doc_cue_count(doc); ++i) {
    std::string lines;
    for (int32_t k = 0; k < sub_doc_cue_line_count(doc, i); ++k)
      lines += (k ? "\n" : "") + std::string(sub_doc_cue_line(doc, i, k));
    t.push_back({sub_doc_cue_start_ms(doc, i), sub_doc_cue_end_ms(doc, i), lines});
  }
  sort_by_start(&t);
  return t;
}

// The SRT and WebVTT demuxers drop a cue that repeats the one before it
// (same times, same text), and every demuxer gives a cue that ends before it starts the time up
// to the next one; our reading keeps both as they are. So a cue repeating
// its predecessor is left out here, and a backward one is compared by its
// start only.
Times as_demuxers_queue(const Times &ours) {
  Times out;
  for (const Timed &c : ours) {
    if (!out.empty() && out.back().start == c.start && out.back().end == c.end &&
        out.back().text == c.text)
      continue;
    out.push_back(c);
  }
  return out;
}

// The first difference in times between two readings, or "".
std::string time_difference(const Times &ours, const Times &theirs) {
  for (size_t i = 0; i < ours.size() && i < theirs.size(); ++i) {
    const bool backward = ours[i].end < ours[i].start;
    if (ours[i].start != theirs[i].start || (!backward && ours[i].end != theirs[i].end))
      return "cue " + std::to_string(i) + ": ours " + std::to_string(ours[i].start) + "-" +
             std::to_string(ours[i].end) + " \"" + ours[i].text + "\", theirs " +
             std::to_string(theirs[i].start) + "-" + std::to_string(theirs[i].end);
  }
  if (ours.size() != theirs.size())
    return "ours " + std::to_string(ours.size()) + " cues, theirs " + std::to_string(theirs.size());
  return "";
}

// The events libass reads from an ASS text, sorted.
Times libass_reading(const std::string &text) {
  ASS_Library *library = ass_library_init();
  Times t;
  if (!library) return t;
  ass_set_message_cb(
      library, [](int, const char *, va_list, void *) {}, nullptr);
  std::string copy = text;  // libass may write into the buffer it reads
  if (ASS_Track *track = ass_read_memory(library, copy.data(), copy.size(), nullptr)) {
    for (int i = 0; i < track->n_events; ++i)
      t.push_back({track->events[i].Start, track->events[i].Start + track->events[i].Duration,
                   track->events[i].Text ? track->events[i].Text : ""});
    ass_free_track(track);
  }
  ass_library_done(library);
  sort_by_start(&t);
  return t;
}

// A text handed to libavformat through its own I/O callbacks.
struct MemoryInput {
  const std::string *text;
  size_t pos = 0;

  static int read(void *opaque, uint8_t *buf, int size) {
    auto *in = static_cast<MemoryInput *>(opaque);
    const size_t n = std::min(static_cast<size_t>(size), in->text->size() - in->pos);
    if (n == 0) return AVERROR_EOF;
    std::memcpy(buf, in->text->data() + in->pos, n);
    in->pos += n;
    return static_cast<int>(n);
  }
  static int64_t seek(void *opaque, int64_t offset, int whence) {
    auto *in = static_cast<MemoryInput *>(opaque);
    const auto size = static_cast<int64_t>(in->text->size());
    if (whence & AVSEEK_SIZE) return size;
    int64_t to = offset;
    if ((whence & ~AVSEEK_FORCE) == SEEK_CUR) to += static_cast<int64_t>(in->pos);
    if ((whence & ~AVSEEK_FORCE) == SEEK_END) to += size;
    if (to < 0 || to > size) return AVERROR(EINVAL);
    in->pos = static_cast<size_t>(to);
    return to;
  }
};

// The packets a libavformat demuxer reads from a text, sorted; `ok` false
// when the demuxer did not open it.
Times demuxer_reading(const std::string &text, const char *demuxer, bool *ok) {
  Times t;
  *ok = false;
  const AVInputFormat *format = av_find_input_format(demuxer);
  if (!format) return t;
  MemoryInput in{&text};
  constexpr int buffer_size = 4096;
  auto *buffer = static_cast<unsigned char *>(av_malloc(buffer_size));
  AVIOContext *io = avio_alloc_context(buffer, buffer_size, 0, &in, MemoryInput::read, nullptr,
                                       MemoryInput::seek);
  AVFormatContext *ctx = avformat_alloc_context();
  if (!io || !ctx) {
    if (io) av_freep(&io->buffer);
    avio_context_free(&io);
    avformat_free_context(ctx);
    return t;
  }
  ctx->pb = io;
  ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
  if (avformat_open_input(&ctx, nullptr, format, nullptr) == 0) {
    *ok = true;
    AVPacket *packet = av_packet_alloc();
    while (packet && av_read_frame(ctx, packet) >= 0) {
      const AVRational base = ctx->streams[packet->stream_index]->time_base;
      const AVRational ms = {1, 1000};
      const int64_t start = av_rescale_q(packet->pts, base, ms);
      t.push_back({start, start + av_rescale_q(packet->duration, base, ms),
                   std::string(reinterpret_cast<const char *>(packet->data),
                               static_cast<size_t>(packet->size))});
      av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&ctx);
  } else {
    avformat_free_context(ctx);  // avformat_open_input frees it on failure; null then
  }
  av_freep(&io->buffer);
  avio_context_free(&io);
  sort_by_start(&t);
  return t;
}

// libass reads every event of our ASS at the centisecond times our reader
// reads.
TEST(PeerReaders, LibassReadsOurAss) {
  std::vector<Sample> all = samples();
  int checked = 0;
  for (Sample &s : all) {
    if (!s.doc) continue;
    SCOPED_TRACE(s.name);
    const std::string text = write(s.doc.get(), SUB_FMT_ASS);
    const Times ours = own_reading(text, SUB_FMT_ASS);
    EXPECT_EQ(time_difference(ours, libass_reading(text)), "");
    ++checked;
  }
  std::printf("[ ass ] %d documents read by libass\n", checked);
  EXPECT_GT(checked, 1);
}

// libavformat's demuxers read as many cues as our readers, at the same
// times, from our SRT, WebVTT and ASS.
TEST(PeerReaders, LibavformatReadsOurText) {
  av_log_set_level(AV_LOG_QUIET);
  struct Writer {
    int32_t format;
    const char *demuxer;
    bool drops_repeats;  // its packets hold the bare text (ASS ones their read order)
  };
  std::vector<Sample> all = samples();
  for (const Writer w : {Writer{SUB_FMT_SRT, "srt", true}, Writer{SUB_FMT_VTT, "webvtt", true},
                         Writer{SUB_FMT_ASS, "ass", false}}) {
    int checked = 0;
    for (Sample &s : all) {
      if (!s.doc) continue;
      SCOPED_TRACE(s.name + " as " + sub_format_name(w.format));
      const std::string text = write(s.doc.get(), w.format);
      const Times read = own_reading(text, w.format);
      const Times ours = w.drops_repeats ? as_demuxers_queue(read) : read;
      bool opened = false;
      const Times theirs = demuxer_reading(text, w.demuxer, &opened);
      EXPECT_TRUE(opened || ours.empty());
      EXPECT_EQ(time_difference(ours, theirs), "");
      ++checked;
    }
    std::printf("[ %s ] %d documents read by the %s demuxer\n", sub_format_name(w.format), checked,
                w.demuxer);
    EXPECT_GT(checked, 1);
  }
}

#else

TEST(PeerReaders, Skipped) {
  GTEST_SKIP() << "libass and libavformat were not found by pkg-config when this was built "
                  "(install libass-dev and libavformat-dev to read the writers' texts with them)";
}

#endif

}  // namespace
