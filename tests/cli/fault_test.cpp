// The command under faults of its surroundings: a current directory it
// cannot read, data files that are not plain readable files or that change
// while it runs, an output it cannot write, a broken thread-count file,
// files too large for the 32-bit sizes and the widest window. Whatever
// happens, lagscan must not crash, must end with status 1, must print only
// its own messages and must leave every data file as it was (the fixture
// checks the last three on every run).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/command_fixture.h"

namespace lagscan::testing {
namespace {

const std::string up_down_result = result("0.818181818");  // the worked example, up.xy against down.xy, s = 3

bool running_under_a_tool() { return !run_under().empty(); }

// --- Unprivileged runs --------------------------------------------------
// Root reads and writes whatever the permission bits say, so a file that
// cannot be read needs a child that is not root.

constexpr uid_t nobody = 65534;
constexpr gid_t nogroup = 65534;

void become_unprivileged() {
  if (::geteuid() != 0) return;
  if (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(nobody) != 0) ::_exit(125);
}

// Whether an unprivileged child can run lagscan at all (every directory
// above the build must let others through).
bool unprivileged_can_run() {
  pid_t pid = ::fork();
  if (pid == 0) {
    become_unprivileged();
    ::_exit(::access(LAGSCAN_EXE, X_OK) == 0 ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class unprivileged_command : public command {
 protected:
  void SetUp() override {
    command::SetUp();
    if (!unprivileged_can_run()) GTEST_SKIP() << "an unprivileged user cannot run " << LAGSCAN_EXE;
    // Others may enter the data directory and open its files for update.
    fs::permissions(data.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    for (const auto& entry : fs::directory_iterator(data.path())) {
      fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                        fs::perms::group_write | fs::perms::others_read | fs::perms::others_write);
    }
  }
};

// --- The current directory ------------------------------------------------

// A directory whose absolute path has exactly `length` bytes, under base.
fs::path directory_of_length(const fs::path& base, std::size_t length) {
  fs::path dir = fs::canonical(base);
  std::size_t have = dir.string().size();
  EXPECT_LT(have + 2, length);
  while (have < length) {
    std::size_t step = std::min<std::size_t>(length - have, 201);  // "/" and up to 200 name bytes
    if (length - have - step == 1) --step;  // leave at least "/x" for the last component
    dir /= std::string(step - 1, 'd');
    have += step;
  }
  fs::create_directories(dir);
  EXPECT_EQ(dir.string().size(), length);
  return dir;
}

struct cwd_case {
  const char* name;
  std::size_t length;
  bool readable;  // fits the 1000-byte buffer with its terminator
};

void PrintTo(const cwd_case& c, std::ostream* os) { *os << c.name; }

class current_directory_length : public command, public ::testing::WithParamInterface<cwd_case> {};

TEST_P(current_directory_length, decides_between_result_and_getcwd_error) {
  temp_dir deep;
  fs::path cwd = directory_of_length(deep.path(), GetParam().length);
  std::string up = (data.path() / "up.xy").string();
  std::string down = (data.path() / "down.xy").string();
  auto enter = [cwd] {
    if (::chdir(cwd.c_str()) != 0) ::_exit(125);
  };
  EXPECT_EQ(run({up, down, "3"}, enter).out, GetParam().readable ? up_down_result : " getcwd error\n");
}

INSTANTIATE_TEST_SUITE_P(bytes, current_directory_length,
                         ::testing::Values(cwd_case{"longest_that_fits_999", 999, true},
                                           cwd_case{"one_byte_too_long_1000", 1000, false},
                                           cwd_case{"far_too_long_2500", 2500, false}),
                         [](const auto& row) { return std::string(row.param.name); });

// --- Data files that are not plain readable files -------------------------

struct odd_file_case {
  const char* name;
  void (*make)(const fs::path& dir);  // makes odd.xy in dir
  std::string second;                 // the other data file
  std::string expected;
};

void PrintTo(const odd_file_case& c, std::ostream* os) { *os << c.name; }

void make_directory(const fs::path& dir) { fs::create_directory(dir / "odd.xy"); }
void make_fifo(const fs::path& dir) { ASSERT_EQ(::mkfifo((dir / "odd.xy").c_str(), 0666), 0); }
void make_dangling_link(const fs::path& dir) { fs::create_symlink(dir / "vanished.xy", dir / "odd.xy"); }
void make_device_link(const fs::path& dir) { fs::create_symlink("/dev/null", dir / "odd.xy"); }

class odd_data_file : public command, public ::testing::WithParamInterface<odd_file_case> {};

TEST_P(odd_data_file, is_refused_or_read_as_what_it_holds) {
  GetParam().make(data.path());
  EXPECT_EQ(run({"odd.xy", GetParam().second, "3"}).out, GetParam().expected);
}

// A FIFO and a device report size 0, so they read as empty files: the open
// for update never waits for a writer, and nothing is read.
INSTANTIATE_TEST_SUITE_P(
    kinds, odd_data_file,
    ::testing::Values(odd_file_case{"directory", make_directory, "up.xy", " Cannot open file odd.xy\n"},
                      odd_file_case{"file_that_vanished_behind_a_link", make_dangling_link, "up.xy",
                                    " Cannot open file odd.xy\n"},
                      odd_file_case{"fifo_reads_as_empty", make_fifo, "empty.xy", result("0")},
                      odd_file_case{"device_reads_as_empty", make_device_link, "empty.xy", result("0")},
                      odd_file_case{"fifo_against_values", make_fifo, "up.xy", counts_differ}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(unprivileged_command, data_file_that_cannot_be_read_is_refused) {
  std::string path = data.write("unreadable.xy", "1 1\n2 2\n3 3\n");
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write);
  // The first file opens, so the refusal is the unreadable file's own.
  EXPECT_EQ(run({"up.xy", "unreadable.xy", "3"}, become_unprivileged).out, " Cannot open file unreadable.xy\n");
}

// --- Data files that change while lagscan reads them ----------------------

// While lagscan runs again and again, a thread keeps replacing the second
// file with a longer version of the same values and removing it, so the
// open, the size query (by path, after the open) and the read can each see
// a different file. Every run must print what one state of the file gives:
// the result, the file missing, or - when the file was removed between the
// open and the size query, which then fails and counts as size 0 - no
// values at all, so the counts differ. Never a crash, a partial number or
// bytes from beyond what was read.
TEST_F(command, data_file_replaced_or_removed_while_read_gives_what_one_of_its_states_gives) {
  const std::string values = "1 3\n2 2\n3 1\n";
  // Any prefix of the long version from the short one's length on reads
  // like the short one: what follows is one line comment.
  const std::string padded = values + "' " + std::string(20000, 'x') + "\n";
  temp_dir staging;
  std::string short_file = staging.write("short", values);
  std::string long_file = staging.write("long", padded);
  // Outside the data directory: this file is meant to change.
  temp_dir racing;
  const fs::path target = racing.path() / "down.xy";
  std::string printed = target.string();
  std::replace(printed.begin(), printed.end(), '/', '\\');

  std::atomic<bool> done{false};
  std::thread changer([&] {
    for (unsigned i = 0; !done; ++i) {
      // Copy, then rename into place, so that each state of the file is whole.
      fs::path next = racing.path() / "next";
      fs::copy_file(i % 3 == 0 ? short_file : long_file, next, fs::copy_options::overwrite_existing);
      fs::rename(next, target);
      if (i % 3 == 2) fs::remove(target);
    }
  });
  const int runs = running_under_a_tool() ? 6 : 60;
  for (int i = 0; i < runs; ++i) {
    std::string out = run({"up.xy", target.string(), "3"}).out;
    EXPECT_TRUE(out == up_down_result || out == " Cannot open file " + printed + "\n" || out == counts_differ)
        << "run " << i << ": " << out;
  }
  done = true;
  changer.join();
}

// --- Standard output that cannot be written -------------------------------
// Closed, a device that is always full, or a pipe nobody reads.

struct output_case {
  const char* name;
  void (*arrange)();
};

void PrintTo(const output_case& c, std::ostream* os) { *os << c.name; }

void close_output() { ::close(1); }
void full_output() {
  int fd = ::open("/dev/full", O_WRONLY);
  if (fd < 0 || ::dup2(fd, 1) < 0) ::_exit(125);
  ::close(fd);
}
// A pipe whose reader has gone: lagscan's output is flushed at exit, and the
// write must fail like the others instead of ending it by SIGPIPE. The child
// must not inherit an ignored SIGPIPE from this program, or the case would
// show nothing.
void closed_pipe_output() {
  int ends[2];
  if (::pipe(ends) != 0 || ::dup2(ends[1], 1) < 0) ::_exit(125);
  ::close(ends[0]);
  ::close(ends[1]);
  std::signal(SIGPIPE, SIG_DFL);
}

struct outcome_case {
  const char* name;
  std::vector<std::string> args;
};

class unwritable_output : public command,
                          public ::testing::WithParamInterface<std::tuple<output_case, outcome_case>> {};

// Nothing can be shown, but the process must still end normally with status
// 1, silent on standard error, with its data files untouched. With standard
// output closed, a data file takes descriptor 1 while it is open: nothing
// may be written into it.
TEST_P(unwritable_output, ends_with_status_1_and_data_untouched) {
  const auto& [output, outcome] = GetParam();
  process_result r = run(outcome.args, output.arrange);
  EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    faults, unwritable_output,
    ::testing::Combine(::testing::Values(output_case{"closed", close_output}, output_case{"full", full_output},
                                         output_case{"closed_pipe", closed_pipe_output}),
                       ::testing::Values(outcome_case{"result", {"up.xy", "down.xy", "3"}},
                                         outcome_case{"usage", {"up.xy"}},
                                         outcome_case{"missing_file", {"up.xy", "missing.xy", "3"}},
                                         outcome_case{"counts_differ", {"up.xy", "four.xy", "3"}})),
    [](const auto& row) {
      return std::string(std::get<0>(row.param).name) + "_" + std::get<1>(row.param).name;
    });

// --- A broken thread-count file -------------------------------------------

struct count_file_case {
  const char* name;
  void (*make)(const fs::path& file);
  bool unprivileged;
};

void PrintTo(const count_file_case& c, std::ostream* os) { *os << c.name; }

void write_text(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

void count_directory(const fs::path& file) { fs::create_directory(file); }
void count_unreadable(const fs::path& file) {
  write_text(file, "2\n");
  fs::permissions(file, fs::perms::none);
}
void count_fifo(const fs::path& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0666), 0); }
void count_unclosed_comment(const fs::path& file) { write_text(file, "/* 2\n"); }
void count_not_a_number(const fs::path& file) { write_text(file, "many\n"); }
void count_too_many_digits(const fs::path& file) { write_text(file, "99999999999999\n"); }
void count_zero(const fs::path& file) { write_text(file, "0\n"); }
void count_one(const fs::path& file) { write_text(file, "1"); }
void count_two(const fs::path& file) { write_text(file, "2"); }
void count_nine_digits(const fs::path& file) { write_text(file, "999999999"); }
void count_only_a_comment(const fs::path& file) { write_text(file, "' only a comment"); }
void count_empty(const fs::path& file) { write_text(file, ""); }

class thread_count_file : public unprivileged_command, public ::testing::WithParamInterface<count_file_case> {
 protected:
  void SetUp() override {
    if (GetParam().unprivileged) {
      unprivileged_command::SetUp();
    } else {
      command::SetUp();
    }
  }
};

// The count only sizes per-thread scratch: whatever the file holds or is,
// the command prints exactly what it prints without it, for a result, a
// reported error and the usage text alike.
TEST_P(thread_count_file, leaves_the_output_as_without_it) {
  auto as_user = GetParam().unprivileged ? become_unprivileged : nullptr;
  const std::vector<std::string> commands[] = {{"up.xy", "down.xy", "3"}, {"up.xy", "missing.xy", "3"}, {"up.xy"}};
  std::vector<std::string> plain;
  for (const auto& args : commands) plain.push_back(run(args, as_user).out);
  ASSERT_EQ(plain[0], up_down_result);
  ASSERT_EQ(plain[1], " Cannot open file missing.xy\n");
  GetParam().make(data.path() / "maxnumthreads.txt");
  for (std::size_t i = 0; i < plain.size(); ++i) {
    EXPECT_EQ(run(commands[i], as_user).out, plain[i]) << commands[i].size() << " arguments";
  }
}

INSTANTIATE_TEST_SUITE_P(
    contents, thread_count_file,
    ::testing::Values(count_file_case{"directory", count_directory, false},
                      count_file_case{"unreadable", count_unreadable, true},
                      count_file_case{"fifo", count_fifo, false},
                      count_file_case{"unclosed_comment", count_unclosed_comment, false},
                      count_file_case{"not_a_number", count_not_a_number, false},
                      count_file_case{"too_many_digits", count_too_many_digits, false},
                      count_file_case{"zero", count_zero, false}, count_file_case{"empty", count_empty, false},
                      count_file_case{"one", count_one, false}, count_file_case{"two", count_two, false},
                      count_file_case{"nine_digits", count_nine_digits, false},
                      count_file_case{"only_a_comment", count_only_a_comment, false}),
    [](const auto& row) { return std::string(row.param.name); });

// --- Files too large for the 32-bit sizes ---------------------------------

// Whether reading a file shows in its access time here: the check that a
// refused file was never read relies on it (relatime updates the access time
// of a file read after its last change).
bool reads_show_in_access_time(const fs::path& dir) {
  fs::path probe = dir / "probe";
  write_text(probe, "x");
  struct timespec times[2] = {{1, 0}, {0, UTIME_NOW}};
  if (::utimensat(AT_FDCWD, probe.c_str(), times, 0) != 0) return false;
  std::string ignored = read_file(probe);
  struct stat st{};
  ::stat(probe.c_str(), &st);
  fs::remove(probe);
  return st.st_atim.tv_sec != 1;
}

struct huge_case {
  const char* name;
  off_t size;
  bool refused;
};

void PrintTo(const huge_case& c, std::ostream* os) { *os << c.name; }

class huge_data_file : public command, public ::testing::WithParamInterface<huge_case> {};

// A sparse file: its size costs no disk. A refused file is never read: its
// access time, set before its modification time, stays.
TEST_P(huge_data_file, is_refused_unread_from_the_limit_on) {
  if (!GetParam().refused && running_under_a_tool()) {
    GTEST_SKIP() << "loading a gigabyte takes too long under " << run_under()[0];
  }
  std::string path = data.write("huge.xy", "");
  ASSERT_EQ(::truncate(path.c_str(), GetParam().size), 0);
  struct timespec times[2] = {{1, 0}, {0, UTIME_NOW}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

  process_result r = run({"huge.xy", "empty.xy", "3"});
  // A loadable file of zero bytes holds no values, like empty.xy.
  EXPECT_EQ(r.out, GetParam().refused ? " File too large huge.xy\n" : result("0"));

  if (!reads_show_in_access_time(data.path())) GTEST_SKIP() << "reads do not change access times here";
  struct stat st{};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_atim.tv_sec == 1, GetParam().refused) << "a refused file must not be read, a loaded one must be";
}

constexpr off_t one_gib = off_t{1} << 30;

// Texts hold at most 2^30 bytes, and a file is loaded with 1001 bytes to
// spare, so the limit is 2^30 - 1000 bytes: below the 2^31 - 1001 that the
// 32-bit sizes allow, and far below sizes that would wrap in 32 bits.
INSTANTIATE_TEST_SUITE_P(
    sizes, huge_data_file,
    ::testing::Values(huge_case{"largest_loadable", one_gib - 1001, false},
                      huge_case{"first_refused", one_gib - 1000, true},
                      huge_case{"beyond_the_32_bit_sizes", 2 * one_gib - 1001, true},
                      huge_case{"two_gib", 2 * one_gib, true},
                      huge_case{"wraps_to_one_in_32_bits", 4 * one_gib + 1, true}),
    [](const auto& row) { return std::string(row.param.name); });

// --- The widest window ----------------------------------------------------

// Bytes of memory available to a new process, from /proc/meminfo.
std::uint64_t available_memory() {
  std::ifstream in("/proc/meminfo");
  std::string key;
  std::uint64_t kib = 0;
  std::string unit;
  while (in >> key >> kib >> unit) {
    if (key == "MemAvailable:") return kib << 10;
  }
  return 0;
}

// The widest accepted s makes a window of 2^30 - 1 reals (8 GiB) and
// 3 * (2^30 - 1) lags, nearly all beyond the data.
TEST_F(command, widest_window_prints_the_result_or_a_clear_message) {
  if (running_under_a_tool()) GTEST_SKIP() << "an 8 GiB window takes hours under " << run_under()[0];
#if defined(LAGSCAN_SANITIZE)
  // The sanitizer's shadow of 8 GiB beside the suite's other jobs can
  // exhaust the machine; the optimised build runs the same case.
  GTEST_SKIP() << "the widest window runs in the optimised build";
#endif
  const std::int64_t s = (std::int64_t{1} << 30) - 1;
  // up.xy and down.xy hold integers, so every sum is exact in any order.
  const double a[] = {1, 2, 3};
  const double b[] = {3, 2, 1};
  auto lag_sum = [&](const double* x, const double* y) {
    const std::int64_t h = s / 2;
    double total = 0;
    for (int m = -2; m <= 2; ++m) {
      double sum = 0;
      for (int i = 0; i < 3; ++i) {
        if (i + m >= 0 && i + m < 3) sum += x[i] * y[i + m];
      }
      total += sum * static_cast<double>(h + 1 - std::abs(m));
    }
    return total;
  };
  char value[64];
  std::snprintf(value, sizeof value, "%-.9g", lag_sum(a, b) / std::sqrt(lag_sum(b, b) * lag_sum(a, a)));

  child_time_limit = 280;  // about 11 s alone; ctest gives this test 300 s
  std::string out = run({"up.xy", "down.xy", std::to_string(s)}).out;
  if (available_memory() >= std::uint64_t{12} << 30) {
    EXPECT_EQ(out, result(value));
  } else {
    // Where the 8 GiB cannot be had, the failure is the command's "Error".
    EXPECT_TRUE(out == result(value) || out == "Error\n") << out;
  }
}

// The one deterministic way to "Error": a window of 8 GiB in an address
// space of 1 GiB. The storage cannot be had, and the command must say so
// with its catch-all message and status 1 rather than crash.
TEST_F(command, widest_window_without_the_storage_for_it_prints_error) {
  if (running_under_a_tool()) GTEST_SKIP() << run_under()[0] << " needs more address space than the limit";
#if defined(LAGSCAN_SANITIZE)
  GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit";
#endif
  auto limit_address_space = [] {
    rlimit limit{rlim_t{1} << 30, rlim_t{1} << 30};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(126);
  };
  EXPECT_EQ(run({"up.xy", "down.xy", std::to_string((std::int64_t{1} << 30) - 1)}, limit_address_space).out,
            "Error\n");
}

}  // namespace
}  // namespace lagscan::testing
