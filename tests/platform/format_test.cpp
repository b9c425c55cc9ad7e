#include "platform/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace lagscan::platform {
namespace {

struct format_case {
  const char* name;
  double value;
  const char* expected;
};

void PrintTo(const format_case& c, std::ostream* os) { *os << c.name; }

class real_format : public ::testing::TestWithParam<format_case> {};

// Every system spells reals alike: two-digit exponents, and infinities and
// NaNs as C99 has them (the C runtime of Windows has its own forms).
TEST_P(real_format, is_the_same_on_every_system) {
  char buffer[64];
  format_bounded(buffer, sizeof buffer, "%-.9g", GetParam().value);
  EXPECT_STREQ(buffer, GetParam().expected);
}

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan_value = std::nan("");

INSTANTIATE_TEST_SUITE_P(
    values, real_format,
    ::testing::Values(format_case{"nine_digits", 0.8181818181818, "0.818181818"},
                      format_case{"small_exponent", 1e-5, "1e-05"}, format_case{"large_exponent", 1.5e20, "1.5e+20"},
                      format_case{"three_digit_exponent", 1e-300, "1e-300"},
                      format_case{"infinity", inf, "inf"}, format_case{"negative_infinity", -inf, "-inf"},
                      format_case{"nan", nan_value, "nan"}, format_case{"negative_nan", -nan_value, "-nan"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(format_bounded, cuts_what_does_not_fit_and_terminates) {
  char buffer[6] = "?????";
  format_bounded(buffer, sizeof buffer, "%d", 1234567);
  EXPECT_STREQ(buffer, "12345");
  format_bounded(buffer, 1, "%d", 7);
  EXPECT_STREQ(buffer, "");
  format_bounded(buffer, sizeof buffer, "%-1.0f", 4294967296.0);
  EXPECT_STREQ(buffer, "42949");
}

TEST(format_bounded, whole_numbers_print_exactly) {
  char buffer[64];
  format_bounded(buffer, sizeof buffer, "%-1.0f", 9223372036854775808.0);
  EXPECT_STREQ(buffer, "9223372036854775808");
  format_bounded(buffer, sizeof buffer, "%d", -2147483647 - 1);
  EXPECT_STREQ(buffer, "-2147483648");
}

}  // namespace
}  // namespace lagscan::platform
