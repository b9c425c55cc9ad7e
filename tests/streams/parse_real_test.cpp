// parse_real must give atof's value to the bit: atof(t) is strtod(t, NULL),
// so every token is compared with strtod's bit pattern (NaNs included: those
// come from the C library on both sides).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "streams/parse_real.h"

namespace lagscan {
namespace {

#if defined(LAGSCAN_SANITIZE)
constexpr int random_scale = 20;  // instrumented code runs many times slower
#else
constexpr int random_scale = 1;
#endif

std::string shown(const std::string& token) {
  std::string text;
  for (char c : token) {
    if (c >= 0x20 && c < 0x7F) {
      text += c;
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
      text += code;
    }
  }
  return '"' + text + '"';
}

::testing::AssertionResult reads_like_strtod(const std::string& token) {
  double expected = std::strtod(token.c_str(), nullptr);
  double by_length = parse_real(token.c_str(), static_cast<std::int32_t>(token.size()));
  double by_text = parse_real(token.c_str());
  auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };
  if (bits(by_length) == bits(expected) && bits(by_text) == bits(expected)) return ::testing::AssertionSuccess();
  char values[160];
  std::snprintf(values, sizeof values, "strtod gives %a, parse_real %a (with length) and %a", expected, by_length,
                by_text);
  return ::testing::AssertionFailure() << shown(token) << ": " << values;
}

TEST(parse_real, awkward_tokens_read_as_strtod_reads_them) {
  const std::string tokens[] = {
      // nothing to read, or a prefix only
      "", "-", "+", ".", "-.", "+.", "e5", ".e5", "-e5", "1,5", "1.5e", "1.5e+", "1.5e-3x", "1.2.3", "--1", "-+1",
      "+-1", "1_000", "1d5", "7x",
      // plain decimals
      "0", "-0", "-0.0e10", "1", "-1", ".5", "-.5", "5.", "1E5", "1e+5", "1e-5", "0000000000000000000000011",
      "0.1", "123456789012345678901234567890", "9007199254740993", "9007199254740992.5",
      std::string(800, '9'), "0." + std::string(400, '0') + "1e+300",
      // what only the C library reads: white space, plus, hex, inf, nan
      " 1", "\t1", "\n1", "\r1", "\v1", "\f1", "+1", "+.5", "0x1p3", "-0x1p3", "0X1P-3", "0x", "0x.8", "0xg",
      "-0x", "0x1.fffffffffffffp1023", "0x1p-1075", "inf", "-inf", "INFINITY", "infinit", "Inf5", "nan", "-nan",
      "NAN", "nan(123)", "nan(abc", "nanx",
      // the edges of the range: overflow, the largest value, subnormals, underflow
      "1e400", "-1e400", "1e9999999999999999999", "1.7976931348623157e308", "1.7976931348623158e308",
      "1.7976931348623159e308", "2.2250738585072011e-308", "2.2250738585072014e-308", "4e-320", "-4e-320",
      "5e-324", "2.4703282292062327e-324", "2.4703282292062328e-324", "1e-400", "-1e-400",
      "1e-9999999999999999999",
      // what ends a token in a data file but not a number
      "1\v", "2\f3", "4'", "5/*",
  };
  for (const std::string& token : tokens) EXPECT_TRUE(reads_like_strtod(token));
}

// Every finite double printed as the data files hold them, and with fewer
// digits, which puts many values exactly halfway between two doubles.
TEST(parse_real, random_doubles_in_every_precision_read_as_strtod_reads_them) {
  std::mt19937_64 rng(3);
  char text[64];
  const int count = 1'000'000 / random_scale;
  for (int i = 0; i < count; ++i) {
    double value = std::bit_cast<double>(rng());
    if (!std::isfinite(value)) continue;
    int digits = i % 4 == 0 ? static_cast<int>(rng() % 17) + 1 : 17;
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    ASSERT_TRUE(reads_like_strtod(text)) << "case " << i;
  }
}

// Random strings over the characters that matter to either reader, so that
// the borders between the fast path and the C library are crossed often.
TEST(parse_real, random_strings_read_as_strtod_reads_them) {
  std::mt19937_64 rng(5);
  const std::string alphabet = "0123456789012345678901234567890123456789..--+eeEExXpPinfaINFAy( )\v\f,";
  const int count = 1'000'000 / random_scale;
  std::string token;
  for (int i = 0; i < count; ++i) {
    token.clear();
    auto length = rng() % 24;
    for (std::uint64_t k = 0; k < length; ++k) token += alphabet[rng() % alphabet.size()];
    ASSERT_TRUE(reads_like_strtod(token)) << "case " << i;
  }
}

}  // namespace
}  // namespace lagscan
