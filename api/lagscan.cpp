#include "lagscan/lagscan.hpp"

#include <omp.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "api/checks.h"
#include "api/library_calls.h"
#include "app/driver.h"
#include "app/lag_correlation.h"
#include "app/team_correlation.h"
#include "memory/size_limit_error.h"
#include "streams/except_3.h"
#include "streams/file_in.h"

namespace lagscan {
namespace api {
namespace {

// The command's messages end with a line end, which an exception's text
// does not carry.
std::string without_line_end(const char* message) {
  std::string text(message);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace

void check_width(int s) {
  if (const char* message = window_width_message(s)) throw std::invalid_argument(without_line_end(message));
}

void check_same_count(std::size_t first, std::size_t second) {
  if (first != second) throw std::invalid_argument("Number of points in files needs to be the same");
}

int team_size(int threads) {
  if (threads < 0 || threads > max_threads) {
    throw std::invalid_argument("threads must be from 0 (all processors) to " + std::to_string(max_threads) +
                                ", not " + std::to_string(threads));
  }
  // More threads than processors would only take turns on them; libgomp
  // would also reserve every one's stack up front.
  const int processors = std::max(1, omp_get_num_procs());
  return threads == 0 ? processors : std::min(threads, processors);
}

borrowed_values::borrowed_values(std::span<const double> values) {
  if (values.size() >= static_cast<std::uint64_t>(real_array::max_elements)) {
    throw std::length_error("Array too large");
  }
  array_.buffer = const_cast<double*>(values.data());  // read only: no kernel writes its inputs
  array_.count = static_cast<std::int32_t>(values.size());
}

void make_window(real_array& window, int s) {
  window.reserve(s, false);
  window.count = s;
  make_triangle_window(window);
}

}  // namespace api

inline namespace v0 {

const char* version() noexcept { return LAGSCAN_VERSION_STRING; }

file_error::file_error(const std::filesystem::path& path, const std::string& reason, const std::string& message)
    : std::runtime_error(message), path_(path), reason_(reason) {}

file_error::~file_error() = default;

cancelled::~cancelled() = default;

const char* cancelled::what() const noexcept { return "cancelled"; }

namespace {

struct checked_pair {
  checked_pair(std::span<const double> x, std::span<const double> y, int s) : x_values(x), y_values(y) {
    api::check_width(s);
    api::check_same_count(x.size(), y.size());
    api::make_window(window, s);
  }
  real_array window;
  api::borrowed_values x_values;
  api::borrowed_values y_values;
};

// The reasons the loader gives, each followed by the path where it names one.
constexpr const char* file_reasons[] = {"Cannot open file", "File too large", "Unclosed comment block",
                                        "getcwd error"};

[[noreturn]] void raise_file_error(const std::filesystem::path& path, const char* text) {
  if (*text == ' ') ++text;  // every error object's text begins with a blank
  std::string message(text);
  for (const char* reason : file_reasons) {
    std::size_t length = std::strlen(reason);
    if (message.compare(0, length, reason) == 0 && (message.size() == length || message[length] == ' ')) {
      throw file_error(path, reason, message);
    }
  }
  throw file_error(path, message, message);
}

}  // namespace

double correlation(std::span<const double> a, std::span<const double> b, int s) {
  return api::library_call([&] {
    checked_pair pair(a, b, s);
    return lag_correlation(pair.window, pair.x_values.get(), pair.y_values.get());
  });
}

double correlation(std::span<const double> a, std::span<const double> b, int s, int threads) {
  return api::library_call([&] {
    checked_pair pair(a, b, s);
    const real_array& x = pair.x_values.get();
    const int team = worthwhile_team(x.count, s, api::team_size(threads));
    return team_lag_correlation(pair.window, x, pair.y_values.get(), team);
  });
}

double lag_sum(std::span<const double> x, std::span<const double> y, int s) {
  return api::library_call([&] {
    checked_pair pair(x, y, s);
    return lag_product_sum(pair.window, pair.x_values.get(), pair.y_values.get());
  });
}

lag_profile profile(std::span<const double> x, std::span<const double> y, int s) {
  return api::library_call([&] {
    checked_pair pair(x, y, s);
    const real_array& xs = pair.x_values.get();
    const real_array& ys = pair.y_values.get();
    lag_profile result;
    const std::int64_t n = xs.count;
    if (n == 0) return result;
    const std::int64_t reach = std::min<std::int64_t>(s >> 1, n - 1);
    const auto lag_count = static_cast<std::size_t>(2 * reach + 1);
    result.lags.resize(lag_count);
    result.sums.resize(lag_count);
    result.normalised.resize(lag_count);
    unweighted_lag_sums(xs, ys, reach, result.sums.data());
    double own_x = 0.0;
    double own_y = 0.0;
    unweighted_lag_sums(xs, xs, 0, &own_x);
    unweighted_lag_sums(ys, ys, 0, &own_y);
    std::int64_t best = -1;
    for (std::int64_t k = 0; k < static_cast<std::int64_t>(lag_count); ++k) {
      const auto i = static_cast<std::size_t>(k);
      result.lags[i] = static_cast<int>(k - reach);
      double value = normalised_correlation(result.sums[i], own_x, own_y);
      result.normalised[i] = value;
      if (value != value) continue;
      if (best < 0) {
        best = k;
        continue;
      }
      // Larger wins; of equal values the one nearer lag 0, then the negative.
      const double held = result.normalised[static_cast<std::size_t>(best)];
      const std::int64_t distance = k > reach ? k - reach : reach - k;
      const std::int64_t held_distance = best > reach ? best - reach : reach - best;
      if (value > held || (value == held && distance < held_distance)) best = k;
    }
    if (best >= 0) result.best_lag = static_cast<int>(best - reach);
    return result;
  });
}

namespace {

// The y of a data file, and with xs its x too, as read_numbers reads them.
std::vector<double> read_file(const std::filesystem::path& path, std::vector<double>* xs) {
  return api::library_call([&] {
    const std::string name = path.string();
    real_array values;
    real_array x;
    try {
      api::scratch_scope scratch;
      if (xs != nullptr) {
        read_pairs(x, values, name.c_str(), data_access::read_only);
      } else {
        read_numbers(values, name.c_str(), data_access::read_only);
      }
    } catch (except_3* error) {
      std::string text = error->text.c_str();
      release_error(error);
      raise_file_error(path, text.c_str());
    }
    if (xs != nullptr) xs->assign(x.begin(), x.end());
    return std::vector<double>(values.begin(), values.end());
  });
}

}  // namespace

std::vector<double> read_values(const std::filesystem::path& path) { return read_file(path, nullptr); }

std::vector<double> read_values(const std::filesystem::path& path, std::vector<double>& x) {
  return read_file(path, &x);
}

}  // namespace v0

}  // namespace lagscan
