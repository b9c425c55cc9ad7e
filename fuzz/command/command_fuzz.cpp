// The whole command, in process: two fuzzed data files, a fuzzed third
// argument and a few shapes of command line, with standard output captured
// in a file.
//
// Input: one shape byte (argument count, how the paths are written), then
// the text of s, the first file and the second file (FuzzedDataProvider
// strings).
//
// Invariants for every input:
//  - the status is 1;
//  - the output is exactly what the plain model of the command gives: the
//    usage text, one of the fixed messages, a reported error with its path,
//    or the result line with the model's value;
//  - both data files keep their bytes and modification times.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/driver.h"
#include "support/check.h"
#include "support/models.h"
#include "support/scratch_dir.h"

namespace lagscan::fuzz {
namespace {

const std::string usage =
    "\n*** Error - three arguments needed *** \n\nUsage:\n\n   lagscan file1.xy file2.xy s\n\nwhere\n\n"
    "   s is an odd number";

// Odd windows wider than this are not run: the work grows with s, and the
// widths up to the limit differ only in how many lags lie beyond the data.
constexpr std::int32_t widest_fuzzed_window = 4095;
constexpr std::int32_t widest_window = (std::int32_t{1} << 30) - 1;

const scratch_dir& scratch() {
  static const scratch_dir dir;
  return dir;
}

std::string printed_path(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

struct data_file {
  std::string argument;     // as given on the command line
  std::string printed;      // as a message shows it
  std::string written;      // the file that holds the bytes; empty when none
  bool openable = true;     // false: missing, a directory or read-only
};

// How the two paths are written. The files live in the scratch directory,
// which is the current directory.
std::vector<data_file> paths_for(int variant) {
  const std::string dir = scratch().path();
  switch (variant) {
    case 1:
      return {{dir + "/a.xy", printed_path(dir + "/a.xy"), "a.xy"}, {dir + "/b.xy", printed_path(dir + "/b.xy"), "b.xy"}};
    case 2:
      return {{"\"a.xy\"", "a.xy", "a.xy"}, {"\"b.xy", "b.xy", "b.xy"}};
    case 3:
      return {{"sub/a.xy", "sub\\a.xy", "sub/a.xy"}, {"sub\\b.xy", "sub\\b.xy", "sub/b.xy"}};
    case 4:
      return {{"missing.xy", "missing.xy", "", false}, {"b.xy", "b.xy", "b.xy"}};
    case 5:
      return {{"a.xy", "a.xy", "a.xy"}, {"sub", "sub", "", false}};
    case 6:
      return {{"a.xy", "a.xy", "a.xy"}, {"a.xy", "a.xy", ""}};
    case 7:
      return {{"read_only.xy", "read_only.xy", "read_only.xy", false}, {"b.xy", "b.xy", "b.xy"}};
    default:
      return {{"a.xy", "a.xy", "a.xy"}, {"b.xy", "b.xy", "b.xy"}};
  }
}

// Standard output goes to a file that is read and emptied after every run.
class captured_output {
 public:
  captured_output() : path_(scratch().file("stdout")) {
    int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
    if (fd < 0 || ::dup2(fd, 1) < 0) std::abort();
    ::close(fd);
  }
  std::string take() {
    std::fflush(stdout);
    std::string text = read_bytes(path_);
    if (::ftruncate(1, 0) != 0) std::abort();
    return text;
  }

 private:
  std::string path_;
};

captured_output& output() {
  static captured_output out;
  return out;
}

[[noreturn]] void leave_command(int status) { throw command_ended{status}; }

// The output the command must give; nothing when the input is not run.
std::optional<std::string> expected_output(int arguments, const std::string& s_text,
                                           const std::vector<data_file>& files,
                                           const std::vector<std::string>& contents) {
  if (arguments < 3) return usage;
  std::int32_t s = count_model(s_text);
  if ((s & 1) == 0) return std::string("s needs to be an odd number\n");
  if (s < 0) return std::string("s needs to be a positive odd number\n");
  if (s > widest_window) return std::string("s is too large\n");
  if (s > widest_fuzzed_window) return std::nullopt;
  std::vector<double> values[2];
  for (int i = 0; i < 2; ++i) {
    if (!files[static_cast<std::size_t>(i)].openable) {
      return " Cannot open file " + files[static_cast<std::size_t>(i)].printed + "\n";
    }
    std::optional<loaded_file> loaded = load_model(contents[static_cast<std::size_t>(i)]);
    if (!loaded) return std::string(" Unclosed comment block\n");
    values[i] = loaded->values;
  }
  if (values[0].size() != values[1].size()) return std::string("Number of points in files needs to be the same\n");
  return "\nCross Correlation " + formatted(correlation_model(s, values[0], values[1])) + "\n";
}

// NaN prints with its sign, which the order of commutative operations may
// flip; any NaN is the right answer where the model gives one.
bool same_output(const std::string& got, const std::string& expected) {
  if (got == expected) return true;
  const std::string prefix = "\nCross Correlation ";
  auto is_nan_line = [&](const std::string& line) {
    return line == prefix + "nan\n" || line == prefix + "-nan\n";
  };
  return is_nan_line(got) && is_nan_line(expected);
}

}  // namespace
}  // namespace lagscan::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  using namespace lagscan::fuzz;
  // Relative paths in the command line are relative to the scratch directory.
  if (::chdir(scratch().path().c_str()) != 0 || ::mkdir("sub", 0700) != 0) std::abort();
  output();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lagscan::fuzz;
  FuzzedDataProvider input(data, size);
  const auto shape = input.ConsumeIntegral<std::uint8_t>();
  int arguments = shape & 7;
  if (arguments > 4) arguments = 3;
  const std::vector<data_file> files = paths_for((shape >> 3) & 7);
  const std::string s_text = input.ConsumeRandomLengthString(24);
  std::vector<std::string> contents{input.ConsumeRandomLengthString(), input.ConsumeRemainingBytesAsString()};
  if (files[1].argument == files[0].argument) contents[1] = contents[0];

  std::optional<std::string> expected = expected_output(arguments, s_text.c_str(), files, contents);
  if (!expected) return -1;

  std::vector<file_stamp> before;
  for (std::size_t i = 0; i < 2; ++i) {
    if (files[i].written.empty()) continue;
    ::chmod(files[i].written.c_str(), 0600);  // writable again for the harness, when it exists
    write_bytes(files[i].written, contents[i]);
    if (!files[i].openable && ::chmod(files[i].written.c_str(), 0400) != 0) std::abort();
    before.push_back(file_stamp::of(files[i].written));
  }

  std::vector<std::string> argument_text{"lagscan", files[0].argument, files[1].argument, s_text.c_str(), "extra"};
  std::vector<char*> argv;
  for (int i = 0; i <= arguments; ++i) argv.push_back(argument_text[static_cast<std::size_t>(i)].data());
  argv.push_back(nullptr);

  int status = 0;
  try {
    status = lagscan::run_command(arguments + 1, argv.data(), leave_command);
  } catch (const lagscan::command_ended& ended) {
    status = ended.status;
  }
  const std::string got = output().take();

  FUZZ_CHECK(status == 1, "status " + std::to_string(status));
  FUZZ_CHECK(same_output(got, *expected), "output\n[" + got + "]\nexpected\n[" + *expected + "]");
  std::size_t checked = 0;
  for (std::size_t i = 0; i < 2; ++i) {
    if (files[i].written.empty()) continue;
    FUZZ_CHECK(file_stamp::of(files[i].written) == before[checked++], files[i].written + " was changed");
  }
  return 0;
}
