#include "streams/parse_real.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#ifndef LAGSCAN_REFERENCE_PATHS
#define LAGSCAN_REFERENCE_PATHS 0
#endif

namespace lagscan {
namespace {

// Whether std::from_chars reads the token exactly as strtod does: both round
// correctly to nearest and stop at the first character that cannot extend
// the number, so they agree on an optional minus followed by decimal digits,
// point and exponent. strtod alone skips leading white space and reads a
// plus sign, hexadecimal numbers, "inf" and "nan"; those go to the C library.
// (The program never sets a locale, so the decimal point is '.'.)
bool reads_alike(const char* p, const char* end) {
  if (p != end && *p == '-') ++p;
  if (p == end) return false;
  if (*p == '.') return true;
  if (*p < '0' || *p > '9') return false;
  return !(*p == '0' && end - p > 1 && (p[1] | 0x20) == 'x');
}

}  // namespace

const char* parse_plain_decimal(const char* begin, const char* end, double& value) {
  if (LAGSCAN_REFERENCE_PATHS || !reads_alike(begin, end)) return nullptr;
  // Overflow and underflow are errors to from_chars but values to strtod
  // (an infinity, zero or the nearest subnormal), as is a lone point.
  auto [stop, error] = std::from_chars(begin, end, value);
  return error == std::errc{} ? stop : nullptr;
}

double parse_real(const char* token) { return parse_real(token, static_cast<std::int32_t>(std::strlen(token))); }

double parse_real(const char* token, std::int32_t length) {
  double value = 0.0;
  if (parse_plain_decimal(token, token + length, value) != nullptr) return value;
  return std::strtod(token, nullptr);
}

}  // namespace lagscan
