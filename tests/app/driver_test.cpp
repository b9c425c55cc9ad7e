#include <gtest/gtest.h>

#include <climits>

#include "app/driver.h"

namespace lagscan {
namespace {

TEST(parse_window_width, reads_like_the_c_library_and_clamps_to_32_bits) {
  struct {
    const char* text;
    std::int32_t value;
  } cases[] = {
      {"7", 7},          {"7x", 7},          {" +5", 5},          {"5.9", 5},
      {"\t\n\v\f\r 3", 3}, {"-3", -3},         {"", 0},             {"abc", 0},
      {"0x7", 0},        {"+", 0},           {"- 3", 0},          {"+-3", 0},
      {"2147483647", INT32_MAX},            {"2147483648", INT32_MAX},
      {"99999999999999999999999", INT32_MAX}, {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN},           {"-99999999999999999999", INT32_MIN},
      {"0000000000000000000000011", 11},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_window_width(c.text), c.value) << '"' << c.text << '"';
}

}  // namespace
}  // namespace lagscan
