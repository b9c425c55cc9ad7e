// The progress line of a long run: pairs done of the total, the rate and the
// time left, redrawn in place on standard error. Only for a terminal: a
// meter made with shown = false does nothing at all.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace lagscan::matrix {

class progress_meter {
 public:
  progress_meter(std::uint64_t total, bool shown);
  progress_meter(const progress_meter&) = delete;
  progress_meter& operator=(const progress_meter&) = delete;

  // One pair done; any thread may call it. The line is redrawn by the
  // team's first thread (the main one), at most a few times a second.
  void count_one() { count(1); }
  // `pairs` pairs done at once (a tile of the fast mode).
  void count(std::uint64_t pairs);
  // After the work: the line with the final count, ended.
  void finish();

 private:
  void draw(std::uint64_t done, double now);

  std::uint64_t total_;
  bool shown_;
  double start_ = 0.0;
  double last_drawn_ = 0.0;
  std::size_t drawn_length_ = 0;
  std::atomic<std::uint64_t> done_{0};
};

// Whether standard error is a terminal.
bool standard_error_is_terminal();

}  // namespace lagscan::matrix
