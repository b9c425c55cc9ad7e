// file_base: a C runtime stream with the file's open mode, path and
// directory, the root of the file classes.
#pragma once

#include <cstdint>
#include <cstdio>

#include "memory/text_buffer.h"

namespace lagscan {

// Open flags: what an open does when it fails.
inline constexpr std::int32_t raise_on_fail = 0x10;   // raise " Cannot open file <path>"
inline constexpr std::int32_t report_on_fail = 0x20;  // write "Cannot open file <path>\n"

class file_base {
 public:
  // flags bit: the handle belongs to someone else and is never closed here.
  static constexpr std::int32_t borrowed = 1;

  file_base() = default;
  file_base(const file_base&) = delete;
  file_base& operator=(const file_base&) = delete;
  virtual ~file_base();

  // set_path, then open(open_flags); 1 on success, 0 on failure.
  virtual int open(char_range path, std::int32_t open_flags);
  virtual int open(std::int32_t open_flags);
  virtual const char* path() const { return file_path.c_str(); }
  virtual const char* directory() const { return file_directory.c_str(); }
  virtual void close();

  // Stores the path without surrounding quotes and works out its directory.
  void set_path(char_range path);
  // An empty mode becomes "r".
  void default_mode();

  std::FILE* handle = nullptr;
  std::int32_t flags = 0;
  text_buffer mode;
  text_buffer file_path;
  text_buffer file_directory;
};

}  // namespace lagscan
