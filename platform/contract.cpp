#include "platform/contract.h"

#include <cstdlib>
#include <cstring>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace lagscan::platform {
namespace {

void write_all(const char* text) noexcept {
  std::size_t n = std::strlen(text);
  while (n > 0) {
#ifdef _WIN32
    int written = ::_write(2, text, static_cast<unsigned>(n));
#else
    ssize_t written = ::write(STDERR_FILENO, text, n);
#endif
    if (written <= 0) return;
    text += written;
    n -= static_cast<std::size_t>(written);
  }
}

}  // namespace

void stop_on_contract_violation(const char* message) noexcept {
  write_all("lagscan: contract violation: ");
  write_all(message);
  write_all("\n");
  std::abort();
}

}  // namespace lagscan::platform
