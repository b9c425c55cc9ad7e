// Runs a program as a child process and collects what it wrote and how it
// ended. Output goes through files, so a chatty child never blocks on a pipe.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace lagscan::testing {

struct process_result {
  std::string out;
  std::string err;
  int status = -1;  // the exit status, or -1 when the child did not exit normally
};

// The command that the environment variable LAGSCAN_TEST_RUN_UNDER names
// (words separated by blanks, e.g. "valgrind -q --error-exitcode=99"), which
// runs every program the tests start; empty when it is not set. Only the
// tests read it: the product takes no environment variables.
inline std::vector<std::string> run_under() {
  std::vector<std::string> words;
  const char* text = std::getenv("LAGSCAN_TEST_RUN_UNDER");
  std::istringstream in(text != nullptr ? text : "");
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// Windows programs write text with CR LF line ends; this turns each CR LF
// into LF, so that one expected text serves every system.
inline std::string with_lf_line_ends(const std::string& out) {
  std::string text;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] != '\r' || i + 1 == out.size() || out[i + 1] != '\n') text += out[i];
  }
  return text;
}

// Whether some LF is not preceded by CR.
inline bool has_bare_lf(const std::string& out) {
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\n' && (i == 0 || out[i - 1] != '\r')) return true;
  }
  return false;
}

// A child that runs longer than this is taken for a hang and killed, so that
// its test fails on the child's status well within the test's own time limit
// (60 s). A test that runs a long child passes a limit of its own.
inline constexpr unsigned child_time_limit_seconds = 45;

#ifdef _WIN32

// One argument as the C runtime's command-line parser reads it back:
// quoted, with the backslashes before a quote doubled.
inline std::string quoted_argument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string q = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    q.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    q += c;
  }
  q.append(2 * backslashes, '\\');
  return q + "\"";
}

// The parent's environment with each NAME=value of changes set, as the
// sorted block CreateProcess takes.
inline std::string environment_block(const std::vector<std::string>& changes) {
  std::vector<std::string> entries;
  char* block = GetEnvironmentStringsA();
  for (const char* e = block; *e != '\0'; e += std::strlen(e) + 1) entries.emplace_back(e);
  FreeEnvironmentStringsA(block);
  for (const std::string& change : changes) {
    std::string name = change.substr(0, change.find('=') + 1);
    std::erase_if(entries, [&](const std::string& e) { return _strnicmp(e.c_str(), name.c_str(), name.size()) == 0; });
    entries.push_back(change);
  }
  std::sort(entries.begin(), entries.end(),
            [](const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) < 0; });
  std::string text;
  for (const std::string& e : entries) text += e + '\0';
  return text + '\0';
}

inline HANDLE inheritable_output(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + path);
  return h;
}

// Runs program with args in directory cwd, with env's NAME=value entries
// added to the environment. Windows cannot run code in the child before the
// program starts, so a test that needs in_child runs on POSIX systems only.
inline process_result run_process(const std::string& program, const std::vector<std::string>& args,
                                  const std::filesystem::path& cwd,
                                  const std::function<void()>& in_child = {},
                                  const std::vector<std::string>& env = {},
                                  unsigned time_limit_seconds = child_time_limit_seconds) {
  if (in_child) throw std::logic_error("run_process: in_child is not available on Windows");
  temp_dir capture;
  std::string out_path = (capture.path() / "stdout").string();
  std::string err_path = (capture.path() / "stderr").string();

  std::string command_line = quoted_argument(program);
  for (const std::string& a : args) command_line += " " + quoted_argument(a);
  std::string environment = environment_block(env);

  // Now and then, on a busy machine, wine fails to start a process at all:
  // CreateProcess fails with ERROR_INTERNAL_ERROR (1359), about once in
  // 4,000 starts with three test programs at once on two processors. The
  // program has not run then, so the start is tried again, twice at most,
  // and said on standard error.
  process_result r;
  PROCESS_INFORMATION child{};
  for (int attempt = 1;; ++attempt) {
    HANDLE out = inheritable_output(out_path);
    HANDLE err = inheritable_output(err_path);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::string directory = cwd.string();
    BOOL started = CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0,
                                  environment.data(), directory.c_str(), &startup, &child);
    DWORD error = started ? 0 : GetLastError();
    CloseHandle(out);
    CloseHandle(err);
    if (started) break;
    if (attempt == 3 || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      // Said in err, so that a test failing on it shows why.
      r.err = "run_process: CreateProcess failed with error " + std::to_string(error) + "\n";
      return r;
    }
    std::fprintf(stderr, "run_process: CreateProcess failed with error %lu; trying again\n", error);
    Sleep(1000);
  }
  if (WaitForSingleObject(child.hProcess, time_limit_seconds * 1000) != WAIT_OBJECT_0) {
    TerminateProcess(child.hProcess, 0xC0000102);  // a hang: reported as a crash
    WaitForSingleObject(child.hProcess, INFINITE);
  }
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  r.out = read_file(out_path);
  r.err = read_file(err_path);
  // Exception codes (access violation and the like) mean a crash.
  if (code >= 0xC0000000) {
    std::ostringstream said;
    said << "run_process: the child ended with exception code 0x" << std::hex << code << "\n";
    r.err += said.str();
    r.status = -1;
  } else {
    r.status = static_cast<int>(code);
  }
  return r;
}

#else

// Runs program with args in directory cwd, under the run_under() command
// when there is one. in_child runs in the child just before exec (after the
// change of directory), for faults a test arranges.
inline process_result run_process(const std::string& program, const std::vector<std::string>& args,
                                  const std::filesystem::path& cwd,
                                  const std::function<void()>& in_child = {},
                                  const std::vector<std::string>& env = {},
                                  unsigned time_limit_seconds = child_time_limit_seconds) {
  temp_dir capture;
  std::string out_path = (capture.path() / "stdout").string();
  std::string err_path = (capture.path() / "stderr").string();

  std::vector<std::string> argv_text = run_under();
  argv_text.push_back(program);
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text = env;

  pid_t pid = ::fork();
  if (pid == 0) {
    int out_fd = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err_fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    for (auto& e : env_text) ::putenv(e.data());
    ::alarm(time_limit_seconds);  // survives exec; a hang then ends the child by a signal
    if (in_child) in_child();
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int wait_status = 0;
  ::waitpid(pid, &wait_status, 0);
  process_result r;
  r.out = read_file(out_path);
  r.err = read_file(err_path);
  r.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  return r;
}

#endif

}  // namespace lagscan::testing
