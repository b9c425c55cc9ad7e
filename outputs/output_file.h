// The outputs of lagscan-matrix (the table's -o, the --heatmap picture): a
// run either gives each of them whole or leaves things as they were.
//
// A file is written under a temporary name in the target's own folder
// ("<target>.<8 hex digits>.tmp", made only where no file is) and takes the
// target's name in commit(), after the whole run has succeeded. So a run
// that fails on the way, at any step, leaves an existing target as it was,
// makes none, and leaves no temporary file behind (on POSIX systems also
// when Ctrl-C or SIGTERM stops it); and the inputs, read after the outputs
// were opened, are never the files being written.
//
// A device or a pipe (/dev/null, NUL, a named pipe) is written directly:
// there is nothing to rename over it.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace lagscan::matrix {

// An output that cannot be written; what() is the message, e.g.
// "cannot write t.tsv".
class output_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class output_file {
 public:
  // Opens the temporary file for path, or takes standard output when path is
  // empty. A target that exists must be one we could write, so that a bad
  // path fails before the work rather than after it.
  explicit output_file(const std::string& path);
  // A file not committed is removed.
  ~output_file();
  output_file(const output_file&) = delete;
  output_file& operator=(const output_file&) = delete;

  std::FILE* get() const { return file_; }
  // Ends the writing; a write that failed on the way raises output_error
  // (and the temporary file is removed). Once finished, it does nothing.
  void finish();
  // Finishes, then gives the file the target's name.
  void commit();

 private:
  void discard() noexcept;

  std::string path_;       // the target; empty for standard output
  std::string temporary_;  // where it is written; empty when written directly
  std::FILE* file_ = nullptr;
  bool finished_ = false;
  bool committed_ = false;
};

// The message that refuses outputs which would overwrite an input (the
// same file however named, or the same path where the file does not exist
// yet) or each other; empty when there is none. outputs: (option, path),
// e.g. ("-o", "t.tsv"); an empty path (standard output) is skipped.
std::string outputs_among_inputs(const std::vector<std::pair<std::string, std::string>>& outputs,
                                 const std::vector<std::string>& inputs);

}  // namespace lagscan::matrix
