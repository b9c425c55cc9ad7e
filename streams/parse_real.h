// Conversion of a data token to a real, with exactly the value that the C
// library's atof gives for it: the longest prefix that forms a number in the
// C library's syntax, and 0.0 when there is none (so "1,5" gives 1.0).
#pragma once

#include <cstdint>

namespace lagscan {

double parse_real(const char* token);

// The same for a token of length bytes, which must be followed by a NUL.
double parse_real(const char* token, std::int32_t length);

}  // namespace lagscan
