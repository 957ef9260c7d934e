#include <gtest/gtest.h>

#include "test_support.h"

TEST(Smoke, ParsesNothingYet) {
  const std::string data = "hello";
  EXPECT_EQ(sub_parse(data.data(), data.size(), -1, nullptr), 5);
  EXPECT_STREQ(sub_last_error(), "all parsers failed");
}
