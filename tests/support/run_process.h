// Runs a program as a child process and collects what it wrote and how it
// ended. Output goes through files, so a chatty child never blocks on a pipe.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace lagscan::testing {

struct process_result {
  std::string out;
  std::string err;
  int status = -1;  // the exit status, or -1 when the child did not exit normally
};

// Runs program with args in directory cwd. in_child runs in the child just
// before exec (after the change of directory), for faults a test arranges.
inline process_result run_process(const std::string& program, const std::vector<std::string>& args,
                                  const std::filesystem::path& cwd,
                                  const std::function<void()>& in_child = {},
                                  const std::vector<std::string>& env = {}) {
  temp_dir capture;
  std::string out_path = (capture.path() / "stdout").string();
  std::string err_path = (capture.path() / "stderr").string();

  std::vector<std::string> argv_text{program};
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
    if (in_child) in_child();
    ::execv(program.c_str(), argv.data());
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

}  // namespace lagscan::testing
