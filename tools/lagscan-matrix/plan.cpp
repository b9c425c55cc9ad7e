#include "tools/lagscan-matrix/plan.h"

#include "app/driver.h"
#include "sets/packed_set.h"
#include "tools/lagscan-matrix/command.h"

namespace lagscan::matrix {
namespace {

// "I/K" (1 <= I <= K, both whole numbers) as block I of K.
bool parse_rows(const std::string& text, row_block_choice& choice) {
  const std::size_t slash = text.find('/');
  auto whole = [](const std::string& digits, std::size_t& value) {
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stoul(digits);
    return value > 0;
  };
  return slash != std::string::npos && whole(text.substr(0, slash), choice.block) &&
         whole(text.substr(slash + 1), choice.blocks) && choice.block <= choice.blocks;
}

bool rows_bad(const settings& o) {
  row_block_choice unused;
  return !o.rows.empty() && !parse_rows(o.rows, unused);
}

bool tile_bad(const settings& o) {
  tile_choice unused;
  return !o.tile.empty() && !parse_tile(o.tile, unused);
}

bool clustered(const settings& o) {
  return o.clusters > 0 || o.cluster_at_given || !o.clusters_out.empty() || !o.tree_out.empty();
}

// The clustering option a message names: of those given, the first here.
std::string clustering_asked(const settings& o) {
  if (o.clusters > 0) return "--clusters";
  if (o.cluster_at_given) return "--cluster-at";
  if (!o.clusters_out.empty()) return "--clusters-out";
  return "--tree-out";
}

std::string fault(bool wrong, const std::string& message) { return wrong ? message : std::string(); }

// Which options do not go together. Each rule says what is wrong, or ""
// when nothing is; the first to find fault refuses the run, so their order
// is the order in which faults are told.
using rule = std::string (*)(const settings&);
const rule rules[] = {
    [](const settings& o) {
      return fault(o.against && !o.heatmap.empty(), "--heatmap draws all pairs; it does not go with --against");
    },
    [](const settings& o) {
      return fault(rows_bad(o), "--rows " + o.rows + ": give I/K, block I of K, with 1 <= I <= K");
    },
    [](const settings& o) {
      return fault(!o.rows.empty() && o.against, "--rows splits the table of all pairs; it does not go with --against");
    },
    [](const settings& o) {
      return fault(!o.rows.empty() && !o.heatmap.empty(), "--heatmap draws the whole table; it does not go with --rows");
    },
    [](const settings& o) {
      return fault(!o.rows.empty() && !o.report.empty(), "--report shows the whole table; it does not go with --rows");
    },
    [](const settings& o) {
      return fault(clustered(o) && o.against, clustering_asked(o) + " clusters all pairs; it does not go with --against");
    },
    [](const settings& o) {
      return fault(clustered(o) && !o.rows.empty(), clustering_asked(o) + " needs the whole table; it does not go with --rows");
    },
    [](const settings& o) {
      return fault(o.clusters > 0 && o.cluster_at_given, "--clusters and --cluster-at cut the tree in two ways: give one");
    },
    [](const settings& o) {
      return fault(!o.clusters_out.empty() && o.clusters == 0 && !o.cluster_at_given,
                   "--clusters-out writes groups: give --clusters K or --cluster-at T");
    },
    [](const settings& o) {
      return fault(o.cluster_at_given && !(o.cluster_at >= -1.0 && o.cluster_at <= 1.0),
                   "--cluster-at: give a similarity from -1 to 1");
    },
    [](const settings& o) {
      return fault(tile_bad(o), "--tile " + o.tile + ": give T/K, tile T of the K (K + 1) / 2 tiles of K blocks");
    },
    [](const settings& o) {
      return fault(!o.tile.empty() && (o.against || !o.rows.empty() || !o.heatmap.empty() || o.keep_going || clustered(o)),
                   "--tile goes with none of --against, --rows, --heatmap, --keep-going and clustering");
    },
    [](const settings& o) {
      return fault(!o.tile.empty() && !o.report.empty(),
                   "--report shows the whole table; it does not go with --tile (merge the parts, then run on the "
                   "packed set)");
    },
    [](const settings& o) {
      return fault(!o.tile.empty() && (o.format_given || o.digits_given),
                   "--tile writes a part; merge writes the long form, with --digits");
    },
    [](const settings& o) {
      return fault((!o.tile.empty() || o.pack) && o.output.empty(),
                   !o.tile.empty() ? "--tile writes a part for merge: give -o PART" : "give -o SET.npy");
    },
    [](const settings& o) {
      return fault(!o.against && o.top > 0 && o.format_given && o.format != "long",
                   "--top for all pairs lists each file's nearest in --format long");
    },
};

std::int32_t window_width(const settings& o) {
  const std::int32_t s = o.pack ? 1 : parse_window_width(o.s_text.c_str());
  if (const char* message = window_width_message(s)) {
    std::string text = message;
    text.pop_back();  // its line end
    throw failure{status_usage, text};
  }
  return s;
}

table_format format_of(const std::string& name) {
  if (name == "csv") return table_format::csv;
  if (name == "long") return table_format::long_form;
  return table_format::tsv;
}

// The outputs of all pairs or --against, in the order they are opened.
void plan_outputs(const settings& o, plan& p) {
  // Groups without a file of their own take standard output from the table.
  if (!p.grouped() || !o.clusters_out.empty() || !o.output.empty()) p.outputs.push_back({o.output, table_output});
  if (!o.heatmap.empty()) p.outputs.push_back({o.heatmap, heatmap_output});
  if (p.grouped()) p.outputs.push_back({o.clusters_out, groups_output});
  if (!o.tree_out.empty()) p.outputs.push_back({o.tree_out, tree_output});
  if (!o.report.empty()) p.outputs.push_back({o.report, p.work == computation::against ? ranked_report_output : report_output});
}

}  // namespace

plan make_plan(const settings& o) {
  plan p;
  p.s = window_width(o);
  for (rule check : rules) {
    std::string wrong = check(o);
    if (!wrong.empty()) throw failure{status_usage, wrong};
  }
  p.work = o.pack ? computation::pack
           : !o.tile.empty() ? computation::tile
           : o.against       ? computation::against
                             : computation::all_pairs;
  p.reference = o.reference;
  p.files = o.files;
  p.files_from = o.files_from;
  p.keep_going = o.keep_going;
  p.center = o.center;
  p.fast = o.fast;
  p.quiet = o.quiet;
  p.threads = o.threads;
  if (!o.rows.empty()) parse_rows(o.rows, p.block);
  if (!o.tile.empty()) parse_tile(o.tile, p.tile);
  p.top = o.top;
  p.table = {format_of(o.format), o.digits, o.top};
  if (!o.against && o.top > 0) p.table.format = table_format::long_form;
  p.table.header = p.block.block == 1;
  p.clusters = o.clusters;
  p.cut_at = o.cluster_at_given;
  p.cluster_at = o.cluster_at;
  p.target = o.output;
  p.written = {{"-o", o.output},
               {"--heatmap", o.heatmap},
               {"--report", o.report},
               {"--clusters-out", o.clusters_out},
               {"--tree-out", o.tree_out}};
  // pack writes the set's names beside it.
  if (o.pack && is_packed_set(o.output)) p.written.emplace_back("-o", names_path(o.output));
  p.keep_values = !o.report.empty();  // the page shows the signals
  if (p.work == computation::all_pairs || p.work == computation::against) plan_outputs(o, p);
  return p;
}

}  // namespace lagscan::matrix
