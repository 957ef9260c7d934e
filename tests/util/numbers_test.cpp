// Locale-free number readers: strtod/strtof as the C runtime reads them in
// the "C" locale, atoi and base-10 strtoul as with a 32-bit long (saturating),
// double to int32 truncation, and saturating addition.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "test_support.h"

namespace {

const std::string zeros(400, '0');

// Each input is read by the C runtime and by the library; value (bit for bit,
// any NaN as NaN) and bytes consumed must agree.
const std::string float_inputs[] = {
    // No number at all.
    "",
    " ",
    "+",
    "-",
    ".",
    "-.",
    "e5",
    "x",
    "in",
    "na",
    "_1",
    // Plain decimals, white space, signs.
    "0",
    "-0",
    "1",
    "-1",
    "+1",
    "0.1",
    ".5",
    "5.",
    "+.5e1",
    "00012.50",
    "-123.456e-2",
    " \t\n\v\f\r1.5",
    "  -2.5xyz",
    "1,5",
    "1.2.3",
    "12abc",
    "1_000",
    "123456789012345678901234567890",
    "3.14159265358979323846264338327950288",
    // Signs are taken once, and only before the number.
    "+-1",
    "-+1",
    "--1",
    "++1",
    "- 1",
    "+ 1",
    // Exponents, complete or not.
    "1e5",
    "1E-3",
    "1e",
    "1e+",
    "1e-",
    "1e-x",
    "1ex",
    "2e+07",
    "5e0009",
    // Hexadecimal.
    "0x10",
    "0X1p4",
    "0x1.8p1",
    "-0x1P-2",
    "0x.8",
    "0x1.",
    "0xAbC.dEf",
    "0x1p",
    "0x1p+",
    "0x1px",
    "0x1e",
    "0x1e-5",
    "0x1e+5",
    " -0x20",
    "0x0",
    "0x0p0",
    // "0x" without a hexadecimal digit reads as the 0 before the x.
    "0x",
    "0X",
    "0x.",
    "0xg",
    "0x.p1",
    "0xp1",
    "-0x",
    "0x-1",
    "0x+1",
    "0x 1",
    "0xinf",
    "0xnan",
    // Infinities and NaNs.
    "inf",
    "-INF",
    "+Inf",
    "Infinity",
    "-infinity",
    "infinit",
    "infx",
    "nan",
    "-NaN",
    "NAN",
    "nan(123)",
    "nan(abc_1)",
    "nan()",
    "nan(",
    "nan(1 2)",
    "nanx",
    // Overflow to infinity, underflow to zero, subnormals.
    "1e400",
    "-1e400",
    "1e-400",
    "-1e-400",
    "1e5000000000000000000000",
    "1e-5000000000000000000000",
    "0e5000",
    "0e-999999",
    "4e-320",
    "2.2250738585072011e-308",
    "1.7976931348623157e308",
    "1.7976931348623159e308",
    "0x1p1024",
    "0x1p-1074",
    "0x1p-1075",
    "0x1p-1076",
    "0x1ep-2000",
    "0x1Ep+2000",
    "0x1.ep-2000",
    "1" + zeros,
    "-1" + zeros,
    "0." + zeros + "1",
    "-0." + zeros + "1",
    "1" + zeros + "e-100",
    "1" + zeros + "e-390",
    "0." + zeros + "1e+5",
    "0." + zeros + "1e+380",
    // Float limits.
    "3.4028235e38",
    "3.4028236e38",
    "3.5e38",
    "1e-45",
    "1e-46",
    "7e-46",
    "0x1p128",
    "0x1p-149",
    "0x1p-150",
    "0x1.8p-150",
    "1.17549435e-38",
};

template <typename Float>
void expect_same(Float got, Float want) {
  if (std::isnan(want)) {
    EXPECT_TRUE(std::isnan(got)) << got;
    EXPECT_EQ(std::signbit(got), std::signbit(want));
  } else {
    EXPECT_EQ(got, want);
    EXPECT_EQ(std::signbit(got), std::signbit(want)) << got;
  }
}

}  // namespace

TEST(Numbers, StrtodAndStrtofAgreeWithTheRuntime) {
  ASSERT_NE(std::setlocale(LC_NUMERIC, "C"), nullptr);
  for (const std::string &in : float_inputs) {
    SCOPED_TRACE(in.size() <= 40 ? testing::PrintToString(in)
                                 : in.substr(0, 12) + "...(" + std::to_string(in.size()) +
                                       " bytes)..." + in.substr(in.size() - 12));
    char *end = nullptr;
    const double want_d = std::strtod(in.c_str(), &end);
    const size_t want_dn = static_cast<size_t>(end - in.c_str());
    const float want_f = std::strtof(in.c_str(), &end);
    const size_t want_fn = static_cast<size_t>(end - in.c_str());

    double d = 99;
    EXPECT_EQ(sub_strtod(in, &d), want_dn);
    expect_same(d, want_d);
    float f = 99;
    EXPECT_EQ(sub_strtof(in, &f), want_fn);
    expect_same(f, want_f);
  }
}

// A view ends at its size even when the bytes after it continue the number.
TEST(Numbers, StrtodStopsAtTheEndOfItsView) {
  struct Row {
    const char *bytes;
    size_t size;
    size_t want_n;
    double want;
  };
  const Row rows[] = {
      {"1.25", 3, 3, 1.2}, {"1.25", 1, 1, 1.0}, {"1e5", 2, 1, 1.0},           {"0x1p4", 4, 3, 1.0},
      {"0x10", 2, 1, 0.0}, {"0x10", 3, 3, 1.0}, {"infinity", 5, 3, INFINITY}, {"nan(1)", 5, 3, NAN},
      {"  7", 2, 0, 0.0},  {"-5", 1, 0, 0.0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.bytes, row.size));
    double d = 99;
    EXPECT_EQ(sub_strtod(std::string_view(row.bytes, row.size), &d), row.want_n);
    expect_same(d, row.want);
  }
}

// The reading does not follow the locale: with a comma as the decimal
// separator "1.5" is still one and a half.
TEST(Numbers, StrtodIgnoresACommaLocale) {
  const char *const candidates[] = {"de_DE.UTF-8", "de_DE.utf8",  "de_DE",       "fr_FR.UTF-8",
                                    "fr_FR.utf8",  "ru_RU.UTF-8", "it_IT.UTF-8", "es_ES.UTF-8",
                                    "nl_NL.UTF-8", "pt_BR.UTF-8"};
  const char *chosen = nullptr;
  for (const char *name : candidates) {
    if (std::setlocale(LC_NUMERIC, name) &&
        std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
      chosen = name;
      break;
    }
  }
  if (!chosen) {
    std::setlocale(LC_NUMERIC, "C");
    GTEST_SKIP() << "no locale with a comma decimal separator is installed";
  }
  SCOPED_TRACE(chosen);
  EXPECT_EQ(std::strtod("1,5", nullptr), 1.5);  // the runtime does follow it

  double d = 0;
  EXPECT_EQ(sub_strtod("1.5", &d), 3u);
  EXPECT_EQ(d, 1.5);
  EXPECT_EQ(sub_strtod("-2.25e1x", &d), 7u);
  EXPECT_EQ(d, -22.5);
  EXPECT_EQ(sub_strtod("1,5", &d), 1u);
  EXPECT_EQ(d, 1.0);
  float f = 0;
  EXPECT_EQ(sub_strtof("1.5", &f), 3u);
  EXPECT_EQ(f, 1.5f);
  std::setlocale(LC_NUMERIC, "C");
}

TEST(Numbers, AtoiSaturatesAtInt32) {
  struct Row {
    std::string_view in;
    int32_t want;
  };
  const Row rows[] = {
      {"0", 0},
      {"42", 42},
      {"-42", -42},
      {"+42", 42},
      {" \t\n\v\f\r17", 17},
      {"12abc", 12},
      {"12.9", 12},
      {"-0", 0},
      {"000123", 123},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN},
      {"4294967296", INT32_MAX},  // no wrap to 0
      {"4294967338", INT32_MAX},  // no wrap to 42
      {"-4294967338", INT32_MIN},
      {"99999999999999999999999999", INT32_MAX},
      {"-99999999999999999999999999", INT32_MIN},
      {"00000000000000000000000000042", 42},
      {"", 0},
      {" ", 0},
      {"-", 0},
      {"+-1", 0},
      {"--1", 0},
      {"- 1", 0},
      {"0x10", 0},
      {"abc", 0},
      {std::string_view("123", 2), 12},
      {std::string_view("-9", 1), 0},
      {std::string_view("4\0"
                        "2",
                        3),
       4},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::string(row.in)));
    EXPECT_EQ(sub_atoi(row.in), row.want);
  }
}

TEST(Numbers, StrtoulSaturatesAndNegatesModulo2To32) {
  struct Row {
    std::string_view in;
    uint32_t want;
  };
  const Row rows[] = {
      {"0", 0u},
      {"16777215", 16777215u},
      {" +7", 7u},
      {"\t12 ", 12u},
      {"4294967295", 4294967295u},
      {"4294967296", 4294967295u},
      {"18446744073709551617", 4294967295u},  // no wrap to 1
      {"999999999999999999999999", 4294967295u},
      {"-1", 4294967295u},
      {"-4294967295", 1u},
      {"-4294967296", 4294967295u},  // out of range: saturates, sign or not
      {"-99999999999999999999", 4294967295u},
      {"-0", 0u},
      {"-16777216", 4278190080u},
      {"0x1F", 0u},  // base 10 only
      {"1e3", 1u},
      {"", 0u},
      {"-", 0u},
      {"+-5", 0u},
      {"abc", 0u},
      {std::string_view("4294967296", 9), 429496729u},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::string(row.in)));
    EXPECT_EQ(sub_strtoul(row.in), row.want);
  }
}

TEST(Numbers, DoubleToInt32TruncatesTowardZero) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Row {
    double in;
    int32_t want;
  };
  const Row rows[] = {
      {0.0, 0},
      {-0.0, 0},
      {1.9, 1},
      {-1.9, -1},
      {-0.5, 0},
      {1500.999, 1500},
      {2147483647.0, INT32_MAX},
      {2147483647.9, INT32_MAX},
      {2147483648.0, INT32_MIN},
      {1e10, INT32_MIN},
      {-2147483648.0, INT32_MIN},
      {-2147483647.5, -2147483647},
      {-2147483649.0, INT32_MIN},
      {-1e300, INT32_MIN},
      {inf, INT32_MIN},
      {-inf, INT32_MIN},
      {nan, INT32_MIN},
      {-nan, INT32_MIN},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.in));
    EXPECT_EQ(sub_double_to_i32(row.in), row.want);
  }
}

TEST(Numbers, AddSaturates) {
  struct Row {
    int32_t a;
    int64_t b;
    int32_t want;
  };
  const Row rows[] = {
      {1, 2, 3},
      {-5, 3, -2},
      {INT32_MAX, 0, INT32_MAX},
      {INT32_MAX, 1, INT32_MAX},
      {INT32_MAX - 1, 1, INT32_MAX},
      {INT32_MIN, -1, INT32_MIN},
      {INT32_MIN + 1, -1, INT32_MIN},
      {INT32_MIN, INT64_C(4294967295), INT32_MAX},
      {INT32_MAX, -INT64_C(4294967295), INT32_MIN},
      {0, INT64_C(4294967296), INT32_MAX},  // no wrap to 0
      {0, INT64_MAX, INT32_MAX},
      {0, INT64_MIN, INT32_MIN},
      {1, INT64_MAX, INT32_MAX},
      {INT32_MAX, INT64_MAX, INT32_MAX},
      {-1, INT64_MIN, INT32_MIN},
      {INT32_MIN, INT64_MIN, INT32_MIN},
      {INT32_MIN, INT64_MAX, INT32_MAX},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::to_string(row.a) + " + " + std::to_string(row.b));
    EXPECT_EQ(sub_add_sat(row.a, row.b), row.want);
  }
}
