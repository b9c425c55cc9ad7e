// The parts of a tiled run, as lagscan-matrix merge reads them: heads,
// names, values and lists of nearest, one part or several.
//
// Input: the parts' bytes, separated by "|||PART|||" (at most eight parts).
//
// Invariants for every input:
//  - merge_parts joins the parts or raises input_error, and takes no more
//    memory than the parts' bytes warrant (libFuzzer's memory limit stops a
//    run that takes what a crafted head claims);
//  - when it refuses them, the output file keeps what it held and nothing
//    is left beside it; when it joins them, the output ends with a whole
//    line;
//  - the parts keep their bytes and modification times.
#include <dirent.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "outputs/input_error.h"
#include "sets/merge.h"
#include "support/check.h"
#include "support/scratch_dir.h"

namespace lagscan::fuzz {
namespace {

const scratch_dir& scratch() {
  static const scratch_dir dir;
  return dir;
}

constexpr char separator[] = "|||PART|||";
constexpr std::size_t most_parts = 8;
const std::string earlier = "an earlier output\n";

std::vector<std::string> split_parts(const std::string& input) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  for (;;) {
    const std::size_t cut = input.find(separator, at);
    if (cut == std::string::npos || parts.size() + 1 == most_parts) {
      parts.push_back(input.substr(at));
      return parts;
    }
    parts.push_back(input.substr(at, cut - at));
    at = cut + sizeof separator - 1;
  }
}

std::size_t entries_in_scratch() {
  std::size_t count = 0;
  DIR* dir = ::opendir(scratch().path().c_str());
  if (dir == nullptr) std::abort();
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) ++count;
  }
  ::closedir(dir);
  return count;
}

}  // namespace
}  // namespace lagscan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lagscan::fuzz;
  const std::vector<std::string> parts = split_parts(std::string(reinterpret_cast<const char*>(data), size));
  std::vector<std::string> paths;
  std::vector<file_stamp> before;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    paths.push_back(scratch().file("part-" + std::to_string(k)));
    write_bytes(paths.back(), parts[k]);
    before.push_back(file_stamp::of(paths.back()));
  }
  const std::string output = scratch().file("merged.txt");
  write_bytes(output, earlier);
  const std::size_t entries = entries_in_scratch();
  bool joined = false;
  try {
    lagscan::matrix::merge_parts(paths, output, 17);
    joined = true;
  } catch (const lagscan::matrix::input_error&) {
  }
  const std::string text = read_bytes(output);
  FUZZ_CHECK(entries_in_scratch() == entries, "a file was left beside the output");
  if (!joined) {
    FUZZ_CHECK(text == earlier, "a refused merge changed its output");
  } else {
    // Names are any bytes, line ends included, so lines are not counted.
    FUZZ_CHECK(text.empty() || text.back() == '\n', "the last line is not whole");
  }
  for (std::size_t k = 0; k < paths.size(); ++k) {
    FUZZ_CHECK(file_stamp::of(paths[k]) == before[k], "a part was changed");
    ::unlink(paths[k].c_str());
  }
  return 0;
}
