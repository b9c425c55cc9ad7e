#include "tools/lagscan-matrix/options.h"

#include <CLI.hpp>

#include "tools/lagscan-matrix/command.h"

namespace lagscan::matrix {

void declare_options(CLI::App& app, settings& options) {
  app.set_version_flag("--version", std::string(program) + " " + LAGSCAN_VERSION);
  app.add_option("--against", options.reference, "compare REF with each FILE instead of all pairs")
      ->option_text("REF");
  app.add_option("--files-from", options.files_from, "read further paths from LIST, one a line (- for standard input)")
      ->option_text("LIST");
  app.add_option("--format", options.format, "tsv (default), csv or long (one pair per line)")
      ->check(CLI::IsMember({"tsv", "csv", "long"}))
      ->option_text("FORMAT");
  app.add_option("--digits", options.digits, "significant digits of the values (default 9, as lagscan; 17 round-trips)")
      ->check(CLI::Range(1, 17))
      ->option_text("N");
  app.add_option("--top", options.top, "the K best matches (with --against), or each file's K nearest (long format)")
      ->check(CLI::Range(1, 1 << 30))
      ->option_text("K");
  app.add_option("--threads", options.threads, "threads to compute with (default: all)")
      ->check(CLI::Range(1, most_threads))
      ->option_text("N");
  app.add_option("-o,--output", options.output, "write the table to FILE instead of standard output")
      ->option_text("FILE");
  app.add_option("--heatmap", options.heatmap, "draw the table as an SVG heat map into FILE")->option_text("FILE.svg");
  app.add_option("--report", options.report,
                 "write an interactive page of the run into FILE: heat map, tree, groups, and any pair's\n"
                 "signals and lag profile; one self-contained file that opens offline")
      ->option_text("FILE.html");
  app.add_flag("--fast", options.fast,
               "through window sums, O(n) a pair instead of O(n * S): every value within 1e-12 of\n"
               "lagscan's, not its bits; the same bits on any --threads and --rows on one machine");
  app.add_option("--rows", options.rows,
                 "block row I of K of the table of all pairs (I from 1); the K runs' outputs, one after the\n"
                 "other, are the whole table")
      ->option_text("I/K");
  app.add_option("--tile", options.tile,
                 "tile T of K blocks of files (T from 1, row by row over block pairs R <= C), into a part\n"
                 "for merge (-o PART): reads only the files of its two blocks")
      ->option_text("T/K");
  app.add_flag("--center", options.center,
               "take each file's mean off its values first, so that baselines do not count (every form)");
  app.add_option("--clusters", options.clusters,
                 "cut the average-linkage tree on 1 - similarity into K groups, each with its medoid; the\n"
                 "groups go to standard output instead of the table (unless -o or --clusters-out)")
      ->check(CLI::Range(1, 1 << 30))
      ->option_text("K");
  app.add_option("--cluster-at", options.cluster_at, "cut the tree at similarity T: files joined at T or above group")
      ->option_text("T");
  app.add_option("--clusters-out", options.clusters_out, "write the groups as TSV into FILE")->option_text("FILE");
  app.add_option("--tree-out", options.tree_out,
                 "write the tree into FILE: a b height size, one merge a line, as scipy's linkage lays it out")
      ->option_text("FILE");
  app.add_flag("--keep-going", options.keep_going, "leave out files that cannot be read or whose counts differ");
  app.add_flag("-q,--quiet", options.quiet, "no progress line");
  app.footer("A FILE ending in .npy is a packed set (lagscan-matrix pack --help); lagscan-matrix merge --help\n"
             "tells how the parts of --tile runs are joined.");
  app.add_option("S", options.s_text, "odd window width")->required();
  app.add_option("FILE", options.files, "data files of x y pairs");
}

void note_given(const CLI::App& app, settings& options) {
  options.against = app.count("--against") > 0;
  options.format_given = app.count("--format") > 0;
  options.cluster_at_given = app.count("--cluster-at") > 0;
  options.digits_given = app.count("--digits") > 0;
}

}  // namespace lagscan::matrix
