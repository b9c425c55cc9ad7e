// A private directory for the files a fuzz target hands to the library, made
// once per process and removed at exit; plain POSIX calls so that the
// harness does not lean on the code under test. It lives in memory
// (/dev/shm) where there is one: rewriting a file on ext4 flushes it to disk
// at close, which would make the disk the fuzzers' bottleneck.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace lagscan::fuzz {

class scratch_dir {
 public:
  scratch_dir() {
    std::error_code no_shm;
    std::filesystem::path base = std::filesystem::is_directory("/dev/shm", no_shm) && ::access("/dev/shm", W_OK) == 0
                                     ? std::filesystem::path("/dev/shm")
                                     : std::filesystem::temp_directory_path();
    std::string pattern = (base / "lagscan-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~scratch_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes bytes to path, replacing what was there.
inline void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) std::abort();
}

inline std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What must not change when the library reads a file: its bytes and its
// modification time (the files are opened for update).
struct file_stamp {
  std::string bytes;
  struct timespec mtime;

  static file_stamp of(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) std::abort();
    return {read_bytes(path), st.st_mtim};
  }
  bool operator==(const file_stamp& other) const {
    return bytes == other.bytes && mtime.tv_sec == other.mtime.tv_sec && mtime.tv_nsec == other.mtime.tv_nsec;
  }
};

}  // namespace lagscan::fuzz
