// lagscan-matrix: lagscan's value for many pairs of data files at once.
//
//   lagscan-matrix [options] S FILE...                all pairs of the files
//   lagscan-matrix [options] --against REF S FILE...  REF against each file
//   lagscan-matrix pack -o SET.npy FILE...             the files as one packed set
//   lagscan-matrix merge [-o FILE] PART...             the parts of --tile runs joined
//
// Unlike lagscan it follows the usual habits of command-line programs:
// messages on standard error, status 0 on success, 1 on a failure, 2 on a
// usage error.
#include <omp.h>

#include <CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/driver.h"
#include "matrix/center.h"
#include "matrix/clustering.h"
#include "matrix/fast_pairs.h"
#include "matrix/groups.h"
#include "matrix/heatmap.h"
#include "matrix/input_error.h"
#include "matrix/merge.h"
#include "matrix/packed_set.h"
#include "matrix/output_file.h"
#include "matrix/progress.h"
#include "matrix/similarity.h"
#include "matrix/table.h"
#include "matrix/tiles.h"
#include "outputs/report.h"
#include "runtime/per_thread.h"
#include "runtime/thread_count.h"

namespace lagscan::matrix {
namespace {

constexpr int status_failure = 1;
constexpr int status_usage = 2;
constexpr const char* program = "lagscan-matrix";
constexpr int most_threads = 1024;

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

// A program-level failure, reported as "lagscan-matrix: <what>".
struct failure {
  int status;
  std::string what;
};

void say(const std::string& what) { std::fprintf(stderr, "%s: %s\n", program, what.c_str()); }

// The reader's message about a file (it begins with a blank), naming the
// file when the message itself does not.
std::string file_problem(const std::string& name, const std::string& problem) {
  std::size_t start = problem.find_first_not_of(' ');
  std::string words = start == std::string::npos ? std::string() : problem.substr(start);
  bool names_file = words.rfind("Cannot open file", 0) == 0 || words.rfind("File too large", 0) == 0;
  return names_file ? words : name + ": " + words;
}

// The paths of a list, one a line ("-": standard input); empty lines are
// skipped and a CR before the line end is dropped.
std::vector<std::string> read_list(const std::string& list) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (list != "-") {
    file.open(list, std::ios::binary);
    if (!file) throw failure{status_failure, "Cannot open file " + list};
    in = &file;
  }
  std::vector<std::string> paths;
  for (std::string line; std::getline(*in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) paths.push_back(line);
  }
  if (in->bad()) throw failure{status_failure, "cannot read the list " + list};
  return paths;
}

// Most files' value count; of equally common counts, the one met first.
std::int32_t usual_count(const std::vector<data_file>& files) {
  std::map<std::int32_t, std::size_t> seen;
  for (const data_file& f : files) {
    if (f.problem.empty()) ++seen[f.values.count];
  }
  std::int32_t best = 0;
  std::size_t best_seen = 0;
  for (const data_file& f : files) {
    if (!f.problem.empty()) continue;
    std::size_t times = seen[f.values.count];
    if (times > best_seen) {
      best = f.values.count;
      best_seen = times;
    }
  }
  return best;
}

// The files that take part: every file that was read and holds `expected`
// values (the reference's count with --against, else the usual count).
// Without keep_going any other file stops the run; with it, each is left
// out with a line on standard error.
std::vector<std::size_t> files_taking_part(const std::vector<data_file>& files, std::size_t first,
                                           std::int32_t expected, bool keep_going) {
  std::vector<std::size_t> kept;
  bool unreadable = false;
  for (std::size_t i = first; i < files.size(); ++i) {
    if (files[i].problem.empty()) continue;
    unreadable = true;
    say(keep_going ? "leaving out " + files[i].name + " (" + file_problem(files[i].name, files[i].problem) + ")"
                   : file_problem(files[i].name, files[i].problem));
  }
  if (unreadable && !keep_going) throw failure{status_failure, ""};
  bool differ = false;
  for (std::size_t i = first; i < files.size(); ++i) {
    const data_file& f = files[i];
    if (!f.problem.empty()) continue;
    if (f.values.count == expected) {
      kept.push_back(i);
      continue;
    }
    if (!differ && !keep_going) say("Number of points in files needs to be the same");
    differ = true;
    std::string counts = std::to_string(f.values.count) + " values, not " + std::to_string(expected);
    say(keep_going ? "leaving out " + f.name + " (" + counts + ")" : f.name + " has " + counts);
  }
  if (differ && !keep_going) throw failure{status_failure, ""};
  if (kept.empty()) throw failure{status_failure, "no files left to compare"};
  return kept;
}

// Which files lie outside --fast's domain (fast_pairs.h): the reference's
// flag apart, then one for each file taking part.
struct outside_domain {
  bool reference = false;
  std::vector<char> sets;
};

// Their sums overflow, so their values mean nothing in either mode: each
// is named once on standard error.
outside_domain files_outside_domain(const real_array& window, const std::vector<data_file>& files,
                                    const std::vector<std::size_t>& kept, bool against, int threads) {
  std::vector<std::size_t> checked = kept;
  if (against) checked.insert(checked.begin(), 0);
  std::vector<const real_array*> sets;
  for (std::size_t i : checked) sets.push_back(&files[i].values);
  std::vector<char> outside = outside_fast_domain(window, sets, threads);
  std::set<std::string> named;
  for (std::size_t k = 0; k < checked.size(); ++k) {
    const std::string& name = files[checked[k]].name;
    if (outside[k] && named.insert(name).second) {
      say("warning: " + name + ": its values are too large for the lag sums (or hold inf or nan); "
          "its results carry no meaning");
    }
  }
  outside_domain result;
  result.reference = against && outside[0];
  result.sets.assign(outside.begin() + (against ? 1 : 0), outside.end());
  return result;
}

// "I/K" (1 <= I <= K, both whole numbers) as block I of K.
struct row_block_choice {
  std::size_t block = 1;
  std::size_t blocks = 1;
};

row_block_choice parse_rows(const std::string& text) {
  row_block_choice choice;
  const std::size_t slash = text.find('/');
  auto whole = [](const std::string& digits, std::size_t& value) {
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stoul(digits);
    return value > 0;
  };
  if (slash == std::string::npos || !whole(text.substr(0, slash), choice.block) ||
      !whole(text.substr(slash + 1), choice.blocks) || choice.block > choice.blocks) {
    throw failure{status_usage, "--rows " + text + ": give I/K, block I of K, with 1 <= I <= K"};
  }
  return choice;
}

table_format format_of(const std::string& name) {
  if (name == "csv") return table_format::csv;
  if (name == "long") return table_format::long_form;
  return table_format::tsv;
}

// The tree and its groups need the whole table of all pairs.
void check_clustering(const settings& options, bool split) {
  std::string asked;
  if (!options.tree_out.empty()) asked = "--tree-out";
  if (!options.clusters_out.empty()) asked = "--clusters-out";
  if (options.cluster_at_given) asked = "--cluster-at";
  if (options.clusters > 0) asked = "--clusters";
  if (asked.empty()) return;
  if (options.against) throw failure{status_usage, asked + " clusters all pairs; it does not go with --against"};
  if (split) throw failure{status_usage, asked + " needs the whole table; it does not go with --rows"};
  if (options.clusters > 0 && options.cluster_at_given) {
    throw failure{status_usage, "--clusters and --cluster-at cut the tree in two ways: give one"};
  }
  if (!options.clusters_out.empty() && options.clusters == 0 && !options.cluster_at_given) {
    throw failure{status_usage, "--clusters-out writes groups: give --clusters K or --cluster-at T"};
  }
  if (options.cluster_at_given && !(options.cluster_at >= -1.0 && options.cluster_at <= 1.0)) {
    throw failure{status_usage, "--cluster-at: give a similarity from -1 to 1"};
  }
}

// What the report page shows of every run; the caller adds the table or the
// reference.
report_input report_of(const settings& options, std::int32_t s, const std::vector<std::string>& names,
                       const std::vector<const real_array*>& sets) {
  report_input page;
  page.s = s;
  page.digits = options.digits;
  page.fast = options.fast;
  page.center = options.center;
  page.names = names;
  for (const real_array* values : sets) page.signals.emplace_back(values->buffer, static_cast<std::size_t>(values->count));
  if (options.clusters > 0) page.cut = {report_cut::kind::clusters, static_cast<double>(options.clusters)};
  if (options.cluster_at_given) page.cut = {report_cut::kind::threshold, options.cluster_at};
  return page;
}

int run(const settings& options) {
  std::int32_t s = 1;  // pack takes no S
  if (!options.pack) s = parse_window_width(options.s_text.c_str());
  if (const char* message = window_width_message(s)) {
    std::string text = message;
    text.pop_back();  // its line end
    throw failure{status_usage, text};
  }
  if (options.against && !options.heatmap.empty()) {
    throw failure{status_usage, "--heatmap draws all pairs; it does not go with --against"};
  }
  const bool split = !options.rows.empty();
  const row_block_choice block = split ? parse_rows(options.rows) : row_block_choice{};
  if (split && options.against) {
    throw failure{status_usage, "--rows splits the table of all pairs; it does not go with --against"};
  }
  if (split && !options.heatmap.empty()) {
    throw failure{status_usage, "--heatmap draws the whole table; it does not go with --rows"};
  }
  check_clustering(options, split);
  if (!options.report.empty() && split) {
    throw failure{status_usage, "--report shows the whole table; it does not go with --rows"};
  }
  const bool grouped = options.clusters > 0 || options.cluster_at_given;
  // Groups without a file of their own take standard output from the table.
  const bool table_shown = !grouped || !options.clusters_out.empty() || !options.output.empty();
  const bool tiled = !options.tile.empty();
  tile_choice tile;
  if (tiled && !parse_tile(options.tile, tile)) {
    throw failure{status_usage, "--tile " + options.tile + ": give T/K, tile T of the K (K + 1) / 2 tiles of K blocks"};
  }
  const bool clustered = options.clusters > 0 || options.cluster_at_given || !options.clusters_out.empty() ||
                         !options.tree_out.empty();
  if (tiled && (options.against || split || !options.heatmap.empty() || options.keep_going || clustered)) {
    throw failure{status_usage, "--tile goes with none of --against, --rows, --heatmap, --keep-going and clustering"};
  }
  if (tiled && !options.report.empty()) {
    throw failure{status_usage, "--report shows the whole table; it does not go with --tile (merge the parts, then run on the packed set)"};
  }
  if (tiled && (options.format_given || options.digits_given)) {
    throw failure{status_usage, "--tile writes a part; merge writes the long form, with --digits"};
  }
  if ((tiled || options.pack) && options.output.empty()) {
    throw failure{status_usage, tiled ? "--tile writes a part for merge: give -o PART" : "give -o SET.npy"};
  }
  if (!options.against && options.top > 0 && options.format_given && options.format != "long") {
    throw failure{status_usage, "--top for all pairs lists each file's nearest in --format long"};
  }
  std::vector<std::string> names;
  if (options.against) names.push_back(options.reference);
  names.insert(names.end(), options.files.begin(), options.files.end());
  if (!options.files_from.empty()) {
    std::vector<std::string> listed = read_list(options.files_from);
    names.insert(names.end(), listed.begin(), listed.end());
  }
  const std::size_t first = options.against ? 1 : 0;
  if (names.size() == first) throw failure{status_usage, "no data files given"};
  std::vector<std::string> inputs = names;
  if (!options.files_from.empty() && options.files_from != "-") inputs.push_back(options.files_from);
  std::string clash = outputs_among_inputs({{"-o", options.output},
                                            {"--heatmap", options.heatmap},
                                            {"--report", options.report},
                                            {"--clusters-out", options.clusters_out},
                                            {"--tree-out", options.tree_out}},
                                           inputs);
  if (!clash.empty()) throw failure{status_usage, clash};
  if (options.against && is_packed_set(names[0])) {
    throw failure{status_usage, "--against compares one data file, not a packed set, with each FILE"};
  }
  file_list list;
  for (const std::string& name : names) list.add(name);
  names = list.names();

  // A part or a packed set is written whole or not at all, by its own writer.
  output_file table_out(tiled || options.pack ? std::string() : options.output);
  std::unique_ptr<output_file> picture_out;
  if (!options.heatmap.empty()) picture_out = std::make_unique<output_file>(options.heatmap);
  // Groups without a file of their own go to standard output.
  std::unique_ptr<output_file> groups_out;
  if (grouped) groups_out = std::make_unique<output_file>(options.clusters_out);
  std::unique_ptr<output_file> tree_out;
  if (!options.tree_out.empty()) tree_out = std::make_unique<output_file>(options.tree_out);
  std::unique_ptr<output_file> report_out;
  if (!options.report.empty()) report_out = std::make_unique<output_file>(options.report);

  const int threads = options.threads > 0 ? options.threads : max_num_threads();
  prepare_for_threads(threads);
  omp_set_dynamic(0);  // --threads N means N

  std::vector<std::size_t> which = tiled ? tile_files(names.size(), tile) : std::vector<std::size_t>();
  for (std::size_t i = 0; !tiled && i < names.size(); ++i) which.push_back(i);
  std::vector<data_file> files = list.load(which, threads);
  std::int32_t expected = 0;
  if (options.against) {
    if (!files[0].problem.empty()) throw failure{status_failure, file_problem(names[0], files[0].problem)};
    expected = files[0].values.count;
  } else {
    expected = usual_count(files);
  }
  // A tile of two empty blocks (more blocks than files) holds no pairs.
  std::vector<std::size_t> kept = tiled && files.empty() ? std::vector<std::size_t>()
                                                         : files_taking_part(files, first, expected, options.keep_going);
  if (options.clusters > 0 && static_cast<std::size_t>(options.clusters) > kept.size()) {
    throw failure{status_usage, "--clusters " + std::to_string(options.clusters) + ": there are only " +
                                    std::to_string(kept.size()) + " files"};
  }
  if (options.center) {
    if (options.against) center_values(files[0].values);
    const auto count = static_cast<std::int64_t>(kept.size());
#pragma omp parallel for num_threads(threads) schedule(dynamic, 16)
    for (std::int64_t k = 0; k < count; ++k) {
      real_array& values = files[kept[static_cast<std::size_t>(k)]].values;
      own_values(values);  // a packed row is read-only in its mapping
      center_values(values);
    }
  }
  std::vector<const real_array*> sets;
  std::vector<std::string> kept_names;
  for (std::size_t i : kept) {
    sets.push_back(&files[i].values);
    kept_names.push_back(files[i].name);
  }

  const bool shown = !options.quiet && standard_error_is_terminal();
  if (options.pack) {
    write_packed_set(options.output, kept_names, sets);
    return 0;
  }
  real_array window;
  make_window(window, s);
  table_options table{format_of(options.format), options.digits, options.top};
  if (!options.against && options.top > 0) table.format = table_format::long_form;
  const outside_domain outside = files_outside_domain(window, files, kept, options.against, threads);
  if (tiled) {
    write_tile(options.output, tile_job{tile, s, options.fast, options.top, threads, shown, outside.sets}, names, files);
    return 0;
  }
  if (options.against) {
    std::vector<double> values =
        options.fast ? against_fast(window, files[0].values, outside.reference, sets, outside.sets, threads, shown)
                     : against(window, files[0].values, sets, threads, shown);
    write_against(table_out.get(), names[0], kept_names, values, table);
    if (report_out) {
      report_input page = report_of(options, s, kept_names, sets);
      page.against = true;
      page.reference_name = names[0];
      page.reference = {files[0].values.buffer, static_cast<std::size_t>(files[0].values.count)};
      page.against_values = &values;
      write_report(report_out->get(), page, threads);
      report_out->finish();
    }
  } else {
    const row_range rows = row_block(sets.size(), block.block, block.blocks);
    table.header = block.block == 1;
    std::vector<double> values;
    if (options.fast) {
      const window_sum_rows sums = make_window_sum_rows(window, sets, threads);
      const bool all_inside = std::find(outside.sets.begin(), outside.sets.end(), 1) == outside.sets.end();
      if (all_inside && !report_out) {
        for (data_file& file : files) file.values.release_storage();  // only the sums are needed now
      }
      values = all_pairs_fast(sums, rows, threads, shown);
      if (!all_inside) exact_pairs_outside_domain(window, sets, outside.sets, rows, values, threads);
    } else {
      values = all_pairs(window, sets, rows, threads, shown);
    }
    if (table_shown) {
      write_all_pairs(table_out.get(), kept_names, values, rows.first, rows.end, table);
      table_out.finish();  // a table that cannot be written leaves no other output either
    }
    if (picture_out || grouped || tree_out || report_out) {
      cluster_tree tree;
      {
        std::vector<double> distances = condensed_distances(values, sets.size());
        tree = average_linkage(distances, sets.size());
      }
      std::unique_ptr<grouping> groups;
      if (grouped) {
        groups = std::make_unique<grouping>(
            options.clusters > 0 ? cut_into(tree, static_cast<std::size_t>(options.clusters), values)
                                 : cut_at(tree, options.cluster_at, values));
        write_groups(groups_out->get(), kept_names, *groups);
        groups_out->finish();
      }
      if (tree_out) {
        write_tree(tree_out->get(), tree);
        tree_out->finish();
      }
      if (picture_out) {
        write_heatmap(picture_out->get(), kept_names, values, s, tree, groups.get());
        picture_out->finish();
      }
      if (report_out) {
        report_input page = report_of(options, s, kept_names, sets);
        page.table = &values;
        page.tree = &tree;
        page.groups = groups.get();
        write_report(report_out->get(), page, threads);
        report_out->finish();
      }
    }
  }
  for (output_file* out : {report_out.get(), picture_out.get(), tree_out.get(), groups_out.get(), &table_out}) {
    if (out != nullptr) out->commit();
  }
  return 0;
}

// Parses the command line into app: -1 when the run goes on, else the
// status to end with (after --help, --version or a usage error).
int parse(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::CallForVersion& version) {
    std::cout << version.what() << "\n";
    return 0;
  } catch (const CLI::ParseError& error) {
    say(error.what());
    std::fprintf(stderr, "Run with --help for more information.\n");
    return status_usage;
  }
  return -1;
}

// The end of a run: its status, and its message on standard error.
int finish(const std::function<int()>& work) {
  try {
    return work();
  } catch (const failure& f) {
    if (!f.what.empty()) say(f.what);
    return f.status;
  } catch (const input_error& error) {
    say(error.what());
  } catch (const output_error& error) {
    say(error.what());
  } catch (const std::bad_alloc&) {
    say("out of memory");
  } catch (...) {
    say("Error");
  }
  return status_failure;
}

// lagscan-matrix pack: the files converted once into a packed set.
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
  return parsed >= 0 ? parsed : finish([&] { return run(options); });
}

// lagscan-matrix merge: the parts of the --tile runs joined.
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
    merge_parts(parts, options.output, options.digits);
    return 0;
  });
}

}  // namespace
}  // namespace lagscan::matrix

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
  const int parsed = parse(app, argc, argv);
  if (parsed >= 0) return parsed;
  options.against = app.count("--against") > 0;
  options.format_given = app.count("--format") > 0;
  options.cluster_at_given = app.count("--cluster-at") > 0;
  options.digits_given = app.count("--digits") > 0;
  return finish([&] { return run(options); });
}
