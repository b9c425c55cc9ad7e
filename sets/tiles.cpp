#include "sets/tiles.h"

#include <omp.h>

#include <algorithm>
#include <charconv>
#include <system_error>

#include "app/lag_correlation.h"
#include "matrix/fast_pairs.h"
#include "matrix/progress.h"

namespace lagscan::matrix {
namespace {


tile_values exact_tile(const real_array& window, const std::vector<const real_array*>& a,
                       const std::vector<const real_array*>& b, tile_values tile, int threads, bool shown) {
  std::vector<double> own_a(a.size());
  std::vector<double> own_b(b.size());
  const auto count_a = static_cast<std::int64_t>(a.size());
  const auto count_b = static_cast<std::int64_t>(b.size());
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (std::int64_t i = 0; i < count_a + count_b; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (i < count_a) {
      own_a[k] = lag_product_sum(window, *a[k], *a[k]);
    } else {
      own_b[k - a.size()] = lag_product_sum(window, *b[k - a.size()], *b[k - a.size()]);
    }
  }
  const row_range rows = tile.rows;
  const row_range columns = tile.columns;
  std::uint64_t total = 0;
  for (std::size_t x = rows.first; x < rows.end; ++x) {
    const std::size_t from = std::max(x + 1, columns.first);
    total += columns.end > from ? columns.end - from : 0;
  }
  shown_progress meter(shown);
  meter.start(total);
  const auto first = static_cast<std::int64_t>(rows.first);
  const auto end = static_cast<std::int64_t>(rows.end);
  // Rows go one at a time to the threads; each value has its own place.
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (std::int64_t row = first; row < end; ++row) {
    const auto x = static_cast<std::size_t>(row);
    for (std::size_t y = std::max(x + 1, columns.first); y < columns.end; ++y) {
      const double sum = lag_product_sum(window, *a[x - rows.first], *b[y - columns.first]);
      tile.values[(x - rows.first) * columns.size() + y - columns.first] =
          normalised_correlation(sum, own_a[x - rows.first], own_b[y - columns.first]);
      meter.count_one();
    }
  }
  meter.finish();
  return tile;
}

// The pairs of the tile with a file outside --fast's domain, anew by the
// exact path, as exact_pairs_outside_domain forms them in one run.
void exact_outside_domain(const real_array& window, const std::vector<const real_array*>& a,
                          const std::vector<const real_array*>& b, const std::vector<char>& outside_a,
                          const std::vector<char>& outside_b, tile_values& tile, int threads) {
  // The own sums of the files with a pair to form again: those outside, and
  // all of one side when the other holds one outside.
  auto own = [&](const std::vector<const real_array*>& sets, const std::vector<char>& outside, bool partner_outside) {
    std::vector<double> sums(sets.size());
    const auto count = static_cast<std::int64_t>(sets.size());
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
    for (std::int64_t k = 0; k < count; ++k) {
      const auto i = static_cast<std::size_t>(k);
      if (outside[i] || partner_outside) sums[i] = lag_product_sum(window, *sets[i], *sets[i]);
    }
    return sums;
  };
  auto any = [](const std::vector<char>& flags) { return std::find(flags.begin(), flags.end(), 1) != flags.end(); };
  const std::vector<double> own_a = own(a, outside_a, any(outside_b));
  const std::vector<double> own_b = own(b, outside_b, any(outside_a));
  const std::size_t width = tile.columns.size();
  const auto first = static_cast<std::int64_t>(tile.rows.first);
  const auto end = static_cast<std::int64_t>(tile.rows.end);
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (std::int64_t row = first; row < end; ++row) {
    const auto x = static_cast<std::size_t>(row);
    for (std::size_t y = std::max(x + 1, tile.columns.first); y < tile.columns.end; ++y) {
      const std::size_t i = x - tile.rows.first;
      const std::size_t j = y - tile.columns.first;
      if (!outside_a[i] && !outside_b[j]) continue;
      tile.values[i * width + j] = normalised_correlation(lag_product_sum(window, *a[i], *b[j]), own_a[i], own_b[j]);
    }
  }
}

tile_values fast_tile(const real_array& window, const std::vector<const real_array*>& a,
                      const std::vector<const real_array*>& b, std::size_t files, tile_values tile,
                      std::vector<data_file>& held, const std::vector<char>& outside, int threads, bool shown) {
  const window_sum_rows sums_a = make_window_sum_rows(window, a, threads);
  const bool diagonal = tile.rows.first == tile.columns.first;
  const window_sum_rows sums_b = diagonal ? window_sum_rows{} : make_window_sum_rows(window, b, threads);
  const bool all_inside = std::find(outside.begin(), outside.end(), 1) == outside.end();
  if (all_inside) {
    for (data_file& file : held) file.values.release_storage();  // only the sums are needed now
  }
  const held_sums held_a{&sums_a, tile.rows.first};
  const held_sums held_b{diagonal ? &sums_a : &sums_b, tile.columns.first};
  const std::size_t width = tile.columns.size();
  auto put = [&](std::size_t x, std::size_t y, double value) {
    tile.values[(x - tile.rows.first) * width + y - tile.columns.first] = value;
  };
  shown_progress meter(shown);
  grid_pairs(held_a, held_b, files, threads, meter, put, [](std::size_t, std::size_t) { return true; });
  if (!all_inside) {
    const std::vector<char> outside_a(outside.begin(), outside.begin() + static_cast<long>(a.size()));
    const std::vector<char> outside_b = diagonal ? outside_a : std::vector<char>(outside.begin() + static_cast<long>(a.size()), outside.end());
    exact_outside_domain(window, a, b, outside_a, outside_b, tile, threads);
  }
  return tile;
}

}  // namespace

std::uint64_t tile_count(std::uint64_t blocks) { return blocks * (blocks + 1) / 2; }

namespace {

// The tiles in the rows above R: K + (K - 1) + ... + (K - R + 2).
std::uint64_t tiles_above(std::uint64_t row_block, std::uint64_t blocks) {
  return (row_block - 1) * blocks - (row_block - 1) * (row_block - 2) / 2;
}

}  // namespace

bool tile_of(std::size_t number, std::size_t blocks, tile_choice& tile) {
  if (blocks == 0 || blocks > max_blocks || number == 0 || number > tile_count(blocks)) return false;
  tile.number = number;
  tile.blocks = blocks;
  // R is the last row whose tiles above are fewer than T: a search, as K may
  // be in the billions.
  std::size_t low = 1;
  std::size_t high = blocks;
  while (low < high) {
    const std::size_t middle = low + (high - low + 1) / 2;
    if (tiles_above(middle, blocks) < number) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  tile.row_block = low;
  tile.column_block = low + (number - tiles_above(low, blocks) - 1);
  return true;
}

std::size_t tile_number(std::size_t row_block, std::size_t column_block, std::size_t blocks) {
  return tiles_above(row_block, blocks) + column_block - row_block + 1;
}

bool parse_tile(const std::string& text, tile_choice& tile) {
  const std::size_t slash = text.find('/');
  auto whole = [](const std::string& digits, std::size_t& value) {
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return error == std::errc() && end == digits.data() + digits.size();
  };
  std::size_t number = 0;
  std::size_t blocks = 0;
  return slash != std::string::npos && whole(text.substr(0, slash), number) && whole(text.substr(slash + 1), blocks) &&
         tile_of(number, blocks, tile);
}

std::vector<std::size_t> tile_files(std::size_t files, const tile_choice& tile) {
  std::vector<std::size_t> which;
  for (std::size_t block : {tile.row_block, tile.column_block}) {
    const row_range range = row_block(files, block, tile.blocks);
    for (std::size_t i = range.first; i < range.end; ++i) which.push_back(i);
    if (tile.row_block == tile.column_block) break;
  }
  return which;
}

std::uint64_t names_hash(const std::vector<std::string>& names) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const std::string& name : names) {
    for (char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    hash = (hash ^ 0u) * 1099511628211ull;
  }
  return hash;
}

tile_values compute_tile(const tile_job& job, std::size_t files, std::vector<data_file>& held) {
  const tile_choice& t = job.tile;
  const bool diagonal = t.row_block == t.column_block;
  tile_values tile;
  tile.rows = row_block(files, t.row_block, t.blocks);
  tile.columns = row_block(files, t.column_block, t.blocks);
  tile.values.resize(tile.rows.size() * tile.columns.size());
  std::vector<const real_array*> a;
  std::vector<const real_array*> b;
  for (std::size_t i = 0; i < held.size(); ++i) (i < tile.rows.size() ? a : b).push_back(&held[i].values);
  if (diagonal) b = a;
  real_array window;
  make_window(window, job.s);
  return job.fast ? fast_tile(window, a, b, files, std::move(tile), held, job.outside, job.threads, job.shown)
                  : exact_tile(window, a, b, std::move(tile), job.threads, job.shown);
}

}  // namespace lagscan::matrix
