#include "platform/files.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/redirect.h"

namespace lagscan::platform {

// Windows reads both separators itself and refuses an update-mode open of a
// file with the read-only attribute, so the path and mode go through as given.
std::FILE* open_file(const char* path, const char* mode) {
  return std::fopen(redirected(path), mode);
}

bool seek_file(std::FILE* file, std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
  return ::_fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
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

std::FILE* create_new_file(const char* path, bool binary) {
  // _O_EXCL makes the check for an existing file and the creation one step;
  // _O_TEXT gives the same line ends as fopen's "w", _O_BINARY none.
  int fd = ::_open(path, _O_WRONLY | _O_CREAT | _O_EXCL | (binary ? _O_BINARY : _O_TEXT) | _O_NOINHERIT,
                   _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* f = ::_fdopen(fd, binary ? "wb" : "w");
  if (f == nullptr) {
    ::_close(fd);
    ::_unlink(path);
  }
  return f;
}

std::string link_target(const char* path) { return path; }

// rename() will not replace an existing file on Windows; MoveFileEx does,
// and refuses a read-only target, as open_file does.
bool replace_file(const char* from, const char* to) {
  return ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool remove_file(const char* path) { return ::DeleteFileA(path) != 0; }

bool is_device_or_pipe(const char* path) {
  struct _stat64 st{};
  if (::_stat64(path, &st) != 0) return false;
  const auto kind = st.st_mode & _S_IFMT;
  return kind == _S_IFCHR || kind == _S_IFIFO;
}

bool remove_on_signal(const char*) { return true; }
void forget_on_signal(const char*) {}
std::FILE* create_temporary_file(const char* path, bool binary) { return create_new_file(path, binary); }

bool identify_file(const char* path, file_id& id) {
  // No access rights are asked for, so a file that another program holds
  // open is still looked at; FILE_FLAG_BACKUP_SEMANTICS opens folders too.
  HANDLE handle = ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = ::GetFileInformationByHandle(handle, &info) != 0;
  ::CloseHandle(handle);
  if (!known) return false;
  id.volume = info.dwVolumeSerialNumber;
  id.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

namespace {

// The absolute path, "." and ".." resolved, every separator a backslash.
std::string normal_path(const char* path) {
  char full[_MAX_PATH];
  std::string text = ::_fullpath(full, path, sizeof full) != nullptr ? full : path;
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

}  // namespace

bool same_path(const char* a, const char* b) {
  return ::_stricmp(normal_path(a).c_str(), normal_path(b).c_str()) == 0;
}

}  // namespace lagscan::platform
