// Documents on many threads at once. Each result is compared with the one a
// single thread got for the same input first: cues, lines, danmaku fields,
// error text, warnings and JSON. Built and run under ThreadSanitizer by
// scripts/test.sh, which reports any data race between the parses.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "doc_diff.h"
#include "test_support.h"

// glibc's iconv_open() and iconv_close() load and unload their conversion
// modules through the dynamic loader, under the loader's own lock, which
// ThreadSanitizer does not see: it would report the loader's blocks as races
// between two documents decoding at once. Read by ThreadSanitizer at start-up.
extern "C" const char *__tsan_default_suppressions() {  // NOLINT(bugprone-reserved-identifier)
  return "called_from_lib:ld-linux-x86-64.so.2\n"
         "called_from_lib:ld-linux-aarch64.so.1\n";
}

namespace {

namespace fs = std::filesystem;

constexpr size_t kThreads = 8;

struct Input {
  std::string name;
  std::string bytes;
  int32_t format;
};

// The shared samples up to 64 KiB (every format, the real files' variety) and
// the built-in samples; without the shared folder, the fuzz corpus instead.
// Shared files are read alternately as the format of their folder and with
// detection, so that both paths run at once.
const std::vector<Input> &inputs() {
  static const std::vector<Input> all = [] {
    std::vector<Input> out;
    for (const docdiff::Sample &s : docdiff::samples()) out.push_back({s.name, s.bytes, s.format});
    const fs::path shared = SUBPARSE_SOURCE_DIR "/../shared/corpus";
    std::vector<fs::path> files;
    if (fs::is_directory(shared)) {
      for (const auto &entry : fs::recursive_directory_iterator(shared)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && entry.file_size() <= uintmax_t{64} * 1024 &&
            entry.path().extension() != ".md" && name.find(".expected.") == std::string::npos &&
            name.find(".isd.") == std::string::npos)
          files.push_back(entry.path());
      }
    } else {
      for (const auto &entry : fs::directory_iterator(SUBPARSE_SOURCE_DIR "/fuzz/corpus"))
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path &path : files) {
      int32_t format = SUB_FMT_AUTO;
      if (out.size() % 2 == 0) {
        const std::string folder = path.parent_path().filename().string();
        for (int32_t f = 0; f < SUB_FMT_COUNT; ++f)
          if (folder == sub_format_name(f)) format = f;
      }
      out.push_back({path.filename().string(), subtest::read_file(path.string()), format});
    }
    return out;
  }();
  return all;
}

int32_t parse(const Input &in, SubDoc **doc) {
  return docdiff::parse_doc(in.bytes.data(), in.bytes.size(), in.format, nullptr, doc);
}

// What one thread alone got for each input, through each API.
const std::vector<docdiff::Result> &documents_alone() {
  static const std::vector<docdiff::Result> all = [] {
    std::vector<docdiff::Result> out;
    for (const Input &in : inputs()) {
      SubDoc *doc = nullptr;
      const int32_t rc = parse(in, &doc);
      out.push_back(docdiff::read_all(docdiff::kDocument, doc, rc));
      sub_doc_free(doc);
    }
    return out;
  }();
  return all;
}

const std::vector<docdiff::Result> &classic_alone() {
  static const std::vector<docdiff::Result> all = [] {
    std::vector<docdiff::Result> out;
    for (const Input &in : inputs()) {
      const int32_t rc = sub_parse(in.bytes.data(), in.bytes.size(), in.format, nullptr);
      out.push_back(docdiff::read_all(docdiff::kClassic, nullptr, rc));
    }
    sub_clear();
    return out;
  }();
  return all;
}

// Failures a worker thread saw, reported by the test's thread after the join
// (the first few of each thread, which is enough to debug).
class Failures {
 public:
  void add(size_t input, const std::string &what) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++count_;
    if (shown_.size() < 16) shown_.push_back(inputs()[input].name + ": " + what);
  }
  void expect_none() const {
    EXPECT_EQ(count_, 0u);
    for (const std::string &s : shown_) ADD_FAILURE() << s;
  }

 private:
  std::mutex mutex_;
  size_t count_ = 0;
  std::vector<std::string> shown_;
};

// Reads a document and compares it with the lone thread's result.
void check(size_t input, SubDoc *doc, int32_t rc, Failures &failures) {
  if (!doc) {
    failures.add(input, "no document, code " + std::to_string(rc));
    return;
  }
  const std::string diff =
      docdiff::difference(documents_alone()[input], docdiff::read_all(docdiff::kDocument, doc, rc));
  if (!diff.empty()) failures.add(input, diff);
}

class DocThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    sub_alloc_fail_at(0, false);
    documents_alone();
    classic_alone();
    live_ = sub_alloc_live();
  }
  void TearDown() override { EXPECT_EQ(sub_alloc_live(), live_) << "blocks left allocated"; }
  int64_t live_ = 0;
};

// Each thread parses its own share of the files, several times, keeping all
// of a round's documents alive and freeing them in an order that changes
// from round to round.
TEST_F(DocThreads, EightThreadsParseTheirOwnFiles) {
  constexpr int kRounds = 8;
  Failures failures;
  std::vector<std::thread> threads;
  for (size_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      std::vector<size_t> mine;
      for (size_t i = t; i < inputs().size(); i += kThreads) mine.push_back(i);
      for (int round = 0; round < kRounds; ++round) {
        std::vector<std::pair<SubDoc *, int32_t>> docs;
        for (const size_t i : mine) {
          SubDoc *doc = nullptr;
          const int32_t rc = parse(inputs()[i], &doc);
          docs.emplace_back(doc, rc);
        }
        for (size_t k = docs.size(); k-- > 0;)
          check(mine[k], docs[k].first, docs[k].second, failures);
        // Forward, backward, then every other one first.
        std::vector<size_t> order(docs.size());
        for (size_t k = 0; k < order.size(); ++k) order[k] = k;
        if (round % 3 == 1) std::reverse(order.begin(), order.end());
        if (round % 3 == 2)
          std::stable_partition(order.begin(), order.end(), [](size_t k) { return k % 2 == 1; });
        for (const size_t k : order) sub_doc_free(docs[k].first);
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  failures.expect_none();
}

// Documents parsed on one thread are read and freed on another.
TEST_F(DocThreads, DocumentsMoveBetweenThreads) {
  constexpr size_t kProducers = kThreads / 2;
  constexpr int kRounds = 4;
  struct Parsed {
    size_t input;
    SubDoc *doc;
    int32_t rc;
  };
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<Parsed> queue;
  size_t producing = kProducers;
  Failures failures;
  std::vector<std::thread> threads;
  for (size_t p = 0; p < kProducers; ++p) {
    threads.emplace_back([&, p] {
      for (int round = 0; round < kRounds; ++round) {
        for (size_t i = p; i < inputs().size(); i += kProducers) {
          SubDoc *doc = nullptr;
          const int32_t rc = parse(inputs()[i], &doc);
          const std::lock_guard<std::mutex> lock(mutex);
          queue.push_back({i, doc, rc});
          ready.notify_one();
        }
      }
      const std::lock_guard<std::mutex> lock(mutex);
      --producing;
      ready.notify_all();
    });
  }
  for (size_t c = 0; c < kThreads - kProducers; ++c) {
    threads.emplace_back([&] {
      for (;;) {
        std::unique_lock<std::mutex> lock(mutex);
        ready.wait(lock, [&] { return !queue.empty() || producing == 0; });
        if (queue.empty()) return;
        const Parsed parsed = queue.front();
        queue.pop_front();
        lock.unlock();
        check(parsed.input, parsed.doc, parsed.rc, failures);
        sub_doc_free(parsed.doc);
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  failures.expect_none();
}

// Every document alive at once; eight threads then read and free them, each
// its share and from the last one back, so documents go in an order that is
// neither the order they were made in nor its reverse.
TEST_F(DocThreads, AllAliveThenFreedAcrossThreads) {
  std::vector<std::pair<SubDoc *, int32_t>> docs;
  for (const Input &in : inputs()) {
    SubDoc *doc = nullptr;
    const int32_t rc = parse(in, &doc);
    docs.emplace_back(doc, rc);
  }
  Failures failures;
  std::vector<std::thread> threads;
  for (size_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &docs, &failures] {
      std::vector<size_t> mine;
      for (size_t i = t; i < docs.size(); i += kThreads) mine.push_back(i);
      for (size_t k = mine.size(); k-- > 0;) {
        check(mine[k], docs[mine[k]].first, docs[mine[k]].second, failures);
        sub_doc_free(docs[mine[k]].first);
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  failures.expect_none();
}

// A host may keep its old code on the classic API on one thread while new
// code parses documents on others: neither may disturb the other.
TEST_F(DocThreads, ClassicOnOneThreadBesideDocuments) {
  constexpr int kRounds = 2;
  Failures failures;
  std::vector<std::thread> threads;
  threads.emplace_back([&failures] {
    for (int round = 0; round < kRounds; ++round) {
      for (size_t i = 0; i < inputs().size(); ++i) {
        const Input &in = inputs()[i];
        const int32_t rc = sub_parse(in.bytes.data(), in.bytes.size(), in.format, nullptr);
        const std::string diff = docdiff::difference(
            classic_alone()[i], docdiff::read_all(docdiff::kClassic, nullptr, rc));
        if (!diff.empty()) failures.add(i, "classic API: " + diff);
      }
    }
    sub_clear();
  });
  for (size_t t = 1; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      for (int round = 0; round < kRounds; ++round) {
        for (size_t i = t - 1; i < inputs().size(); i += kThreads - 1) {
          SubDoc *doc = nullptr;
          const int32_t rc = parse(inputs()[i], &doc);
          check(i, doc, rc, failures);
          sub_doc_free(doc);
        }
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  failures.expect_none();
}

}  // namespace
