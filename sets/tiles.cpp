#include "sets/tiles.h"

#include <omp.h>

#include <algorithm>

#include "app/lag_correlation.h"
#include "matrix/fast_pairs.h"
#include "matrix/progress.h"
#include "outputs/staged_file.h"

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

class part_writer {
 public:
  explicit part_writer(const std::string& path) : file_(path) {}
  void magic() { file_.write(part_magic, part_magic_size); }
  void word(std::uint64_t value) { file_.write(&value, sizeof value); }
  void number(double value) { file_.write(&value, sizeof value); }
  void text(const std::string& s) {
    word(s.size());
    file_.write(s.data(), s.size());
  }
  void finish() {
    file_.close();
    file_.put_in_place();
  }

 private:
  staged_file file_;
};

// x's `top` nearest among the files `others` (x itself left out), from
// nearest, padded to `top` entries.
void write_nearest(part_writer& out, std::size_t x, row_range others, const tile_values& tile, int top) {
  std::vector<std::pair<double, std::size_t>> candidates;
  for (std::size_t y = others.first; y < others.end; ++y) {
    if (y == x) continue;
    candidates.emplace_back(x < y ? tile.at(x, y) : tile.at(y, x), y);
  }
  const std::size_t keep = std::min(candidates.size(), static_cast<std::size_t>(top));
  std::partial_sort(candidates.begin(), candidates.begin() + static_cast<long>(keep), candidates.end(),
                    [](const auto& p, const auto& q) { return nearer(p.first, p.second, q.first, q.second); });
  for (std::size_t k = 0; k < static_cast<std::size_t>(top); ++k) {
    out.word(k < keep ? candidates[k].second : no_file);
    out.number(k < keep ? candidates[k].first : 0.0);
  }
}

}  // namespace

std::size_t tile_count(std::size_t blocks) { return blocks * (blocks + 1) / 2; }

bool tile_of(std::size_t number, std::size_t blocks, tile_choice& tile) {
  if (blocks == 0 || number == 0 || number > tile_count(blocks)) return false;
  tile.number = number;
  tile.blocks = blocks;
  std::size_t r = 1;
  std::size_t before = 0;  // tiles in the rows above r
  while (number > before + (blocks - r + 1)) {
    before += blocks - r + 1;
    ++r;
  }
  tile.row_block = r;
  tile.column_block = r + (number - before - 1);
  return true;
}

std::size_t tile_number(std::size_t row_block, std::size_t column_block, std::size_t blocks) {
  // The rows above R hold K + (K - 1) + ... + (K - R + 2) tiles.
  const std::size_t before = (row_block - 1) * blocks - (row_block - 1) * (row_block - 2) / 2;
  return before + column_block - row_block + 1;
}

bool parse_tile(const std::string& text, tile_choice& tile) {
  const std::size_t slash = text.find('/');
  auto whole = [](const std::string& digits, std::size_t& value) {
    if (digits.empty() || digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stoul(digits);
    return true;
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

void write_tile(const std::string& path, const tile_job& job, const std::vector<std::string>& names,
                std::vector<data_file>& files) {
  const tile_choice& t = job.tile;
  const bool diagonal = t.row_block == t.column_block;
  const std::int32_t count = files.empty() ? 0 : files[0].values.count;
  const tile_values tile = compute_tile(job, names.size(), files);
  std::uint64_t names_bytes = 0;
  for (const row_range& range : {tile.rows, tile.columns}) {
    for (std::size_t i = range.first; i < range.end; ++i) names_bytes += 8 + names[i].size();
    if (diagonal) break;
  }
  part_writer out(path);
  out.magic();
  const part_fields fields{names.size(),
                           t.blocks,
                           t.row_block,
                           t.column_block,
                           static_cast<std::uint64_t>(count),
                           static_cast<std::uint64_t>(job.s),
                           job.fast ? 1u : 0u,
                           static_cast<std::uint64_t>(job.top),
                           names_hash(names),
                           names_bytes};
  for (std::uint64_t field : {fields.files, fields.blocks, fields.row_block, fields.column_block, fields.count,
                              fields.s, fields.fast, fields.top, fields.hash, fields.names_bytes}) {
    out.word(field);
  }
  for (const row_range& range : {tile.rows, tile.columns}) {
    for (std::size_t i = range.first; i < range.end; ++i) out.text(names[i]);
    if (diagonal) break;
  }
  if (job.top == 0) {
    for (std::size_t x = tile.rows.first; x < tile.rows.end; ++x) {
      for (std::size_t y = std::max(x + 1, tile.columns.first); y < tile.columns.end; ++y) out.number(tile.at(x, y));
    }
  } else {
    for (std::size_t x = tile.rows.first; x < tile.rows.end; ++x) write_nearest(out, x, tile.columns, tile, job.top);
    if (!diagonal) {
      for (std::size_t y = tile.columns.first; y < tile.columns.end; ++y) write_nearest(out, y, tile.rows, tile, job.top);
    }
  }
  out.finish();
}

}  // namespace lagscan::matrix
