#include "platform/files.h"

#include <direct.h>
#include <sys/stat.h>

#include "platform/redirect.h"

namespace lagscan::platform {

// Windows reads both separators itself and refuses an update-mode open of a
// file with the read-only attribute, so the path and mode go through as given.
std::FILE* open_file(const char* path, const char* mode) {
  return std::fopen(redirected(path), mode);
}

// _stat's size field has 32 bits; the 64-bit form lets the caller tell a
// file of 4 GiB from an empty one.
std::int64_t file_size(const char* path) {
  struct _stat64 st{};
  if (::_stat64(path, &st) != 0) return -1;
  return st.st_size;
}

bool current_directory(char* buffer, int size) {
  if (size <= 0) return false;
  return ::_getcwd(buffer, size) != nullptr;
}

void fail_writes_to_closed_pipes() noexcept {}

}  // namespace lagscan::platform
