#include "streams/parse_real.h"

#include <cstdlib>

namespace lagscan {

double parse_real(const char* token) { return std::strtod(token, nullptr); }

}  // namespace lagscan
