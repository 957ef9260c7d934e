// What a parse that runs out of memory answers, in the two APIs: the classic
// API keeps its old codes and texts, a document says SUB_ERR_NOMEM and shows
// nothing of what was cut short. The converter's own allocation (iconv_open,
// outside the allocation layer) is made to fail by standing in for it here.
#include <dlfcn.h>
#include <iconv.h>

#include <cerrno>
#include <string>

#include "test_support.h"

namespace {

bool g_iconv_open_fails = false;

}  // namespace

// Forwards to the C library's iconv_open unless a test wants it to fail.
extern "C" iconv_t iconv_open(const char *to, const char *from) {
  if (g_iconv_open_fails) {
    errno = ENOMEM;
    return reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)
  }
  using OpenFn = iconv_t (*)(const char *, const char *);
  static const auto real = reinterpret_cast<OpenFn>(dlsym(RTLD_NEXT, "iconv_open"));
  return real(to, from);
}

namespace {

struct Outcome {
  int32_t rc;
  const char *error;
  int32_t cues;
  int32_t format;
};

Outcome classic_outcome(int32_t rc) {
  return {rc, sub_last_error(), sub_cue_count(), sub_detected_format()};
}

// Parses through the document API; the document's JSON must be "{}" whenever
// the parse failed.
Outcome doc_outcome(const std::string &input, int32_t format, const char *encoding,
                    std::string *error) {
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.format = format;
  options.encoding = encoding;
  SubDoc *doc = nullptr;
  const int32_t rc = sub_doc_parse(input.data(), input.size(), &options, &doc);
  EXPECT_NE(doc, nullptr);
  *error = sub_doc_error(doc);
  const Outcome got{rc, error->c_str(), sub_doc_cue_count(doc), sub_doc_format(doc)};
  if (rc != SUB_OK) {
    EXPECT_STREQ(sub_doc_json(doc), "{}");
  }
  sub_doc_free(doc);
  return got;
}

void expect_outcome(const Outcome &got, const Outcome &want) {
  EXPECT_EQ(got.rc, want.rc);
  EXPECT_STREQ(got.error, want.error);
  EXPECT_EQ(got.cues, want.cues);
  EXPECT_EQ(got.format, want.format);
}

std::string srt_of(int cues) {
  std::string text;
  for (int i = 0; i < cues; ++i)
    text += std::to_string(i + 1) + "\n00:00:0" + std::to_string(i % 10) + ",000 --> 00:00:0" +
            std::to_string(i % 10) + ",500\nline\n\n";
  return text;
}

// Bytes that are not UTF-8 (more than seven invalid sequences) and that
// CP1252 converts.
const std::string latin1_srt =
    "1\n00:00:01,000 --> 00:00:02,000\n" + subtest::repeat("caf\xE9 ", 10) + "\n";

struct Row {
  const char *name;
  std::string input;
  int32_t format;
  const char *encoding;
  uint64_t fail_allocation;  // of a classic parse (a document takes one more first); 0: none
  bool every_after;          // and every later allocation fails too
  bool fail_iconv_open;
  Outcome classic;
  Outcome doc;
};

const Outcome doc_nomem{SUB_ERR_NOMEM, "out of memory", 0, SUB_FMT_AUTO};

}  // namespace

TEST(MemoryOutcomes, ClassicKeepsItsAnswersDocumentsSayOutOfMemory) {
  const std::string acfun = R"([{"c":"1.5,16777215,1,25","m":"hi"}])";
  // clang-format off
  const Row rows[] = {
      {"AcFun reader cannot hold the document", acfun, SUB_FMT_ACFUN, nullptr, 1, false, false,
       {SUB_ERR_NOCUES, "Acfun: invalid JSON", 0, SUB_FMT_AUTO}, doc_nomem},
      {"SRT cue array cannot grow past 16", srt_of(40), SUB_FMT_SRT, nullptr, 3, true, false,
       {SUB_OK, "oom", 16, SUB_FMT_SRT}, doc_nomem},
      {"named encoding, converter not had", latin1_srt, SUB_FMT_SRT, "gbk", 0, false, true,
       {SUB_ERR_DECODE, "iconv failed for encoding GBK", 0, SUB_FMT_AUTO}, doc_nomem},
      {"no encoding, fallback converters not had", latin1_srt, SUB_FMT_SRT, nullptr, 0, false, true,
       {SUB_OK, "", 1, SUB_FMT_SRT}, doc_nomem},
      {"the same with memory to spare", latin1_srt, SUB_FMT_SRT, nullptr, 0, false, false,
       {SUB_OK, "", 1, SUB_FMT_SRT}, {SUB_OK, "", 1, SUB_FMT_SRT}},
  };
  // clang-format on
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    g_iconv_open_fails = row.fail_iconv_open;
    sub_alloc_fail_at(row.fail_allocation, row.every_after);
    const int32_t rc = sub_parse(row.input.data(), row.input.size(), row.format, row.encoding);
    sub_alloc_fail_at(0, false);
    expect_outcome(classic_outcome(rc), row.classic);
    sub_clear();

    const int64_t live = sub_alloc_live();
    sub_alloc_fail_at(row.fail_allocation ? row.fail_allocation + 1 : 0, row.every_after);
    std::string error;
    const Outcome doc = doc_outcome(row.input, row.format, row.encoding, &error);
    sub_alloc_fail_at(0, false);
    g_iconv_open_fails = false;
    expect_outcome(doc, row.doc);
    EXPECT_EQ(sub_alloc_live(), live);
  }
}

// A host's options struct is read only as far as its size holds a member
// whole: a size that cuts through one leaves that member at its default.
TEST(MemoryOutcomes, OptionsAreReadOnlyAsFarAsTheirSizeHoldsAMember) {
  const std::string utf16 = std::string("\xFF\xFE", 2) + std::string("x\0", 2);
  struct SizeRow {
    size_t size;
    int32_t rc;
  };
  const size_t format_end = offsetof(SubParseOptions, format) + sizeof(int32_t);
  const SizeRow rows[] = {
      {0, SUB_ERR_NOCUES},                                        // all defaults: detection
      {format_end, SUB_ERR_FORMAT},                               // the format is read
      {offsetof(SubParseOptions, encoding) + 4, SUB_ERR_FORMAT},  // half a pointer is not
  };
  for (const SizeRow &row : rows) {
    SCOPED_TRACE(row.size);
    SubParseOptions options;
    sub_parse_options_init(&options);
    options.size = row.size;
    options.format = 42;
    // A pointer that must never be read: a size that does not hold it whole.
    options.encoding = reinterpret_cast<const char *>(1);  // NOLINT(performance-no-int-to-ptr)
    SubDoc *doc = nullptr;
    EXPECT_EQ(sub_doc_parse(utf16.data(), utf16.size(), &options, &doc), row.rc);
    sub_doc_free(doc);
  }
}
