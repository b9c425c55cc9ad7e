// A file mapped read-only into memory. The portable code calls no system's
// mapping itself.
//
// Contract, the same on every system:
//  - open() maps the whole file read-only and shared, so that the pages are
//    the system's file cache: any number of processes reading one file hold
//    one copy, and only the pages touched are read from the disk.
//  - An empty file opens with data() null and size() 0.
//  - A failure leaves the object closed; why it failed is not kept (the
//    caller names the file in its own message).
//  - The mapping ends with the object, or with close().
#pragma once

#include <cstdint>

namespace lagscan::platform {

class mapped_file {
 public:
  mapped_file() = default;
  ~mapped_file() { close(); }
  mapped_file(const mapped_file&) = delete;
  mapped_file& operator=(const mapped_file&) = delete;

  // false when the file cannot be opened, measured or mapped.
  bool open(const char* path);
  void close() noexcept;

  const unsigned char* data() const { return data_; }
  std::uint64_t size() const { return size_; }

 private:
  const unsigned char* data_ = nullptr;
  std::uint64_t size_ = 0;
#ifdef _WIN32
  void* handle_ = nullptr;  // the mapping object
#endif
};

}  // namespace lagscan::platform
