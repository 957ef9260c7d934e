// The command-line host, run as a separate process: argument handling, file
// and standard-input reading, exit codes and what goes to which stream.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// A private directory for the inputs, so parallel runs do not meet.
const std::string &work_dir() {
  static const std::string dir = [] {
    std::string path = ::testing::TempDir() + "subparse_cli_" + std::to_string(getpid()) + "/";
    fs::create_directories(path);
    return path;
  }();
  return dir;
}

std::string write_input(const std::string &name, const std::string &bytes) {
  const std::string path = work_dir() + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string quote(const std::string &arg) {
  std::string quoted = "'";
  for (const char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// `s` with every "{in}" replaced by `path`.
std::string with_path(const std::string &s, const std::string &path) {
  std::string result;
  size_t from = 0;
  for (size_t at; (at = s.find("{in}", from)) != std::string::npos; from = at + 4)
    result += s.substr(from, at - from) + path;
  return result + s.substr(from);
}

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

// Runs the tool with `args`; standard input comes from `stdin_path` or is empty.
Outcome run_cli(const std::vector<std::string> &args, const std::string &stdin_path = "") {
  std::string command = quote(SUBPARSE_CLI);
  for (const auto &arg : args) command.append(" ").append(quote(arg));
  command.append(" <").append(stdin_path.empty() ? "/dev/null" : quote(stdin_path));
  Outcome run{};
  run.code = subtest::run_command(command, &run.out, &run.err);
  return run;
}

// `ascii` as UTF-16LE with a byte-order mark.
std::string utf16le(const std::string &ascii) {
  std::string out = "\xFF\xFE";
  for (const char c : ascii) out.append({c, '\0'});
  return out;
}

// The value of "format" in the tool's JSON output; "" when there is none.
std::string json_format(const std::string &json) {
  const std::string key = "{\"format\":\"";
  if (json.compare(0, key.size(), key) != 0) return "";
  return json.substr(key.size(), json.find('"', key.size()) - key.size());
}

class Cli : public ::testing::Test {
 protected:
  static void TearDownTestSuite() { fs::remove_all(work_dir()); }
};

TEST_F(Cli, HelpDescribesEveryOptionAndExitCode) {
  for (const char *flag : {"--help", "-h"}) {
    SCOPED_TRACE(flag);
    const Outcome run = run_cli({flag});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.err, "");
    for (const char *needle :
         {"-f FORMAT", "-e ENCODING", "--detect", "--cues",   "FILE|-",    "auto",
          "srt",       "vtt",         "ass",      "microdvd", "subviewer", "ttml",
          "ytxml",     "lrc",         "sami",     "bilibili", "acfun",     "warning: ",
          "64",        "66",          "\\n",      "\\r",      "\\\\",      "extension hint: ",
          "none"})
      EXPECT_NE(run.out.find(needle), std::string::npos) << "help lacks " << needle;
  }
}

TEST_F(Cli, VersionIsTheHeaders) {
  const Outcome run = run_cli({"--version"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "subparse " SUBPARSE_VERSION "\n");
  EXPECT_EQ(run.err, "");
}

// Every option the help lists has its entry in the man page, which carries
// the same version.
TEST(CliManPage, DocumentsEveryOptionOfTheHelp) {
  const std::string page = subtest::read_file(SUBPARSE_MAN_PAGE);
  EXPECT_NE(page.find("\"subparse " SUBPARSE_VERSION "\""), std::string::npos);
  const std::string help = run_cli({"--help"}).out;
  size_t options = 0;
  for (size_t at = help.find("\n  -"); at != std::string::npos; at = help.find("\n  -", at + 1)) {
    const size_t begin = at + 3;
    const size_t end = help.find_first_of(" ,", begin);
    std::string option = help.substr(begin, end - begin);
    ++options;
    // groff writes a literal hyphen as "\-".
    std::string escaped;
    for (char c : option) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_NE(page.find(escaped), std::string::npos) << "man page lacks " << option;
  }
  EXPECT_EQ(options, 6u);  // -f, -e, --cues, --detect, -h, --version
}

enum class Input { kFile, kStdin, kMissing, kDirectory };

struct Case {
  const char *name;
  std::vector<std::string> args;  // "{in}" stands for the input's path
  Input kind;
  std::string file;   // name of the input in the work directory
  std::string bytes;  // its content
  int code;
  std::string out;               // the whole standard output
  std::vector<std::string> err;  // substrings of standard error ("{in}" as above)
};

TEST_F(Cli, ExitCodesAndStreams) {
  const std::string utf16_odd = std::string("\xFF\xFEh\0i\0x", 7);
  std::string cp1252;  // eight lone E9 bytes: not UTF-8
  for (int i = 0; i < 8; ++i) cp1252 += "caf\xE9 ok\n";
  const std::string vtt = "WEBVTT\n\n00:01.000 --> 00:02.000\nhi\n";
  const std::string vtt_utf16 = utf16le(vtt);
  const std::string enoent = std::strerror(ENOENT);
  const std::string eisdir = std::strerror(EISDIR);

  // clang-format off
  const std::vector<Case> cases = {
      // Usage errors: nothing on standard output, the culprit named.
      {"no file", {}, Input::kFile, "a.txt", "hello", 64, "", {"subparse: "}},
      {"unknown option", {"--bogus", "{in}"}, Input::kFile, "a.txt", "hello", 64, "", {"--bogus"}},
      {"unknown format", {"-f", "xyz", "{in}"}, Input::kFile, "a.txt", "hello", 64, "", {"xyz"}},
      {"missing -e value", {"{in}", "-e"}, Input::kFile, "a.txt", "hello", 64, "", {"-e"}},
      {"missing -f value", {"{in}", "-f"}, Input::kFile, "a.txt", "hello", 64, "", {"-f"}},
      {"two files", {"{in}", "{in}"}, Input::kFile, "a.txt", "hello", 64, "", {"subparse: "}},
      // Unreadable inputs: 66 with the system's reason.
      {"missing file", {"{in}"}, Input::kMissing, "none.srt", "", 66, "",
       {"subparse: {in}: " + enoent + "\n"}},
      {"missing file with --detect", {"--detect", "{in}"}, Input::kMissing, "none.srt", "", 66, "",
       {"subparse: {in}: " + enoent + "\n"}},
      {"directory", {"{in}"}, Input::kDirectory, "dir.srt", "", 66, "",
       {"subparse: {in}: " + eisdir + "\n"}},
      // Parse failures: the code of sub_parse and its error text.
      {"empty file", {"{in}"}, Input::kFile, "empty.srt", "", 3, "",
       {"subparse: {in}: empty buffer (code 3)\n"}},
      {"nothing parses", {"{in}"}, Input::kFile, "a.txt", "hello", 5, "",
       {"subparse: {in}: all parsers failed (code 5)\n"}},
      {"explicit auto", {"-f", "auto", "{in}"}, Input::kFile, "a.txt", "hello", 5, "",
       {"all parsers failed (code 5)"}},
      {"--cues on a failed parse", {"--cues", "{in}"}, Input::kFile, "a.txt", "hello", 5, "",
       {"(code 5)"}},
      {"stdin", {"-"}, Input::kStdin, "in.txt", "hello", 5, "",
       {"subparse: -: all parsers failed (code 5)\n"}},
      {"empty stdin", {"-"}, Input::kStdin, "in.txt", "", 3, "",
       {"subparse: -: empty buffer (code 3)\n"}},
      {"UTF-16 with an odd trailing byte", {"{in}"}, Input::kFile, "utf16.txt", utf16_odd, 5, "",
       {"warning: encoding: replaced 1 invalid sequences with U+FFFD\n", "(code 5)"}},
      {"CP1252 fallback warns", {"{in}"}, Input::kFile, "latin.txt", cp1252, 5, "",
       {"warning: encoding: auto-detected as CP1252 (invalid UTF-8)\n", "(code 5)"}},
      // No error text from the library: the tool describes the code itself.
      {"UTF-16 mark and one byte", {"{in}"}, Input::kFile, "bad16.txt", "\xFF\xFE\x41", 2, "",
       {"subparse: {in}: ", " (code 2)\n"}},
      {"unknown encoding", {"-e", "no-such-enc", "{in}"}, Input::kFile, "a.txt", "hello", 2, "",
       {"subparse: {in}: iconv failed for encoding no-such-enc (code 2)\n"}},
      // --detect names what a parse chooses, and the extension's hint apart.
      {"detect vtt", {"--detect", "{in}"}, Input::kFile, "a.txt", vtt, 0,
       "vtt\nextension hint: none\n", {}},
      {"extension is only a hint", {"--detect", "{in}"}, Input::kFile, "movie.srt", "hello", 0,
       "none\nextension hint: srt\n", {}},
      {"hint from the last extension, any case", {"--detect", "{in}"}, Input::kFile,
       "movie.EN.SRT", "hello", 0, "none\nextension hint: srt\n", {}},
      {"content beats extension", {"--detect", "{in}"}, Input::kFile, "movie.srt", vtt, 0,
       "vtt\nextension hint: srt\n", {}},
      {"UTF-16 content beats extension", {"--detect", "{in}"}, Input::kFile, "movie16.srt",
       vtt_utf16, 0, "vtt\nextension hint: srt\n", {}},
      {"detect on an empty file", {"--detect", "{in}"}, Input::kFile, "song.lrc", "", 0,
       "none\nextension hint: lrc\n", {}},
      {"detect nothing", {"--detect", "{in}"}, Input::kFile, "a.txt", "hello", 0,
       "none\nextension hint: none\n", {}},
      {"detect on stdin has no name", {"--detect", "-"}, Input::kStdin, "movie.srt", "hello", 0,
       "none\nextension hint: none\n", {}},
      {"detect on stdin reads content", {"--detect", "-"}, Input::kStdin, "in.txt", vtt, 0,
       "vtt\nextension hint: none\n", {}},
      {"detect ignores -f", {"--detect", "-f", "srt", "{in}"}, Input::kFile, "a.txt", vtt, 0,
       "vtt\nextension hint: none\n", {}},
      {"detect prints no warnings", {"--detect", "{in}"}, Input::kFile, "latin.srt", cp1252, 0,
       "none\nextension hint: srt\n", {}},
      // ... but bytes it cannot decode fail as a parse does, -e included.
      {"detect with an unknown encoding", {"--detect", "-e", "no-such-enc", "{in}"},
       Input::kFile, "a.srt", vtt, 2, "",
       {"subparse: {in}: iconv failed for encoding no-such-enc (code 2)\n"}},
      {"detect on a UTF-16 mark and one byte", {"--detect", "{in}"}, Input::kFile, "bad16.srt",
       "\xFF\xFE\x41", 2, "", {"subparse: {in}: ", " (code 2)\n"}},
  };
  // clang-format on

  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = work_dir() + c.file;
    fs::remove_all(path);
    if (c.kind == Input::kDirectory) fs::create_directory(path);
    if (c.kind == Input::kFile || c.kind == Input::kStdin) write_input(c.file, c.bytes);

    std::vector<std::string> args = c.args;
    for (auto &arg : args) arg = with_path(arg, path);
    const Outcome run = run_cli(args, c.kind == Input::kStdin ? path : "");

    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_EQ(run.out, c.out);
    for (const std::string &pattern : c.err) {
      const std::string needle = with_path(pattern, path);
      EXPECT_NE(run.err.find(needle), std::string::npos) << "stderr: " << run.err;
    }
    if (c.code == 0) {
      EXPECT_EQ(run.err, "");
    }
  }
}

TEST_F(Cli, EveryFormatNameIsAccepted) {
  const std::string path = write_input("names.txt", "hello");
  for (int32_t id = -1; id < SUB_FMT_COUNT; ++id) {
    const std::string name = sub_format_name(id);
    SCOPED_TRACE(name);
    const Outcome run = run_cli({"-f", name, path});
    EXPECT_GE(run.code, 1) << run.err;
    EXPECT_LE(run.code, 5) << run.err;
    EXPECT_NE(run.err.find("subparse: " + path + ": "), std::string::npos) << run.err;
  }
}

TEST_F(Cli, RandomMegabyteFailsCleanly) {
  std::mt19937 rng(20240601);
  std::string noise(1 << 20, '\0');
  for (char &b : noise) b = static_cast<char>(rng() & 0xFF);
  const std::string path = write_input("noise.bin", noise);

  const Outcome run = run_cli({path});
  EXPECT_GE(run.code, 1) << run.err;
  EXPECT_LE(run.code, 5) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("(code " + std::to_string(run.code) + ")"), std::string::npos);

  const Outcome detect = run_cli({"--detect", path});
  EXPECT_EQ(detect.code, 0) << detect.err;
  EXPECT_EQ(detect.out, "none\nextension hint: none\n");
}

// --detect must name the format a parse of the same bytes reports, whatever
// the encoding and whatever the file name suggests.
TEST_F(Cli, DetectAgreesWithAParse) {
  const std::string srt = "1\n00:00:01,000 --> 00:00:02,000\nhello\n";
  const std::string lrc = "[00:01.00]la la\n[00:02.00]la\n";
  const std::string ass =
      "[Script Info]\nScriptType: v4.00+\n\n[Events]\nFormat: Layer, Start, End, Style, "
      "Text\nDialogue: 0,0:00:01.00,0:00:02.00,Default,hi\n";
  const std::string sami =
      "<SAMI><BODY><SYNC Start=1000><P>hi</P><SYNC Start=2000><P>&nbsp;</P></BODY></SAMI>\n";
  const std::string bilibili = "<?xml version=\"1.0\"?><i><d p=\"1,1,25,16777215\">hi</d></i>";
  struct Row {
    const char *name;
    const char *file;  // the name suggests another format than the content
    std::string bytes;
    const char *format;  // nullptr: whatever the parse chooses
  };
  const std::vector<Row> rows = {
      {"srt", "a.vtt", srt, "srt"},
      // Detection reads the raw bytes, so UTF-16 SRT is left to the fallback
      // order; --detect must follow it, whatever it picks.
      {"srt in UTF-16LE", "b.vtt", utf16le(srt), nullptr},
      {"lrc", "c.srt", lrc, "lrc"},
      {"lrc in UTF-16LE", "d.srt", utf16le(lrc), "lrc"},
      {"ass", "e.srt", ass, "ass"},
      {"ass in UTF-16LE", "f.srt", utf16le(ass), "ass"},
      {"sami", "g.srt", sami, "sami"},
      {"bilibili in UTF-16LE", "h.srt", utf16le(bilibili), "bilibili"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = write_input(row.file, row.bytes);
    const Outcome parse = run_cli({path});
    ASSERT_EQ(parse.code, 0) << parse.err;
    if (row.format) {
      EXPECT_EQ(json_format(parse.out), row.format) << parse.out;
    }
    const Outcome detect = run_cli({"--detect", path});
    EXPECT_EQ(detect.code, 0) << detect.err;
    const std::string hint = sub_format_name(sub_detect_format(nullptr, 0, row.file));
    EXPECT_EQ(detect.out, json_format(parse.out) + "\nextension hint: " + hint + "\n");
  }
}

// --cues keeps one output line per cue: line breaks inside a cue's line are
// escaped, and so is the backslash, so that the escapes read back as one
// meaning only.
TEST_F(Cli, CuesEscapeLineBreaksAndBackslashes) {
  struct Row {
    const char *name;
    const char *file;
    std::string bytes;
    std::string out;
  };
  const std::vector<Row> rows = {
      {"TTML text over two lines", "a.ttml",
       "<tt xmlns=\"http://www.w3.org/ns/ttml\"><body><div>"
       "<p begin=\"00:00:01.000\" end=\"00:00:02.000\">one\ntwo</p>"
       "<p begin=\"00:00:03.000\" end=\"00:00:04.000\">three</p></div></body></tt>",
       "0:00:01.000 --> 0:00:02.000  one\\ntwo\n0:00:03.000 --> 0:00:04.000  three\n"},
      {"SubViewer body over two lines", "a.sub",
       "[INFORMATION]\n[END INFORMATION]\n[SUBTITLE]\n"
       "00:00:01.00,00:00:02.00\none\ntwo[br]three\n\n00:00:03.00,00:00:04.00\nfour\n",
       "0:00:01.000 --> 0:00:02.000  one\\ntwo | three\n0:00:03.000 --> 0:00:04.000  four\n"},
      {"YouTube XML newline and carriage return", "a.xml",
       "<?xml version=\"1.0\"?><transcript>"
       "<text start=\"1\" dur=\"1\">one&#10;two&#13;three</text></transcript>",
       "0:00:01.000 --> 0:00:02.000  one\\ntwo\\rthree\n"},
      {"backslashes", "a.srt", "1\n00:00:01,000 --> 00:00:02,000\nC:\\new\\\\dir\\\nsecond\n",
       "0:00:01.000 --> 0:00:02.000  C:\\\\new\\\\\\\\dir\\\\ | second\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const Outcome run = run_cli({"--cues", write_input(row.file, row.bytes)});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, row.out);
    EXPECT_EQ(run.err, "");
  }
}

}  // namespace
