#include "platform/redirect.h"

#include <atomic>
#include <cstring>

#include "platform/files.h"

namespace lagscan::platform {
namespace {

// Set by tests before the redirected file is first opened.
std::atomic<const char*> redirected_path{nullptr};
std::atomic<const char*> replacement_path{nullptr};

}  // namespace

void redirect_for_tests(const char* path, const char* replacement) noexcept {
  redirected_path.store(nullptr, std::memory_order_release);
  if (replacement == nullptr) return;
  replacement_path.store(replacement, std::memory_order_release);
  redirected_path.store(path, std::memory_order_release);
}

const char* redirected(const char* path) noexcept {
  const char* from = redirected_path.load(std::memory_order_acquire);
  if (from == nullptr || std::strcmp(from, path) != 0) return path;
  return replacement_path.load(std::memory_order_acquire);
}

}  // namespace lagscan::platform
