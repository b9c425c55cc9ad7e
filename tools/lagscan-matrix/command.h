// What the parts of the lagscan-matrix command share: its name and
// statuses, how a run fails and says so, and the command line's own steps.
//
// Unlike lagscan it follows the usual habits of command-line programs:
// messages on standard error, status 0 on success, 1 on a failure, 2 on a
// usage error.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace lagscan::matrix {

inline constexpr int status_failure = 1;
inline constexpr int status_usage = 2;
inline constexpr const char* program = "lagscan-matrix";
inline constexpr int most_threads = 1024;

// A program-level failure, reported as "lagscan-matrix: <what>" (nothing
// when what is empty: the lines were said already).
struct failure {
  int status;
  std::string what;
};

void say(const std::string& what);

// The paths of a list, one a line ("-": standard input); empty lines are
// skipped and a CR before the line end is dropped.
std::vector<std::string> read_list(const std::string& list);

// Parses the command line into app: -1 when the run goes on, else the
// status to end with (after --help, --version or a usage error).
int parse(CLI::App& app, int argc, char** argv);

// The end of a run: its status, and its message on standard error.
int finish(const std::function<int()>& work);

// The subcommands; argv[0] is their own name.
int pack_command(int argc, char** argv);
int merge_command(int argc, char** argv);

}  // namespace lagscan::matrix
