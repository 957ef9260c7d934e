// WebVTT's standard reading: the strict header and timestamps, identifiers,
// settings, the blocks a cue's text ends at, and the shared corpus files that
// come with the cues another reader found in them.
#include <gtest/gtest.h>
#include <yyjson.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

using namespace std::string_literals;

namespace {

struct StdCue {
  int32_t start;
  int32_t end;
  std::vector<std::string> lines;
  std::string id;        // "" when the cue has none
  std::string settings;  // "" when the cue has none
  bool operator==(const StdCue &) const = default;
};

struct StdResult {
  int rc = -1;
  std::string error;
  int32_t format = -1;
  std::vector<StdCue> cues;
};

StdResult parse_vtt(const std::string &input, int32_t reading) {
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.format = SUB_FMT_VTT;
  options.reading = reading;
  SubDoc *doc = nullptr;
  StdResult result;
  result.rc = sub_doc_parse(input.data(), input.size(), &options, &doc);
  if (!doc) return result;
  result.error = sub_doc_error(doc);
  result.format = sub_doc_format(doc);
  for (int32_t i = 0; i < sub_doc_cue_count(doc); ++i) {
    StdCue cue{sub_doc_cue_start_ms(doc, i), sub_doc_cue_end_ms(doc, i), {}, "", ""};
    for (int32_t k = 0; k < sub_doc_cue_line_count(doc, i); ++k)
      cue.lines.push_back(sub_doc_cue_line(doc, i, k));
    if (const char *id = sub_doc_cue_id(doc, i)) cue.id = id;
    if (const char *settings = sub_doc_cue_settings(doc, i)) cue.settings = settings;
    result.cues.push_back(cue);
  }
  sub_doc_free(doc);
  return result;
}

std::string show(const std::vector<StdCue> &cues) {
  std::string out;
  for (const StdCue &cue : cues) {
    out += std::to_string(cue.start) + "-" + std::to_string(cue.end) + " id[" + cue.id +
           "] settings[" + cue.settings + "]";
    for (const std::string &line : cue.lines) out += " |" + line;
    out += "\n";
  }
  return out;
}

struct Row {
  const char *name;
  std::string input;
  int rc;
  std::vector<StdCue> cues;
};

const std::string missing = "WebVTT: missing WEBVTT header";

const Row rows[] = {
    // The header.
    {"header, identifier, settings, two lines",
     "WEBVTT\n\nintro\n00:01.000 --> 00:04.000 align:start\nNever drink liquid nitrogen.\nIt "
     "will perforate\n",
     0,
     {{1000, 4000, {"Never drink liquid nitrogen.", "It will perforate"}, "intro", "align:start"}}},
    {"header only", "WEBVTT", 0, {}},
    {"header and comments only", "WEBVTT\n\nNOTE one\ntwo\n\nNOTE\n", 0, {}},
    {"header with text after a tab",
     "WEBVTT\tmovie\n\n00:01.000 --> 00:02.000\nA",
     0,
     {{1000, 2000, {"A"}, "", ""}}},
    {"byte order mark",
     "\xEF\xBB\xBFWEBVTT\n\n00:01.000 --> 00:02.000\nA",
     0,
     {{1000, 2000, {"A"}, "", ""}}},
    {"header word run on", "WEBVTTX\n\n00:01.000 --> 00:02.000\nA", 5, {}},
    {"lower-case header", "webvtt\n\n00:01.000 --> 00:02.000\nA", 5, {}},
    {"blank before the header", "\nWEBVTT\n\n00:01.000 --> 00:02.000\nA", 5, {}},
    {"no header", "00:01.000 --> 00:02.000\nA", 5, {}},
    {"timing on the header line is header text",
     "WEBVTT 00:01.000 --> 00:02.000\nKind: captions\n\n00:03.000 --> 00:04.000\nB",
     0,
     {{3000, 4000, {"B"}, "", ""}}},
    {"timing line ends the header lines",
     "WEBVTT\nKind: captions\n00:01.000 --> 00:02.000\nA",
     0,
     {{1000, 2000, {"A"}, "", ""}}},
    // Timestamps.
    {"hours of one and of three digits",
     "WEBVTT\n\n0:00:01.000 --> 100:00:00.000\nA",
     0,
     {{1000, 360000000, {"A"}, "", ""}}},
    // Minutes of one digit read as web readers read them (D); a first number
    // past 59 is hours, with the seconds 0 (H).
    {"bad timestamps drop their blocks",
     "WEBVTT\n\n00:00:01,000 --> 00:00:02,000\nA\n\n00:60.000 --> 01:00.000\nB\n\n00:01.00 --> "
     "00:02.000\nC\n\n1:00.000 --> 2:00.000\nD\n\n00:01.000 -> 00:02.000\nE\n\n00:01.000 "
     "-->\nF\n\n00:03.000 --> 00:04.000\nG\n\n60:01.000 --> 60:61.000\nX\n\n"
     "61:02.000 --> 61:02.500\nH",
     0,
     {{60000, 120000, {"D"}, "", ""},
      {3000, 4000, {"G"}, "", ""},
      {219720000, 219720500, {"H"}, "", ""}}},
    {"largest time, one past it",
     "WEBVTT\n\n596:31:23.646 --> 596:31:23.647\nA\n\n00:00.000 --> 596:31:23.648\nB",
     0,
     {{2147483646, 2147483647, {"A"}, "", ""}}},
    {"hours and minutes of twenty digits",
     "WEBVTT\n\n99999999999999999999:00:00.000 --> 00:01.000\nA\n\n"
     "00:01.000 --> 99999999999999999999:00.000\nB\n\n00:01.000 --> 00:02.000\nC",
     0,
     {{1000, 2000, {"C"}, "", ""}}},
    {"white space around the arrow, end before start",
     "WEBVTT\n\n\t00:05.000-->\t00:01.000\nA",
     0,
     {{5000, 1000, {"A"}, "", ""}}},
    // Blocks.
    {"arrow line in the text starts the next cue",
     "WEBVTT\n\n00:01.000 --> 00:02.000\nA\n00:03.000 --> 00:04.000 size:50%\nB",
     0,
     {{1000, 2000, {"A"}, "", ""}, {3000, 4000, {"B"}, "", "size:50%"}}},
    {"bad timing line, arrow line in what follows",
     "WEBVTT\n\nx\n00:01 --> 00:02\nlost\n00:03.000 --> 00:04.000\nB",
     0,
     {{3000, 4000, {"B"}, "", ""}}},
    {"two identifier lines",
     "WEBVTT\n\na\nb\n00:01.000 --> 00:02.000\nA",
     0,
     {{1000, 2000, {"A"}, "", ""}}},
    {"arrows in the identifier and the text",
     "WEBVTT\n\n- - > -- > - -> -- <--\n00:00.000 --> 00:00.000\n-->",
     0,
     {{0, 0, {}, "- - > -- > - -> -- <--", ""}}},
    {"empty text kept, blank lines end the text",
     "WEBVTT\n\n00:01.000 --> 00:02.000\n\n\n00:03.000 --> 00:04.000\nB\n\nnot a cue\n",
     0,
     {{1000, 2000, {}, "", ""}, {3000, 4000, {"B"}, "", ""}}},
    {"NOTE with a timing on its second line is an identifier",
     "WEBVTT\n\nNOTE\n00:01.000 --> 00:02.000\nA\n\nNOTE x\ny\n",
     0,
     {{1000, 2000, {"A"}, "NOTE", ""}}},
    {"STYLE block",
     "WEBVTT\n\nSTYLE\n::cue { color: red }\n\n00:01.000 --> 00:02.000\nA",
     0,
     {{1000, 2000, {"A"}, "", ""}}},
    {"text as written",
     "WEBVTT\n\n00:01.000 --> 00:02.000\n  <v Roger>&amp; <c.loud>hi</c>  \n\t",
     0,
     {{1000, 2000, {"  <v Roger>&amp; <c.loud>hi</c>  ", "\t"}, "", ""}}},
    // Line breaks and odd bytes.
    {"CR LF and lone CR",
     "WEBVTT\r\n\r\n00:01.000 --> 00:02.000\r\nA\rB\r\n\r00:03.000 --> 00:04.000\rC\r",
     0,
     {{1000, 2000, {"A", "B"}, "", ""}, {3000, 4000, {"C"}, "", ""}}},
    {"U+2028 is no line break",
     "WEBVTT\n\n00:01.000 --> 00:02.000\nA\u2028B",
     0,
     {{1000, 2000, {"A\u2028B"}, "", ""}}},
    {"NUL reads as U+FFFD",
     "WEBVTT\n\ni\0d\n00:01.000 --> 00:02.000\nfoo\0bar"s,
     0,
     {{1000, 2000, {"foo\uFFFDbar"}, "i\uFFFDd", ""}}},
    // Settings.
    {"every setting",
     "WEBVTT\n\n00:01.000 --> 00:02.000 vertical:lr line:-2 position:10%,line-left size:50.5% "
     "align:right\nA",
     0,
     {{1000,
       2000,
       {"A"},
       "",
       "vertical:lr line:-2 position:10%,line-left size:50.5% "
       "align:right"}}},
    {"invalid settings dropped",
     "WEBVTT\n\n00:01.000 --> 00:02.000 vertical:up line:x line:1.5.5 line:2-1 line:5%,top "
     "line:101% position:-1% size:100.1% size:50 align:middle :x x: sze:4% "
     "region:nowhere\nA",
     0,
     {{1000, 2000, {"A"}, "", ""}}},
    // An unknown alignment goes and the position stays, as web readers have it.
    {"position with an unknown alignment",
     "WEBVTT\n\n00:01.000 --> 00:02.000 position:42%,left\nA",
     0,
     {{1000, 2000, {"A"}, "", "position:42%"}}},
    {"later settings replace earlier, first order kept",
     "WEBVTT\n\n00:01.000 --> 00:02.000 align:start line:0 align:end line:bad\t size:100%\nA",
     0,
     {{1000, 2000, {"A"}, "", "align:end line:0 size:100%"}}},
    {"settings right after the end time",
     "WEBVTT\n\n00:01.000 --> 00:02.000line:40% size:40%\nA",
     0,
     {{1000, 2000, {"A"}, "", "line:40% size:40%"}}},
    {"regions defined before the first cue",
     "WEBVTT\n\nREGION\nid:fred width:40%\n\nREGION \nid:bill\nid:joe\n\n00:01.000 --> 00:02.000 "
     "region:fred\nA\n\n00:03.000 --> 00:04.000 region:joe size:100%\nB\n\nREGION\nid:late\n\n"
     "00:05.000 --> 00:06.000 region:late region:bill\nC\n\n00:07.000 --> 00:08.000 region:fred "
     "line:1\nD",
     0,
     {{1000, 2000, {"A"}, "", "region:fred"},
      {3000, 4000, {"B"}, "", "region:joe size:100%"},
      {5000, 6000, {"C"}, "", ""},
      {7000, 8000, {"D"}, "", "line:1"}}},
};

}  // namespace

TEST(VttStandard, Rows) {
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const StdResult got = parse_vtt(row.input, SUB_READING_STANDARD);
    EXPECT_EQ(got.rc, row.rc);
    EXPECT_EQ(got.error, row.rc == 5 ? missing : "");
    EXPECT_EQ(got.format, row.rc == 0 ? SUB_FMT_VTT : -1);
    EXPECT_EQ(got.cues, row.cues) << show(got.cues);
  }
}

// The classic reading is untouched: no header needed, commas accepted, no
// identifiers or settings, no cue without text.
TEST(VttStandard, ClassicReadingUnchanged) {
  struct ClassicRow {
    const char *name;
    std::string input;
    int rc;
    std::vector<StdCue> cues;
  };
  const ClassicRow classic_rows[] = {
      {"no header, commas",
       "00:00:01,000 --> 00:00:02,000 align:start\nA",
       0,
       {{1000, 2000, {"A"}, "", ""}}},
      {"identifier and empty cue",
       "WEBVTT\n\nintro\n00:01.000 --> 00:02.000\n\n00:03.000 --> 00:04.000 line:0\nB",
       0,
       {{3000, 4000, {"B"}, "", ""}}},
      {"header only", "WEBVTT\n", 5, {}},
  };
  for (const ClassicRow &row : classic_rows) {
    SCOPED_TRACE(row.name);
    const StdResult got = parse_vtt(row.input, SUB_READING_CLASSIC);
    EXPECT_EQ(got.rc, row.rc);
    EXPECT_EQ(got.error, row.rc == 5 ? "no VTT cues" : "");
    EXPECT_EQ(got.cues, row.cues) << show(got.cues);
  }
}

TEST(VttStandard, LongInputsStayLinear) {
  const std::string many =
      "WEBVTT\n\n" + subtest::repeat("x\n00:01.000 --> 00:02.000 region:a line:1\nA\n\n", 200000);
  const std::string long_line = "WEBVTT\n\n00:01.000 --> 00:02.000 " +
                                subtest::repeat("size:5% ", 400000) + "\n" +
                                subtest::repeat("-", 4000000);
  std::string regions = "WEBVTT\n\n";
  for (int i = 0; i < 100000; ++i) regions += "REGION\nid:r" + std::to_string(i) + "\n\n";
  regions += subtest::repeat("00:01.000 --> 00:02.000 region:r5\n\n", 100000);
  for (const std::string *input : std::vector<const std::string *>{&many, &long_line, &regions}) {
    StdResult got;
    const double seconds =
        subtest::seconds_to_run([&] { got = parse_vtt(*input, SUB_READING_STANDARD); });
    EXPECT_EQ(got.rc, 0);
    EXPECT_LT(seconds, 5.0);
  }
  EXPECT_EQ(parse_vtt(regions, SUB_READING_STANDARD).cues.back().settings, "region:r5");
}

TEST(VttStandard, AllocationFailures) {
  const std::string text =
      "WEBVTT\n\nREGION\nid:r\n\n1\n00:01.000 --> 00:02.000 region:r align:end\nA\0B\n\n"
      "NOTE x\n\n00:03.000 --> 00:04.000\nC\n"s;
  StdResult got;
  const uint64_t runs =
      subtest::for_each_allocation_failure([&] { got = parse_vtt(text, SUB_READING_STANDARD); },
                                           [&](uint64_t) {
                                             EXPECT_TRUE(got.rc == 0 || got.rc == 4) << got.rc;
                                             EXPECT_EQ(got.format, got.rc == 0 ? SUB_FMT_VTT : -1);
                                           });
  EXPECT_GT(runs, 4u);
}

TEST(VttStandard, SmallStack) {
  const std::string text =
      "WEBVTT\n\n" + subtest::repeat("00:01.000 --> 00:02.000 line:1\nA\n\n", 1000);
  EXPECT_EQ(subtest::run_on_stack(64 * 1024,
                                  [&]() -> std::string {
                                    return parse_vtt(text, SUB_READING_STANDARD).cues.size() == 1000
                                               ? ""
                                               : "cues";
                                  }),
            "");
}

namespace {

// A cue's placement as another reader describes it, defaults left out.
struct Placement {
  std::string vertical, line = "auto", line_align = "start", position = "auto",
                        position_align = "middle", size = "100", align = "center", region;
  std::string text() const {
    std::string out;
    auto add = [&](const char *name, const std::string &value, const char *unset) {
      if (value != unset) out += std::string(out.empty() ? "" : " ") + name + "=" + value;
    };
    add("vertical", vertical, "");
    add("line", line, "auto");
    add("lineAlign", line_align, "start");
    add("position", position, "auto");
    add("positionAlign", position_align, "middle");
    add("size", size, "100");
    add("align", align, "center");
    add("region", region, "");
    return out;
  }
};

std::string number_text(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

// Our settings text, read back into a placement.
Placement placement_of(const std::string &settings) {
  Placement p;
  size_t at = 0;
  while (at < settings.size()) {
    size_t stop = settings.find(' ', at);
    if (stop == std::string::npos) stop = settings.size();
    const std::string setting = settings.substr(at, stop - at);
    at = stop + 1;
    const size_t colon = setting.find(':');
    const std::string name = setting.substr(0, colon);
    std::string value = setting.substr(colon + 1);
    std::string align;
    if (const size_t comma = value.find(','); comma != std::string::npos) {
      align = value.substr(comma + 1);
      value.resize(comma);
    }
    const bool percent = !value.empty() && value.back() == '%';
    const std::string number = number_text(std::strtod(value.c_str(), nullptr));
    if (name == "vertical") p.vertical = value;
    if (name == "line") {
      p.line = number + (percent ? "%" : "");
      p.line_align = align.empty() ? "start" : align;
    }
    if (name == "position") {
      p.position = number;
      p.position_align = align == "line-left" ? "start" : align == "line-right" ? "end" : "middle";
    }
    if (name == "size") p.size = number;
    if (name == "align") p.align = value;
    if (name == "region") p.region = value;
  }
  // Without its own alignment a position aligns as the text does.
  if (settings.find(",line-") == std::string::npos) {
    if (p.align == "start" || p.align == "left") p.position_align = "start";
    if (p.align == "end" || p.align == "right") p.position_align = "end";
  }
  return p;
}

std::string str_of(yyjson_val *v) {
  if (yyjson_is_str(v)) return std::string(yyjson_get_str(v), yyjson_get_len(v));
  if (yyjson_is_num(v)) return number_text(yyjson_get_num(v));
  if (yyjson_is_obj(v)) return "(region object)";
  return "";
}

Placement expected_placement(yyjson_val *cue) {
  Placement p;
  p.vertical = str_of(yyjson_obj_get(cue, "vertical"));
  p.line = str_of(yyjson_obj_get(cue, "line"));
  if (p.line != "auto" && !yyjson_get_bool(yyjson_obj_get(cue, "snapToLines"))) p.line += "%";
  p.line_align = str_of(yyjson_obj_get(cue, "lineAlign"));
  if (p.line_align == "middle") p.line_align = "center";
  p.position = str_of(yyjson_obj_get(cue, "position"));
  p.position_align = str_of(yyjson_obj_get(cue, "positionAlign"));
  if (p.position_align == "auto" || p.position_align == "center") p.position_align = "middle";
  p.size = str_of(yyjson_obj_get(cue, "size"));
  p.align = str_of(yyjson_obj_get(cue, "align"));
  if (p.align == "middle") p.align = "center";
  p.region = str_of(yyjson_obj_get(cue, "region"));
  return p;
}

std::string joined(const std::vector<std::string> &lines) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i];
  return out;
}

// "" when our reading of `vtt` gives the cues of `expected`, else the first
// difference. An array holds cue texts only, each ending with a line break
// and cut at its first empty line.
std::string compare_with(const std::string &vtt, yyjson_val *expected) {
  const StdResult got = parse_vtt(vtt, SUB_READING_STANDARD);
  if (got.rc != 0) return "parse failed: " + got.error;
  const bool texts_only = yyjson_is_arr(expected);
  yyjson_val *cues = texts_only ? expected : yyjson_obj_get(expected, "cues");
  if (yyjson_arr_size(cues) != got.cues.size())
    return "cue count " + std::to_string(got.cues.size()) + ", expected " +
           std::to_string(yyjson_arr_size(cues));
  size_t i = 0, max = 0;
  yyjson_val *cue = nullptr;
  yyjson_arr_foreach(cues, i, max, cue) {
    const StdCue &ours = got.cues[i];
    const std::string at = "cue " + std::to_string(i) + ": ";
    std::string text = str_of(yyjson_obj_get(cue, "text"));
    if (texts_only) {
      if (!text.empty() && text.back() == '\n') text.pop_back();
      text = text.substr(0, text.find("\n\n"));
      for (size_t nul; (nul = text.find('\0')) != std::string::npos;)
        text.replace(nul, 1, "\uFFFD");
    } else {
      const auto ms = [&](const char *name) {
        return static_cast<int32_t>(std::llround(yyjson_get_num(yyjson_obj_get(cue, name)) * 1000));
      };
      if (ours.start != ms("startTime") || ours.end != ms("endTime"))
        return at + "times " + std::to_string(ours.start) + "-" + std::to_string(ours.end) +
               ", expected " + std::to_string(ms("startTime")) + "-" +
               std::to_string(ms("endTime"));
      if (ours.id != str_of(yyjson_obj_get(cue, "id")))
        return at + "id [" + ours.id + "], expected [" + str_of(yyjson_obj_get(cue, "id")) + "]";
      const std::string want = expected_placement(cue).text();
      const std::string have = placement_of(ours.settings).text();
      if (want != have) return at + "settings [" + have + "], expected [" + want + "]";
    }
    if (joined(ours.lines) != text) return at + "text [" + joined(ours.lines) + "]";
  }
  return "";
}

}  // namespace

TEST(VttStandard, CorpusMatchesExpectedCues) {
  const std::filesystem::path folder =
      std::filesystem::path(SUBPARSE_SOURCE_DIR "/../shared/corpus") / "vtt";
  if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no WebVTT corpus";
  std::vector<std::filesystem::path> files;
  for (const auto &entry : std::filesystem::directory_iterator(folder))
    if (entry.path().extension() == ".vtt" &&
        std::filesystem::exists(entry.path().string() + ".expected.json"))
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  // Files whose expected cues come from a laxer reader than the standard:
  // each must still differ, so that the list stays true.
  const std::map<std::string, const char *> known = {
      {"vttjs__regions_id_arrows.vtt",
       "a region defined on a header line (\"Region: id=fred-->\") is no REGION block"},
  };
  size_t matched = 0;
  for (const auto &path : files) {
    const std::string json = subtest::read_file(path.string() + ".expected.json");
    yyjson_doc *expected = yyjson_read(json.data(), json.size(), 0);
    ASSERT_NE(expected, nullptr) << path;
    const std::string why =
        compare_with(subtest::read_file(path.string()), yyjson_doc_get_root(expected));
    yyjson_doc_free(expected);
    const auto excused = known.find(path.filename().string());
    if (why.empty()) {
      ++matched;
      EXPECT_EQ(excused, known.end()) << path.filename() << " now matches";
    } else {
      std::printf("differs: %s: %s\n", path.filename().c_str(), why.c_str());
      if (excused != known.end()) {
        std::printf("  (known: %s)\n", excused->second);
      } else {
        ADD_FAILURE() << path.filename() << ": " << why;
      }
    }
  }
  std::printf("WebVTT corpus: %zu of %zu files match\n", matched, files.size());
  ASSERT_FALSE(files.empty());
  EXPECT_GE(matched * 100, files.size() * 95);
}
