// What the user typed on lagscan-matrix's command line, and the one place
// each option is declared with its help text (CLI11). Whether the options
// go together is the plan's to say (plan.h).
#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace lagscan::matrix {

struct settings {
  std::string s_text;
  std::vector<std::string> files;
  std::string reference;
  std::string files_from;
  std::string format = "tsv";
  std::string output;
  std::string heatmap;
  std::string report;
  std::string rows;  // "I/K": block row I of K
  std::string tile;  // "T/K": tile T of K
  std::vector<std::string> parts;  // merge's
  int digits = 9;
  int top = 0;
  int threads = 0;  // 0: the library's thread count
  bool keep_going = false;
  bool quiet = false;
  bool against = false;
  bool format_given = false;
  bool fast = false;
  int clusters = 0;  // 0: no groups by count
  double cluster_at = 0.0;
  bool cluster_at_given = false;
  std::string clusters_out;
  std::string tree_out;
  bool center = false;
  bool digits_given = false;
  bool pack = false;
};

// The main command's options, S and the FILEs, into options.
void declare_options(CLI::App& app, settings& options);

// After parsing: which options were given, where their values alone do not
// tell.
void note_given(const CLI::App& app, settings& options);

}  // namespace lagscan::matrix
