// The fixture of every command-line test: lagscan runs as a child in a data
// directory, and every run must end with status 1, write nothing to standard
// error and leave each data file's bytes and modification time as they were
// (the files are opened for update).
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/temp_dir.h"

namespace lagscan::testing {

namespace fs = std::filesystem;

inline const std::string usage =
    "\n*** Error - three arguments needed *** \n\nUsage:\n\n   lagscan file1.xy file2.xy s\n\nwhere\n\n"
    "   s is an odd number";
inline const std::string even_s = "s needs to be an odd number\n";
inline const std::string counts_differ = "Number of points in files needs to be the same\n";

inline std::string result(const std::string& value) { return "\nCross Correlation " + value + "\n"; }

struct file_state {
  std::string bytes;  // the contents of small files
  off_t size;
  blkcnt_t blocks;    // of large files, which are sparse: a write would allocate
  struct timespec mtime;
};

// Every regular file under dir with its bytes and modification time. Large
// files are not read, so that their access times tell whether lagscan read
// them.
inline std::map<std::string, file_state> snapshot(const fs::path& dir) {
  std::map<std::string, file_state> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    struct stat st{};
    ::stat(entry.path().c_str(), &st);
    bool small = st.st_size <= (1 << 20);
    files[entry.path().string()] = {small ? read_file(entry.path()) : std::string(), st.st_size,
                                    small ? 0 : st.st_blocks, st.st_mtim};
  }
  return files;
}

class command : public ::testing::Test {
 protected:
  // A run that takes longer than this is a hang (the child is killed, and
  // the test fails on its status).
  static constexpr unsigned time_limit_seconds = 600;

  // Runs lagscan in the data directory and checks what holds for every run.
  process_result run(const std::vector<std::string>& args, const std::function<void()>& in_child = {}) {
    auto before = snapshot(data.path());
    auto arrange = [&in_child] {
      ::alarm(time_limit_seconds);  // survives exec
      if (in_child) in_child();
    };
    process_result r = run_process(LAGSCAN_EXE, args, data.path(), arrange);
    EXPECT_EQ(r.status, 1) << "lagscan ends with status 1 in every case";
    EXPECT_EQ(r.err, "") << "nothing may be written to standard error";
    auto after = snapshot(data.path());
    EXPECT_EQ(before.size(), after.size());
    for (const auto& [name, state] : before) {
      if (after.count(name) == 0) {
        ADD_FAILURE() << name << " vanished";
        continue;
      }
      EXPECT_EQ(after[name].bytes, state.bytes) << name << " was changed";
      EXPECT_EQ(after[name].size, state.size) << name << " was changed";
      EXPECT_EQ(after[name].blocks, state.blocks) << name << " was written";
      EXPECT_EQ(after[name].mtime.tv_sec, state.mtime.tv_sec) << name << " was touched";
      EXPECT_EQ(after[name].mtime.tv_nsec, state.mtime.tv_nsec) << name << " was touched";
    }
    return r;
  }

  void SetUp() override {
    data.write("up.xy", "1 1\n2 2\n3 3\n");
    data.write("down.xy", "1 3\n2 2\n3 1\n");
    data.write("four.xy", "1 1\n2 2\n3 3\n4 4\n");
    data.write("six.xy", "1 1\n2 2\n3 3\n4 4\n5 5\n6 6\n");
    data.write("six_other.xy", "1 2\n2 1\n3 0\n4 1\n5 2\n6 3\n");
    data.write("empty.xy", "");
    data.write("comments_only.xy", "' nothing here\n/* nor /* here */ */\n");
  }

  temp_dir data;
};

}  // namespace lagscan::testing
