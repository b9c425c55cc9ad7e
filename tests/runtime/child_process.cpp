#include "child_process.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace lagscan::test {

child_result run_child(const std::string& program, const std::vector<std::string>& arguments,
                       const child_options& options) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(pipe_ends[1], STDOUT_FILENO);
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
    if (!options.directory.empty() && ::chdir(options.directory.c_str()) != 0) ::_exit(126);
    if (options.omp_num_threads.empty()) {
      ::unsetenv("OMP_NUM_THREADS");
    } else {
      ::setenv("OMP_NUM_THREADS", options.omp_num_threads.c_str(), 1);
    }
    if (options.address_space != 0) {
      rlimit limit{options.address_space, options.address_space};
      if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(126);
    }
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipe_ends[1]);
  child_result result;
  char chunk[4096];
  for (ssize_t n; (n = ::read(pipe_ends[0], chunk, sizeof chunk)) > 0;) {
    result.output.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(pipe_ends[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exited = WIFEXITED(status);
  result.status = result.exited ? WEXITSTATUS(status) : -1;
  return result;
}

std::map<std::string, std::string> parse_report(const std::string& output) {
  std::map<std::string, std::string> report;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::size_t eq = line.find('=');
    if (eq != std::string::npos) report[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return report;
}

temp_directory::temp_directory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "lagscan-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

temp_directory::~temp_directory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void temp_directory::write(const std::string& name, const std::string& content) const {
  std::ofstream out(path_ / name, std::ios::binary);
  out << content;
}

}  // namespace lagscan::test
