// Bounded formatting: writes at most size - 1 characters and always
// terminates; text that does not fit is cut. The result is not reported.
#pragma once

#include <cstddef>

namespace lagscan::platform {

void format_bounded(char* buffer, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace lagscan::platform
