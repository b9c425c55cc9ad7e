// Conversion of a data token to a real, with exactly the value that the C
// library's atof gives for it: the longest prefix that forms a number in the
// C library's syntax, and 0.0 when there is none (so "1,5" gives 1.0).
#pragma once

#include <cstdint>

namespace lagscan {

double parse_real(const char* token);

// The same for a token of length bytes, which must be followed by a NUL.
double parse_real(const char* token, std::int32_t length);

// The fast part of parse_real, for reading tokens where they stand: when the
// text [begin, end) starts with a plain decimal number, stores its value in
// value and answers where the number ends. When that is the end of the token
// (a byte that no number contains, such as a blank, follows), the value is
// atof's for the token. Answers null, leaving value alone, for anything that
// needs the C library.
const char* parse_plain_decimal(const char* begin, const char* end, double& value);

}  // namespace lagscan
