#include "matrix/progress.h"

#include <omp.h>

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace lagscan::matrix {
namespace {

constexpr double redraw_interval = 0.25;  // seconds

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

}  // namespace

bool standard_error_is_terminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return ::isatty(STDERR_FILENO) != 0;
#endif
}

progress_meter::progress_meter(std::uint64_t total, bool shown) : total_(total), shown_(shown) {
  if (!shown_) return;
  start_ = omp_get_wtime();
  draw(0, start_);
}

void progress_meter::count(std::uint64_t pairs) {
  if (!shown_) return;
  std::uint64_t done = done_.fetch_add(pairs, std::memory_order_relaxed) + pairs;
  if (omp_get_thread_num() != 0) return;
  double now = omp_get_wtime();
  if (now - last_drawn_ >= redraw_interval) draw(done, now);
}

void progress_meter::finish() {
  if (!shown_) return;
  draw(done_.load(), omp_get_wtime());
  std::fputc('\n', stderr);
  std::fflush(stderr);
  shown_ = false;
}

void progress_meter::draw(std::uint64_t done, double now) {
  last_drawn_ = now;
  double elapsed = now - start_;
  std::string line = "\rlagscan-matrix: " + std::to_string(done) + " of " + std::to_string(total_) + " pairs";
  if (done > 0 && elapsed > 0.0) {
    double rate = static_cast<double>(done) / elapsed;
    char rate_text[32];
    std::snprintf(rate_text, sizeof rate_text, "%.0f", rate);
    line += ", " + std::string(rate_text) + " pairs/s";
    line += done < total_ ? ", " + duration_text(static_cast<double>(total_ - done) / rate) + " left"
                          : ", " + duration_text(elapsed) + " in all";
  }
  // Blanks over what a longer earlier line left (no terminal escapes: the
  // Windows console does not read them by default).
  std::size_t length = line.size();
  if (length < drawn_length_) line.append(drawn_length_ - length, ' ');
  drawn_length_ = length;
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace lagscan::matrix
