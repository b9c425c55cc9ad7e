#include "platform/format.h"

#include <cstdarg>
#include <cstdio>

namespace lagscan::platform {

void format_bounded(char* buffer, std::size_t size, const char* format, ...) {
  if (size == 0) return;
  std::va_list args;
  va_start(args, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::vsnprintf(buffer, size, format, args);  // truncates and terminates
#pragma GCC diagnostic pop
  va_end(args);
}

}  // namespace lagscan::platform
