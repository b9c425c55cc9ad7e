// A packed set: many data files' values converted once into one binary file
// that any run then reads only the rows it needs from, by mapping it.
//
//   SET.npy    numpy's .npy format, version 1.0: the header
//              {'descr': '<f8', 'fortran_order': False, 'shape': (N, n), }
//              then N rows of n little-endian doubles, row i the values the
//              data file loader read from file i
//   SET.names  the N files' names, one a line, in the rows' order
//
// numpy.load("SET.npy", mmap_mode="r") reads the same array. A run names the
// set by its .npy path wherever it takes a data file; the set stands for its
// N files, under their names, in their order, so that a run on the set
// prints what the run on the files printed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "matrix/similarity.h"
#include "platform/mapped_file.h"

namespace lagscan::matrix {

// The shape a .npy header gives, and where its rows begin.
struct npy_layout {
  std::uint64_t rows = 0;
  std::uint64_t columns = 0;
  std::uint64_t data_offset = 0;
};

// The header of a set of rows x columns doubles: magic, version 1.0, its
// length and the dict, padded with blanks to a multiple of 64 bytes so that
// the rows that follow are aligned.
std::string npy_header(std::uint64_t rows, std::uint64_t columns);

// Checks a whole .npy file's bytes (size of them): the magic, version 1.0,
// a dict of exactly descr '<f8', fortran_order False and a shape of two
// whole numbers, and a size of exactly header + rows * columns * 8 bytes.
// Empty when it holds; else what is wrong, e.g. "its shape is (3,), not
// (files, values)".
std::string check_npy(const unsigned char* bytes, std::uint64_t size, npy_layout& layout);

// "SET.npy" -> "SET.names".
std::string names_path(const std::string& npy_path);

// Whether a path given as a data file names a packed set (it ends in .npy).
bool is_packed_set(const std::string& path);

class packed_set {
 public:
  // Maps path and reads its names; an input_error naming the file when
  // either cannot be read, the header fails check_npy, or the names are not
  // one a row.
  explicit packed_set(const std::string& path);

  std::size_t rows() const { return names_.size(); }
  std::int32_t count() const { return count_; }
  const std::vector<std::string>& names() const { return names_; }
  // Row i's values in out (count() of them): where the row is aligned (it
  // is in every set numpy or pack writes), out views it in the mapping, with
  // capacity 0, so that it owns nothing and release_storage() frees
  // nothing, and is good while the set lives; else a copy. Nothing is copied
  // and no fresh memory is touched: the pages are the system's file cache.
  void view_row(std::size_t i, real_array& out) const;

 private:
  platform::mapped_file file_;
  npy_layout layout_;
  std::int32_t count_ = 0;
  std::vector<std::string> names_;
};

// Gives values their own storage when they view a packed row (view_row),
// so that they may be changed; values that own theirs are left alone.
void own_values(real_array& values);

// The data files of a run in their order: text files, and the rows of
// packed sets in their place, each under its own name.
class file_list {
 public:
  // A text file, or every row of the packed set at path.
  void add(const std::string& path);
  std::size_t size() const { return names_.size(); }
  const std::vector<std::string>& names() const { return names_; }

  // The files `which` (positions in the list), in that order, read on up to
  // `threads` threads: a text file as load_files reads it, a packed row
  // as view_row gives it (so the list must outlive the files). Only those
  // files are read.
  std::vector<data_file> load(const std::vector<std::size_t>& which, int threads) const;

 private:
  std::vector<std::string> names_;
  std::vector<std::size_t> set_of_;  // 0 for a text file, else 1 + the set's index
  std::vector<std::size_t> row_;     // the row in its set
  std::vector<std::unique_ptr<packed_set>> sets_;
};

// Writes the packed set of `files` (all of one count) to path and its names
// beside it: each file is first written under a temporary name and put in
// place when whole, so that a failed run leaves no set that looks complete.
// An input_error names what could not be written.
void write_packed_set(const std::string& path, const std::vector<std::string>& names,
                      const std::vector<const real_array*>& files);

}  // namespace lagscan::matrix
