// The command-line host, run as a separate process: argument handling, file
// and standard-input reading, exit codes and what goes to which stream.
#include <gtest/gtest.h>
#include <iconv.h>
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

// `bytes` converted from the encoding `from` to `to` by iconv; a conversion
// that fails ends the test, as the row that asked for it is wrong.
std::string convert(const std::string &bytes, const char *from, const char *to) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
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
                               "''"})
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
  EXPECT_EQ(options, 8u);  // -f, -e, -r, --cues, --detect, --info, -h, --version
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
// whatever the others give, the first failure's status, nothing on standard
// error.
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
    std::string out;      // "{0}", "{1}", ... as in args
    std::string in = "";  // standard input
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
        {"b.vtt", vtt}}, 5,
       "{0}\n" + srt_block + "\n{1}\n  error: all parsers failed (code 5)\n\n{2}\n  error: " +
           enoent + "\n\n{3}\n  error: empty buffer (code 3)\n\n{4}\n" + vtt_block},
      {"the first failure gives the status", {"--info", "{0}", "{1}", "{2}"},
       {{"none.srt", std::nullopt}, {"prose.txt", "hello"}, {"a.srt", srt}}, 66,
       "{0}\n  error: " + enoent + "\n\n{1}\n  error: all parsers failed (code 5)\n\n{2}\n" +
           srt_block},
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

}  // namespace
