#include "api/library_calls.h"

#include "memory/heap_3.h"

namespace lagscan::api {

void start_library_call() noexcept {
  if ((locking_switch.load(std::memory_order_relaxed) & 1) == 0) locking_switch.fetch_or(1);
}

void raise_as_runtime_error(except_3* error) {
  const char* text = error->text.c_str();
  std::string message(*text == ' ' ? text + 1 : text);
  release_error(error);
  throw std::runtime_error(message);
}

}  // namespace lagscan::api
