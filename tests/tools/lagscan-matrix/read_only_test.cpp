// Read-only data within reach: lagscan-matrix opens its data files, text
// and packed, for reading only, so files nobody may write, files of another
// user and a read-only mount are read like any other. lagscan itself keeps
// its documented update-mode open, and fails on each of them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tools/lagscan-matrix/matrix_fixture.h"

#ifndef _WIN32
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace lagscan::testing {
namespace {

namespace fs = std::filesystem;

class read_only_data : public matrix_command {
 protected:
  void SetUp() override {
    data.write("a.xy", "0 1\n1 2\n2 4\n3 1\n");
    data.write("b.xy", "0 3\n1 1\n2 2\n3 5\n");
    data.write("c.xy", "0 2\n1 2\n2 1\n3 0\n");
    process_result packed = matrix({"pack", "-o", "set.npy", "b.xy", "c.xy"});
    ASSERT_EQ(packed.status, 0) << packed.err;
    expected = matrix({"--format", "long", "3", "a.xy", "b.xy", "c.xy"}).out;
    ASSERT_NE(expected, "");
  }

  // The run on a.xy and the set at `folder` prints the table of the files.
  void expect_read(const std::string& folder) {
    process_result r = matrix({"--format", "long", "3", folder + "a.xy", folder + "set.npy"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::string table = expected;  // its first file named as given
    for (std::size_t at = 0; (at = table.find("a.xy", at)) != std::string::npos; at += folder.size() + 4) {
      table.insert(at, folder);
    }
    EXPECT_EQ(r.out, table);
  }

  std::string expected;
};

TEST_F(read_only_data, files_that_nobody_may_write_are_read_and_stay_as_they_were) {
  for (const char* name : {"a.xy", "b.xy", "set.npy", "set.names"}) make_read_only(data.path() / name);
  const std::string before = read_file(data.path() / "a.xy");
  expect_read("");
  EXPECT_EQ(read_file(data.path() / "a.xy"), before);
  // lagscan opens its data files for update, as it always has.
  process_result r = run_program(LAGSCAN_EXE, {"a.xy", "b.xy", "3"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, " Cannot open file a.xy\n");
}

#ifndef _WIN32
// As a user who may read but not write the files (they are root's, mode
// 0644): the case of installed sample files and of a shared data set.
TEST_F(read_only_data, another_users_files_are_read) {
  if (::geteuid() != 0) GTEST_SKIP() << "runs the programs as nobody, which needs root";
  if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "no /usr/bin/setpriv to run the programs as nobody";
  using fs::perms;
  const perms readable = perms::owner_read | perms::owner_write | perms::group_read | perms::others_read;
  for (const char* name : {"a.xy", "b.xy", "set.npy", "set.names"}) fs::permissions(data.path() / name, readable);
  fs::permissions(data.path(), readable | perms::owner_exec | perms::group_exec | perms::others_exec);
  auto as_nobody = [this](const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"--reuid=nobody", "--regid=nogroup", "--clear-groups", program};
    all.insert(all.end(), args.begin(), args.end());
    return run_program("/usr/bin/setpriv", all);
  };
  process_result r = as_nobody(LAGSCAN_MATRIX_EXE, {"--format", "long", "3", "a.xy", "set.npy"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, expected);
  r = as_nobody(LAGSCAN_EXE, {"a.xy", "b.xy", "3"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, " Cannot open file a.xy\n");
}

// A read-only bind mount of the data folder, where the system refuses every
// open for writing, root's too. Making one needs root and a system that
// lets this process mount; elsewhere the case is skipped.
TEST_F(read_only_data, a_read_only_mount_is_read) {
  fs::create_directory(data.path() / "mnt");
  const std::string source = data.path().string();
  const std::string target = (data.path() / "mnt").string();
  if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "cannot make a bind mount here: " << std::strerror(errno);
  }
  struct unmount_at_end {
    std::string target;
    ~unmount_at_end() { ::umount2(target.c_str(), MNT_DETACH); }
  } unmount{target};
  if (::mount(nullptr, target.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
    GTEST_SKIP() << "cannot make the bind mount read-only here: " << std::strerror(errno);
  }
  expect_read("mnt/");
  process_result r = run_program(LAGSCAN_EXE, {"mnt/a.xy", "mnt/b.xy", "3"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, " Cannot open file mnt\\a.xy\n");
}
#endif

}  // namespace
}  // namespace lagscan::testing
