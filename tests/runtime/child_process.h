// Runs a program in a child process and collects its standard output.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace lagscan::test {

struct child_result {
  std::string output;
  bool exited = false;  // ended through exit, not by a signal
  int status = -1;
};

struct child_options {
  std::filesystem::path directory;
  std::string omp_num_threads;        // OMP_NUM_THREADS for the child; "" leaves it unset
  std::uint64_t address_space = 0;    // RLIMIT_AS in bytes; 0 leaves it as it is
};

child_result run_child(const std::string& program, const std::vector<std::string>& arguments,
                       const child_options& options);

// name=value lines of a probe's output.
std::map<std::string, std::string> parse_report(const std::string& output);

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class temp_directory {
 public:
  temp_directory();
  temp_directory(const temp_directory&) = delete;
  temp_directory& operator=(const temp_directory&) = delete;
  ~temp_directory();

  const std::filesystem::path& path() const { return path_; }
  void write(const std::string& name, const std::string& content) const;

 private:
  std::filesystem::path path_;
};

}  // namespace lagscan::test
