#include "platform/contract.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace lagscan::platform {
namespace {

void write_all(const char* text) noexcept {
  std::size_t n = std::strlen(text);
  while (n > 0) {
    ssize_t written = ::write(STDERR_FILENO, text, n);
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
