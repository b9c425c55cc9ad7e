#include "platform/mapped_file.h"

#include <windows.h>

namespace lagscan::platform {

bool mapped_file::open(const char* path) {
  close();
  HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = ::GetFileSizeEx(file, &size) != 0;
  if (ok && size.QuadPart > 0) {
    // A mapping of an empty file is refused by the system; the empty file
    // opens without one.
    HANDLE mapping = ::CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    ok = mapping != nullptr;
    if (ok) {
      void* at = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
      ok = at != nullptr;
      if (ok) {
        data_ = static_cast<const unsigned char*>(at);
        size_ = static_cast<std::uint64_t>(size.QuadPart);
        handle_ = mapping;
      } else {
        ::CloseHandle(mapping);
      }
    }
  }
  ::CloseHandle(file);  // the view keeps the file
  return ok;
}

void mapped_file::close() noexcept {
  if (data_ != nullptr) ::UnmapViewOfFile(data_);
  if (handle_ != nullptr) ::CloseHandle(handle_);
  data_ = nullptr;
  size_ = 0;
  handle_ = nullptr;
}

// The system refuses to cut short a file while a view of it is mapped
// (ERROR_USER_MAPPED_FILE), so no page of a view is ever lost this way.
void end_on_lost_pages(const char*) noexcept {}

}  // namespace lagscan::platform
