// lagscan-matrix merge: the parts of the --tile runs joined.
#include <CLI.hpp>

#include "outputs/output_file.h"
#include "sets/merge.h"
#include "tools/lagscan-matrix/command.h"
#include "tools/lagscan-matrix/options.h"

namespace lagscan::matrix {

int merge_command(int argc, char** argv) {
  settings options;
  CLI::App app{"Joins the parts that the runs of every tile T/K (--tile) wrote into the output of one run over\n"
               "all the files, to the byte: each pair once in the long form, or each file's --top nearest. It\n"
               "checks first that every tile is there once, all from the same files and settings.",
               std::string(program) + " merge"};
  app.add_option("-o,--output", options.output, "write the table to FILE instead of standard output")
      ->option_text("FILE");
  app.add_option("--files-from", options.files_from, "read further parts' paths from LIST, one a line (- for standard input)")
      ->option_text("LIST");
  app.add_option("--digits", options.digits, "significant digits of the values (default 9, as lagscan; 17 round-trips)")
      ->check(CLI::Range(1, 17))
      ->option_text("N");
  app.add_option("PART", options.parts, "the parts, in any order");
  // Declared only to be refused with a reason rather than as unknown.
  app.add_option("--report", options.report)->group("");
  const int parsed = parse(app, argc, argv);
  return parsed >= 0 ? parsed : finish([&] {
    if (!options.report.empty()) {
      throw failure{status_usage, "--report needs the files' values, which parts do not hold: run lagscan-matrix "
                                  "--report on the files or their packed set"};
    }
    std::vector<std::string> parts = options.parts;
    if (!options.files_from.empty()) {
      std::vector<std::string> listed = read_list(options.files_from);
      parts.insert(parts.end(), listed.begin(), listed.end());
    }
    if (parts.empty()) throw failure{status_usage, "no parts given"};
    std::vector<std::string> inputs = parts;
    if (!options.files_from.empty() && options.files_from != "-") inputs.push_back(options.files_from);
    const std::string clash = outputs_among_inputs({{"-o", options.output}}, inputs);
    if (!clash.empty()) throw failure{status_usage, clash};
    merge_parts(parts, options.output, options.digits);
    return 0;
  });
}

}  // namespace lagscan::matrix
