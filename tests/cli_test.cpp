// The command-line host, run as a separate process: argument handling, file
// and standard-input reading, exit codes and what goes to which stream.
#include <gtest/gtest.h>
#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
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
  std::string path = work_dir() + name;
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

// `bytes` converted from the encoding `from` to `to` by iconv; a conversion
// that fails ends the test, as the row that asked for it is wrong.
std::string convert(const std::string &bytes, const char *from, const char *to) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr)
    ADD_FAILURE() << "iconv has no " << from << " -> " << to;
    return "";
  }
  std::string in = bytes, out(bytes.size() * 4 + 16, '\0');
  char *src = in.data();
  char *dst = out.data();
  size_t src_left = in.size(), dst_left = out.size();
  const size_t done = iconv(cd, &src, &src_left, &dst, &dst_left);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1) || src_left != 0) {
    ADD_FAILURE() << "cannot convert " << testing::PrintToString(bytes) << " from " << from
                  << " to " << to;
    return "";
  }
  out.resize(out.size() - dst_left);
  return out;
}

// An SRT file of two cues, one line each, at 1-3 s and 4-6 s.
std::string two_cue_srt(const std::string &first, const std::string &second) {
  return "1\n00:00:01,000 --> 00:00:03,000\n" + first + "\n\n2\n00:00:04,000 --> 00:00:06,000\n" +
         second + "\n";
}

// What --cues prints for two_cue_srt().
std::string two_cue_lines(const std::string &first, const std::string &second) {
  return "0:00:01.000 --> 0:00:03.000  " + first + "\n0:00:04.000 --> 0:00:06.000  " + second +
         "\n";
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
    for (const char *needle : {"-f FORMAT",
                               "-e ENCODING",
                               "--detect",
                               "--cues",
                               "--info",
                               "FILE|-",
                               "auto",
                               "srt",
                               "vtt",
                               "ass",
                               "microdvd",
                               "subviewer",
                               "ttml",
                               "ytxml",
                               "lrc",
                               "sami",
                               "bilibili",
                               "acfun",
                               "warning: ",
                               "64",
                               "66",
                               "\\n",
                               "\\r",
                               "\\\\",
                               "extension hint: ",
                               "none",
                               "encoding: ",
                               "cues: ",
                               "first: ",
                               "last: ",
                               "error: ",
                               "earliest",
                               "latest",
                               "encoding: detected ",
                               "''",
                               "--to FORMAT",
                               "-o OUT",
                               "-d DIR",
                               "--force",
                               "--fps FROM:TO",
                               "--shift TIME",
                               "--sort",
                               "--microdvd-fps RATE",
                               "--option=VALUE",
                               "'--'",
                               "webvtt",
                               "dfxp",
                               "json",
                               "73",
                               "74",
                               "worst",
                               "subparse --to srt -o movie.srt movie.ttml",
                               "subparse --fps 25:23.976",
                               " -d ",
                               "[WRITE]",
                               "--ass-res WxH",
                               "1920x1080",
                               "--danmaku-drop-modes LIST",
                               "4,5,7",
                               "6.5",
                               "danmaku: 12 comments dropped: no free row",
                               "subparse --to ass --ass-res 1280x720"})
      EXPECT_NE(run.out.find(needle), std::string::npos) << "help lacks " << needle;
  }
}

TEST_F(Cli, VersionIsTheHeaders) {
  const Outcome run = run_cli({"--version"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "subparse " SUBPARSE_VERSION "\n");
  EXPECT_EQ(run.err, "");
}

// Every option the help lists, short and long names alike, has its entry in
// the man page, which carries the same version.
TEST(CliManPage, DocumentsEveryOptionOfTheHelp) {
  const std::string page = subtest::read_file(SUBPARSE_MAN_PAGE);
  EXPECT_NE(page.find("\"subparse " SUBPARSE_VERSION "\""), std::string::npos);
  const std::string help = run_cli({"--help"}).out;
  size_t options = 0;
  for (size_t at = help.find("\n  -"); at != std::string::npos; at = help.find("\n  -", at + 1)) {
    // The option column runs to two spaces or the end of the line.
    const size_t begin = at + 3;
    const std::string line = help.substr(begin, help.find('\n', begin) - begin);
    const std::string column = line.substr(0, line.find("  "));
    ++options;
    for (size_t from = 0; from < column.size();) {
      const size_t end = std::min(column.find_first_of(" ,", from), column.size());
      const std::string option = column.substr(from, end - from);
      from = end + 1;
      if (option.empty() || option[0] != '-') continue;
      // groff writes a literal hyphen as "\-".
      std::string escaped;
      for (char c : option) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
      EXPECT_NE(page.find(escaped), std::string::npos) << "man page lacks " << option;
    }
  }
  // -f, -e, -r, --microdvd-fps, --cues, --detect, --info, --to, -o, -d,
  // --force, --fps, --shift, --sort, 5 writing and 9 danmaku options, -h,
  // --version
  EXPECT_EQ(options, 30u);
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
      {"--info and --detect", {"--info", "--detect", "{in}"}, Input::kFile, "a.txt", "hello", 64,
       "", {"--detect"}},
      {"--info and --cues", {"--cues", "--info", "{in}"}, Input::kFile, "a.txt", "hello", 64, "",
       {"--cues"}},
      {"--info without a file", {"--info"}, Input::kFile, "a.txt", "hello", 64, "",
       {"no file given"}},
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
      {"the fixed rule's CP1252 fallback warns", {"-e", "", "{in}"}, Input::kFile, "latin.txt",
       cp1252, 5, "", {"warning: encoding: auto-detected as CP1252 (invalid UTF-8)\n", "(code 5)"}},
      {"a guessed encoding warns", {"{in}"}, Input::kFile, "latin.txt", cp1252, 5, "",
       {"warning: encoding: detected CP1252\n", "(code 5)"}},
      // No error text from the library: the tool describes the code itself.
      {"UTF-16 mark and one byte", {"{in}"}, Input::kFile, "bad16.txt", "\xFF\xFE\x41", 2, "",
       {"subparse: {in}: ", " (code 2)\n"}},
      {"unknown encoding", {"-e", "no-such-enc", "{in}"}, Input::kFile, "a.txt", "hello", 2, "",
       {"subparse: {in}: iconv failed for encoding no-such-enc (code 2)\n"}},
      // --detect names what a parse chooses, and the extension's hint apart.
      {"detect vtt", {"--detect", "{in}"}, Input::kFile, "a.txt", vtt, 0,
       "vtt\nextension hint: none\nencoding: UTF-8\n", {}},
      {"extension is only a hint", {"--detect", "{in}"}, Input::kFile, "movie.srt", "hello", 0,
       "none\nextension hint: srt\nencoding: UTF-8\n", {}},
      {"hint from the last extension, any case", {"--detect", "{in}"}, Input::kFile,
       "movie.EN.SRT", "hello", 0, "none\nextension hint: srt\nencoding: UTF-8\n", {}},
      {"content beats extension", {"--detect", "{in}"}, Input::kFile, "movie.srt", vtt, 0,
       "vtt\nextension hint: srt\nencoding: UTF-8\n", {}},
      {"UTF-16 content beats extension", {"--detect", "{in}"}, Input::kFile, "movie16.srt",
       vtt_utf16, 0, "vtt\nextension hint: srt\nencoding: UTF-16LE\n", {}},
      {"detect on an empty file", {"--detect", "{in}"}, Input::kFile, "song.lrc", "", 0,
       "none\nextension hint: lrc\nencoding: none\n", {}},
      {"detect nothing", {"--detect", "{in}"}, Input::kFile, "a.txt", "hello", 0,
       "none\nextension hint: none\nencoding: UTF-8\n", {}},
      {"detect on stdin has no name", {"--detect", "-"}, Input::kStdin, "movie.srt", "hello", 0,
       "none\nextension hint: none\nencoding: UTF-8\n", {}},
      {"detect on stdin reads content", {"--detect", "-"}, Input::kStdin, "in.txt", vtt, 0,
       "vtt\nextension hint: none\nencoding: UTF-8\n", {}},
      {"detect ignores -f", {"--detect", "-f", "srt", "{in}"}, Input::kFile, "a.txt", vtt, 0,
       "vtt\nextension hint: none\nencoding: UTF-8\n", {}},
      {"detect prints no warnings", {"--detect", "-e", "", "{in}"}, Input::kFile, "latin.srt",
       cp1252, 0, "none\nextension hint: srt\nencoding: CP1252\n", {}},
      {"detect names a named encoding", {"--detect", "-e", "cp1252", "{in}"}, Input::kFile,
       "latin.srt", cp1252, 0, "none\nextension hint: srt\nencoding: CP1252\n", {}},
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
  EXPECT_EQ(detect.out.substr(0, detect.out.find("encoding: ")), "none\nextension hint: none\n");
}

// The value of "KEY: " on its own line of the tool's output ("  KEY: " in an
// --info block); "" when there is none.
std::string field(const std::string &out, const std::string &key) {
  for (const std::string &prefix : {key + ": ", "  " + key + ": "}) {
    for (size_t at = 0; at < out.size(); at = out.find('\n', at) + 1) {
      if (out.compare(at, prefix.size(), prefix) == 0) {
        const size_t begin = at + prefix.size();
        return out.substr(begin, out.find('\n', begin) - begin);
      }
      if (out.find('\n', at) == std::string::npos) break;
    }
  }
  return "";
}

// --detect and --info must name the format a parse of the same bytes
// reports, whatever the encoding and whatever the file name suggests, and
// both the same encoding.
TEST_F(Cli, DetectAndInfoAgreeWithAParse) {
  const std::string srt = "1\n00:00:01,000 --> 00:00:02,000\nhello\n";
  const std::string lrc = "[00:01.00]la la\n[00:02.00]la\n";
  const std::string ass =
      "[Script Info]\nScriptType: v4.00+\n\n[Events]\nFormat: Layer, Start, End, Style, "
      "Text\nDialogue: 0,0:00:01.00,0:00:02.00,Default,hi\n";
  const std::string sami =
      "<SAMI><BODY><SYNC Start=1000><P>hi</P><SYNC Start=2000><P>&nbsp;</P></BODY></SAMI>\n";
  const std::string bilibili = "<?xml version=\"1.0\"?><i><d p=\"1,1,25,16777215\">hi</d></i>";
  const std::string russian =
      two_cue_srt("Привет, как у тебя дела сегодня?", "Всё хорошо, спасибо. Пойдём домой.");
  const std::string chinese = two_cue_srt("你好，今天过得怎么样？", "我很好，谢谢你。我们回家吧。");
  struct Row {
    const char *name;
    const char *file;  // the name suggests another format than the content
    std::string bytes;
    const char *format;    // nullptr: whatever the parse chooses
    const char *encoding;  // the encoding both must name
  };
  const std::vector<Row> rows = {
      {"srt", "a.vtt", srt, "srt", "UTF-8"},
      // Detection reads the raw bytes, so UTF-16 SRT is left to the fallback
      // order; --detect must follow it, whatever it picks.
      {"srt in UTF-16LE", "b.vtt", utf16le(srt), nullptr, "UTF-16LE"},
      {"srt in UTF-16LE without a mark", "b2.vtt", utf16le(srt).substr(2), nullptr, "UTF-16LE"},
      {"lrc", "c.srt", lrc, "lrc", "UTF-8"},
      {"lrc in UTF-16LE", "d.srt", utf16le(lrc), "lrc", "UTF-16LE"},
      {"ass", "e.srt", ass, "ass", "UTF-8"},
      {"ass in UTF-16LE", "f.srt", utf16le(ass), "ass", "UTF-16LE"},
      {"sami", "g.srt", sami, "sami", "UTF-8"},
      {"bilibili in UTF-16LE", "h.srt", utf16le(bilibili), "bilibili", "UTF-16LE"},
      {"srt in CP1251", "i.lrc", convert(russian, "UTF-8", "CP1251"), "srt", "CP1251"},
      {"srt in GBK", "j.lrc", convert(chinese, "UTF-8", "GBK"), "srt", "GB18030"},
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
    EXPECT_EQ(detect.out, json_format(parse.out) + "\nextension hint: " + hint +
                              "\nencoding: " + row.encoding + "\n");
    const Outcome info = run_cli({"--info", path});
    EXPECT_EQ(info.code, 0) << info.out;
    EXPECT_EQ(field(info.out, "format"), json_format(parse.out)) << info.out;
    EXPECT_EQ(field(info.out, "encoding"), row.encoding) << info.out;
  }
}

// The tool detects the encoding unless told otherwise: a guess is named in a
// warning, a named encoding is taken as it is, and an empty name keeps the
// library's fixed rule (UTF-8, else CP1252).
TEST_F(Cli, EncodingIsDetectedUnlessNamed) {
  const std::string ru1 = "Привет, как у тебя дела сегодня?", ru2 = "Всё хорошо, спасибо.";
  const std::string zh1 = "你好，今天过得怎么样？", zh2 = "我很好，谢谢你。我们回家吧。";
  const std::string tw1 = "你好，今天過得怎麼樣？", tw2 = "我很好，謝謝你。我們回家吧。";
  const std::string ja1 = "今日はとても良い天気ですね。", ja2 = "そうですね、散歩に行きましょう。";
  const std::string ko1 = "안녕하세요, 오늘 어떻게 지내세요?", ko2 = "잘 지내요, 고마워요.";
  const std::string el1 = "Καλημέρα, τι κάνεις σήμερα;", el2 = "Είμαι καλά, ευχαριστώ.";
  const std::string fr1 = "Ça va très bien, merci beaucoup.", fr2 = "Où est la gare ?";
  const std::string guessed = "warning: encoding: detected {enc}\n";
  const std::string fixed_rule = "warning: encoding: auto-detected as CP1252 (invalid UTF-8)\n";
  struct Row {
    const char *name;
    std::vector<std::string> args;  // before the file
    std::string first, second;      // the cues' lines, as UTF-8
    const char *written;            // the file's encoding
    const char *encoding;           // what the tool must name; "" for any name
    std::string err;                // all of standard error; {enc} is the name
    const char *read_as = nullptr;  // the text decoded as this, when not `written`
  };
  // clang-format off
  const std::vector<Row> rows = {
      {"Russian in CP1251", {}, ru1, ru2, "CP1251", "CP1251", guessed},
      {"Russian in KOI8-R", {}, ru1, ru2, "KOI8-R", "KOI8-R", guessed},
      {"simplified Chinese in GBK", {}, zh1, zh2, "GBK", "GB18030", guessed},
      {"simplified Chinese in GB18030", {}, zh1, zh2, "GB18030", "GB18030", guessed},
      {"traditional Chinese in Big5", {}, tw1, tw2, "BIG5", "BIG5", guessed},
      {"Japanese in Shift_JIS", {}, ja1, ja2, "SHIFT_JIS", "SHIFT_JIS", guessed},
      {"Korean in EUC-KR", {}, ko1, ko2, "EUC-KR", "CP949", guessed},
      // Greek reads the same in CP1253 and ISO-8859-7: either will do, as
      // long as the text comes out right. Latin text that CP1252 reads is
      // named CP1252.
      {"Greek in CP1253", {}, el1, el2, "CP1253", "", guessed},
      {"French in CP1252", {}, fr1, fr2, "CP1252", "CP1252", guessed},
      {"French in ISO-8859-1", {}, fr1, fr2, "ISO-8859-1", "CP1252", guessed},
      {"one accented letter is not left to U+FFFD", {}, "café", "ok", "CP1252", "CP1252",
       guessed},
      {"UTF-8 is taken without a warning", {}, zh1, ru2, "UTF-8", "UTF-8", ""},
      {"UTF-16LE without a mark", {}, "hello", "there", "UTF-16LE", "UTF-16LE", guessed},
      {"UTF-16BE without a mark", {}, ru1, ru2, "UTF-16BE", "UTF-16BE", guessed},
      {"-e auto", {"-e", "auto"}, ru1, ru2, "CP1251", "CP1251", guessed},
      {"-e AUTO", {"-e", "AUTO"}, zh1, zh2, "GBK", "GB18030", guessed},
      {"-e Auto", {"-e", "Auto"}, ja1, ja2, "SHIFT_JIS", "SHIFT_JIS", guessed},
      {"a named encoding is taken as it is", {"-e", "cp1251"}, ru1, ru2, "CP1251", "CP1251", ""},
      {"a named encoding that reads otherwise", {"-e", "KOI8-R"}, ru1, ru2, "CP1251", "KOI8-R",
       "", "KOI8-R"},
      {"an empty name keeps the fixed rule", {"-e", ""}, ru1, ru2, "CP1251", "CP1252", fixed_rule,
       "CP1252"},
  };
  // clang-format on
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string bytes = convert(two_cue_srt(row.first, row.second), "UTF-8", row.written);
    const std::string path = write_input("enc.srt", bytes);
    const auto with = [&](const char *option) {
      std::vector<std::string> args = row.args;
      args.push_back(option);
      args.push_back(path);
      return args;
    };
    const Outcome detect = run_cli(with("--detect"));
    ASSERT_EQ(detect.code, 0) << detect.err;
    const std::string encoding = field(detect.out, "encoding");
    if (*row.encoding) {
      EXPECT_EQ(encoding, row.encoding);
    } else {
      EXPECT_NE(encoding, "");
      EXPECT_NE(encoding, "UTF-8");
    }

    const Outcome cues = run_cli(with("--cues"));
    EXPECT_EQ(cues.code, 0) << cues.err;
    const char *read_as = row.read_as ? row.read_as : row.written;
    const auto text = [&](const std::string &utf8) {
      return convert(convert(utf8, "UTF-8", row.written), read_as, "UTF-8");
    };
    EXPECT_EQ(cues.out, two_cue_lines(text(row.first), text(row.second)));
    std::string err = row.err;
    if (const size_t at = err.find("{enc}"); at != std::string::npos) err.replace(at, 5, encoding);
    EXPECT_EQ(cues.err, err);
  }
}

// --info: one block per file in the order given, every file reported
// whatever the others give, the worst (highest) status of theirs, nothing on
// standard error.
TEST_F(Cli, InfoReportsEveryFile) {
  // Out of order on purpose: the span runs from the earliest start to the
  // latest end, which neither the first nor the last cue holds.
  const std::string srt =
      "1\n00:00:05,000 --> 00:00:06,000\nfive\n\n"
      "2\n00:00:01,000 --> 00:01:09,500\nlong\n\n"
      "3\n00:00:07,000 --> 00:00:08,250\nseven\n";
  const std::string srt_block =
      "  format: srt\n  encoding: UTF-8\n  cues: 3\n"
      "  first: 0:00:01.000\n  last: 0:01:09.500\n";
  const std::string vtt = "WEBVTT\n\n01:00:00.000 --> 01:00:02.000\nhi\n";
  const std::string vtt_block =
      "  format: vtt\n  encoding: UTF-8\n  cues: 1\n"
      "  first: 1:00:00.000\n  last: 1:00:02.000\n";
  const std::string russian =
      convert(two_cue_srt("Привет, как у тебя дела сегодня?", "Всё хорошо, спасибо. Пойдём домой."),
              "UTF-8", "CP1251");
  const std::string enoent = std::strerror(ENOENT);
  struct File {
    std::string name;
    std::optional<std::string> bytes;  // nullopt: the file is not there
  };
  struct Row {
    const char *name;
    std::vector<std::string> args;  // "{0}", "{1}", ...: the files' paths
    std::vector<File> files;
    int code;
    std::string out;   // "{0}", "{1}", ... as in args
    std::string in{};  // standard input
  };
  // clang-format off
  const std::vector<Row> rows = {
      {"one file", {"--info", "{0}"}, {{"a.srt", srt}}, 0, "{0}\n" + srt_block},
      {"two files", {"--info", "{0}", "{1}"}, {{"a.srt", srt}, {"b.vtt", vtt}}, 0,
       "{0}\n" + srt_block + "\n{1}\n" + vtt_block},
      {"the same file twice", {"{0}", "--info", "{0}"}, {{"a.srt", srt}}, 0,
       "{0}\n" + srt_block + "\n{0}\n" + srt_block},
      {"failures among them", {"--info", "{0}", "{1}", "{2}", "{3}", "{4}"},
       {{"a.srt", srt}, {"prose.txt", "hello"}, {"none.srt", std::nullopt}, {"empty.srt", ""},
        {"b.vtt", vtt}}, 66,
       "{0}\n" + srt_block + "\n{1}\n  error: all parsers failed (code 5)\n\n{2}\n  error: " +
           enoent + "\n\n{3}\n  error: empty buffer (code 3)\n\n{4}\n" + vtt_block},
      {"an unreadable file first gives the status", {"--info", "{0}", "{1}", "{2}"},
       {{"none.srt", std::nullopt}, {"prose.txt", "hello"}, {"a.srt", srt}}, 66,
       "{0}\n  error: " + enoent + "\n\n{1}\n  error: all parsers failed (code 5)\n\n{2}\n" +
           srt_block},
      {"the worst status, not the first", {"--info", "{0}", "{1}", "{2}"},
       {{"empty.srt", ""}, {"prose.txt", "hello"}, {"a.srt", srt}}, 5,
       "{0}\n  error: empty buffer (code 3)\n\n{1}\n  error: all parsers failed (code 5)\n\n"
       "{2}\n" + srt_block},
      // Retiming applies before the span is measured: the rate first, then
      // the shift (1000 * 0.5 + 500, not (1000 + 500) * 0.5).
      {"--shift and --fps apply", {"--info", "--shift", "500", "--fps", "25:50", "{0}"},
       {{"a.srt", srt}}, 0,
       "{0}\n  format: srt\n  encoding: UTF-8\n  cues: 3\n"
       "  first: 0:00:01.000\n  last: 0:00:35.250\n"},
      {"a guessed encoding and its warning", {"--info", "{0}"}, {{"ru.srt", russian}}, 0,
       "{0}\n  format: srt\n  encoding: CP1251\n  cues: 2\n  first: 0:00:01.000\n"
       "  last: 0:00:06.000\n  warning: encoding: detected CP1251\n"},
      {"-e applies", {"--info", "-e", "cp1251", "{0}"}, {{"ru.srt", russian}}, 0,
       "{0}\n  format: srt\n  encoding: CP1251\n  cues: 2\n  first: 0:00:01.000\n"
       "  last: 0:00:06.000\n"},
      {"a failure keeps its warnings", {"--info", "-e", "", "{0}"},
       {{"latin.txt", subtest::repeat("caf\xE9 ok\n", 8)}}, 5,
       "{0}\n  error: all parsers failed (code 5)\n"
       "  warning: encoding: auto-detected as CP1252 (invalid UTF-8)\n"},
      {"-f applies", {"--info", "-f", "lrc", "{0}"}, {{"a.srt", srt}}, 5,
       "{0}\n  error: no LRC lyrics (code 5)\n"},
      {"undecodable bytes", {"--info", "-e", "no-such-enc", "{0}"}, {{"a.srt", srt}}, 2,
       "{0}\n  error: iconv failed for encoding no-such-enc (code 2)\n"},
      {"standard input", {"--info", "-", "{0}"}, {{"b.vtt", vtt}}, 0,
       "-\n" + srt_block + "\n{0}\n" + vtt_block, srt},
      // The name is escaped as --cues escapes a line, so the block keeps its
      // shape.
      {"a line feed in the name", {"--info", "{0}"}, {{"line\nfeed.srt", srt}}, 0,
       "{0}\n" + srt_block},
  };
  // clang-format on
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> paths;
    for (const File &file : row.files) {
      const std::string path = work_dir() + file.name;
      fs::remove(path);
      if (file.bytes) write_input(file.name, *file.bytes);
      paths.push_back(path);
    }
    const auto substitute = [&](std::string s, bool escape) {
      for (size_t i = 0; i < paths.size(); ++i) {
        std::string path = paths[i];
        if (escape) {
          for (size_t at; (at = path.find('\n')) != std::string::npos;) path.replace(at, 1, "\\n");
        }
        std::string key = "{";
        key.append(std::to_string(i)).append("}");
        for (size_t at; (at = s.find(key)) != std::string::npos;) s.replace(at, key.size(), path);
      }
      return s;
    };
    std::vector<std::string> args;
    for (const std::string &arg : row.args) args.push_back(substitute(arg, false));
    const std::string in = write_input("stdin.txt", row.in);
    const Outcome run = run_cli(args, in);
    EXPECT_EQ(run.code, row.code);
    EXPECT_EQ(run.out, substitute(row.out, true));
    EXPECT_EQ(run.err, "");
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
    std::string reading = "standard";
  };
  const std::vector<Row> rows = {
      // The classic TTML reading keeps the line break of the text; the
      // standard one folds it into a space, as XML white space goes.
      {"TTML text over two lines", "a.ttml",
       "<tt xmlns=\"http://www.w3.org/ns/ttml\"><body><div>"
       "<p begin=\"00:00:01.000\" end=\"00:00:02.000\">one\ntwo</p>"
       "<p begin=\"00:00:03.000\" end=\"00:00:04.000\">three</p></div></body></tt>",
       "0:00:01.000 --> 0:00:02.000  one\\ntwo\n0:00:03.000 --> 0:00:04.000  three\n", "classic"},
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
    const Outcome run = run_cli({"--cues", "-r", row.reading, write_input(row.file, row.bytes)});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, row.out);
    EXPECT_EQ(run.err, "");
  }
}

// Runs the tool with `dir` as its working directory, so that arguments name
// files as a user would (even "-x.srt"). `setup` runs in the same shell first
// (a umask, a file size limit); `redirect` follows the command (">/dev/full").
Outcome run_cli_in(const std::string &dir, const std::vector<std::string> &args,
                   const std::string &in = "", const std::string &setup = "",
                   const std::string &redirect = "") {
  std::string command = "cd " + quote(dir) + " && " + setup + quote(SUBPARSE_CLI);
  for (const auto &arg : args) command.append(" ").append(quote(arg));
  command.append(" <").append(in.empty() ? "/dev/null" : quote(in)).append(redirect);
  Outcome run{};
  run.code = subtest::run_command(command, &run.out, &run.err);
  return run;
}

// A fresh, empty directory for one row of a table.
std::string fresh_dir(const std::string &name) {
  std::string dir = work_dir() + name + "/";
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// The files under `dir` named as the tool names its temporary files
// (".NAME.XXXXXX", six letters or digits at the end): none may be left behind.
std::vector<std::string> temporary_files(const std::string &dir) {
  std::vector<std::string> found;
  for (const auto &entry : fs::recursive_directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    const size_t n = name.size();
    if (n < 9 || name[0] != '.' || name[n - 7] != '.') continue;
    if (std::all_of(name.end() - 6, name.end(), [](char c) { return std::isalnum(c) != 0; }))
      found.push_back(entry.path().string());
  }
  return found;
}

const std::string kOneTwoSrt = two_cue_srt("one", "two");
// What the SRT writer makes of kOneTwoSrt.
const std::string kOneTwoSrtOut =
    "1\n00:00:01,000 --> 00:00:03,000\none\n\n2\n00:00:04,000 --> 00:00:06,000\ntwo\n\n";
const std::string kOneTwoJson =
    "{\"format\":\"srt\",\"cues\":[{\"start\":1000,\"end\":3000,\"lines\":[\"one\"]},"
    "{\"start\":4000,\"end\":6000,\"lines\":[\"two\"]}]}\n";

// Standard error holds `want`, or is empty when `want` is.
void expect_stderr(const std::string &err, const std::string &want) {
  if (want.empty()) {
    EXPECT_EQ(err, "");
  } else {
    EXPECT_NE(err.find(want), std::string::npos) << "stderr: " << err;
  }
}

// A file or directory made before a run.
struct Made {
  std::string name;
  std::string bytes;
  bool directory = false;
};

// A file as a run must leave it: its whole content, or absent.
struct Left {
  std::string name;
  std::optional<std::string> bytes;
};

struct ConvertRow {
  const char *name;
  std::vector<std::string> args;  // relative to the row's directory
  std::vector<Made> made;
  int code;
  std::string out;              // all of standard output
  std::string err;              // a substring of standard error; "" means none at all
  std::vector<Left> left = {};  // files after the run
  std::string in{};             // standard input
  std::string setup{};          // shell commands before the run
  std::string in_file{};        // a file of the row's directory as standard input instead
};

// Runs each row in a directory of its own and checks the exit status, both
// streams, the files the run leaves and that no temporary file is left.
void run_rows(const char *table, const std::vector<ConvertRow> &rows) {
  int index = 0;
  for (const ConvertRow &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string dir = fresh_dir(std::string(table) + std::to_string(index++));
    for (const Made &made : row.made) {
      if (made.directory) {
        fs::create_directories(dir + made.name);
      } else {
        fs::create_directories(fs::path(dir + made.name).parent_path());
        std::ofstream(dir + made.name, std::ios::binary) << made.bytes;
      }
    }
    std::string in = work_dir() + table + "_stdin.txt";
    std::ofstream(in, std::ios::binary) << row.in;
    if (!row.in_file.empty()) in = dir + row.in_file;
    const Outcome run = run_cli_in(dir, row.args, in, row.setup);
    EXPECT_EQ(run.code, row.code) << run.err;
    EXPECT_EQ(run.out, row.out);
    expect_stderr(run.err, row.err);
    for (const Left &left : row.left) {
      SCOPED_TRACE(left.name);
      const bool exists = fs::exists(dir + left.name);
      EXPECT_EQ(exists, left.bytes.has_value());
      if (exists && left.bytes) {
        EXPECT_EQ(subtest::read_file(dir + left.name), *left.bytes);
      }
    }
    EXPECT_EQ(temporary_files(dir), std::vector<std::string>{});
  }
}

// --to converts to standard output, -o or -d; retiming applies first.
TEST_F(Cli, ConvertsAndRetimes) {
  const std::string vtt =
      "WEBVTT\n\n00:01.000 --> 00:03.000\none\n\n00:04.000 --> 00:06.000\ntwo\n";
  const std::string unsorted =
      "1\n00:00:05,000 --> 00:00:06,000\nlate\n\n2\n00:00:01,000 --> 00:00:02,000\nearly\n\n"
      "3\n00:00:01,000 --> 00:00:03,000\nearly too\n";
  const std::string bilibili = "<?xml version=\"1.0\"?><i><d p=\"1.5,1,25,16777215\">hi</d></i>";
  const std::string microdvd = "{25}{50}hello\n{100}{125}bye\n";
  const std::string shifted_2s =
      "0:00:03.000 --> 0:00:05.000  one\n0:00:06.000 --> 0:00:08.000  two\n";
  const std::string earlier_half =
      "0:00:00.500 --> 0:00:02.500  one\n0:00:03.500 --> 0:00:05.500  two\n";
  const std::string from_25_to_23976 =
      "0:00:01.043 --> 0:00:03.128  one\n0:00:04.171 --> 0:00:06.256  two\n";
  const Made srt{"a.srt", kOneTwoSrt};
  // clang-format off
  const std::vector<ConvertRow> rows = {
      {"SRT to standard output", {"--to", "srt", "a.srt"}, {srt}, 0, kOneTwoSrtOut, ""},
      {"WebVTT to SRT", {"--to", "srt", "a.vtt"}, {{"a.vtt", vtt}}, 0, kOneTwoSrtOut, ""},
      {"JSON ends with a line break, as the default output", {"--to", "json", "a.srt"}, {srt}, 0,
       kOneTwoJson, ""},
      {"the default output", {"a.srt"}, {srt}, 0, kOneTwoJson, ""},
      {"standard input", {"--to", "srt", "-"}, {}, 0, kOneTwoSrtOut, "", {}, kOneTwoSrt},
      {"-o writes a new file", {"--to", "srt", "-o", "out.srt", "a.vtt"}, {{"a.vtt", vtt}}, 0, "",
       "", {{"out.srt", kOneTwoSrtOut}, {"a.vtt", vtt}}},
      {"-o replaces a file that is not the input", {"--to", "json", "-o", "old.txt", "a.srt"},
       {srt, {"old.txt", "old text"}}, 0, "", "", {{"old.txt", kOneTwoJson}}},
      {"-o from standard input", {"--to", "srt", "-o", "out.srt", "-"}, {}, 0, "", "",
       {{"out.srt", kOneTwoSrtOut}}, kOneTwoSrt},
      // Format names in any case, aliases, and the --option=value forms.
      {"--to=SubRip", {"--to=SubRip", "a.vtt"}, {{"a.vtt", vtt}}, 0, kOneTwoSrtOut, ""},
      {"--to .SRT", {"--to", ".SRT", "a.vtt"}, {{"a.vtt", vtt}}, 0, kOneTwoSrtOut, ""},
      {"--to JSON", {"--to", "JSON", "a.srt"}, {srt}, 0, kOneTwoJson, ""},
      {"--output= and --format=", {"--to=srt", "--output=out.srt", "--format=WEBVTT", "a.txt"},
       {{"a.txt", vtt}}, 0, "", "", {{"out.srt", kOneTwoSrtOut}}},
      {"short options with their values attached", {"--to=srt", "-oout.srt", "-fvtt", "a.txt"},
       {{"a.txt", vtt}}, 0, "", "", {{"out.srt", kOneTwoSrtOut}}},
      {"-f XML reads Bilibili", {"--cues", "-f", "XML", "a.txt"}, {{"a.txt", bilibili}}, 0,
       "0:00:01.500 --> 0:00:04.500  hi  [mode 1, colour #FFFFFF, size 25]\n", ""},
      {"-f Sub reads MicroDVD", {"--cues", "--format=Sub", "a.txt"}, {{"a.txt", microdvd}}, 0,
       "0:00:01.000 --> 0:00:02.000  hello\n0:00:04.000 --> 0:00:05.000  bye\n", ""},
      {"--encoding= and --reading=", {"--cues", "--encoding=utf-8", "--reading=classic", "a.vtt"},
       {{"a.vtt", vtt}}, 0, two_cue_lines("one", "two"), ""},
      // '--' ends the options.
      {"a file named like an option after --", {"--to", "srt", "--", "-x.srt"},
       {{"-x.srt", kOneTwoSrt}}, 0, kOneTwoSrtOut, ""},
      {"the same file without --", {"--to", "srt", "-x.srt"}, {{"-x.srt", kOneTwoSrt}}, 64, "",
       "unknown option: -x.srt"},
      {"'--' and '-' after it", {"--cues", "--", "-"}, {}, 0, two_cue_lines("one", "two"), "", {},
       kOneTwoSrt},
      // Retiming: --shift in milliseconds or as a clock, --fps, --sort.
      {"--shift milliseconds", {"--cues", "--shift", "2000", "a.srt"}, {srt}, 0, shifted_2s, ""},
      {"--shift +milliseconds", {"--cues", "--shift=+2000", "a.srt"}, {srt}, 0, shifted_2s, ""},
      {"--shift -milliseconds", {"--cues", "--shift", "-500", "a.srt"}, {srt}, 0, earlier_half,
       ""},
      {"--shift hh:mm:ss.mmm", {"--cues", "--shift", "00:00:02.000", "a.srt"}, {srt}, 0,
       shifted_2s, ""},
      {"--shift -mm:ss.m", {"--cues", "--shift=-00:00.5", "a.srt"}, {srt}, 0, earlier_half, ""},
      {"--shift ss.mmm", {"--cues", "--shift", "2.000", "a.srt"}, {srt}, 0, shifted_2s, ""},
      {"--shift h:mm:ss", {"--cues", "--shift", "1:00:00", "a.srt"}, {srt}, 0,
       "1:00:01.000 --> 1:00:03.000  one\n1:00:04.000 --> 1:00:06.000  two\n", ""},
      {"--shift before zero", {"--cues", "--shift", "-60000", "a.srt"}, {srt}, 0,
       "-0:00:59.000 --> -0:00:57.000  one\n-0:00:56.000 --> -0:00:54.000  two\n", ""},
      // The SRT writer writes a time before zero as zero.
      {"SRT after a shift before zero", {"--to", "srt", "--shift", "-2000", "a.srt"}, {srt}, 0,
       "1\n00:00:00,000 --> 00:00:01,000\none\n\n2\n00:00:02,000 --> 00:00:04,000\ntwo\n\n", ""},
      {"--fps 25:23.976 lengthens", {"--cues", "--fps", "25:23.976", "a.srt"}, {srt}, 0,
       from_25_to_23976, ""},
      {"--fps with a ratio", {"--cues", "--fps=30000/1001:25", "a.srt"}, {srt}, 0,
       "0:00:01.199 --> 0:00:03.596  one\n0:00:04.795 --> 0:00:07.193  two\n", ""},
      // The rate applies before the shift, wherever they are written.
      {"--shift and --fps", {"--cues", "--shift", "1000", "--fps", "25:50", "a.srt"}, {srt}, 0,
       "0:00:01.500 --> 0:00:02.500  one\n0:00:03.000 --> 0:00:04.000  two\n", ""},
      {"--fps and --shift", {"--cues", "--fps", "25:50", "--shift", "1000", "a.srt"}, {srt}, 0,
       "0:00:01.500 --> 0:00:02.500  one\n0:00:03.000 --> 0:00:04.000  two\n", ""},
      {"--sort keeps cues that start together in order", {"--cues", "--sort", "u.srt"},
       {{"u.srt", unsorted}}, 0,
       "0:00:01.000 --> 0:00:02.000  early\n0:00:01.000 --> 0:00:03.000  early too\n"
       "0:00:05.000 --> 0:00:06.000  late\n", ""},
      {"without --sort the file's order stays", {"--cues", "u.srt"}, {{"u.srt", unsorted}}, 0,
       "0:00:05.000 --> 0:00:06.000  late\n0:00:01.000 --> 0:00:02.000  early\n"
       "0:00:01.000 --> 0:00:03.000  early too\n", ""},
      {"retimed SRT in a file", {"--to", "srt", "--sort", "--shift", "1000", "-o", "o.srt", "u.srt"},
       {{"u.srt", unsorted}}, 0, "", "",
       {{"o.srt", "1\n00:00:02,000 --> 00:00:03,000\nearly\n\n2\n00:00:02,000 --> 00:00:04,000\n"
                  "early too\n\n3\n00:00:06,000 --> 00:00:07,000\nlate\n\n"}}},
      {"--microdvd-fps", {"--cues", "--microdvd-fps", "50", "a.sub"}, {{"a.sub", microdvd}}, 0,
       "0:00:00.500 --> 0:00:01.000  hello\n0:00:02.000 --> 0:00:02.500  bye\n", ""},
      {"--microdvd-fps= with a ratio", {"--cues", "--microdvd-fps=24000/1001", "a.sub"},
       {{"a.sub", microdvd}}, 0,
       "0:00:01.042 --> 0:00:02.085  hello\n0:00:04.170 --> 0:00:05.213  bye\n", ""},
      {"a rate declared by the file wins", {"--cues", "--microdvd-fps", "50", "a.sub"},
       {{"a.sub", "{1}{1}25\n" + microdvd}}, 0,
       "0:00:01.000 --> 0:00:02.000  hello\n0:00:04.000 --> 0:00:05.000  bye\n", ""},
      // A failed parse writes nothing.
      {"a parse failure", {"--to", "srt", "-o", "out.srt", "p.txt"}, {{"p.txt", "hello"}}, 5, "",
       "subparse: p.txt: all parsers failed (code 5)", {{"out.srt", std::nullopt}}},
  };
  // clang-format on
  run_rows("convert", rows);
}

// An output file is replaced in one step: a write that fails leaves the
// target as it was and no temporary file behind; an input is replaced only
// with --force, whatever name the output gives it.
TEST_F(Cli, OutputFilesAreReplacedAtomically) {
  const Made srt{"a.srt", kOneTwoSrt};
  const std::string big = subtest::repeat(kOneTwoSrt + "\n", 2000);
  const std::string enoent = std::strerror(ENOENT);
  // clang-format off
  const std::vector<ConvertRow> rows = {
      {"into a missing directory", {"--to", "srt", "-o", "none/out.srt", "a.srt"}, {srt}, 73, "",
       "subparse: none/out.srt: cannot create a file in none: " + enoent,
       {{"none", std::nullopt}}},
      {"onto a directory", {"--to", "srt", "-o", "d", "a.srt"}, {srt, {"d/keep", "kept"}}, 73, "",
       "subparse: d: cannot replace the file: " + std::string(std::strerror(EISDIR)),
       {{"d/keep", "kept"}}},
      // A file size limit makes the write itself fail half way.
      {"a write that fails half way", {"--to", "srt", "-o", "old.srt", "big.srt"},
       {{"big.srt", big}, {"old.srt", "old text"}}, 73, "",
       "subparse: old.srt: cannot write: " + std::string(std::strerror(EFBIG)),
       {{"old.srt", "old text"}}, "", "trap '' XFSZ; ulimit -f 1; "},
      {"a device is written in place", {"--to", "srt", "-o", "/dev/full", "a.srt"}, {srt}, 73, "",
       "subparse: /dev/full: cannot write: " + std::string(std::strerror(ENOSPC))},
      {"the input is not replaced", {"--to", "json", "-o", "a.srt", "a.srt"}, {srt}, 73, "",
       "subparse: a.srt: is an input file; not replaced (--force replaces it)",
       {{"a.srt", kOneTwoSrt}}},
      {"nor under another name", {"--to", "json", "-o", "d/../a.srt", "./a.srt"},
       {srt, {"d", "", true}}, 73, "", "is an input file", {{"a.srt", kOneTwoSrt}}},
      {"nor through a link", {"--to", "json", "-o", "link.srt", "a.srt"}, {srt}, 73, "",
       "is an input file", {{"a.srt", kOneTwoSrt}}, "", "ln -s a.srt link.srt && "},
      {"nor when read from standard input", {"--to", "json", "-o", "a.srt", "-"}, {srt}, 73, "",
       "is an input file", {{"a.srt", kOneTwoSrt}}, "", "", "a.srt"},
      {"--force replaces it", {"--force", "--to", "json", "-o", "a.srt", "a.srt"}, {srt}, 0, "",
       "", {{"a.srt", kOneTwoJson}}},
      {"--force through a link keeps the link", {"--force", "--to", "json", "-o", "link.srt",
       "a.srt"}, {srt}, 0, "", "", {{"a.srt", kOneTwoJson}, {"link.srt", kOneTwoJson}}, "",
       "ln -s a.srt link.srt && "},
  };
  // clang-format on
  run_rows("atomic", rows);

  // The link of the last row stays a link.
  const std::string dir = work_dir() + "atomic" + std::to_string(rows.size() - 1) + "/";
  EXPECT_TRUE(fs::is_symlink(dir + "link.srt"));
}

// A read-only directory refuses the temporary file; the target stays.
TEST_F(Cli, ReadOnlyDirectoryLeavesTheTarget) {
  const std::string dir = fresh_dir("readonly");
  write_input("readonly/a.srt", kOneTwoSrt);
  fs::create_directories(dir + "ro");
  std::ofstream(dir + "ro/old.srt") << "old text";
  fs::permissions(dir + "ro", fs::perms::owner_read | fs::perms::owner_exec);
  const bool writable = access((dir + "ro").c_str(), W_OK) == 0;  // as root
  if (!writable) {
    const Outcome run = run_cli_in(dir, {"--to", "srt", "-o", "ro/old.srt", "a.srt"});
    EXPECT_EQ(run.code, 73);
    EXPECT_NE(run.err.find("subparse: ro/old.srt: cannot create a file in ro: " +
                           std::string(std::strerror(EACCES))),
              std::string::npos)
        << run.err;
    EXPECT_EQ(subtest::read_file(dir + "ro/old.srt"), "old text");
  }
  fs::permissions(dir + "ro", fs::perms::owner_all);
  EXPECT_EQ(temporary_files(dir), std::vector<std::string>{});
  if (writable) GTEST_SKIP() << "the directory stays writable for this user (root)";
}

// A replaced file keeps its mode; a new one gets 0666 less the umask, not
// the 0600 of a temporary file.
TEST_F(Cli, OutputFileModes) {
  const std::string dir = fresh_dir("modes");
  write_input("modes/a.srt", kOneTwoSrt);
  const auto mode_of = [&](const std::string &name) {
    return fs::status(dir + name).permissions() & fs::perms::all;
  };
  EXPECT_EQ(run_cli_in(dir, {"--to", "srt", "-o", "new.srt", "a.srt"}, "", "umask 022; ").code, 0);
  EXPECT_EQ(mode_of("new.srt"), fs::perms(0644));
  EXPECT_EQ(run_cli_in(dir, {"--to", "srt", "-o", "new2.srt", "a.srt"}, "", "umask 007; ").code, 0);
  EXPECT_EQ(mode_of("new2.srt"), fs::perms(0660));
  std::ofstream(dir + "old.srt") << "old";
  fs::permissions(dir + "old.srt", fs::perms(0640));
  EXPECT_EQ(run_cli_in(dir, {"--to", "srt", "-o", "old.srt", "a.srt"}, "", "umask 022; ").code, 0);
  EXPECT_EQ(mode_of("old.srt"), fs::perms(0640));
  EXPECT_EQ(subtest::read_file(dir + "old.srt"), kOneTwoSrtOut);
}

// Several files: -d writes one file per input, every file is handled
// whatever the others give, and the status is the worst of theirs.
TEST_F(Cli, SeveralFilesIntoADirectory) {
  const std::string vtt =
      "WEBVTT\n\n00:01.000 --> 00:03.000\none\n\n00:04.000 --> 00:06.000\ntwo\n";
  const std::string lrc = "[00:01.00]la\n[00:02.50]lo\n";
  const std::string lrc_srt =
      "1\n00:00:01,000 --> 00:00:02,500\nla\n\n2\n00:00:02,500 --> 00:00:05,500\nlo\n\n";
  const Made srt{"a.srt", kOneTwoSrt};
  const Made out{"out", "", true};
  const std::string enoent = std::strerror(ENOENT);
  // clang-format off
  const std::vector<ConvertRow> rows = {
      {"one file per input, named after it", {"--to", "json", "-d", "out", "a.srt", "sub/b.vtt",
       "c.en.srt", "noext", ".hidden.srt"},
       {srt, out, {"sub/b.vtt", vtt}, {"c.en.srt", kOneTwoSrt}, {"noext", kOneTwoSrt},
        {".hidden.srt", kOneTwoSrt}}, 0, "", "",
       {{"out/a.json", kOneTwoJson}, {"out/b.json", "{\"format\":\"vtt\"" + kOneTwoJson.substr(
        std::string("{\"format\":\"srt\"").size())}, {"out/c.en.json", kOneTwoJson},
        {"out/noext.json", kOneTwoJson}, {"out/.hidden.json", kOneTwoJson}}},
      {"-d= and a trailing slash, one input", {"--to=srt", "--output-dir=out/", "a.lrc"},
       {out, {"a.lrc", lrc}}, 0, "", "", {{"out/a.srt", lrc_srt}}},
      {"the retiming applies to every file", {"--to", "srt", "--shift", "-1000", "-d", "out",
       "a.srt", "b.srt"}, {srt, out, {"b.srt", kOneTwoSrt}}, 0, "", "",
       {{"out/a.srt", "1\n00:00:00,000 --> 00:00:02,000\none\n\n2\n00:00:03,000 --> 00:00:05,000\n"
                      "two\n\n"},
        {"out/b.srt", "1\n00:00:00,000 --> 00:00:02,000\none\n\n2\n00:00:03,000 --> 00:00:05,000\n"
                      "two\n\n"}}},
      {"failures do not stop the others; the worst status", {"--to", "srt", "-d", "out",
       "empty.srt", "p.txt", "a.srt"}, {srt, out, {"empty.srt", ""}, {"p.txt", "hello"}}, 5, "",
       "subparse: p.txt: all parsers failed (code 5)",
       {{"out/a.srt", kOneTwoSrtOut}, {"out/empty.srt", std::nullopt},
        {"out/p.srt", std::nullopt}}},
      {"an unreadable file is worse than a parse failure", {"--to", "srt", "-d", "out", "p.txt",
       "none.srt", "a.srt"}, {srt, out, {"p.txt", "hello"}}, 66, "",
       "subparse: none.srt: " + enoent, {{"out/a.srt", kOneTwoSrtOut}}},
      {"an unwritable output is worse still", {"--to", "srt", "-d", "missing", "a.srt",
       "none.srt"}, {srt}, 73, "", "subparse: missing/a.srt: cannot create a file in missing"},
      {"an output onto an input is refused, the rest written", {"--to", "srt", "-d", ".",
       "a.srt", "b.vtt"}, {srt, {"b.vtt", vtt}}, 73, "", "subparse: ./a.srt: is an input file",
       {{"a.srt", kOneTwoSrt}, {"b.srt", kOneTwoSrtOut}}},
      // b.vtt's output would replace c.srt, which is read after it.
      {"an input read later is not replaced either", {"--to", "json", "-d", ".", "b.vtt",
       "c.json.txt"}, {{"b.vtt", vtt}, {"c.json.txt", kOneTwoSrt}, {"b.json", "old"}}, 0, "", "",
       {{"b.json", "{\"format\":\"vtt\"" + kOneTwoJson.substr(15)}, {"c.json.json", kOneTwoJson}}},
      {"an input read later", {"--to", "srt", "-d", ".", "b.vtt", "b.srt"},
       {{"b.vtt", vtt}, {"b.srt", kOneTwoSrt}}, 73, "", "subparse: ./b.srt: is an input file",
       {{"b.srt", kOneTwoSrt}}},
      {"--force lets them through", {"--force", "--to", "srt", "-d", ".", "a.srt", "b.vtt"},
       {srt, {"b.vtt", vtt}}, 0, "", "", {{"a.srt", kOneTwoSrtOut}, {"b.srt", kOneTwoSrtOut}}},
      {"two inputs of one name", {"--to", "srt", "-d", "out", "x/a.srt", "y/a.vtt"},
       {out, {"x/a.srt", two_cue_srt("x", "x")}, {"y/a.vtt", vtt}}, 73, "",
       "subparse: out/a.srt: holds an earlier file's conversion; y/a.vtt not written",
       {{"out/a.srt", "1\n00:00:01,000 --> 00:00:03,000\nx\n\n2\n00:00:04,000 --> 00:00:06,000\n"
                      "x\n\n"}}},
      {"warnings name their file", {"--to", "srt", "-d", "out", "latin.srt", "a.srt"},
       {srt, out, {"latin.srt", two_cue_srt("caf\xE9", "ol\xE9")}}, 0, "",
       "subparse: latin.srt: warning: encoding: detected CP1252\n",
       {{"out/latin.srt", "1\n00:00:01,000 --> 00:00:03,000\ncaf\xC3\xA9\n\n2\n00:00:04,000 --> "
                          "00:00:06,000\nol\xC3\xA9\n\n"}, {"out/a.srt", kOneTwoSrtOut}}},
  };
  // clang-format on
  run_rows("several", rows);
}

// --detect with several files prints a block for each, as --info does, and
// exits with the worst status.
TEST_F(Cli, DetectSeveralFiles) {
  const std::string vtt = "WEBVTT\n\n00:01.000 --> 00:02.000\nhi\n";
  const std::string enoent = std::strerror(ENOENT);
  // clang-format off
  const std::vector<ConvertRow> rows = {
      {"two files", {"--detect", "a.srt", "b.txt"}, {{"a.srt", kOneTwoSrt}, {"b.txt", vtt}}, 0,
       "a.srt\n  format: srt\n  extension hint: srt\n  encoding: UTF-8\n\n"
       "b.txt\n  format: vtt\n  extension hint: none\n  encoding: UTF-8\n", ""},
      {"failures in their blocks", {"--detect", "none.srt", "p.lrc", "a.srt"},
       {{"a.srt", kOneTwoSrt}, {"p.lrc", "hello"}}, 66,
       "none.srt\n  error: " + enoent + "\n\np.lrc\n  format: none\n  extension hint: lrc\n"
       "  encoding: UTF-8\n\na.srt\n  format: srt\n  extension hint: srt\n  encoding: UTF-8\n",
       ""},
      {"undecodable bytes", {"--detect", "-e", "no-such-enc", "a.srt", "-"}, {{"a.srt", "x"}}, 2,
       "a.srt\n  error: iconv failed for encoding no-such-enc (code 2)\n\n"
       "-\n  error: iconv failed for encoding no-such-enc (code 2)\n", "", {}, "x"},
  };
  // clang-format on
  run_rows("detect", rows);
}

// Standard output that cannot be written fails with 74.
TEST_F(Cli, StandardOutputFailureIs74) {
  const std::string dir = fresh_dir("stdout");
  write_input("stdout/a.srt", kOneTwoSrt);
  for (const std::vector<std::string> &args : {std::vector<std::string>{"a.srt"},
                                               {"--to", "srt", "a.srt"},
                                               {"--cues", "a.srt"},
                                               {"--info", "a.srt"},
                                               {"--detect", "a.srt"}}) {
    SCOPED_TRACE(args.front());
    const Outcome run = run_cli_in(dir, args, "", "", " >/dev/full");
    EXPECT_EQ(run.code, 74);
    EXPECT_NE(run.err.find("subparse: standard output: " + std::string(std::strerror(ENOSPC))),
              std::string::npos)
        << run.err;
  }
}

// Every written format converts and reads back; their exact texts are the
// writers' tests' business.
TEST_F(Cli, EveryWrittenFormatReadsBack) {
  const std::string dir = fresh_dir("formats");
  write_input("formats/a.srt", kOneTwoSrt);
  struct Row {
    const char *to;
    const char *extension;
    const char *read_as;  // the format a parse of the output names
  };
  const std::vector<Row> rows = {
      {"srt", "srt", "srt"},    {"VTT", "vtt", "vtt"},    {"webvtt", "vtt", "vtt"},
      {"ASS", "ass", "ass"},    {"ssa", "ass", "ass"},    {"lrc", "lrc", "lrc"},
      {"ttml", "ttml", "ttml"}, {"DFXP", "ttml", "ttml"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.to);
    fs::remove_all(dir + "out");
    fs::create_directories(dir + "out");
    const Outcome run = run_cli_in(dir, {"--to", row.to, "-d", "out", "a.srt"});
    EXPECT_EQ(run.code, 0) << run.err;
    const std::string written = "out/a." + std::string(row.extension);
    ASSERT_TRUE(fs::exists(dir + written));
    const Outcome stdout_run = run_cli_in(dir, {"--to", row.to, "a.srt"});
    EXPECT_EQ(stdout_run.code, 0);
    EXPECT_EQ(stdout_run.out, subtest::read_file(dir + written));

    const Outcome back = run_cli_in(dir, {"--cues", written});
    EXPECT_EQ(back.code, 0) << back.err;
    const Outcome detect = run_cli_in(dir, {"--detect", written});
    EXPECT_EQ(detect.out.substr(0, detect.out.find('\n')), row.read_as);
    EXPECT_NE(back.out.find("0:00:01.000 --> "), std::string::npos) << back.out;
    EXPECT_NE(back.out.find("  one"), std::string::npos) << back.out;
    EXPECT_NE(back.out.find("0:00:04.000 --> "), std::string::npos) << back.out;
    EXPECT_NE(back.out.find("  two"), std::string::npos) << back.out;
  }
}

// A Bilibili file with one comment of each mode the layout shows, all at
// 1 s: scrolling (1), bottom (4), top (5), reverse (6), positioned (7).
const std::string kEveryMode =
    "<?xml version=\"1.0\"?><i><d p=\"1,1,25,16777215\">scrolls</d>"
    "<d p=\"1,4,25,16777215\">at the bottom</d><d p=\"1,5,25,16777215\">on top</d>"
    "<d p=\"1,6,25,16777215\">backwards</d>"
    "<d p=\"1,7,25,16777215\">[0.5,0.5,\"1-1\",3,\"placed\"]</d></i>";
// Three scrolling comments at once: the default layout gives them a row
// each; a share too small for more than one row leaves room for one.
const std::string kCrowd =
    "<?xml version=\"1.0\"?><i><d p=\"1,1,25,16777215\">one</d>"
    "<d p=\"1,1,25,16777215\">two</d><d p=\"1,1,25,16777215\">three</d></i>";

// The writing options reach the text written, and the danmaku the layout
// leaves out are reported after the parse's warnings.
TEST_F(Cli, WriteOptionsReachTheOutput) {
  const std::string dir = fresh_dir("write");
  write_input("write/a.srt", kOneTwoSrt);
  write_input("write/modes.xml", kEveryMode);
  write_input("write/crowd.xml", kCrowd);
  // A byte-order mark, CR LF, an empty line, a word with a space.
  write_input("write/words.txt",
              "\xEF\xBB\xBF"
              "at the\r\n\r\nbackwards\n");
  struct Row {
    const char *name;
    std::vector<std::string> args;
    std::vector<std::string> has;    // substrings of standard output
    std::vector<std::string> lacks;  // and what it must not hold
    std::string err;                 // a substring of standard error; "": none at all
  };
  const std::string scroll_event = "0:00:01.00,0:00:09.00,Danmaku,,0,0,0,,{\\an7\\move(1930,2,";
  const std::string second_row = "{\\an7\\move(1930,58,";
  // clang-format off
  const std::vector<Row> rows = {
      {"--vtt-header", {"--to", "vtt", "--vtt-header", "Kind: captions", "a.srt"},
       {"WEBVTT Kind: captions\n\n"}, {}, ""},
      {"--ass-res", {"--to", "ass", "--ass-res", "1280x720", "a.srt"},
       {"PlayResX: 1280\nPlayResY: 720\n"}, {}, ""},
      {"--ass-res= with a capital X", {"--to", "ass", "--ass-res=640X480", "a.srt"},
       {"PlayResX: 640\nPlayResY: 480\n"}, {}, ""},
      {"--ass-font", {"--to", "ass", "--ass-font", "DejaVu Sans", "a.srt"},
       {"Style: Default,DejaVu Sans,54,"}, {}, ""},
      {"--ass-font-size", {"--to", "ass", "--ass-font-size=40.5", "a.srt"},
       {"Style: Default,Arial,40.5,"}, {}, ""},
      {"--ttml-lang", {"--to", "ttml", "--ttml-lang", "fr-CA", "a.srt"},
       {"<tt xmlns=\"http://www.w3.org/ns/ttml\" xml:lang=\"fr-CA\">"}, {}, ""},
      {"other formats' options change nothing",
       {"--to", "srt", "--ass-res", "1x1", "--vtt-header", "x", "--danmaku-overlap", "a.srt"},
       {kOneTwoSrtOut}, {}, ""},
      // Danmaku: the defaults lay every mode out, and drop nothing.
      {"a layout by default", {"--to", "ass", "modes.xml"},
       {"Style: Danmaku,Arial,50,", scroll_event, "}at the bottom\n", "}on top\n",
        "}backwards\n", "\\pos(960,540)}placed\n", "\\alpha&H33&"}, {}, ""},
      {"--danmaku-font-size", {"--to", "ass", "--danmaku-font-size", "36", "modes.xml"},
       {"Style: Danmaku,Arial,36,"}, {"Style: Danmaku,Arial,50,"}, ""},
      {"--danmaku-scroll", {"--to", "ass", "--danmaku-scroll", "6.5", "modes.xml"},
       {"0:00:01.00,0:00:07.50,Danmaku,,0,0,0,,{\\an7\\move(1930,2,"}, {scroll_event}, ""},
      {"--danmaku-fixed", {"--to", "ass", "--danmaku-fixed=2", "modes.xml"},
       {"0:00:01.00,0:00:03.00,Danmaku,,0,0,0,,{\\an8"}, {}, ""},
      {"--danmaku-opacity", {"--to", "ass", "--danmaku-opacity", "0.5", "modes.xml"},
       {"\\alpha&H80&}scrolls"}, {"\\alpha&H33&"}, ""},
      {"--danmaku-opacity 1 writes no alpha", {"--to", "ass", "--danmaku-opacity", "1", "modes.xml"},
       {"}scrolls"}, {"\\alpha"}, ""},
      {"--ass-res places the danmaku", {"--to", "ass", "--ass-res", "1280x720", "modes.xml"},
       {"{\\an7\\move(1290,2,", "\\pos(640,360)}placed"}, {}, ""},
      {"--danmaku-drop-modes 5 drops the top comment",
       {"--to", "ass", "--danmaku-drop-modes", "5", "modes.xml"},
       {"}scrolls\n", "}at the bottom\n", "}backwards\n", "}placed\n"}, {"on top"},
       "warning: danmaku: 1 comment dropped: filtered out\n"},
      {"--danmaku-drop-modes with a list", {"--to", "ass", "--danmaku-drop-modes=4,5,7", "modes.xml"},
       {"}scrolls\n", "}backwards\n"}, {"at the bottom", "on top", "placed"},
       "warning: danmaku: 3 comments dropped: filtered out\n"},
      {"--danmaku-drop-modes lists add up",
       {"--to", "ass", "--danmaku-drop-modes", "1", "--danmaku-drop-modes", "6", "modes.xml"},
       {"}on top\n"}, {"scrolls", "backwards"},
       "warning: danmaku: 2 comments dropped: filtered out\n"},
      {"--danmaku-block", {"--to", "ass", "--danmaku-block", "top", "modes.xml"},
       {"}scrolls\n"}, {"on top"}, "warning: danmaku: 1 comment dropped: filtered out\n"},
      {"--danmaku-block matches letter case", {"--to", "ass", "--danmaku-block", "TOP", "modes.xml"},
       {"}on top\n"}, {}, ""},
      {"--danmaku-block given twice",
       {"--to", "ass", "--danmaku-block", "scroll", "--danmaku-block=place", "modes.xml"},
       {"}on top\n"}, {"scrolls", "placed"},
       "warning: danmaku: 2 comments dropped: filtered out\n"},
      {"--danmaku-block-file", {"--to", "ass", "--danmaku-block-file", "words.txt", "modes.xml"},
       {"}scrolls\n", "}on top\n"}, {"at the bottom", "backwards"},
       "warning: danmaku: 2 comments dropped: filtered out\n"},
      {"the blocked words add up",
       {"--to", "ass", "--danmaku-block-file", "words.txt", "--danmaku-block", "top", "modes.xml"},
       {"}scrolls\n"}, {"at the bottom", "backwards", "on top"},
       "warning: danmaku: 3 comments dropped: filtered out\n"},
      {"a row each", {"--to", "ass", "crowd.xml"}, {"}one\n", second_row, "}three\n"}, {}, ""},
      {"--danmaku-share leaves one row", {"--to", "ass", "--danmaku-share", "0.05", "crowd.xml"},
       {"}one\n"}, {"two", "three"}, "warning: danmaku: 2 comments dropped: no free row\n"},
      {"--danmaku-overlap keeps them all",
       {"--to", "ass", "--danmaku-share", "0.05", "--danmaku-overlap", "crowd.xml"},
       {"}one\n", "}two\n", "}three\n"}, {second_row}, ""},
      {"danmaku as SRT are not laid out", {"--to", "srt", "--danmaku-drop-modes", "5", "modes.xml"},
       {"on top"}, {}, ""},
  };
  // clang-format on
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const Outcome run = run_cli_in(dir, row.args);
    EXPECT_EQ(run.code, 0) << run.err;
    for (const std::string &needle : row.has)
      EXPECT_NE(run.out.find(needle), std::string::npos) << "lacks " << needle << " in\n"
                                                         << run.out;
    for (const std::string &needle : row.lacks)
      EXPECT_EQ(run.out.find(needle), std::string::npos) << "holds " << needle << " in\n"
                                                         << run.out;
    expect_stderr(run.err, row.err);
  }

  // With -d, the writer's warnings name their file as the parse's do, and
  // come after them, the parse's printed once; the file is written all the
  // same.
  const std::string parse_warning = "subparse: latin.xml: warning: encoding: detected ";
  write_input("write/latin.xml",
              "<?xml version=\"1.0\"?><i><d p=\"1,5,25,16777215\">caf\xE9 d\xE9j\xE0 "
              "vu \xE0 l'\xE9t\xE9</d></i>");
  fs::create_directories(dir + "out");
  const Outcome several = run_cli_in(
      dir, {"--to", "ass", "--danmaku-drop-modes", "5", "-d", "out", "latin.xml", "modes.xml"});
  EXPECT_EQ(several.code, 0) << several.err;
  EXPECT_EQ(several.out, "");
  const size_t parsed = several.err.find(parse_warning);
  const size_t dropped =
      several.err.find("subparse: latin.xml: warning: danmaku: 1 comment dropped: filtered out\n");
  EXPECT_NE(parsed, std::string::npos) << several.err;
  EXPECT_NE(dropped, std::string::npos) << several.err;
  EXPECT_LT(parsed, dropped) << several.err;
  EXPECT_EQ(several.err.find(parse_warning, parsed + 1), std::string::npos)
      << "the parse's warnings again after the write's: " << several.err;
  EXPECT_NE(several.err.find("subparse: modes.xml: warning: danmaku: 1 comment dropped: "
                             "filtered out\n"),
            std::string::npos)
      << several.err;
  EXPECT_EQ(subtest::read_file(dir + "out/modes.ass").find("on top"), std::string::npos);

  // A block file that cannot be read: 66, before any input is read.
  const Outcome missing =
      run_cli_in(dir, {"--to", "ass", "--danmaku-block-file", "none.txt", "-o", "x.ass", "a.srt"});
  EXPECT_EQ(missing.code, 66);
  EXPECT_EQ(missing.out, "");
  EXPECT_NE(missing.err.find("subparse: --danmaku-block-file none.txt: " +
                             std::string(std::strerror(ENOENT))),
            std::string::npos)
      << missing.err;
  EXPECT_FALSE(fs::exists(dir + "x.ass"));
}

// Usage errors: 64, nothing on standard output, a message that names what
// is wrong and the hint to run --help.
TEST_F(Cli, UsageErrors) {
  const std::string dir = fresh_dir("usage");
  write_input("usage/a.srt", kOneTwoSrt);
  write_input("usage/nul.txt", std::string("spoiler\n\0\n", 10));
  write_input("usage/b.srt", kOneTwoSrt);
  struct Row {
    std::vector<std::string> args;
    std::string message;  // after "subparse: "
  };
  // clang-format off
  const std::vector<Row> rows = {
      {{"--bogus", "a.srt"}, "unknown option: --bogus"},
      {{"--bogus=1", "a.srt"}, "unknown option: --bogus"},
      {{"--to-srt", "a.srt"}, "unknown option: --to-srt"},
      {{"-x", "a.srt"}, "unknown option: -x"},
      {{"-hx"}, "unknown option: -hx"},
      {{"--sort=yes", "a.srt"}, "option takes no value: --sort"},
      {{"--help=1"}, "option takes no value: --help"},
      {{"--to", "xyz", "a.srt"}, "unknown format: xyz"},
      {{"--to="}, "unknown format"},
      {{"--to", "microdvd", "a.srt"}, "cannot write format: microdvd"},
      {{"--to", "AUTO", "a.srt"}, "cannot write format: AUTO"},
      {{"--format=xyz", "a.srt"}, "unknown format: xyz"},
      {{"-f", "json", "a.srt"}, "cannot read format: json"},
      {{"--reading=fancy", "a.srt"}, "unknown reading: fancy"},
      {{"a.srt", "--to"}, "missing value for: --to"},
      {{"a.srt", "-o"}, "missing value for: -o"},
      {{"a.srt", "--output-dir"}, "missing value for: --output-dir"},
      {{"a.srt", "--shift"}, "missing value for: --shift"},
      {{"a.srt", "--fps"}, "missing value for: --fps"},
      {{"a.srt", "--microdvd-fps"}, "missing value for: --microdvd-fps"},
      {{"--to", "srt", "-o", "x.srt", "a.srt", "b.srt"},
       "-o takes one input file; several were given: b.srt"},
      {{"--to", "srt", "a.srt", "b.srt"}, "--to with several files needs -d DIR: b.srt"},
      {{"a.srt", "b.srt"}, "more than one file given: b.srt"},
      {{"-o", "x.srt", "a.srt"}, "-o needs --to FORMAT"},
      {{"-d", ".", "a.srt"}, "-d needs --to FORMAT"},
      {{"--to", "srt", "-o", "x.srt", "-d", ".", "a.srt"}, "-o does not combine with: -d"},
      {{"--to", "srt", "-o", "", "a.srt"}, "-o needs a file name"},
      {{"--to", "srt", "--output-dir=", "a.srt"}, "-d needs a directory name"},
      {{"--to", "srt", "-d", ".", "a.srt", "-"}, "standard input has no name to write under -d"},
      {{"--to", "srt", "--info", "a.srt"}, "--to does not combine with: --info"},
      {{"--to", "srt", "--detect", "a.srt"}, "--to does not combine with: --detect"},
      {{"--cues", "--to", "srt", "a.srt"}, "--to does not combine with: --cues"},
      {{"--to", "srt"}, "no file given"},
      {{"--to", "srt", "--"}, "no file given"},
      // --shift: digits only, or a clock of at most three fields.
      {{"--shift", "", "a.srt"}, "bad --shift"},
      {{"--shift", "+", "a.srt"}, "bad --shift: +"},
      {{"--shift", "2s", "a.srt"}, "bad --shift: 2s"},
      {{"--shift", "1:2:3:4", "a.srt"}, "bad --shift: 1:2:3:4"},
      {{"--shift", "1:60", "a.srt"}, "bad --shift: 1:60"},
      {{"--shift", "0:001", "a.srt"}, "bad --shift: 0:001"},
      {{"--shift", "1:", "a.srt"}, "bad --shift: 1:"},
      {{"--shift", ":5", "a.srt"}, "bad --shift: :5"},
      {{"--shift", "1.", "a.srt"}, "bad --shift: 1."},
      {{"--shift", "1.2345", "a.srt"}, "bad --shift: 1.2345"},
      {{"--shift", "--1", "a.srt"}, "bad --shift: --1"},
      {{"--shift", "1:-5", "a.srt"}, "bad --shift: 1:-5"},
      {{"--shift=1e3", "a.srt"}, "bad --shift: 1e3"},
      {{"--shift", "1234567890123456789", "a.srt"}, "bad --shift: 1234567890123456789"},
      // --fps: two rates above 0.
      {{"--fps", "25", "a.srt"}, "bad --fps: 25"},
      {{"--fps", "25:", "a.srt"}, "bad --fps: 25:"},
      {{"--fps", ":25", "a.srt"}, "bad --fps: :25"},
      {{"--fps", "0:25", "a.srt"}, "bad --fps: 0:25"},
      {{"--fps", "25:0.0", "a.srt"}, "bad --fps: 25:0.0"},
      {{"--fps", "25:-1", "a.srt"}, "bad --fps: 25:-1"},
      {{"--fps", "25:23,976", "a.srt"}, "bad --fps: 25:23,976"},
      {{"--fps", "1/0:25", "a.srt"}, "bad --fps: 1/0:25"},
      {{"--fps", "inf:25", "a.srt"}, "bad --fps: inf:25"},
      {{"--fps", "nan:25", "a.srt"}, "bad --fps: nan:25"},
      {{"--fps", "1e3:25", "a.srt"}, "bad --fps: 1e3:25"},
      {{"--fps", "25:24:25", "a.srt"}, "bad --fps: 25:24:25"},
      {{"--fps=0x19:25", "a.srt"}, "bad --fps: 0x19:25"},
      {{"--microdvd-fps", "1", "a.sub"}, "bad --microdvd-fps: 1"},
      {{"--microdvd-fps", "1000", "a.sub"}, "bad --microdvd-fps: 1000"},
      {{"--microdvd-fps=fast", "a.sub"}, "bad --microdvd-fps: fast"},
      // The writers' options: values the library would refuse, checked
      // before any file is read, and only with --to.
      {{"--to", "vtt", "--vtt-header", "a-->b", "a.srt"}, "bad --vtt-header: a-->b"},
      {{"--to", "vtt", "--vtt-header", "a\nb", "a.srt"}, "bad --vtt-header: a\nb"},
      {{"--to", "ass", "--ass-res", "1280", "a.srt"}, "bad --ass-res: 1280"},
      {{"--to", "ass", "--ass-res", "0x720", "a.srt"}, "bad --ass-res: 0x720"},
      {{"--to", "ass", "--ass-res", "16385x720", "a.srt"}, "bad --ass-res: 16385x720"},
      {{"--to", "ass", "--ass-res=1280x", "a.srt"}, "bad --ass-res: 1280x"},
      {{"--to", "ass", "--ass-res", "x720", "a.srt"}, "bad --ass-res: x720"},
      {{"--to", "ass", "--ass-res", "1280x720x2", "a.srt"}, "bad --ass-res: 1280x720x2"},
      {{"--to", "ass", "--ass-res", "-1280x720", "a.srt"}, "bad --ass-res: -1280x720"},
      {{"--to", "ass", "--ass-font", "", "a.srt"}, "bad --ass-font"},
      {{"--to", "ass", "--ass-font", "A,B", "a.srt"}, "bad --ass-font: A,B"},
      {{"--to", "ass", "--ass-font-size", "0", "a.srt"}, "bad --ass-font-size: 0"},
      {{"--to", "ass", "--ass-font-size", "10001", "a.srt"}, "bad --ass-font-size: 10001"},
      {{"--to", "ass", "--ass-font-size", "1e2", "a.srt"}, "bad --ass-font-size: 1e2"},
      {{"--to", "ttml", "--ttml-lang", "a\"b", "a.srt"}, "bad --ttml-lang: a\"b"},
      {{"--to", "ttml", "--ttml-lang", "en&", "a.srt"}, "bad --ttml-lang: en&"},
      {{"--to", "ass", "--danmaku-font-size", "0.5", "a.srt"}, "bad --danmaku-font-size: 0.5"},
      {{"--to", "ass", "--danmaku-font-size", "1001", "a.srt"}, "bad --danmaku-font-size: 1001"},
      {{"--to", "ass", "--danmaku-scroll", "0.499", "a.srt"}, "bad --danmaku-scroll: 0.499"},
      {{"--to", "ass", "--danmaku-scroll", "60.001", "a.srt"}, "bad --danmaku-scroll: 60.001"},
      {{"--to", "ass", "--danmaku-scroll", "6.5555", "a.srt"}, "bad --danmaku-scroll: 6.5555"},
      {{"--to", "ass", "--danmaku-scroll", "8s", "a.srt"}, "bad --danmaku-scroll: 8s"},
      {{"--to", "ass", "--danmaku-scroll", "-8", "a.srt"}, "bad --danmaku-scroll: -8"},
      {{"--to", "ass", "--danmaku-fixed=0", "a.srt"}, "bad --danmaku-fixed: 0"},
      {{"--to", "ass", "--danmaku-fixed", ".5", "a.srt"}, "bad --danmaku-fixed: .5"},
      {{"--to", "ass", "--danmaku-opacity", "0", "a.srt"}, "bad --danmaku-opacity: 0"},
      {{"--to", "ass", "--danmaku-opacity", "1.01", "a.srt"}, "bad --danmaku-opacity: 1.01"},
      {{"--to", "ass", "--danmaku-opacity", "nan", "a.srt"}, "bad --danmaku-opacity: nan"},
      {{"--to", "ass", "--danmaku-share", "0.0", "a.srt"}, "bad --danmaku-share: 0.0"},
      {{"--to", "ass", "--danmaku-share", "2", "a.srt"}, "bad --danmaku-share: 2"},
      {{"--to", "ass", "--danmaku-drop-modes", "", "a.srt"}, "bad --danmaku-drop-modes"},
      {{"--to", "ass", "--danmaku-drop-modes", "0", "a.srt"}, "bad --danmaku-drop-modes: 0"},
      {{"--to", "ass", "--danmaku-drop-modes", "32", "a.srt"}, "bad --danmaku-drop-modes: 32"},
      {{"--to", "ass", "--danmaku-drop-modes", "4,,5", "a.srt"}, "bad --danmaku-drop-modes: 4,,5"},
      {{"--to", "ass", "--danmaku-drop-modes", "4,", "a.srt"}, "bad --danmaku-drop-modes: 4,"},
      {{"--to", "ass", "--danmaku-drop-modes", "4 5", "a.srt"}, "bad --danmaku-drop-modes: 4 5"},
      {{"--to", "ass", "--danmaku-block", "", "a.srt"}, "bad --danmaku-block"},
      {{"--to", "ass", "--danmaku-block", "a\nb", "a.srt"}, "bad --danmaku-block: a\nb"},
      {{"--to", "ass", "--danmaku-block-file", "nul.txt", "a.srt"},
       "bad --danmaku-block-file: nul.txt (a text file: it holds a NUL byte)"},
      {{"--to", "ass", "--danmaku-overlap=yes", "a.srt"}, "option takes no value: --danmaku-overlap"},
      {{"--to", "ass", "a.srt", "--danmaku-scroll"}, "missing value for: --danmaku-scroll"},
      {{"--ass-res", "1280x720", "a.srt"}, "--ass-res needs --to FORMAT"},
      {{"--cues", "--danmaku-overlap", "a.srt"}, "--danmaku-overlap needs --to FORMAT"},
      {{"--info", "--ttml-lang=en", "a.srt"}, "--ttml-lang needs --to FORMAT"},
  };
  // clang-format on
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.args));
    const Outcome run = run_cli_in(dir, row.args);
    EXPECT_EQ(run.code, 64);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("subparse: " + row.message), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Try 'subparse --help'.\n"), std::string::npos) << run.err;
  }
  EXPECT_EQ(temporary_files(dir), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(dir + "x.srt"));
}

}  // namespace
