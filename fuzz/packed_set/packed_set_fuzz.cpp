// A packed set's two files, as lagscan-matrix reads them: the .npy header
// and rows, and the names beside them.
//
// Input: the names' bytes, the separator "|||NPY|||", then the .npy file's
// bytes (without the separator, all of it is the .npy file and there is no
// names file).
//
// Invariants for every input:
//  - check_npy answers without reading past the bytes; when it accepts
//    them, the header and shape make exactly the file's size, the rows
//    start inside it and a row holds at most 2^30 values, and the header that
//    pack writes for that shape is accepted with the same shape, its rows
//    aligned;
//  - packed_set accepts the files or raises input_error; when it accepts
//    them, it has the shape check_npy read, one name a row (none empty or
//    holding a line end), and each row's values are the file's bytes there;
//  - both files keep their bytes and modification times.
#include <cstdint>
#include <cstring>
#include <string>

#include "outputs/input_error.h"
#include "sets/packed_set.h"
#include "support/check.h"
#include "support/scratch_dir.h"

namespace lagscan::fuzz {
namespace {

const scratch_dir& scratch() {
  static const scratch_dir dir;
  return dir;
}

constexpr char separator[] = "|||NPY|||";

// Rows are compared only up to this many values: a header may claim any
// shape that its (small) file's size allows.
constexpr std::uint64_t most_values_compared = std::uint64_t{1} << 16;

void check_header(const std::string& npy, matrix::npy_layout& layout, bool& accepted) {
  const std::string problem =
      matrix::check_npy(reinterpret_cast<const unsigned char*>(npy.data()), npy.size(), layout);
  accepted = problem.empty();
  if (!accepted) return;
  FUZZ_CHECK(layout.data_offset <= npy.size(), "the rows start past the file's end");
  FUZZ_CHECK(layout.columns <= (1u << 30), "a row passes an array's 2^30 values");
  FUZZ_CHECK(layout.data_offset + layout.rows * layout.columns * 8 == npy.size(), "the shape does not make the size");
  if (layout.rows * layout.columns > most_values_compared) return;
  const std::string written = matrix::npy_header(layout.rows, layout.columns) +
                              std::string(static_cast<std::size_t>(layout.rows * layout.columns * 8), '\0');
  matrix::npy_layout again;
  FUZZ_CHECK(matrix::check_npy(reinterpret_cast<const unsigned char*>(written.data()), written.size(), again).empty(),
             "pack's header for the shape is refused");
  FUZZ_CHECK(again.rows == layout.rows && again.columns == layout.columns, "pack's header reads as another shape");
  FUZZ_CHECK(again.data_offset % 64 == 0, "pack's rows are not aligned");
}

}  // namespace
}  // namespace lagscan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lagscan;
  using namespace lagscan::fuzz;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find(separator);
  const bool has_names = cut != std::string::npos;
  const std::string names = has_names ? input.substr(0, cut) : std::string();
  const std::string npy = has_names ? input.substr(cut + sizeof separator - 1) : input;

  matrix::npy_layout layout;
  bool accepted = false;
  check_header(npy, layout, accepted);

  const std::string npy_path = scratch().file("set.npy");
  const std::string names_path = scratch().file("set.names");
  write_bytes(npy_path, npy);
  ::unlink(names_path.c_str());
  if (has_names) write_bytes(names_path, names);
  const file_stamp npy_before = file_stamp::of(npy_path);
  try {
    const matrix::packed_set set(npy_path);
    FUZZ_CHECK(accepted, "packed_set took a file that check_npy refuses");
    FUZZ_CHECK(set.rows() == layout.rows && static_cast<std::uint64_t>(set.count()) == layout.columns,
               "the set's shape is not its header's");
    for (const std::string& name : set.names()) {
      FUZZ_CHECK(!name.empty() && name.find_first_of("\r\n") == std::string::npos, "a name is empty or holds a line end");
    }
    if (layout.rows * layout.columns <= most_values_compared) {
      real_array row;
      for (std::size_t i = 0; i < set.rows(); ++i) {
        set.view_row(i, row);
        const std::size_t bytes = static_cast<std::size_t>(layout.columns) * 8;
        FUZZ_CHECK(row.count == set.count(), "a row's count is not the set's");
        FUZZ_CHECK(bytes == 0 || std::memcmp(row.buffer, npy.data() + layout.data_offset + i * bytes, bytes) == 0,
                   "a row's values are not the file's bytes");
      }
    }
  } catch (const matrix::input_error&) {
  }
  FUZZ_CHECK(file_stamp::of(npy_path) == npy_before, "the .npy file was changed");
  if (has_names) FUZZ_CHECK(read_bytes(names_path) == names, "the names file was changed");
  return 0;
}
