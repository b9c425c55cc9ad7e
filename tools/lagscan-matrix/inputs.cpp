#include "tools/lagscan-matrix/inputs.h"

#include <map>
#include <set>

#include "matrix/fast_pairs.h"
#include "outputs/output_file.h"
#include "sets/packed_set.h"
#include "tools/lagscan-matrix/command.h"

namespace lagscan::matrix {

std::vector<std::string> input_names(const plan& p) {
  const bool against = p.work == computation::against;
  std::vector<std::string> names;
  if (against) names.push_back(p.reference);
  names.insert(names.end(), p.files.begin(), p.files.end());
  if (!p.files_from.empty()) {
    std::vector<std::string> listed = read_list(p.files_from);
    names.insert(names.end(), listed.begin(), listed.end());
  }
  if (names.size() == (against ? 1U : 0U)) throw failure{status_usage, "no data files given"};
  std::vector<std::string> inputs = names;
  if (!p.files_from.empty() && p.files_from != "-") inputs.push_back(p.files_from);
  std::string clash = outputs_among_inputs(p.written, inputs);
  if (!clash.empty()) throw failure{status_usage, clash};
  if (against && is_packed_set(names[0])) {
    throw failure{status_usage, "--against compares one data file, not a packed set, with each FILE"};
  }
  return names;
}

std::string file_problem(const std::string& name, const std::string& problem) {
  std::size_t start = problem.find_first_not_of(' ');
  std::string words = start == std::string::npos ? std::string() : problem.substr(start);
  bool names_file = words.rfind("Cannot open file", 0) == 0 || words.rfind("File too large", 0) == 0;
  return names_file ? words : name + ": " + words;
}

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

}  // namespace lagscan::matrix
