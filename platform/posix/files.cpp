#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <climits>
#include <cstring>

#include "platform/redirect.h"

namespace lagscan::platform {
namespace {

// Copies path into out with every backslash read as a slash; false when it
// does not fit.
bool native_path(const char* path, char (&out)[PATH_MAX]) {
  std::size_t n = std::strlen(path);
  if (n >= sizeof out) {
    errno = ENAMETOOLONG;
    return false;
  }
  for (std::size_t i = 0; i < n; ++i) out[i] = path[i] == '\\' ? '/' : path[i];
  out[n] = '\0';
  return true;
}

bool wants_write(const char* mode) {
  return std::strpbrk(mode, "+wa") != nullptr;
}

bool is_read_only(const struct stat& st) {
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

std::FILE* open_file(const char* path, const char* mode) {
  char native[PATH_MAX];
  if (!native_path(redirected(path), native)) return nullptr;
  // Root may write anything, so the permission bits are checked here: a file
  // nobody may write must not be opened for update by anyone.
  struct stat st{};
  if (wants_write(mode) && ::stat(native, &st) == 0 && is_read_only(st)) {
    errno = EACCES;
    return nullptr;
  }
  std::FILE* f = std::fopen(native, mode);
  if (f != nullptr && wants_write(mode) && ::fstat(fileno(f), &st) == 0 && is_read_only(st)) {
    std::fclose(f);  // the file changed between the two looks
    errno = EACCES;
    return nullptr;
  }
  return f;
}

std::int64_t file_size(const char* path) {
  char native[PATH_MAX];
  struct stat st{};
  if (!native_path(path, native) || ::stat(native, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool current_directory(char* buffer, int size) {
  if (size <= 0) return false;
  return ::getcwd(buffer, static_cast<std::size_t>(size)) != nullptr;
}

void fail_writes_to_closed_pipes() noexcept { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace lagscan::platform
