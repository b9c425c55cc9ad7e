#include "sets/set_files.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "outputs/input_error.h"

namespace lagscan::matrix {
namespace {

// A failed write shows when the part is committed (output_file::finish).
class part_writer {
 public:
  explicit part_writer(output_file& file) : file_(file.get()) {}
  void magic() { bytes(part_magic, part_magic_size); }
  void word(std::uint64_t value) { bytes(&value, sizeof value); }
  void number(double value) { bytes(&value, sizeof value); }
  void text(const std::string& s) {
    word(s.size());
    bytes(s.data(), s.size());
  }

 private:
  void bytes(const void* data, std::size_t size) { std::fwrite(data, 1, size, file_); }
  std::FILE* file_;
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

void write_tile(output_file& part, const tile_job& job, const std::vector<std::string>& names,
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
  part_writer out(part);
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
  part.commit();
}

void write_packed_set(output_file& set, output_file& list, const std::vector<std::string>& names,
                      const std::vector<const real_array*>& files) {
  const std::uint64_t columns = files.empty() ? 0 : static_cast<std::uint64_t>(files[0]->count);
  for (const std::string& name : names) {
    if (name.find_first_of("\r\n") != std::string::npos) throw input_error("a file name holds a line end: " + name);
    std::fwrite(name.data(), 1, name.size(), list.get());
    std::fputc('\n', list.get());
  }
  const std::string header = npy_header(names.size(), columns);
  std::fwrite(header.data(), 1, header.size(), set.get());
  for (const real_array* file : files) std::fwrite(file->buffer, 8, static_cast<std::size_t>(columns), set.get());
  // Both whole before either takes its name; the names first: a set is
  // whole once its rows are in place.
  list.finish();
  set.finish();
  list.commit();
  set.commit();
}

}  // namespace lagscan::matrix
