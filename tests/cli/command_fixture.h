// The fixture of every command-line test: lagscan runs as a child in a data
// directory, and every run must end with status 1, write nothing to standard
// error and leave each data file's bytes and modification time as they were
// (the files are opened for update). On Windows, standard output is a text
// stream: every line must end in CR LF there, and the output is checked with
// its line ends turned back into LF, so that one expected text serves both.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
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
  std::uintmax_t size;
  std::uint64_t blocks;  // of large files, which are sparse: a write would allocate
  std::int64_t mtime_ns;
};

// Every regular file under dir with its bytes and modification time. Large
// files are not read, so that their access times tell whether lagscan read
// them.
inline std::map<std::string, file_state> snapshot(const fs::path& dir) {
  std::map<std::string, file_state> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::uintmax_t size = entry.file_size();
    bool small = size <= (1 << 20);
    std::uint64_t blocks = 0;
#ifndef _WIN32
    struct stat st{};
    ::stat(entry.path().c_str(), &st);
    if (!small) blocks = static_cast<std::uint64_t>(st.st_blocks);
#endif
    auto mtime = entry.last_write_time().time_since_epoch();
    files[entry.path().string()] = {small ? read_file(entry.path()) : std::string(), size, blocks,
                                    std::chrono::duration_cast<std::chrono::nanoseconds>(mtime).count()};
  }
  return files;
}

class command : public ::testing::Test {
 protected:
  // Runs lagscan in the data directory and checks what holds for every run.
  process_result run(const std::vector<std::string>& args, const std::function<void()>& in_child = {}) {
    auto before = snapshot(data.path());
    process_result r = run_process(LAGSCAN_EXE, args, data.path(), in_child, {}, child_time_limit);
#ifdef _WIN32
    EXPECT_FALSE(has_bare_lf(r.out)) << "every line of standard output must end in CR LF";
    r.out = with_lf_line_ends(r.out);
#endif
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
      EXPECT_EQ(after[name].mtime_ns, state.mtime_ns) << name << " was touched";
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
    data.write("nan.xy", "1 nan\n2 1\n3 1\n");
    data.write("minus_nan.xy", "1 -nan\n2 1\n3 1\n");
    data.write("inf.xy", "1 inf\n2 1\n3 1\n");
    data.write("tiny.xy", "1 1e-170\n2 1e-170\n3 1e-170\n");
  }

  temp_dir data;
  unsigned child_time_limit = child_time_limit_seconds;  // raised by the few long cases
};

}  // namespace lagscan::testing
