// lagscan-matrix pack: the files converted once into a packed set.
#include <CLI.hpp>

#include "tools/lagscan-matrix/command.h"
#include "tools/lagscan-matrix/options.h"
#include "tools/lagscan-matrix/plan.h"
#include "tools/lagscan-matrix/run.h"

namespace lagscan::matrix {

int pack_command(int argc, char** argv) {
  settings options;
  options.pack = true;
  CLI::App app{"Reads the data files once and writes their values as one packed set: SET.npy (numpy's format,\n"
               "one row of doubles a file) and SET.names (the files' names, one a line), which lagscan-matrix\n"
               "then takes in place of the files and reads only the rows it needs from.",
               std::string(program) + " pack"};
  app.add_option("-o,--output", options.output, "the packed set to write")->option_text("SET.npy")->required();
  app.add_option("--files-from", options.files_from, "read further paths from LIST, one a line (- for standard input)")
      ->option_text("LIST");
  app.add_option("--threads", options.threads, "threads to read with (default: all)")
      ->check(CLI::Range(1, most_threads))
      ->option_text("N");
  app.add_flag("--keep-going", options.keep_going, "leave out files that cannot be read or whose counts differ");
  app.add_option("FILE", options.files, "data files of x y pairs");
  const int parsed = parse(app, argc, argv);
  return parsed >= 0 ? parsed : finish([&] { return run(make_plan(options)); });
}

}  // namespace lagscan::matrix
