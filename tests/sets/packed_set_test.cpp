// A packed set on its own: a set cut short by another program while a run
// has it mapped ends the run with lagscan-matrix's message naming the set,
// not with a silent SIGBUS.
#include "sets/packed_set.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace lagscan::matrix {
namespace {

#ifndef _WIN32
TEST(packed_set_death, a_set_cut_short_while_mapped_ends_the_run_with_a_message_naming_it) {
  testing::temp_dir dir;
  const std::size_t rows = 4;
  const std::size_t columns = 4096;  // a row of 32 KiB: the last rows lie on pages of their own
  const std::string path = dir.write("set.npy", npy_header(rows, columns) + std::string(rows * columns * 8, '\0'));
  dir.write("set.names", "a\nb\nc\nd\n");
  EXPECT_EXIT(
      {
        const packed_set set(path);
        real_array row;
        set.view_row(3, row);
        if (::truncate(path.c_str(), 64) != 0) std::_Exit(4);
        volatile double value = row.buffer[columns - 1];
        (void)value;
        std::_Exit(5);  // not reached: the page is gone
      },
      ::testing::ExitedWithCode(1),
      "^lagscan-matrix: " + path + ": cut short while it was being read \\(it changed during the run\\)\n$");
}
#endif

}  // namespace
}  // namespace lagscan::matrix
