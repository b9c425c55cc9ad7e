#include "sets/packed_set.h"

#include <bit>
#include <cstring>
#include <limits>
#include <map>

#include "outputs/input_error.h"
#include "outputs/staged_file.h"
#include "platform/files.h"

namespace lagscan::matrix {
namespace {

// The rows are the machine's doubles as they lie in memory.
static_assert(std::endian::native == std::endian::little, "a packed set holds little-endian doubles");

constexpr char npy_magic[] = "\x93NUMPY";
constexpr std::size_t npy_magic_size = 6;
constexpr std::size_t npy_preamble = 10;  // magic, two version bytes, the header's length
constexpr std::size_t npy_alignment = 64;

// A cursor over the header's dict: Python literals of the few kinds numpy
// writes there, blanks allowed between them.
class dict_reader {
 public:
  dict_reader(const char* text, std::size_t size) : text_(text), size_(size) {}

  void skip_blanks() {
    while (at_ < size_ && (text_[at_] == ' ' || text_[at_] == '\t')) ++at_;
  }
  bool take(char c) {
    skip_blanks();
    if (at_ < size_ && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  // A quoted string ('...' or "...", no escapes).
  bool string(std::string& out) {
    skip_blanks();
    if (at_ >= size_ || (text_[at_] != '\'' && text_[at_] != '"')) return false;
    const char quote = text_[at_++];
    const std::size_t start = at_;
    while (at_ < size_ && text_[at_] != quote) ++at_;
    if (at_ >= size_) return false;
    out.assign(text_ + start, at_ - start);
    ++at_;
    return true;
  }
  bool word(std::string& out) {
    skip_blanks();
    const std::size_t start = at_;
    while (at_ < size_ && std::strchr("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_", text_[at_])) ++at_;
    out.assign(text_ + start, at_ - start);
    return !out.empty();
  }
  bool whole(std::uint64_t& out) {
    skip_blanks();
    const std::size_t start = at_;
    out = 0;
    while (at_ < size_ && text_[at_] >= '0' && text_[at_] <= '9') {
      const auto digit = static_cast<std::uint64_t>(text_[at_] - '0');
      if (out > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return false;
      out = out * 10 + digit;
      ++at_;
    }
    return at_ > start;
  }
  // The shape's tuple, as its text and its numbers.
  bool tuple(std::vector<std::uint64_t>& out, std::string& text) {
    const std::size_t start = (skip_blanks(), at_);
    if (!take('(')) return false;
    out.clear();
    while (!take(')')) {
      std::uint64_t value = 0;
      if (!whole(value)) return false;
      out.push_back(value);
      if (!take(',')) {
        if (!take(')')) return false;
        break;
      }
    }
    text.assign(text_ + start, at_ - start);
    return true;
  }
  bool at_end() {
    skip_blanks();
    return at_ == size_;
  }

 private:
  const char* text_;
  std::size_t size_;
  std::size_t at_ = 0;
};

std::string header_dict(std::uint64_t rows, std::uint64_t columns) {
  return "{'descr': '<f8', 'fortran_order': False, 'shape': (" + std::to_string(rows) + ", " +
         std::to_string(columns) + "), }";
}

}  // namespace

std::string npy_header(std::uint64_t rows, std::uint64_t columns) {
  std::string dict = header_dict(rows, columns);
  // Blanks and a line end make the preamble and the dict a whole number of
  // alignment units.
  const std::size_t unpadded = npy_preamble + dict.size() + 1;
  dict.append((npy_alignment - unpadded % npy_alignment) % npy_alignment, ' ');
  dict += '\n';
  std::string header(npy_magic, npy_magic_size);
  header += '\x01';
  header += '\x00';
  header += static_cast<char>(dict.size() & 0xff);
  header += static_cast<char>(dict.size() >> 8);
  return header + dict;
}

std::string check_npy(const unsigned char* bytes, std::uint64_t size, npy_layout& layout) {
  if (size < npy_preamble || std::memcmp(bytes, npy_magic, npy_magic_size) != 0) {
    return "not a .npy file (no numpy magic at its start)";
  }
  if (bytes[6] != 1 || bytes[7] != 0) {
    return "its .npy version is " + std::to_string(bytes[6]) + "." + std::to_string(bytes[7]) + ", not 1.0";
  }
  const std::size_t length = bytes[8] | static_cast<std::size_t>(bytes[9]) << 8;
  if (size < npy_preamble + length) return "its header runs past the end of the file";
  const char* text = reinterpret_cast<const char*>(bytes) + npy_preamble;
  if (length == 0 || text[length - 1] != '\n') return "its header does not end in a line end";
  dict_reader dict(text, length - 1);
  if (!dict.take('{')) return "its header is not a dict";
  std::map<std::string, std::string> seen;  // key -> its value's text
  std::vector<std::uint64_t> shape;
  while (!dict.take('}')) {
    std::string key;
    std::string value;
    if (!dict.string(key) || !dict.take(':')) return "its header is not a dict of quoted keys";
    if (seen.count(key) != 0) return "its header gives '" + key + "' twice";
    bool read = false;
    if (key == "descr") {
      read = dict.string(value);
    } else if (key == "fortran_order") {
      read = dict.word(value);
    } else if (key == "shape") {
      read = dict.tuple(shape, value);
    } else {
      return "its header holds an unknown key '" + key + "'";
    }
    if (!read) return "its header's '" + key + "' cannot be read";
    seen[key] = value;
    if (!dict.take(',')) {
      if (!dict.take('}')) return "its header is not a dict";
      break;
    }
  }
  if (!dict.at_end()) return "its header holds more than its dict";
  for (const char* key : {"descr", "fortran_order", "shape"}) {
    if (seen.count(key) == 0) return std::string("its header gives no '") + key + "'";
  }
  if (seen["descr"] != "<f8") return "it holds '" + seen["descr"] + "' values, not little-endian doubles ('<f8')";
  if (seen["fortran_order"] != "False") return "its fortran_order is " + seen["fortran_order"] + ", not False";
  if (shape.size() != 2) return "its shape is " + seen["shape"] + ", not (files, values)";
  layout.rows = shape[0];
  layout.columns = shape[1];
  layout.data_offset = npy_preamble + length;
  if (layout.columns > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) ||
      (layout.columns != 0 && layout.rows > (std::numeric_limits<std::uint64_t>::max() / 8) / layout.columns)) {
    return "its shape " + seen["shape"] + " is too large";
  }
  const std::uint64_t wanted = layout.data_offset + layout.rows * layout.columns * 8;
  if (size != wanted) {
    return "it has " + std::to_string(size) + " bytes, but its header and shape " + seen["shape"] + " make " +
           std::to_string(wanted);
  }
  return "";
}

std::string names_path(const std::string& npy_path) {
  return npy_path.substr(0, npy_path.size() - 4) + ".names";
}

bool is_packed_set(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".npy") == 0;
}

packed_set::packed_set(const std::string& path) {
  if (!file_.open(path.c_str())) throw input_error("Cannot open file " + path);
  const std::string problem = check_npy(file_.data(), file_.size(), layout_);
  if (!problem.empty()) throw input_error(path + ": " + problem);
  count_ = static_cast<std::int32_t>(layout_.columns);

  const std::string list = names_path(path);
  platform::mapped_file names;
  if (!names.open(list.c_str())) throw input_error("Cannot open file " + list);
  const char* text = reinterpret_cast<const char*>(names.data());
  for (std::uint64_t at = 0; at < names.size();) {
    const void* found = std::memchr(text + at, '\n', names.size() - at);
    const std::uint64_t end = found ? static_cast<std::uint64_t>(static_cast<const char*>(found) - text) : names.size();
    std::string name(text + at, end - at);
    if (!name.empty() && name.back() == '\r') name.pop_back();
    if (name.empty()) throw input_error(list + ": line " + std::to_string(names_.size() + 1) + " names no file");
    names_.push_back(std::move(name));
    at = end + 1;
  }
  if (names_.size() != layout_.rows) {
    throw input_error(list + " holds " + std::to_string(names_.size()) + " names, but " + path + " holds " +
                      std::to_string(layout_.rows) + " rows");
  }
}

void packed_set::view_row(std::size_t i, real_array& out) const {
  const std::uint64_t row_bytes = static_cast<std::uint64_t>(count_) * 8;
  const unsigned char* row = file_.data() + layout_.data_offset + i * row_bytes;
  if (layout_.data_offset % alignof(double) == 0 && row_bytes != 0) {
    out.release_storage();
    out.buffer = const_cast<double*>(reinterpret_cast<const double*>(row));
    out.count = count_;
    return;
  }
  out.reserve(count_, false);
  out.count = count_;
  if (row_bytes != 0) std::memcpy(out.buffer, row, row_bytes);
}

void own_values(real_array& values) {
  if (values.capacity != 0 || values.count == 0) return;
  const double* row = values.buffer;
  const std::int32_t count = values.count;
  values.buffer = nullptr;
  values.count = 0;
  values.reserve(count, false);
  std::memcpy(values.buffer, row, static_cast<std::size_t>(count) * sizeof(double));
  values.count = count;
}

void file_list::add(const std::string& path) {
  if (!is_packed_set(path)) {
    names_.push_back(path);
    set_of_.push_back(0);
    row_.push_back(0);
    return;
  }
  sets_.push_back(std::make_unique<packed_set>(path));
  const packed_set& set = *sets_.back();
  for (std::size_t i = 0; i < set.rows(); ++i) {
    names_.push_back(set.names()[i]);
    set_of_.push_back(sets_.size());
    row_.push_back(i);
  }
}

std::vector<data_file> file_list::load(const std::vector<std::size_t>& which, int threads) const {
  std::vector<data_file> files(which.size());
  const auto n = static_cast<std::int64_t>(which.size());
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (std::int64_t i = 0; i < n; ++i) {
    data_file& file = files[static_cast<std::size_t>(i)];
    const std::size_t k = which[static_cast<std::size_t>(i)];
    file.name = names_[k];
    if (set_of_[k] == 0) {
      load_file(file);
    } else {
      try {  // nothing may be raised out of the parallel region
        sets_[set_of_[k] - 1]->view_row(row_[k], file.values);
      } catch (...) {
        file.problem = " out of memory";
      }
    }
  }
  return files;
}

void write_packed_set(const std::string& path, const std::vector<std::string>& names,
                      const std::vector<const real_array*>& files) {
  if (!is_packed_set(path)) throw input_error("a packed set's name ends in .npy, unlike " + path);
  const std::uint64_t columns = files.empty() ? 0 : static_cast<std::uint64_t>(files[0]->count);
  staged_file list(names_path(path));
  for (const std::string& name : names) {
    if (name.find_first_of("\r\n") != std::string::npos) throw input_error("a file name holds a line end: " + name);
    list.write(name.data(), name.size());
    list.write("\n", 1);
  }
  list.close();
  staged_file set(path);
  const std::string header = npy_header(names.size(), columns);
  set.write(header.data(), header.size());
  for (const real_array* file : files) set.write(file->buffer, static_cast<std::size_t>(columns) * 8);
  set.close();
  // The names first: a set is whole once its rows are in place.
  list.put_in_place();
  set.put_in_place();
}

}  // namespace lagscan::matrix
