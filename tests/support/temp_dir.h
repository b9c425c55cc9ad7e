// A fresh directory under the system's temporary folder, removed with its
// contents when the test ends.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

namespace lagscan::testing {

class temp_dir {
 public:
  // A random name, made with create_directory, which fails on a name that is
  // taken: two processes can never be given the same directory.
  temp_dir() {
    std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device seed;
    std::mt19937_64 pick(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::filesystem::path candidate = base / ("lagscan-test-" + std::to_string(pick() % 1000000000000u));
      std::error_code taken;
      if (std::filesystem::create_directory(candidate, taken)) {
        path_ = candidate;
        return;
      }
    }
    throw std::runtime_error("cannot make a temporary directory in " + base.string());
  }
  // Tests make files and folders read-only; Windows removes neither while
  // it is.
  ~temp_dir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
  }
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Writes bytes to name (created or truncated) and answers its full path.
  std::string write(const std::string& name, const std::string& bytes) const {
    std::filesystem::path p = path_ / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }

 private:
  std::filesystem::path path_;
};

// Takes every write permission away: on Windows that sets the read-only
// attribute.
inline void make_read_only(const std::filesystem::path& p) {
  using std::filesystem::perms;
  std::filesystem::permissions(p, perms::owner_read | perms::group_read | perms::others_read);
}

inline std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace lagscan::testing
