// Conversion of a data token to a real, with exactly the value that the C
// library's atof gives for it.
#pragma once

namespace lagscan {

double parse_real(const char* token);

}  // namespace lagscan
