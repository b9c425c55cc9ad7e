#include "platform/files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace lagscan::platform {
namespace {

namespace fs = std::filesystem;

// Every "/" of path as "\".
std::string with_backslashes(std::string path) {
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}

TEST(open_file, a_redirected_name_opens_its_replacement_with_the_same_mode) {
  testing::temp_dir dir;
  std::string replacement = (dir.path() / "redirect.txt").string();
  const char* name = "\\no-such-folder\\log.txt";
  redirect_for_tests(name, replacement.c_str());
  std::FILE* f = open_file(name, "w");
  ASSERT_NE(f, nullptr);
  std::fputs("line", f);
  std::fclose(f);
  EXPECT_EQ(testing::read_file(replacement), "line");

  redirect_for_tests(name, nullptr);
  EXPECT_EQ(open_file(name, "w"), nullptr);  // the folder does not exist
}

TEST(open_file, other_names_are_not_redirected_and_backslashes_are_separators) {
  testing::temp_dir dir;
  std::string replacement = (dir.path() / "unused.txt").string();
  redirect_for_tests("\\x8\\t0.txt", replacement.c_str());
  fs::path target = dir.path() / "sub" / "direct.txt";
  fs::create_directory(target.parent_path());
  std::FILE* f = open_file(with_backslashes(target.string()).c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(fs::exists(target));
  EXPECT_FALSE(fs::exists(replacement));
  redirect_for_tests("\\x8\\t0.txt", nullptr);
}

struct mode_case {
  const char* mode;
  bool opens_read_only_file;
};

// A read-only file opens for reading only; the update mode of the data
// files must fail on it, for an administrator or root as well.
TEST(open_file, read_only_file_opens_for_reading_only) {
  testing::temp_dir dir;
  std::string path = dir.write("locked.txt", "1 2\n");
  testing::make_read_only(path);
  const mode_case cases[] = {{"rb", true}, {"r", true}, {"r+b", false}, {"r+", false}, {"ab", false}, {"wb", false}};
  for (const mode_case& c : cases) {
    std::FILE* f = open_file(path.c_str(), c.mode);
    EXPECT_EQ(f != nullptr, c.opens_read_only_file) << c.mode;
    if (f != nullptr) std::fclose(f);
  }
  EXPECT_EQ(testing::read_file(path), "1 2\n");
}

// An open for reading refuses a folder, as an open for update does (a folder
// would otherwise read as an empty data file).
TEST(open_file, a_folder_opens_in_no_mode) {
  testing::temp_dir dir;
  for (const char* mode : {"rb", "r", "r+b"}) {
    std::FILE* f = open_file(dir.path().string().c_str(), mode);
    EXPECT_EQ(f, nullptr) << mode;
    if (f != nullptr) std::fclose(f);
  }
}

TEST(file_size, is_exact_beyond_32_bits_and_minus_one_when_the_file_is_missing) {
  testing::temp_dir dir;
  struct {
    const char* name;
    std::uintmax_t size;
  } const cases[] = {{"empty", 0}, {"small", 5}, {"two_gib", std::uintmax_t{1} << 31},
                     {"wraps_to_one_in_32_bits", (std::uintmax_t{1} << 32) + 1}};
  for (const auto& c : cases) {
    std::string path = dir.write(c.name, "");
    fs::resize_file(path, c.size);  // sparse: no disk is used
    EXPECT_EQ(file_size(path.c_str()), static_cast<std::int64_t>(c.size)) << c.name;
    EXPECT_EQ(file_size(with_backslashes(path).c_str()), static_cast<std::int64_t>(c.size)) << c.name;
  }
  EXPECT_EQ(file_size((dir.path() / "missing").string().c_str()), -1);
}

TEST(current_directory, is_the_process_directory_and_fails_when_it_does_not_fit) {
  std::string expected = fs::current_path().string();
  char buffer[4096];
  ASSERT_TRUE(current_directory(buffer, static_cast<int>(sizeof buffer)));
  EXPECT_EQ(std::string(buffer), expected);
  EXPECT_TRUE(current_directory(buffer, static_cast<int>(expected.size() + 1)));  // just fits
  EXPECT_FALSE(current_directory(buffer, static_cast<int>(expected.size())));     // no room for the terminator
  EXPECT_FALSE(current_directory(buffer, 0));
}

}  // namespace
}  // namespace lagscan::platform
