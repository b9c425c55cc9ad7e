// A file written whole under a temporary name (its own with ".incomplete"
// added) and put in its place only when whole: a run that fails or is
// stopped leaves no file that looks complete, and the file it would have
// replaced stays as it was.
#pragma once

#include <cstdio>
#include <string>

#include "outputs/input_error.h"
#include "platform/files.h"

namespace lagscan::matrix {

class staged_file {
 public:
  // text: opened as a text stream (line ends as the system writes them).
  explicit staged_file(const std::string& path, bool text = false) : path_(path), staged_(path + ".incomplete") {
    file_ = platform::open_file(staged_.c_str(), text ? "w" : "wb");
    if (file_ == nullptr) throw input_error("cannot write " + path_);
  }
  ~staged_file() {
    if (file_ != nullptr) std::fclose(file_);
    if (!placed_) platform::remove_file(staged_.c_str());
  }
  staged_file(const staged_file&) = delete;
  staged_file& operator=(const staged_file&) = delete;

  std::FILE* get() const { return file_; }
  void write(const void* bytes, std::size_t size) {
    if (size != 0 && std::fwrite(bytes, 1, size, file_) != size) failed_ = true;
  }
  // Closes it; a write that failed on the way fails here.
  void close() {
    failed_ = std::fflush(file_) != 0 || std::ferror(file_) != 0 || failed_;
    failed_ = std::fclose(file_) != 0 || failed_;
    file_ = nullptr;
    if (failed_) throw input_error("cannot write " + path_);
  }
  void put_in_place() {
    if (!platform::replace_file(staged_.c_str(), path_.c_str())) throw input_error("cannot write " + path_);
    placed_ = true;
  }

 private:
  std::string path_;
  std::string staged_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  bool placed_ = false;
};

}  // namespace lagscan::matrix
