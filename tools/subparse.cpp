// subparse: a command-line host of the library that uses only its public
// header and its document API. Reads a whole file (or standard input), parses
// it and prints the result as JSON, as one line per cue, only the format and
// encoding a parse chooses, or a short account of each of several files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "subparse.h"

namespace {

constexpr int exit_usage = 64;     // EX_USAGE
constexpr int exit_no_input = 66;  // EX_NOINPUT

constexpr const char *usage_text =
    "usage: subparse [-f FORMAT] [-e ENCODING] [-r READING] [--detect] [--cues] FILE|-\n"
    "       subparse [-f FORMAT] [-e ENCODING] [-r READING] --info FILE|-...\n"
    "       subparse --help | --version\n"
    "\n"
    "Parses a subtitle, lyrics or danmaku file and prints the result as one\n"
    "JSON document on standard output.\n"
    "\n"
    "  -f FORMAT    srt, vtt, ass, microdvd, subviewer, ttml, ytxml, lrc, sami,\n"
    "               bilibili, acfun, or auto (the default: detect the format)\n"
    "  -e ENCODING  input encoding, e.g. utf-8, utf-16le, cp1251, gbk, shift_jis\n"
    "               (any name iconv knows), or auto, the default: byte-order\n"
    "               mark, else UTF-16/UTF-32 recognised by their zero bytes,\n"
    "               else UTF-8 when the bytes are valid UTF-8, else a guess by\n"
    "               the charset detector, named in a warning\n"
    "               ('encoding: detected NAME'); an empty ENCODING ('') takes the\n"
    "               library's fixed rule: byte-order mark, else UTF-8, else CP1252\n"
    "  -r READING   standard (the default) or classic: how TTML and WebVTT are\n"
    "               read; the standard readings follow the formats' standards\n"
    "               (TTML timing, WebVTT cue identifiers and settings: JSON\n"
    "               \"id\", \"settings\")\n"
    "  --cues       print one line per cue instead of JSON:\n"
    "               START --> END  LINE | LINE  [danmaku mode, colour, size]\n"
    "               a line's LF shows as \\n, CR as \\r and a backslash as \\\\\n"
    "  --detect     print three lines: the format a parse with -f auto chooses\n"
    "               for the bytes (none when no parser reads them), then\n"
    "               'extension hint: NAME', the format the file name's extension\n"
    "               suggests (none for standard input or an unknown extension),\n"
    "               then 'encoding: NAME', the encoding the bytes were decoded\n"
    "               from (none for an empty input); -e applies, -f is ignored;\n"
    "               prints no cues and no warnings\n"
    "  --info       print a block for each FILE (several may be given), blocks\n"
    "               separated by a blank line: the file's name, then indented\n"
    "               'format: NAME', 'encoding: NAME', 'cues: N',\n"
    "               'first: TIME' (the earliest start of any cue), 'last: TIME'\n"
    "               (the latest end of any cue) and 'warning: TEXT' for each\n"
    "               warning; a file that fails shows 'error: TEXT (code N)' (or\n"
    "               'error: TEXT' when it cannot be read) and its warnings\n"
    "               instead; -f and -e apply; everything goes to standard output\n"
    "  -h, --help   print this help\n"
    "  --version    print the version\n"
    "\n"
    "FILE - reads standard input. Times show as H:MM:SS.mmm. Warnings go to\n"
    "standard error as 'warning: TEXT'. Exit status: 0 on success; 1 to 5 the\n"
    "failure code of the parse (1 unknown format, 2 decoding failed, 3 empty\n"
    "input, 4 out of memory, 5 nothing could be parsed); 64 usage error; 66\n"
    "unreadable file.\n"
    "--detect exits 0 when it names a format or none, and fails as a parse\n"
    "does only when the bytes cannot be decoded (2) or memory runs out (4).\n"
    "--info reports every file and exits 0 when all of them parsed, else with\n"
    "the status of the first file that failed (1 to 5, or 66).\n";

struct Options {
  int32_t format = SUB_FMT_AUTO;
  // Named rather than left to sub_parse_options_init(), so that the tool
  // detects the encoding whatever the library's default.
  const char *encoding = "auto";
  int32_t reading = SUB_READING_STANDARD;
  bool detect = false;
  bool cues = false;
  bool info = false;
  std::vector<const char *> paths;
};

int usage_error(const char *message, const char *arg) {
  std::fprintf(stderr, "subparse: %s%s%s\n", message, arg ? ": " : "", arg ? arg : "");
  std::fputs("Try 'subparse --help'.\n", stderr);
  return exit_usage;
}

// Maps a format name (or "auto") to its identifier; false when unknown.
bool format_by_name(std::string_view name, int32_t *format) {
  for (int32_t id = SUB_FMT_AUTO; id < SUB_FMT_COUNT; ++id) {
    if (name == sub_format_name(id)) {
      *format = id;
      return true;
    }
  }
  return false;
}

// Parses the command line; returns -1 to go on, else an exit status.
int parse_args(int argc, char **argv, Options *opt) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(usage_text, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::puts("subparse " SUBPARSE_VERSION);
      return 0;
    }
    if (arg == "--detect") {
      opt->detect = true;
    } else if (arg == "--info") {
      opt->info = true;
    } else if (arg == "--cues") {
      opt->cues = true;
    } else if (arg == "-f" || arg == "-e" || arg == "-r") {
      if (i + 1 >= argc) return usage_error("missing value for", argv[i]);
      const char *value = argv[++i];
      const std::string_view v = value;
      if (arg == "-e") {
        opt->encoding = value;
      } else if (arg == "-r") {
        if (v != "standard" && v != "classic") return usage_error("unknown reading", value);
        opt->reading = v == "standard" ? SUB_READING_STANDARD : SUB_READING_CLASSIC;
      } else if (!format_by_name(value, &opt->format)) {
        return usage_error("unknown format", value);
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage_error("unknown option", argv[i]);
    } else {
      opt->paths.push_back(argv[i]);
    }
  }
  if (opt->paths.empty()) return usage_error("no file given", nullptr);
  if (opt->info && (opt->detect || opt->cues))
    return usage_error("--info does not combine with", opt->detect ? "--detect" : "--cues");
  if (!opt->info && opt->paths.size() > 1)
    return usage_error("more than one file given", opt->paths[1]);
  return -1;
}

// Reads the whole file (or standard input for "-"); an error text on failure.
bool read_all(const char *path, std::string *data, std::string *error) {
  const bool is_stdin = std::string_view(path) == "-";
  const int fd = is_stdin ? STDIN_FILENO : open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    *error = std::strerror(EISDIR);
    if (!is_stdin) close(fd);
    return false;
  }
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    data->reserve(static_cast<size_t>(st.st_size));
  constexpr size_t chunk = 1 << 16;
  bool ok = true;
  for (;;) {
    const size_t used = data->size();
    data->resize(used + chunk);
    const ssize_t got = read(fd, data->data() + used, chunk);
    data->resize(used + (got > 0 ? static_cast<size_t>(got) : 0));
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      *error = std::strerror(errno);
      ok = false;
      break;
    }
  }
  if (!is_stdin) close(fd);
  return ok;
}

// Writes a time in milliseconds as [-]H:MM:SS.mmm.
void print_time(int32_t ms) {
  int64_t t = ms;
  const char *sign = "";
  if (t < 0) {
    sign = "-";
    t = -t;
  }
  std::printf("%s%" PRId64 ":%02" PRId64 ":%02" PRId64 ".%03" PRId64, sign, t / 3600000,
              t / 60000 % 60, t / 1000 % 60, t % 1000);
}

// Writes a text so that it stays on one output line: LF and CR become \n and
// \r, and a backslash doubles so that those two read back unambiguously.
void print_escaped(const char *line) {
  for (const char *p = line; *p; ++p) {
    switch (*p) {
      case '\n': std::fputs("\\n", stdout); break;
      case '\r': std::fputs("\\r", stdout); break;
      case '\\': std::fputs("\\\\", stdout); break;
      default: std::fputc(*p, stdout);
    }
  }
}

void print_cues(const SubDoc *doc) {
  const int32_t count = sub_doc_cue_count(doc);
  for (int32_t i = 0; i < count; ++i) {
    print_time(sub_doc_cue_start_ms(doc, i));
    std::fputs(" --> ", stdout);
    print_time(sub_doc_cue_end_ms(doc, i));
    std::fputs("  ", stdout);
    const int32_t lines = sub_doc_cue_line_count(doc, i);
    for (int32_t k = 0; k < lines; ++k) {
      if (k) std::fputs(" | ", stdout);
      if (const char *line = sub_doc_cue_line(doc, i, k)) print_escaped(line);
    }
    if (sub_doc_cue_is_danmu(doc, i))
      std::printf("  [mode %" PRId32 ", colour #%06" PRIX32 ", size %g]",
                  sub_doc_cue_danmu_mode(doc, i), sub_doc_cue_danmu_color(doc, i),
                  static_cast<double>(sub_doc_cue_danmu_fontsize(doc, i)));
    std::fputc('\n', stdout);
  }
}

// Explains a failure whose parse left no error text.
const char *describe_code(int32_t code) {
  switch (code) {
    case SUB_ERR_FORMAT: return "unknown format";
    case SUB_ERR_DECODE: return "decoding failed";
    case SUB_ERR_EMPTY: return "empty buffer";
    case SUB_ERR_NOMEM: return "out of memory";
    default: return "parse failed";
  }
}

void print_warnings(const SubDoc *doc) {
  for (int32_t i = 0; i < sub_doc_warning_count(doc); ++i)
    if (const char *warning = sub_doc_warning(doc, i))
      std::fprintf(stderr, "warning: %s\n", warning);
}

// The exit status a failed parse's code maps to.
int failure_status(int32_t code) { return code >= 1 && code <= 125 ? code : 1; }

// Reports a failed parse on standard error; returns the exit status it maps to.
int report_failure(const char *path, const SubDoc *doc, int32_t code) {
  // doc is NULL when memory ran out before a document existed: no error text.
  const char *error = sub_doc_error(doc);
  const char *message = error && *error ? error : describe_code(code);
  std::fprintf(stderr, "subparse: %s: %s (code %" PRId32 ")\n", path, message, code);
  return failure_status(code);
}

// Frees the document however main() leaves.
struct DocOwner {
  SubDoc *doc = nullptr;
  DocOwner() = default;
  DocOwner(const DocOwner &) = delete;
  DocOwner &operator=(const DocOwner &) = delete;
  ~DocOwner() { sub_doc_free(doc); }
};

// Parses the bytes as `format`, with the encoding of the tool's options, into
// owner->doc; returns the parse's code.
int32_t parse(const Options &opt, const std::string &data, int32_t format, DocOwner *owner) {
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.format = format;
  options.encoding = opt.encoding;
  options.reading = opt.reading;
  // An empty std::string still has a valid data() pointer; the library itself
  // answers "empty buffer" for a length of 0.
  return sub_doc_parse(data.data(), data.size(), &options, &owner->doc);
}

// The encoding a document was decoded from; "none" when nothing was decoded.
const char *encoding_name(const SubDoc *doc) {
  const char *name = sub_doc_encoding(doc);
  return name && *name ? name : "none";
}

// --detect: the format a parse with detection chooses for the bytes, then the
// extension's hint and the encoding, each on a line of its own. The hint stays
// apart because a parse never looks at the name; mixed in, it made --detect
// and a parse name different formats for one file.
int detect(const Options &opt, const char *path, const std::string &data) {
  DocOwner owner;
  const int32_t code = parse(opt, data, SUB_FMT_AUTO, &owner);
  // Undecodable bytes or a lack of memory say nothing about the format:
  // answering "none" would hide the reason (a mistyped -e, say).
  if (code == SUB_ERR_DECODE || code == SUB_ERR_NOMEM) {
    print_warnings(owner.doc);
    return report_failure(path, owner.doc, code);
  }
  const char *found = code == SUB_OK ? sub_format_name(sub_doc_format(owner.doc)) : "none";
  const bool is_stdin = std::string_view(path) == "-";
  const int32_t hint = is_stdin ? SUB_FMT_AUTO : sub_detect_format(nullptr, 0, path);
  std::printf("%s\nextension hint: %s\nencoding: %s\n", found,
              hint == SUB_FMT_AUTO ? "none" : sub_format_name(hint), encoding_name(owner.doc));
  return std::fflush(stdout) == 0 ? 0 : 1;
}

// One indented line of an --info block: "  KEY: TEXT", the text escaped as
// --cues escapes a cue's line, so that the block keeps its shape.
void print_field(const char *key, const char *text) {
  std::printf("  %s: ", key);
  print_escaped(text);
  std::fputc('\n', stdout);
}

void print_time_field(const char *key, int32_t ms, bool any) {
  std::printf("  %s: ", key);
  if (any) {
    print_time(ms);
  } else {
    std::fputs("none", stdout);
  }
  std::fputc('\n', stdout);
}

void print_warning_fields(const SubDoc *doc) {
  for (int32_t i = 0; i < sub_doc_warning_count(doc); ++i)
    if (const char *warning = sub_doc_warning(doc, i)) print_field("warning", warning);
}

// --info for one file: its block on standard output. Returns 0, or the exit
// status its failure maps to.
int info(const Options &opt, const char *path) {
  print_escaped(path);
  std::fputc('\n', stdout);
  std::string data;
  std::string error;
  if (!read_all(path, &data, &error)) {
    print_field("error", error.c_str());
    return exit_no_input;
  }
  DocOwner owner;
  const int32_t code = parse(opt, data, opt.format, &owner);
  if (code != SUB_OK) {
    const char *text = sub_doc_error(owner.doc);
    std::string message = text && *text ? text : describe_code(code);
    message += " (code " + std::to_string(code) + ")";
    print_field("error", message.c_str());
    print_warning_fields(owner.doc);
    return failure_status(code);
  }
  const SubDoc *doc = owner.doc;
  const int32_t count = sub_doc_cue_count(doc);
  // Cues keep the order of the file, which need not be the order of time.
  int32_t first = 0, last = 0;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t start = sub_doc_cue_start_ms(doc, i), end = sub_doc_cue_end_ms(doc, i);
    if (i == 0 || start < first) first = start;
    if (i == 0 || end > last) last = end;
  }
  print_field("format", sub_format_name(sub_doc_format(doc)));
  print_field("encoding", encoding_name(doc));
  std::printf("  cues: %" PRId32 "\n", count);
  print_time_field("first", first, count > 0);
  print_time_field("last", last, count > 0);
  print_warning_fields(doc);
  return 0;
}

// --info over every file, in the order given: all are reported whatever
// fails; the status is the first failure's.
int info_all(const Options &opt) {
  int status = 0;
  for (size_t i = 0; i < opt.paths.size(); ++i) {
    if (i) std::fputc('\n', stdout);
    const int file_status = info(opt, opt.paths[i]);
    if (status == 0) status = file_status;
  }
  return std::fflush(stdout) == 0 ? status : 1;
}

}  // namespace

int main(int argc, char **argv) {
  Options opt;
  if (const int status = parse_args(argc, argv, &opt); status >= 0) return status;
  if (opt.info) return info_all(opt);

  const char *path = opt.paths.front();
  std::string data;
  std::string error;
  if (!read_all(path, &data, &error)) {
    std::fprintf(stderr, "subparse: %s: %s\n", path, error.c_str());
    return exit_no_input;
  }

  if (opt.detect) return detect(opt, path, data);

  DocOwner owner;
  const int32_t code = parse(opt, data, opt.format, &owner);
  print_warnings(owner.doc);
  if (code != SUB_OK) return report_failure(path, owner.doc, code);
  if (opt.cues) {
    print_cues(owner.doc);
  } else {
    const char *json = sub_doc_json(owner.doc);
    if (!json) return report_failure(path, nullptr, SUB_ERR_NOMEM);
    std::printf("%s\n", json);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
