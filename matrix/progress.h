// The progress of a long run: pairs done of the total, reported from the
// thread that runs the work, a few times a second. The same meter serves
// lagscan-matrix's progress line, redrawn in place on standard error (only
// for a terminal), and the library's progress function, which may also stop
// the work.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace lagscan::matrix {

struct progress_state {
  std::uint64_t done;
  std::uint64_t total;
  bool finished;  // the last report of the run
};

// Answers false to stop the work (the answer to the last report is not
// looked at: the work is done).
using progress_report = std::function<bool(const progress_state&)>;

class progress_meter {
 public:
  // A meter that reports nothing and never stops: counting costs one test.
  progress_meter() = default;
  // Reports on the thread that makes the meter, at start, then at most once
  // every `interval` seconds as that thread counts, and at finish.
  progress_meter(progress_report report, double interval);
  progress_meter(const progress_meter&) = delete;
  progress_meter& operator=(const progress_meter&) = delete;

  // The run's size; the first report (0 done).
  void start(std::uint64_t total);
  // One pair done; any thread may call it.
  void count_one() { count(1); }
  // `pairs` pairs done at once (a tile of the fast mode).
  void count(std::uint64_t pairs) {
    if (!active_) return;
    counted(pairs);
  }
  // Whether the work should stop taking pairs: the report answered false or
  // threw. Any thread may ask, as often as it likes.
  bool stopped() const { return stopped_.load(std::memory_order_relaxed); }
  // After the work: the last report, unless the work was stopped.
  void finish();
  // What a report threw, if one did (the work stopped then too).
  std::exception_ptr failure() const { return failure_; }

 private:
  void counted(std::uint64_t pairs);
  void report(std::uint64_t done, bool finished);

  progress_report report_;
  double interval_ = 0.0;
  bool active_ = false;
  std::thread::id reporter_;
  std::uint64_t total_ = 0;
  double last_report_ = 0.0;
  std::atomic<std::uint64_t> done_{0};
  std::atomic<bool> stopped_{false};
  std::exception_ptr failure_;
};

// lagscan-matrix's progress line: "lagscan-matrix: D of T pairs", the rate
// and the time left, redrawn in place on standard error (no terminal
// escapes: the Windows console does not read them by default).
progress_report progress_line();
inline constexpr double progress_line_interval = 0.25;  // seconds

// The program's meter: its line when shown, else one that does nothing.
class shown_progress : public progress_meter {
 public:
  explicit shown_progress(bool shown)
      : progress_meter(shown ? progress_line() : progress_report{}, progress_line_interval) {}
};

// Whether standard error is a terminal.
bool standard_error_is_terminal();

}  // namespace lagscan::matrix
