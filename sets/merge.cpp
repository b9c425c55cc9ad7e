#include "sets/merge.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "outputs/input_error.h"
#include "outputs/output_file.h"
#include "outputs/table.h"
#include "sets/tiles.h"
#include "platform/files.h"

namespace lagscan::matrix {
namespace {

constexpr std::uint64_t head_bytes = part_magic_size + 8 * part_field_count;

// The values of a block row read at a time: chunks of rows of about this
// many values, so that memory stays bounded whatever the set's size.
constexpr std::uint64_t chunk_values = std::uint64_t{1} << 22;

struct part {
  std::string path;
  part_fields fields;
  row_range rows;
  row_range columns;
  std::vector<std::string> names;  // of its block, on a diagonal tile
  bool diagonal() const { return fields.row_block == fields.column_block; }
  std::uint64_t tile() const { return tile_number(fields.row_block, fields.column_block, fields.blocks); }
};

// A part read as a stream, from its start or from a place in it.
class part_reader {
 public:
  explicit part_reader(const std::string& path) : path_(path), file_(platform::open_file(path.c_str(), "rb")) {
    if (file_ == nullptr) throw input_error("Cannot open file " + path);
  }
  ~part_reader() { std::fclose(file_); }
  part_reader(const part_reader&) = delete;
  part_reader& operator=(const part_reader&) = delete;

  void bytes(void* out, std::size_t size) {
    if (size != 0 && std::fread(out, 1, size, file_) != size) throw input_error(path_ + ": cannot be read to its end");
  }
  std::uint64_t word() {
    std::uint64_t value = 0;
    bytes(&value, sizeof value);
    return value;
  }
  double number() {
    double value = 0;
    bytes(&value, sizeof value);
    return value;
  }
  void seek(std::uint64_t offset) {
    if (!platform::seek_file(file_, offset)) throw input_error(path_ + ": cannot be read to its end");
  }

 private:
  std::string path_;
  std::FILE* file_;
};

std::string tile_name(const part_fields& f) {
  return std::to_string(tile_number(f.row_block, f.column_block, f.blocks)) + "/" +
         std::to_string(tile_count(f.blocks)) + " (block " + std::to_string(f.row_block) + " against block " +
         std::to_string(f.column_block) + ")";
}

// a * b and a + b, false when they pass 64 bits.
bool times(std::uint64_t a, std::uint64_t b, std::uint64_t& out) { return !__builtin_mul_overflow(a, b, &out); }
bool plus(std::uint64_t a, std::uint64_t b, std::uint64_t& out) { return !__builtin_add_overflow(a, b, &out); }

// The bytes of the part's values or lists; false when they pass 64 bits.
bool body_bytes(const part& p, std::uint64_t& bytes) {
  const std::uint64_t m = p.rows.size();
  const std::uint64_t others = p.diagonal() ? 0 : p.columns.size();
  std::uint64_t entries = 0;
  if (p.fields.top == 0) {
    if (p.diagonal()) return times(m, m - (m > 0 ? 1 : 0), entries) && times(entries / 2, 8, bytes);
    return times(m, p.columns.size(), entries) && times(entries, 8, bytes);
  }
  return times(p.fields.top, m + others, entries) && times(entries, 16, bytes);
}

// The number of the values of tile p that file x of its rows holds.
std::uint64_t values_of_row(const part& p, std::size_t x) {
  const std::size_t from = std::max(x + 1, p.columns.first);
  return p.columns.end > from ? p.columns.end - from : 0;
}

// Reads and checks a part's head and names, keeping the names when it is a
// tile of the diagonal. Every size the head gives is checked against the
// file's own size before anything of that size is taken, so that a damaged
// head costs no more memory or time than the file's bytes.
part read_head(const std::string& path) {
  part p;
  p.path = path;
  part_reader in(path);
  char magic[part_magic_size] = {};
  const std::int64_t signed_size = platform::file_size(path.c_str());
  if (signed_size < static_cast<std::int64_t>(head_bytes)) {
    throw input_error(path + ": not a part of a tiled run (too short)");
  }
  const auto size = static_cast<std::uint64_t>(signed_size);
  in.bytes(magic, sizeof magic);
  if (std::memcmp(magic, part_magic, part_magic_size) != 0) throw input_error(path + ": not a part of a tiled run");
  part_fields& f = p.fields;
  for (std::uint64_t* field : {&f.files, &f.blocks, &f.row_block, &f.column_block, &f.count, &f.s, &f.fast, &f.top,
                               &f.hash, &f.names_bytes}) {
    *field = in.word();
  }
  constexpr std::uint64_t most = std::uint64_t{1} << 40;
  if (f.blocks == 0 || f.blocks > max_blocks || f.files > most || f.row_block == 0 || f.row_block > f.column_block ||
      f.column_block > f.blocks || f.top > std::numeric_limits<std::int32_t>::max() || f.fast > 1) {
    throw input_error(path + ": its head is damaged");
  }
  p.rows = row_block(f.files, f.row_block, f.blocks);
  p.columns = row_block(f.files, f.column_block, f.blocks);
  std::uint64_t body = 0;
  std::uint64_t wanted = 0;
  if (!body_bytes(p, body) || !plus(head_bytes, f.names_bytes, wanted) || !plus(wanted, body, wanted)) {
    throw input_error(path + ": its head is damaged");
  }
  if (size != wanted) {
    throw input_error(path + ": " + std::to_string(size) + " bytes, but its head makes " + std::to_string(wanted) +
                      (size < wanted ? " (cut short?)" : ""));
  }
  // Each name is its length and its bytes; together exactly names_bytes.
  const std::uint64_t names = p.rows.size() + (p.diagonal() ? 0 : p.columns.size());
  if (names > f.names_bytes / 8) throw input_error(path + ": its names are damaged");
  std::uint64_t left = f.names_bytes;
  if (p.diagonal()) p.names.reserve(p.rows.size());
  std::string name;
  for (std::uint64_t k = 0; k < names; ++k) {
    if (left < 8) throw input_error(path + ": its names are damaged");
    const std::uint64_t length = in.word();
    if (length > left - 8) throw input_error(path + ": its names are damaged");
    left -= 8 + length;
    name.resize(static_cast<std::size_t>(length));
    in.bytes(name.data(), name.size());
    if (p.diagonal()) p.names.push_back(name);
  }
  if (left != 0) throw input_error(path + ": its names are damaged");
  return p;
}

// Checks every list of nearest of a part with --top: each entry a file of
// the other block (not the file itself), or the padding.
void check_lists(const part& p) {
  part_reader in(p.path);
  in.seek(head_bytes + p.fields.names_bytes);
  auto check = [&](row_range owners, row_range others) {
    for (std::size_t x = owners.first; x < owners.end; ++x) {
      for (std::uint64_t k = 0; k < p.fields.top; ++k) {
        const std::uint64_t y = in.word();
        in.number();
        if (y != no_file && (!others.holds(static_cast<std::size_t>(y)) || y == x)) {
          throw input_error(p.path + ": its lists of nearest are damaged");
        }
      }
    }
  };
  check(p.rows, p.columns);
  if (!p.diagonal()) check(p.columns, p.rows);
}

// The first setting in which b differs from a, as words for a message.
std::string difference(const part_fields& a, const part_fields& b) {
  auto says = [](const char* what, std::uint64_t x, std::uint64_t y) {
    return std::string(what) + " " + std::to_string(y) + ", not " + std::to_string(x);
  };
  if (a.files != b.files) return says("files", a.files, b.files);
  if (a.blocks != b.blocks) return says("blocks", a.blocks, b.blocks);
  if (a.hash != b.hash) return "another list of files";
  if (a.s != b.s) return says("S", a.s, b.s);
  if (a.fast != b.fast) return b.fast ? "--fast" : "without --fast";
  if (a.top != b.top) return says("--top", a.top, b.top);
  return "";
}

// The part of each tile, by number, after the checks. Nothing is taken in
// proportion to the heads' numbers until every tile is known to be there:
// the tiles are then as many as the parts, and the names as many as the
// diagonal parts hold.
std::vector<part> checked_parts(const std::vector<std::string>& paths, std::vector<std::string>& names) {
  if (paths.empty()) throw input_error("no parts to merge");
  std::vector<part> parts;
  parts.reserve(paths.size());
  std::size_t counted = paths.size();  // the first part that holds files, for their count
  for (const std::string& path : paths) {
    part p = read_head(path);
    if (!parts.empty()) {
      const std::string differs = difference(parts[0].fields, p.fields);
      if (!differs.empty()) throw input_error(path + " does not belong with " + parts[0].path + ": " + differs);
    }
    const bool holds_files = p.rows.size() + p.columns.size() != 0;
    if (counted != paths.size() && holds_files && p.fields.count != parts[counted].fields.count) {
      throw input_error(path + " does not belong with " + parts[counted].path + ": values a file " +
                        std::to_string(p.fields.count) + ", not " + std::to_string(parts[counted].fields.count));
    }
    if (counted == paths.size() && holds_files) counted = parts.size();
    parts.push_back(std::move(p));
  }
  // By tile, equal tiles in the order given; the doubled tile named is the
  // one whose second part comes first.
  std::vector<std::size_t> order(parts.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&parts](std::size_t a, std::size_t b) { return parts[a].tile() < parts[b].tile(); });
  std::size_t doubled = parts.size();
  for (std::size_t k = 1; k < order.size(); ++k) {
    if (parts[order[k]].tile() == parts[order[k - 1]].tile() && (doubled == parts.size() || order[k] < order[doubled])) {
      doubled = k;
    }
  }
  if (doubled != parts.size()) {
    const part& second = parts[order[doubled]];
    std::size_t first = doubled;
    while (first > 0 && parts[order[first - 1]].tile() == second.tile()) --first;
    throw input_error(parts[order[first]].path + " and " + second.path + " are both tile " + tile_name(second.fields));
  }
  const part_fields& fields = parts[0].fields;
  const std::uint64_t tiles = tile_count(fields.blocks);
  if (parts.size() != tiles) {
    std::string missing;
    std::size_t listed = 0;
    std::uint64_t t = 1;
    auto list_up_to = [&](std::uint64_t end) {
      for (; t < end && listed < 8; ++t, ++listed) {
        tile_choice tile;
        tile_of(t, fields.blocks, tile);
        part_fields f = fields;
        f.row_block = tile.row_block;
        f.column_block = tile.column_block;
        missing += (missing.empty() ? "" : ", ") + tile_name(f);
      }
    };
    for (std::size_t k : order) {
      list_up_to(parts[k].tile());
      t = parts[k].tile() + 1;
    }
    list_up_to(tiles + 1);
    const std::uint64_t missing_count = tiles - parts.size();
    throw input_error(std::to_string(missing_count) + " of " + std::to_string(tiles) + " tiles have no part: " + missing +
                      (missing_count > 8 ? ", ..." : ""));
  }
  std::vector<part> by_tile;
  by_tile.reserve(parts.size());
  for (std::size_t k : order) by_tile.push_back(std::move(parts[k]));
  names.reserve(static_cast<std::size_t>(fields.files));
  for (part& p : by_tile) {
    if (!p.diagonal()) continue;
    for (std::string& name : p.names) names.push_back(std::move(name));
    p.names = {};
  }
  if (names_hash(names) != fields.hash) throw input_error("the parts' names do not match their heads");
  if (fields.top != 0) {
    for (const part& p : by_tile) check_lists(p);
  }
  return by_tile;
}

// Each block row of tiles is read a chunk of rows at a time, one part open
// at a time: a run of many blocks never holds more files open than one (the
// system's limit on open files is often 1024), and a chunk of rows of every
// tile of the block row lies in one place in its part.
void write_every_pair(std::FILE* out, const std::vector<part>& parts, const std::vector<std::string>& names,
                      const table_options& options) {
  const std::size_t blocks = parts[0].fields.blocks;
  const std::uint64_t chunk_rows = std::max<std::uint64_t>(1, chunk_values / std::max<std::size_t>(names.size(), 1));
  std::vector<double> values;
  std::vector<std::uint64_t> offsets;  // of each tile of the block row: the next value's byte
  std::vector<std::size_t> starts;     // of each tile of the block row: its chunk in values
  for (std::size_t r = 1; r <= blocks; ++r) {
    offsets.clear();
    for (std::size_t c = r; c <= blocks; ++c) {
      offsets.push_back(head_bytes + parts[tile_number(r, c, blocks) - 1].fields.names_bytes);
    }
    const row_range rows = parts[tile_number(r, r, blocks) - 1].rows;
    for (std::size_t x0 = rows.first; x0 < rows.end;) {
      const std::size_t x1 = static_cast<std::size_t>(std::min<std::uint64_t>(rows.end, x0 + chunk_rows));
      values.clear();
      starts.clear();
      for (std::size_t c = r; c <= blocks; ++c) {
        const part& p = parts[tile_number(r, c, blocks) - 1];
        std::uint64_t count = 0;
        for (std::size_t x = x0; x < x1; ++x) count += values_of_row(p, x);
        starts.push_back(values.size());
        values.resize(values.size() + count);
        if (count == 0) continue;
        part_reader in(p.path);
        in.seek(offsets[c - r]);
        in.bytes(values.data() + starts.back(), count * sizeof(double));
        offsets[c - r] += count * sizeof(double);
      }
      for (std::size_t x = x0; x < x1; ++x) {
        for (std::size_t c = r; c <= blocks; ++c) {
          const part& p = parts[tile_number(r, c, blocks) - 1];
          const std::size_t from = std::max(x + 1, p.columns.first);
          for (std::size_t y = from; y < p.columns.end; ++y) {
            write_pair_line(out, names[x], names[y], values[starts[c - r]++], options);
          }
        }
      }
      x0 = x1;
    }
  }
}

void write_nearest(std::FILE* out, const std::vector<part>& parts, const std::vector<std::string>& names,
                   const table_options& options) {
  const std::size_t blocks = parts[0].fields.blocks;
  const auto top = static_cast<std::size_t>(parts[0].fields.top);
  using entry = std::pair<double, std::uint64_t>;
  auto order = [](const entry& a, const entry& b) { return nearer(a.first, a.second, b.first, b.second); };
  std::vector<entry> incoming;
  std::vector<entry> joined;
  for (std::size_t r = 1; r <= blocks; ++r) {
    const row_range rows = parts[tile_number(r, r, blocks) - 1].rows;
    std::vector<std::vector<entry>> nearest(rows.size());
    for (std::size_t c = 1; c <= blocks; ++c) {
      // Block R's lists are the rows of (R, C) or the columns of (C, R).
      const part& p = parts[tile_number(std::min(r, c), std::max(r, c), blocks) - 1];
      part_reader in(p.path);
      in.seek(head_bytes + p.fields.names_bytes + (c < r ? 16 * top * p.rows.size() : 0));
      for (std::size_t x = rows.first; x < rows.end; ++x) {
        incoming.clear();
        for (std::size_t k = 0; k < top; ++k) {
          const std::uint64_t y = in.word();
          const double value = in.number();
          if (y != no_file) incoming.emplace_back(value, y);  // checked before anything was written
        }
        std::vector<entry>& kept = nearest[x - rows.first];
        joined.resize(kept.size() + incoming.size());
        std::merge(kept.begin(), kept.end(), incoming.begin(), incoming.end(), joined.begin(), order);
        kept.assign(joined.begin(), joined.begin() + static_cast<long>(std::min(top, joined.size())));
      }
    }
    for (std::size_t x = rows.first; x < rows.end; ++x) {
      for (const entry& e : nearest[x - rows.first]) write_pair_line(out, names[x], names[e.second], e.first, options);
    }
  }
}

}  // namespace

void merge_parts(const std::vector<std::string>& paths, const std::string& output, int digits) {
  output_file out(output);  // a path that cannot be written fails before the parts are read
  std::vector<std::string> names;
  const std::vector<part> parts = checked_parts(paths, names);
  table_options options{table_format::long_form, digits, static_cast<int>(parts[0].fields.top)};
  if (parts[0].fields.top == 0) {
    write_every_pair(out.get(), parts, names, options);
  } else {
    write_nearest(out.get(), parts, names, options);
  }
  out.commit();
}

}  // namespace lagscan::matrix
