// A file mapped read-only into memory. The portable code calls no system's
// mapping itself.
//
// Contract, the same on every system:
//  - open() maps the whole file read-only and shared, so that the pages are
//    the system's file cache: any number of processes reading one file hold
//    one copy, and only the pages touched are read from the disk.
//  - The path follows the separator rule of platform/files.h ("\" is a
//    separator too).
//  - An empty file opens with data() null and size() 0.
//  - A failure leaves the object closed; why it failed is not kept (the
//    caller names the file in its own message).
//  - The mapping ends with the object, or with close().
//  - A file cut short by another program while it is mapped has lost the
//    pages past its new end: on POSIX systems reading one raises SIGBUS,
//    which ends the process without a word. end_on_lost_pages() turns that
//    into a message naming the file and status 1. Windows refuses to cut
//    short a file while a view of it is mapped, so there is nothing to end.
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

// From now on a lost page of a mapped file ends the process with the
// message "<program>: <path>: cut short while it was being read (it changed
// during the run)" on standard error and status 1, after removing the files
// recorded with remove_on_signal (files.h). Installed once; a SIGBUS that is
// not a lost page of a mapped file ends the process as before. Does nothing
// on Windows.
void end_on_lost_pages(const char* program) noexcept;

}  // namespace lagscan::platform
