// The mapped file's contract: the whole file read-only, "\" read as a
// separator, and (POSIX) a page lost to a file cut short while mapped ends
// the process with a message naming the file, after removing the recorded
// temporary files, instead of a silent SIGBUS.
#include "platform/mapped_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/files.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

namespace lagscan::platform {
namespace {

namespace fs = std::filesystem;

TEST(mapped_file, maps_the_whole_file_by_a_path_with_either_separator) {
  testing::temp_dir dir;
  fs::create_directory(dir.path() / "sub");
  dir.write("sub/set.bin", "0123456789");
  std::string path = (dir.path() / "sub" / "set.bin").string();
  for (char& c : path) c = c == '/' ? '\\' : c;
  mapped_file file;
  ASSERT_TRUE(file.open(path.c_str()));
  ASSERT_EQ(file.size(), 10u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data()), 10), "0123456789");
  file.close();
  EXPECT_EQ(file.data(), nullptr);
  EXPECT_FALSE(file.open((dir.path() / "sub" / "missing.bin").string().c_str()));
}

#ifndef _WIN32
// A file of 64 KiB, mapped, then cut to nothing: its pages are lost.
void read_a_lost_page(const std::string& path) {
  end_on_lost_pages("prog");
  mapped_file file;
  if (!file.open(path.c_str())) std::_Exit(3);
  if (::truncate(path.c_str(), 0) != 0) std::_Exit(4);
  volatile unsigned char byte = file.data()[40000];
  (void)byte;
  std::_Exit(5);  // not reached: the page is gone
}

TEST(mapped_file_death, a_lost_page_ends_the_process_with_a_message_naming_the_file) {
  testing::temp_dir dir;
  const std::string path = dir.write("set.npy", std::string(1 << 16, 'x'));
  const std::string temporary = (dir.path() / "out.tmp").string();
  EXPECT_EXIT(
      {
        std::FILE* out = create_temporary_file(temporary.c_str());
        if (out == nullptr) std::_Exit(6);
        read_a_lost_page(path);
      },
      ::testing::ExitedWithCode(1), "^prog: " + path + ": cut short while it was being read \\(it changed during the run\\)\n$");
  EXPECT_FALSE(fs::exists(temporary)) << "the recorded temporary file is removed";
}

TEST(mapped_file_death, a_sigbus_that_is_no_lost_page_ends_the_process_as_before) {
  EXPECT_EXIT(
      {
        end_on_lost_pages("prog");
        ::raise(SIGBUS);
        std::_Exit(5);
      },
      ::testing::KilledBySignal(SIGBUS), "^$");
}
#endif

}  // namespace
}  // namespace lagscan::platform
