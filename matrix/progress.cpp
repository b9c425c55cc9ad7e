#include "matrix/progress.h"

#include <omp.h>

#include <cstdio>
#include <memory>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace lagscan::matrix {
namespace {

std::string duration_text(double seconds) {
  auto total = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
  }
  return text;
}

class line_drawer {
 public:
  bool operator()(const progress_state& state) {
    double now = omp_get_wtime();
    if (state.done == 0 && !started_) {
      start_ = now;
      started_ = true;
    }
    draw(state, now - start_);
    if (state.finished) {
      std::fputc('\n', stderr);
      std::fflush(stderr);
    }
    return true;
  }

 private:
  void draw(const progress_state& state, double elapsed) {
    std::string line = "\rlagscan-matrix: " + std::to_string(state.done) + " of " + std::to_string(state.total) +
                       " pairs";
    if (state.done > 0 && elapsed > 0.0) {
      double rate = static_cast<double>(state.done) / elapsed;
      char rate_text[32];
      std::snprintf(rate_text, sizeof rate_text, "%.0f", rate);
      line += ", " + std::string(rate_text) + " pairs/s";
      line += state.done < state.total
                  ? ", " + duration_text(static_cast<double>(state.total - state.done) / rate) + " left"
                  : ", " + duration_text(elapsed) + " in all";
    }
    // Blanks over what a longer earlier line left.
    std::size_t length = line.size();
    if (length < drawn_length_) line.append(drawn_length_ - length, ' ');
    drawn_length_ = length;
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
  }

  bool started_ = false;
  double start_ = 0.0;
  std::size_t drawn_length_ = 0;
};

}  // namespace

bool standard_error_is_terminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return ::isatty(STDERR_FILENO) != 0;
#endif
}

progress_report progress_line() {
  // std::function copies what it holds: the line's state is shared by pointer.
  auto drawer = std::make_shared<line_drawer>();
  return [drawer](const progress_state& state) { return (*drawer)(state); };
}

progress_meter::progress_meter(progress_report report, double interval)
    : report_(std::move(report)), interval_(interval), active_(static_cast<bool>(report_)),
      reporter_(std::this_thread::get_id()) {}

void progress_meter::start(std::uint64_t total) {
  total_ = total;
  if (!active_) return;
  last_report_ = omp_get_wtime();
  report(0, false);
}

void progress_meter::counted(std::uint64_t pairs) {
  std::uint64_t done = done_.fetch_add(pairs, std::memory_order_relaxed) + pairs;
  if (std::this_thread::get_id() != reporter_ || stopped()) return;
  double now = omp_get_wtime();
  if (now - last_report_ < interval_) return;
  last_report_ = now;
  report(done, false);
}

void progress_meter::finish() {
  if (!active_ || stopped()) return;
  report(done_.load(), true);
  active_ = false;
}

// Only the reporting thread gets here, inside or outside a parallel region:
// nothing the report throws may leave it.
void progress_meter::report(std::uint64_t done, bool finished) {
  bool go_on = true;
  try {
    go_on = report_(progress_state{done, total_, finished});
  } catch (...) {
    failure_ = std::current_exception();
    go_on = false;
  }
  if (!go_on && !finished) stopped_.store(true, std::memory_order_relaxed);
  if (failure_) stopped_.store(true, std::memory_order_relaxed);
}

}  // namespace lagscan::matrix
