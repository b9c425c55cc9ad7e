// The loader on data files of 10^6 pairs written with "%.17g": the whole of
// read_numbers (also through buffers of other sizes), the load with its cleaning and comment removal alone, and
// the comment removal alone on a text that has comments.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <stdlib.h>

#include "streams/file_in.h"

namespace {

using namespace lagscan;

// Line ends LF or CR LF; with comments, every tenth line has one at its end
// and every hundredth pair sits inside a block comment.
std::string data_text(bool crlf, bool comments) {
  std::mt19937_64 rng(13);
  std::normal_distribution<double> normal;
  std::string text;
  char line[96];
  for (int i = 0; i < 1000000; ++i) {
    int n = std::snprintf(line, sizeof line, "%.17g %.17g", i * 0.001, normal(rng));
    text.append(line, static_cast<std::size_t>(n));
    if (comments && i % 100 == 0) text += " /* 1 2 /* 3 4 */ */";
    if (comments && i % 10 == 0) text += " ' a remark";
    text += crlf ? "\r\n" : "\n";
  }
  return text;
}

class data_files {
 public:
  data_files() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lagscan-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
  }
  ~data_files() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  // The file's path and size, written on first use.
  const std::string& path(bool crlf, bool comments, std::int64_t& bytes) {
    std::string& p = paths_[crlf][comments];
    std::int64_t& size = sizes_[crlf][comments];
    if (p.empty()) {
      std::string text = data_text(crlf, comments);
      p = (dir_ / (std::string("data") + (crlf ? "-crlf" : "") + (comments ? "-comments" : "") + ".xy")).string();
      std::ofstream(p, std::ios::binary) << text;
      size = static_cast<std::int64_t>(text.size());
    }
    bytes = size;
    return p;
  }

 private:
  std::filesystem::path dir_;
  std::string paths_[2][2];
  std::int64_t sizes_[2][2] = {};
};

data_files& files() {
  static data_files f;
  return f;
}

void read_numbers_of(benchmark::State& state, bool crlf, bool comments) {
  std::int64_t bytes = 0;
  const std::string& path = files().path(crlf, comments, bytes);
  for (auto _ : state) {
    real_array values;
    read_numbers(values, path.c_str());
    benchmark::DoNotOptimize(values.buffer);
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}

// read_numbers through a buffer block of state.range(0) bytes, its
// terminator included, on the file with LF ends (range(1) 0) or with CR LF
// ends and comments (1): the block size is a choice between the caches and
// the number of reads.
void read_numbers_through_block(benchmark::State& state) {
  const bool crlf_comments = state.range(1) != 0;
  std::int64_t bytes = 0;
  const std::string& path = files().path(crlf_comments, crlf_comments, bytes);
  const auto buffer = static_cast<std::int32_t>(state.range(0) - 1);
  for (auto _ : state) {
    real_array values;
    read_numbers(values, path.c_str(), buffer);
    benchmark::DoNotOptimize(values.buffer);
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}

void load_of(benchmark::State& state, bool crlf, bool comments) {
  std::int64_t bytes = 0;
  const std::string& path = files().path(crlf, comments, bytes);
  for (auto _ : state) {
    file_in in(char_range::of(path.c_str()), file_in::open_now | file_in::load_all | file_in::strip_comments);
    benchmark::DoNotOptimize(in.text);
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}

// Comment removal alone: the text is restored from a copy between runs.
void remove_comments_of(benchmark::State& state) {
  std::string text = data_text(false, true);
  text_buffer t(char_range{text.data(), text.data() + text.size()});
  for (auto _ : state) {
    state.PauseTiming();
    std::copy(text.begin(), text.end(), t.buffer);
    state.ResumeTiming();
    remove_comments(t);
    benchmark::DoNotOptimize(t.buffer);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

BENCHMARK_CAPTURE(read_numbers_of, lf, false, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(read_numbers_of, crlf_comments, true, true)->Unit(benchmark::kMillisecond);
BENCHMARK(read_numbers_through_block)
    ->ArgsProduct({{256 << 10, 512 << 10}, {0, 1}})
    ->ArgNames({"block", "crlf_comments"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(load_of, lf, false, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(load_of, crlf_comments, true, true)->Unit(benchmark::kMillisecond);
BENCHMARK(remove_comments_of)->Unit(benchmark::kMillisecond);

}  // namespace
