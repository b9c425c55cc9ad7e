// The command under faults of its surroundings that Windows has: data files
// that another program holds without sharing, that are folders or devices,
// that are read-only, and files too large for the 32-bit sizes. Whatever
// happens, lagscan must not crash, must end with status 1, must print only
// its own messages and must leave every data file as it was (the fixture
// checks the last three on every run).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>

#include "cli/command_fixture.h"

namespace lagscan::testing {
namespace {

const std::string up_down_result = result("0.818181818");  // the worked example, up.xy against down.xy, s = 3

// --- Data files held by another program -----------------------------------

// An open handle of this process stands for the other program.
class held_file {
 public:
  held_file(const fs::path& path, DWORD access, DWORD share)
      : handle_(CreateFileA(path.string().c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr)) {}
  ~held_file() {
    if (is_open()) CloseHandle(handle_);
  }
  held_file(const held_file&) = delete;
  held_file& operator=(const held_file&) = delete;
  bool is_open() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

struct sharing_case {
  const char* name;
  DWORD access;  // of the other program's handle
  DWORD share;   // what it lets others do
  std::string expected;
};

void PrintTo(const sharing_case& c, std::ostream* os) { *os << c.name; }

class data_file_held_elsewhere : public command, public ::testing::WithParamInterface<sharing_case> {};

// lagscan opens for update: it needs others to share reading and writing.
TEST_P(data_file_held_elsewhere, opens_only_when_reading_and_writing_are_shared) {
  held_file other(data.path() / "down.xy", GetParam().access, GetParam().share);
  ASSERT_TRUE(other.is_open());
  EXPECT_EQ(run({"up.xy", "down.xy", "3"}).out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    modes, data_file_held_elsewhere,
    ::testing::Values(sharing_case{"exclusively", GENERIC_READ, 0, " Cannot open file down.xy\n"},
                      sharing_case{"sharing_only_reads", GENERIC_READ, FILE_SHARE_READ, " Cannot open file down.xy\n"},
                      sharing_case{"sharing_reads_and_writes", GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, up_down_result}),
    [](const auto& row) { return std::string(row.param.name); });

// --- Data files that are not plain files ----------------------------------

TEST_F(command, folder_given_as_a_data_file_is_refused) {
  fs::create_directory(data.path() / "odd.xy");
  EXPECT_EQ(run({"odd.xy", "up.xy", "3"}).out, " Cannot open file odd.xy\n");
}

TEST_F(command, read_only_file_is_refused_also_when_it_is_the_second) {
  std::string path = data.write("locked.xy", "1 3\n2 2\n3 1\n");
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_NE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(run({"up.xy", "locked.xy", "3"}).out, " Cannot open file locked.xy\n");
}

// --- Files too large for the 32-bit sizes ---------------------------------

struct huge_case {
  const char* name;
  std::uintmax_t size;
};

void PrintTo(const huge_case& c, std::ostream* os) { *os << c.name; }

class huge_data_file : public command, public ::testing::WithParamInterface<huge_case> {};

// The C runtime's plain file-status query has a 32-bit size, which would
// read a file of 4 GiB + 1 byte as 1 byte long: the size must come whole.
// The files are sparse, so they cost no disk.
TEST_P(huge_data_file, is_refused) {
  std::string path = data.write("huge.xy", "");
  fs::resize_file(path, GetParam().size);
  EXPECT_EQ(run({"huge.xy", "empty.xy", "3"}).out, " File too large huge.xy\n");
}

constexpr std::uintmax_t one_gib = std::uintmax_t{1} << 30;

INSTANTIATE_TEST_SUITE_P(sizes, huge_data_file,
                         ::testing::Values(huge_case{"first_refused", one_gib - 1000},
                                           huge_case{"two_gib", 2 * one_gib},
                                           huge_case{"wraps_to_one_in_32_bits", 4 * one_gib + 1}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace lagscan::testing
