// A best-effort program for the same computation as lagscan, as someone
// would write it who gives up bit-exact results for speed: its own loader
// (the file mapped, comments skipped while tokenising, std::from_chars on
// tokens where they stand), the lag sums in any order with fused
// multiply-adds in cache-blocked runs of lags on the widest vectors the CPU
// has (kernels.h), and each self-sum lag formed once for both signs.
// bench/run-whole-program times lagscan against it.
//
//   best_effort file1.xy file2.xy s [avx2]
//
// With "avx2" the lag sums use AVX2 at most, as on a CPU without AVX-512.
//
// Same file format (x y pairs, ' and nestable /* */ comments, NUL and CR as
// blanks), same output line; the last digits of the result may differ.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bench/baseline/kernels.h"

namespace {

[[noreturn]] void fail(const char* message, const char* path) {
  std::printf(" %s %s\n", message, path);
  std::exit(1);
}

// The file mapped read-only and faulted in at once; a NUL follows its bytes
// (a mapping is zero-filled past the end of the file; a file that ends on a
// page boundary gets a copy).
class mapped_file {
 public:
  explicit mapped_file(const char* path) {
    int fd = ::open(path, O_RDONLY);
    if (fd < 0) fail("Cannot open file", path);
    struct stat st {};
    ::fstat(fd, &st);
    size_ = static_cast<std::size_t>(st.st_size);
    if (size_ % 4096 == 0) {
      copy_.resize(size_ + 1);
      std::size_t done = 0;
      for (ssize_t r; done < size_ && (r = ::read(fd, copy_.data() + done, size_ - done)) > 0;) done += static_cast<std::size_t>(r);
      copy_[done] = '\0';
      size_ = done;
      text_ = copy_.data();
    } else {
      void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
      if (p == MAP_FAILED) fail("Cannot open file", path);
      text_ = static_cast<const char*>(p);
      mapped_ = true;
    }
    ::close(fd);
  }
  ~mapped_file() {
    if (mapped_) ::munmap(const_cast<char*>(text_), size_);
  }
  mapped_file(const mapped_file&) = delete;
  mapped_file& operator=(const mapped_file&) = delete;
  const char* begin() const { return text_; }
  const char* end() const { return text_ + size_; }

 private:
  const char* text_ = nullptr;
  std::size_t size_ = 0;
  bool mapped_ = false;
  std::vector<char> copy_;
};

// 1 for blanks (space, TAB, CR, LF, NUL), 2 for the bytes that may open a
// comment (' and /), 0 for the rest.
struct byte_classes {
  unsigned char of[256] = {};
  byte_classes() {
    for (char c : {' ', '\t', '\r', '\n', '\0'}) of[static_cast<unsigned char>(c)] = 1;
    of[static_cast<unsigned char>('\'')] = of[static_cast<unsigned char>('/')] = 2;
  }
};
const byte_classes classes;

// Past blanks and comments; comments end tokens wherever they start.
const char* skip_blanks(const char* p, const char* end, const char* path) {
  while (p < end) {
    unsigned char kind = classes.of[static_cast<unsigned char>(*p)];
    if (kind == 0) return p;
    if (kind == 1) {
      ++p;
    } else if (*p == '\'') {
      while (p < end && *p != '\n') ++p;
    } else if (p + 1 < end && p[1] == '*') {
      int depth = 0;
      do {
        if (p + 1 >= end) fail("Unclosed comment block", path);
        if (p[0] == '/' && p[1] == '*') {
          ++depth;
          p += 2;
        } else if (p[0] == '*' && p[1] == '/') {
          --depth;
          p += 2;
        } else {
          ++p;
        }
      } while (depth > 0);
    } else {
      return p;  // a lone slash is text
    }
  }
  return p;
}

const char* token_end(const char* p, const char* end) {
  while (p < end) {
    unsigned char kind = classes.of[static_cast<unsigned char>(*p)];
    if (kind == 1 || (kind == 2 && (*p == '\'' || (p + 1 < end && p[1] == '*')))) return p;
    ++p;
  }
  return p;
}

std::vector<double> read_values(const char* path) {
  mapped_file file(path);
  std::vector<double> values;
  values.reserve(static_cast<std::size_t>(file.end() - file.begin()) / 4 + 1);  // pages are touched only as used
  const char* end = file.end();
  const char* p = skip_blanks(file.begin(), end, path);
  while (p < end) {
    p = skip_blanks(token_end(p, end), end, path);  // x
    const char* stop = token_end(p, end);           // y
    double value = 0.0;
    auto [number_end, error] = std::from_chars(p, stop, value);
    if (error != std::errc{} || number_end != stop) {
      value = std::strtod(std::string(p, stop).c_str(), nullptr);  // the rare forms: +, hex, inf, nan, "1,5"
    }
    values.push_back(value);
    p = skip_blanks(stop, end, path);
  }
  return values;
}

void shifted_sums_plain(const double* a, const double* b, std::int64_t n, std::int64_t first, std::int64_t count,
                        double* sums, double*) {
  for (std::int64_t j = 0; j < count; ++j) {
    double sum = 0.0;
    for (std::int64_t k = 0; k < n - first - j; ++k) sum += a[k] * b[k + first + j];
    sums[j] = sum;
  }
}

bool avx2_at_most = false;

best_effort::shifted_sums_fn widest_kernel() {
  if (!avx2_at_most && __builtin_cpu_supports("avx512f")) return &best_effort::shifted_sums_avx512;
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return &best_effort::shifted_sums_avx2;
  return &shifted_sums_plain;
}

// The weighted lag sum with weight h + 1 - |m| for lags -h .. h.
double lag_product_sum(const std::vector<double>& x, const std::vector<double>& y, std::int64_t h) {
  static const best_effort::shifted_sums_fn shifted_sums = widest_kernel();
  auto n = static_cast<std::int64_t>(x.size());
  std::int64_t reach = std::min(h, n - 1);
  if (reach < 0) return 0.0;
  std::vector<double> scratch(static_cast<std::size_t>(best_effort::scratch_doubles(reach + 1)));
  std::vector<double> forward(static_cast<std::size_t>(reach + 1));
  shifted_sums(x.data(), y.data(), n, 0, reach + 1, forward.data(), scratch.data());
  std::vector<double> backward(forward);
  if (x.data() != y.data() && reach > 0) {
    shifted_sums(y.data(), x.data(), n, 1, reach, backward.data() + 1, scratch.data());
  }
  double total = static_cast<double>(h + 1) * forward[0];
  for (std::int64_t d = 1; d <= reach; ++d) {
    total += static_cast<double>(h + 1 - d) * (forward[static_cast<std::size_t>(d)] + backward[static_cast<std::size_t>(d)]);
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::printf("usage: best_effort file1.xy file2.xy s [avx2]\n");
    return 1;
  }
  avx2_at_most = argc > 4 && std::string(argv[4]) == "avx2";
  long s = std::strtol(argv[3], nullptr, 10);
  if (s < 1 || s % 2 == 0) {
    std::printf("s needs to be a positive odd number\n");
    return 1;
  }
  std::vector<double> a = read_values(argv[1]);
  std::vector<double> b = read_values(argv[2]);
  if (a.size() != b.size()) {
    std::printf("Number of points in files needs to be the same\n");
    return 1;
  }
  std::int64_t h = s / 2;
  double c_ab = lag_product_sum(a, b, h);
  double c_aa = lag_product_sum(a, a, h);
  double c_bb = lag_product_sum(b, b, h);
  double d = std::sqrt(std::fabs(c_bb * c_aa));
  std::printf("\nCross Correlation %-.9g\n", c_ab / (d > 1e-100 ? d : 1e-100));
  return 1;
}
