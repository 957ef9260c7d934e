// subparse: a command-line host of the library that uses only its public
// header. Reads a whole file (or standard input), parses it and prints the
// result as JSON, as one line per cue, or only the detected format.
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

#include "subparse.h"

namespace {

constexpr int exit_usage = 64;     // EX_USAGE
constexpr int exit_no_input = 66;  // EX_NOINPUT

constexpr const char *usage_text =
    "usage: subparse [-f FORMAT] [-e ENCODING] [--detect] [--cues] FILE|-\n"
    "       subparse --help | --version\n"
    "\n"
    "Parses a subtitle, lyrics or danmaku file and prints the result as one\n"
    "JSON document on standard output.\n"
    "\n"
    "  -f FORMAT    srt, vtt, ass, microdvd, subviewer, ttml, ytxml, lrc, sami,\n"
    "               bilibili, acfun, or auto (the default: detect the format)\n"
    "  -e ENCODING  input encoding, e.g. utf-8, utf-16le, cp1252, gbk, shift_jis\n"
    "               (default: byte-order mark, else UTF-8, else CP1252)\n"
    "  --cues       print one line per cue instead of JSON:\n"
    "               START --> END  LINE | LINE  [danmaku mode, colour, size]\n"
    "  --detect     print the detected format name only, without parsing\n"
    "  -h, --help   print this help\n"
    "  --version    print the version\n"
    "\n"
    "FILE - reads standard input. Warnings go to standard error as\n"
    "'warning: TEXT'. Exit status: 0 on success; 1 to 5 the failure code of\n"
    "the parse (1 unknown format, 2 decoding failed, 3 empty input, 4 out of\n"
    "memory, 5 nothing could be parsed); 64 usage error; 66 unreadable file.\n";

struct Options {
  int32_t format = -1;
  const char *encoding = nullptr;
  bool detect = false;
  bool cues = false;
  const char *path = nullptr;
};

int usage_error(const char *message, const char *arg) {
  std::fprintf(stderr, "subparse: %s%s%s\n", message, arg ? ": " : "", arg ? arg : "");
  std::fputs("Try 'subparse --help'.\n", stderr);
  return exit_usage;
}

// Maps a format name (or "auto") to its identifier; -2 when unknown.
int32_t format_by_name(std::string_view name) {
  if (name == "auto") return -1;
  for (int32_t id = 0; id < 64; ++id) {
    const std::string_view known = sub_format_name(id);
    if (known == "unknown") break;
    if (known == name) return id;
  }
  return -2;
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
    } else if (arg == "--cues") {
      opt->cues = true;
    } else if (arg == "-f" || arg == "-e") {
      if (i + 1 >= argc) return usage_error("missing value for", argv[i]);
      const char *value = argv[++i];
      if (arg == "-e") {
        opt->encoding = value;
      } else if ((opt->format = format_by_name(value)) == -2) {
        return usage_error("unknown format", value);
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage_error("unknown option", argv[i]);
    } else if (opt->path) {
      return usage_error("more than one file given", argv[i]);
    } else {
      opt->path = argv[i];
    }
  }
  if (!opt->path) return usage_error("no file given", nullptr);
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

void print_cues() {
  const int32_t count = sub_cue_count();
  for (int32_t i = 0; i < count; ++i) {
    print_time(sub_cue_start_ms(i));
    std::fputs(" --> ", stdout);
    print_time(sub_cue_end_ms(i));
    std::fputs("  ", stdout);
    const int32_t lines = sub_cue_line_count(i);
    for (int32_t k = 0; k < lines; ++k) {
      if (k) std::fputs(" | ", stdout);
      std::fputs(sub_cue_line(i, k), stdout);
    }
    if (sub_cue_is_danmu(i))
      std::printf("  [mode %" PRId32 ", colour #%06" PRIX32 ", size %g]", sub_cue_danmu_mode(i),
                  sub_cue_danmu_color(i), static_cast<double>(sub_cue_danmu_fontsize(i)));
    std::fputc('\n', stdout);
  }
}

// Explains a failure whose parse left no error text.
const char *describe_code(int32_t code) {
  switch (code) {
    case 1: return "unknown format";
    case 2: return "decoding failed";
    case 3: return "empty buffer";
    case 4: return "out of memory";
    default: return "parse failed";
  }
}

}  // namespace

int main(int argc, char **argv) {
  Options opt;
  if (const int status = parse_args(argc, argv, &opt); status >= 0) return status;

  std::string data;
  std::string error;
  if (!read_all(opt.path, &data, &error)) {
    std::fprintf(stderr, "subparse: %s: %s\n", opt.path, error.c_str());
    return exit_no_input;
  }

  if (opt.detect) {
    const bool is_stdin = std::string_view(opt.path) == "-";
    const int32_t format =
        sub_detect_format(data.data(), data.size(), is_stdin ? nullptr : opt.path);
    std::printf("%s\n", sub_format_name(format));
    return 0;
  }

  // An empty std::string still has a valid data() pointer; the library itself
  // answers "empty buffer" for a length of 0.
  const int32_t code = sub_parse(data.data(), data.size(), opt.format, opt.encoding);
  for (int32_t i = 0; i < sub_warning_count(); ++i)
    if (const char *warning = sub_warning(i)) std::fprintf(stderr, "warning: %s\n", warning);
  if (code != 0) {
    const char *message = *sub_last_error() ? sub_last_error() : describe_code(code);
    std::fprintf(stderr, "subparse: %s: %s (code %" PRId32 ")\n", opt.path, message, code);
    return code >= 1 && code <= 125 ? code : 1;
  }
  if (opt.cues)
    print_cues();
  else
    std::printf("%s\n", sub_result_json());
  return std::fflush(stdout) == 0 ? 0 : 1;
}
