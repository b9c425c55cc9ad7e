#include "sets/merge.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "outputs/input_error.h"
#include "outputs/staged_file.h"
#include "outputs/table.h"
#include "sets/tiles.h"
#include "platform/files.h"

namespace lagscan::matrix {
namespace {

constexpr std::uint64_t head_bytes = part_magic_size + 8 * part_field_count;

struct part {
  std::string path;
  part_fields fields;
  row_range rows;
  row_range columns;
  bool diagonal() const { return fields.row_block == fields.column_block; }
};

// A part read from the start, as a stream.
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
  void skip(std::uint64_t size) {
    char scrap[1 << 14];
    for (; size > 0; size -= std::min<std::uint64_t>(size, sizeof scrap)) {
      bytes(scrap, static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof scrap)));
    }
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

std::uint64_t body_bytes(const part& p) {
  const std::uint64_t m = p.rows.size();
  if (p.fields.top == 0) return 8 * (p.diagonal() ? m * (m - (m > 0 ? 1 : 0)) / 2 : m * p.columns.size());
  return 16 * p.fields.top * (m + (p.diagonal() ? 0 : p.columns.size()));
}

// Reads and checks a part's head, and the names of its blocks into names
// (at their positions) when it is a tile of the diagonal.
part read_head(const std::string& path, std::vector<std::string>* names) {
  part p;
  p.path = path;
  part_reader in(path);
  char magic[part_magic_size] = {};
  const std::int64_t size = platform::file_size(path.c_str());
  if (size < static_cast<std::int64_t>(head_bytes)) throw input_error(path + ": not a part of a tiled run (too short)");
  in.bytes(magic, sizeof magic);
  if (std::memcmp(magic, part_magic, part_magic_size) != 0) throw input_error(path + ": not a part of a tiled run");
  part_fields& f = p.fields;
  for (std::uint64_t* field : {&f.files, &f.blocks, &f.row_block, &f.column_block, &f.count, &f.s, &f.fast, &f.top,
                               &f.hash, &f.names_bytes}) {
    *field = in.word();
  }
  constexpr std::uint64_t most = std::uint64_t{1} << 40;
  if (f.blocks == 0 || f.blocks > most || f.files > most || f.row_block == 0 || f.row_block > f.column_block ||
      f.column_block > f.blocks || f.top > most || f.fast > 1 || f.names_bytes > most) {
    throw input_error(path + ": its head is damaged");
  }
  p.rows = row_block(f.files, f.row_block, f.blocks);
  p.columns = row_block(f.files, f.column_block, f.blocks);
  const auto wanted = static_cast<std::int64_t>(head_bytes + f.names_bytes + body_bytes(p));
  if (size != wanted) {
    throw input_error(path + ": " + std::to_string(size) + " bytes, but its head makes " + std::to_string(wanted) +
                      (size < wanted ? " (cut short?)" : ""));
  }
  // Each name is its length and its bytes; together exactly names_bytes.
  std::uint64_t left = f.names_bytes;
  for (const row_range& range : {p.rows, p.columns}) {
    for (std::size_t i = range.first; i < range.end; ++i) {
      const std::uint64_t length = left >= 8 ? in.word() : most;
      if (length > left - 8) throw input_error(path + ": its names are damaged");
      left -= 8 + length;
      std::string name(static_cast<std::size_t>(length), '\0');
      in.bytes(name.data(), name.size());
      if (names != nullptr && p.diagonal()) (*names)[i] = std::move(name);
    }
    if (p.diagonal()) break;
  }
  if (left != 0) throw input_error(path + ": its names are damaged");
  return p;
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

// The part of each tile, by number, after the checks.
std::vector<part> checked_parts(const std::vector<std::string>& paths, std::vector<std::string>& names) {
  if (paths.empty()) throw input_error("no parts to merge");
  std::vector<part> parts;
  parts.reserve(paths.size());  // `counted` points into it
  const part first = read_head(paths[0], nullptr);
  names.assign(first.fields.files, std::string());
  std::vector<std::size_t> slot(tile_count(first.fields.blocks), 0);  // 1 + the part's index
  const part* counted = nullptr;  // the first part that holds files, for their count
  for (const std::string& path : paths) {
    part p = read_head(path, &names);
    const std::string differs = difference(first.fields, p.fields);
    if (!differs.empty()) throw input_error(path + " does not belong with " + first.path + ": " + differs);
    if (counted != nullptr && p.rows.size() + p.columns.size() != 0 && p.fields.count != counted->fields.count) {
      throw input_error(path + " does not belong with " + counted->path + ": values a file " +
                        std::to_string(p.fields.count) + ", not " + std::to_string(counted->fields.count));
    }
    const std::size_t t = tile_number(p.fields.row_block, p.fields.column_block, p.fields.blocks) - 1;
    if (slot[t] != 0) {
      throw input_error(parts[slot[t] - 1].path + " and " + path + " are both tile " + tile_name(p.fields));
    }
    parts.push_back(std::move(p));
    slot[t] = parts.size();
    if (counted == nullptr && parts.back().rows.size() + parts.back().columns.size() != 0) counted = &parts.back();
  }
  std::string missing;
  std::size_t missing_count = 0;
  tile_choice tile;
  for (std::size_t t = 0; t < slot.size(); ++t) {
    if (slot[t] != 0) continue;
    if (++missing_count <= 8) {
      tile_of(t + 1, first.fields.blocks, tile);
      part_fields f = first.fields;
      f.row_block = tile.row_block;
      f.column_block = tile.column_block;
      missing += (missing.empty() ? "" : ", ") + tile_name(f);
    }
  }
  if (missing_count != 0) {
    throw input_error(std::to_string(missing_count) + " of " + std::to_string(slot.size()) +
                      " tiles have no part: " + missing + (missing_count > 8 ? ", ..." : ""));
  }
  if (names_hash(names) != first.fields.hash) throw input_error("the parts' names do not match their heads");
  std::vector<part> by_tile;
  for (std::size_t s : slot) by_tile.push_back(parts[s - 1]);
  return by_tile;
}

void write_every_pair(std::FILE* out, const std::vector<part>& parts, const std::vector<std::string>& names,
                      const table_options& options) {
  const std::size_t blocks = parts[0].fields.blocks;
  std::vector<double> row;
  for (std::size_t r = 1; r <= blocks; ++r) {
    std::vector<std::unique_ptr<part_reader>> readers;
    for (std::size_t c = r; c <= blocks; ++c) {
      const part& p = parts[tile_number(r, c, blocks) - 1];
      readers.push_back(std::make_unique<part_reader>(p.path));
      readers.back()->skip(head_bytes + p.fields.names_bytes);
    }
    const row_range rows = parts[tile_number(r, r, blocks) - 1].rows;
    for (std::size_t x = rows.first; x < rows.end; ++x) {
      for (std::size_t c = r; c <= blocks; ++c) {
        const row_range columns = parts[tile_number(r, c, blocks) - 1].columns;
        const std::size_t from = std::max(x + 1, columns.first);
        row.resize(columns.end - from);
        readers[c - r]->bytes(row.data(), row.size() * sizeof(double));
        for (std::size_t y = from; y < columns.end; ++y) write_pair_line(out, names[x], names[y], row[y - from], options);
      }
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
      in.skip(head_bytes + p.fields.names_bytes + (c < r ? 16 * top * p.rows.size() : 0));
      for (std::size_t x = rows.first; x < rows.end; ++x) {
        incoming.clear();
        for (std::size_t k = 0; k < top; ++k) {
          const std::uint64_t y = in.word();
          const double value = in.number();
          if (y == no_file) continue;
          if (y >= names.size() || y == x) throw input_error(p.path + ": its lists of nearest are damaged");
          incoming.emplace_back(value, y);
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
  std::vector<std::string> names;
  const std::vector<part> parts = checked_parts(paths, names);
  table_options options{table_format::long_form, digits, static_cast<int>(parts[0].fields.top)};
  auto write = [&](std::FILE* out) {
    if (parts[0].fields.top == 0) {
      write_every_pair(out, parts, names, options);
    } else {
      write_nearest(out, parts, names, options);
    }
  };
  if (output.empty()) {
    write(stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) throw input_error("cannot write standard output");
    return;
  }
  staged_file out(output, true);
  write(out.get());
  out.close();
  out.put_in_place();
}

}  // namespace lagscan::matrix
