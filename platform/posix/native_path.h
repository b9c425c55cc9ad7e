// Inside platform/posix/ only: the path the system is given for a path of
// the portable code, whose separators may be "\" (platform/files.h).
#pragma once

#include <cerrno>
#include <climits>
#include <cstring>

namespace lagscan::platform {

// Copies path into out with every backslash read as a slash; false (errno
// ENAMETOOLONG) when it does not fit.
inline bool native_path(const char* path, char (&out)[PATH_MAX]) {
  const std::size_t n = std::strlen(path);
  if (n >= sizeof out) {
    errno = ENAMETOOLONG;
    return false;
  }
  for (std::size_t i = 0; i < n; ++i) out[i] = path[i] == '\\' ? '/' : path[i];
  out[n] = '\0';
  return true;
}

}  // namespace lagscan::platform
