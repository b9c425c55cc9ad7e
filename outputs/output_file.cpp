#include "outputs/output_file.h"

#include <cstdint>
#include <random>

#include "platform/files.h"

namespace lagscan::matrix {
namespace {

// Tries this many names before giving up: another run in the same folder
// could hold one, not dozens.
constexpr int temporary_name_tries = 64;

std::string hex8(std::uint32_t value) {
  static const char digits[] = "0123456789abcdef";
  std::string text(8, '0');
  for (int k = 7; k >= 0; --k, value >>= 4) text[static_cast<std::size_t>(k)] = digits[value & 0xfu];
  return text;
}

}  // namespace

output_file::output_file(const std::string& path) : path_(path) {
  if (path_.empty()) {
    file_ = stdout;
    return;
  }
  const char* target = path_.c_str();
  if (platform::is_device_or_pipe(target)) {
    file_ = platform::open_file(target, "w");
    if (file_ == nullptr) throw output_error("cannot write " + path_);
    return;
  }
  // Replacing a target that we could not write ourselves (read-only, a
  // folder) would be a way round its protection.
  if (platform::file_size(target) >= 0) {
    std::FILE* existing = platform::open_file(target, "r+");
    if (existing == nullptr) throw output_error("cannot write " + path_);
    std::fclose(existing);
  }
  std::random_device seed;
  std::mt19937 names(seed());
  for (int k = 0; k < temporary_name_tries && file_ == nullptr; ++k) {
    temporary_ = path_ + "." + hex8(static_cast<std::uint32_t>(names())) + ".tmp";
    file_ = platform::create_temporary_file(temporary_.c_str());
  }
  if (file_ == nullptr) {
    temporary_.clear();
    throw output_error("cannot write " + path_);
  }
}

output_file::~output_file() {
  if (!committed_) discard();
}

void output_file::discard() noexcept {
  if (file_ != nullptr && file_ != stdout) std::fclose(file_);
  file_ = nullptr;
  if (!temporary_.empty()) {
    platform::remove_file(temporary_.c_str());
    platform::forget_on_signal(temporary_.c_str());
  }
  temporary_.clear();
}

void output_file::finish() {
  if (finished_) return;
  finished_ = true;
  bool failed = std::fflush(file_) != 0 || std::ferror(file_) != 0;
  if (file_ != stdout) {
    failed = std::fclose(file_) != 0 || failed;
    file_ = nullptr;
  }
  if (failed) {
    discard();
    throw output_error("cannot write " + (path_.empty() ? std::string("standard output") : path_));
  }
}

void output_file::commit() {
  finish();
  if (!temporary_.empty() && !platform::replace_file(temporary_.c_str(), path_.c_str())) {
    discard();
    throw output_error("cannot write " + path_);
  }
  platform::forget_on_signal(temporary_.c_str());
  temporary_.clear();
  committed_ = true;
}

std::string outputs_among_inputs(const std::vector<std::pair<std::string, std::string>>& outputs,
                                 const std::vector<std::string>& inputs) {
  // Each input is looked at once, however many outputs there are.
  struct place {
    platform::file_id id;
    bool exists = false;
  };
  auto place_of = [](const std::string& path) {
    place p;
    p.exists = platform::identify_file(path.c_str(), p.id);
    return p;
  };
  // A file that exists is one by its identity; paths where none is yet
  // are one by their spelling.
  auto same = [](const place& a, const std::string& a_path, const place& b, const std::string& b_path) {
    if (a.exists != b.exists) return false;
    return a.exists ? a.id == b.id : platform::same_path(a_path.c_str(), b_path.c_str());
  };
  std::vector<place> input_places;
  input_places.reserve(inputs.size());
  for (const std::string& input : inputs) input_places.push_back(place_of(input));
  std::vector<place> output_places;
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    const auto& [option, path] = outputs[k];
    output_places.push_back(place_of(path));
    if (path.empty()) continue;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      if (same(output_places[k], path, input_places[i], inputs[i])) {
        std::string named = inputs[i] == path ? "" : " (as " + inputs[i] + ")";
        return option + " " + path + " is also an input" + named + ": an output never overwrites an input";
      }
    }
    for (std::size_t other = 0; other < k; ++other) {
      const std::string& other_path = outputs[other].second;
      if (!other_path.empty() && same(output_places[k], path, output_places[other], other_path)) {
        return option + " " + path + " is also the output of " + outputs[other].first;
      }
    }
  }
  return "";
}

}  // namespace lagscan::matrix
