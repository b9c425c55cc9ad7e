// A program built against the installed lagscan library. For
//
//   consumer S FILE1 FILE2 [FILE...]
//
// it prints what `lagscan FILE1 FILE2 S` prints, then the table that
// `lagscan-matrix -q S FILE1 FILE2 ...` prints: the same values, through
// read_values, correlation and all_pairs (on the vector of vectors the
// program holds).
#include <lagscan/lagscan.hpp>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <span>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: consumer S FILE1 FILE2 [FILE...]  (lagscan library %s)\n", lagscan::version());
    return 2;
  }
  try {
    const int s = std::atoi(argv[1]);
    const std::span<char*> names(argv + 2, static_cast<std::size_t>(argc - 2));
    std::vector<std::vector<double>> values;
    for (const char* name : names) {
      values.push_back(lagscan::read_values(name));
    }

    // The programs print nine significant digits.
    std::printf("\nCross Correlation %.9g\n", lagscan::correlation(values[0], values[1], s));

    // A vector of vectors is taken as it is.
    const std::vector<double> table = lagscan::all_pairs(values, s);
    for (const char* name : names) {
      std::printf("\t%s", name);
    }
    std::printf("\n");
    const std::size_t n = names.size();
    for (std::size_t i = 0; i < n; ++i) {
      std::printf("%s", names[i]);
      for (std::size_t j = 0; j < n; ++j) {
        std::printf("\t%.9g", table[i * n + j]);
      }
      std::printf("\n");
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "consumer: %s\n", error.what());
    return 1;
  }
  return 0;
}
