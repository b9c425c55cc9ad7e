// lagscan-matrix: lagscan's value for many pairs of data files at once.
//
//   lagscan-matrix [options] S FILE...                all pairs of the files
//   lagscan-matrix [options] --against REF S FILE...  REF against each file
//   lagscan-matrix pack -o SET.npy FILE...             the files as one packed set
//   lagscan-matrix merge [-o FILE] PART...             the parts of --tile runs joined
//
// It parses (options.cpp), plans (plan.cpp) and dispatches (run.cpp,
// pack_command.cpp, merge_command.cpp); the work is the rooms' below it.
#include <CLI.hpp>
#include <string>

#include "tools/lagscan-matrix/command.h"
#include "tools/lagscan-matrix/options.h"
#include "tools/lagscan-matrix/plan.h"
#include "tools/lagscan-matrix/run.h"

int main(int argc, char** argv) {
  using namespace lagscan::matrix;
  // A first word that cannot be S names another command.
  if (argc > 1 && std::string(argv[1]) == "pack") return pack_command(argc - 1, argv + 1);
  if (argc > 1 && std::string(argv[1]) == "merge") return merge_command(argc - 1, argv + 1);
  settings options;
  CLI::App app{
      "lagscan's lag correlation for many data files at once: all pairs of the files, or one reference\n"
      "(--against REF) against each file, best match first. Every value is the one lagscan prints for\n"
      "that pair; with --fast, within 1e-12 of it wherever the sums are finite. S is the odd window width,\n"
      "read as lagscan reads it.",
      program};
  declare_options(app, options);
  const int parsed = parse(app, argc, argv);
  if (parsed >= 0) return parsed;
  note_given(app, options);
  return finish([&] { return run(make_plan(options)); });
}
