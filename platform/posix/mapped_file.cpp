#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lagscan::platform {

bool mapped_file::open(const char* path) {
  close();
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st{};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok && st.st_size > 0) {
    void* at = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
    ok = at != MAP_FAILED;
    if (ok) {
      data_ = static_cast<const unsigned char*>(at);
      size_ = static_cast<std::uint64_t>(st.st_size);
    }
  }
  ::close(fd);  // the mapping keeps the file
  return ok;
}

void mapped_file::close() noexcept {
  if (data_ != nullptr) ::munmap(const_cast<unsigned char*>(data_), static_cast<std::size_t>(size_));
  data_ = nullptr;
  size_ = 0;
}

}  // namespace lagscan::platform
