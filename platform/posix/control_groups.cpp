#include "platform/posix/control_groups.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lagscan::platform::control_groups {
namespace {

// Room for a limit file's path: a group's path is a few hundred bytes at
// most in practice, and a longer one is not followed.
constexpr std::size_t path_room = 4096;

// Up to room bytes of the file at path; -1 when it cannot be opened. Plain
// system calls, since this runs inside the allocator.
long read_file(const char* path, char* text, std::size_t room) noexcept {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  std::size_t n = 0;
  while (n < room) {
    ssize_t got = ::read(fd, text + n, room - n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    n += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return static_cast<long>(n);
}

// The limit a limit file holds (decimal digits), or 0 when it sets none:
// no file, "max", anything unreadable, or a number beyond any machine.
std::uint64_t limit_in(const char* path) noexcept {
  char text[32];
  long n = read_file(path, text, sizeof text);
  std::uint64_t limit = 0;
  long i = 0;
  for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (limit > UINT64_MAX / 16) return 0;
    limit = limit * 10 + static_cast<std::uint64_t>(text[i] - '0');
  }
  return i > 0 ? limit : 0;
}

// The smaller of two limits, 0 standing for none.
std::uint64_t tighter(std::uint64_t a, std::uint64_t b) noexcept {
  if (a == 0) return b;
  if (b == 0) return a;
  return a < b ? a : b;
}

struct text_span {
  const char* begin;
  std::size_t length;

  bool is(const char* word) const noexcept {
    return length == std::strlen(word) && std::memcmp(begin, word, length) == 0;
  }
};

// Whether the comma-separated list names the controller.
bool names(text_span list, const char* controller) noexcept {
  const char* end = list.begin + list.length;
  for (const char* p = list.begin; p <= end;) {
    const char* comma = static_cast<const char*>(std::memchr(p, ',', static_cast<std::size_t>(end - p)));
    if (comma == nullptr) comma = end;
    if (text_span{p, static_cast<std::size_t>(comma - p)}.is(controller)) return true;
    p = comma + 1;
  }
  return false;
}

// The group paths of the membership text: of the memory controller's
// version 1 hierarchy and of the version 2 hierarchy; length 0 when absent.
// A line is "id:controllers:path", the path absolute.
void find_groups(const char* text, std::size_t n, text_span& v1, text_span& v2) noexcept {
  v1 = v2 = text_span{nullptr, 0};
  const char* end = text + n;
  for (const char* line = text; line < end;) {
    const char* line_end = static_cast<const char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
    if (line_end == nullptr) line_end = end;
    const auto* first = static_cast<const char*>(std::memchr(line, ':', static_cast<std::size_t>(line_end - line)));
    const auto* second =
        first == nullptr ? nullptr
                         : static_cast<const char*>(std::memchr(first + 1, ':', static_cast<std::size_t>(line_end - first - 1)));
    if (second != nullptr && second + 1 < line_end && second[1] == '/') {
      text_span id{line, static_cast<std::size_t>(first - line)};
      text_span controllers{first + 1, static_cast<std::size_t>(second - first - 1)};
      text_span path{second + 1, static_cast<std::size_t>(line_end - second - 1)};
      if (names(controllers, "memory")) {
        v1 = path;
      } else if (id.is("0") && controllers.length == 0) {
        v2 = path;
      }
    }
    line = line_end + 1;
  }
}

// A path being built in a fixed buffer; one that would not fit is marked
// and then reads no file.
class path_text {
 public:
  path_text& add(const char* p, std::size_t n) noexcept {
    if (n == 0) return *this;
    if (fits && length + n < path_room) {
      std::memcpy(text + length, p, n);
      length += n;
      text[length] = '\0';
    } else {
      fits = false;
    }
    return *this;
  }
  path_text& add(const char* p) noexcept { return add(p, std::strlen(p)); }

  char text[path_room] = {};
  std::size_t length = 0;
  bool fits = true;
};

// The smallest limit in the file named `file` of the folders base + group,
// base + its parent, ... up to base itself.
std::uint64_t smallest_along(const path_text& base, text_span group, const char* file) noexcept {
  while (group.length > 0 && group.begin[group.length - 1] == '/') --group.length;
  std::uint64_t smallest = 0;
  for (;;) {
    path_text p = base;
    p.add(group.begin, group.length).add("/").add(file);
    if (p.fits) smallest = tighter(smallest, limit_in(p.text));
    if (group.length == 0) return smallest;
    while (group.length > 0 && group.begin[group.length - 1] != '/') --group.length;
    while (group.length > 0 && group.begin[group.length - 1] == '/') --group.length;
  }
}

}  // namespace

std::uint64_t memory_limit(const char* membership, std::size_t n, const char* root) noexcept {
  text_span v1{nullptr, 0};
  text_span v2{nullptr, 0};
  find_groups(membership, n, v1, v2);
  path_text v2_root;
  v2_root.add(root);
  path_text v1_root = v2_root;
  v1_root.add("/memory");
  if (v1.length > 0) return smallest_along(v1_root, v1, "memory.limit_in_bytes");
  if (v2.length > 0) return smallest_along(v2_root, v2, "memory.max");
  const text_span top{"", 0};
  std::uint64_t limit = smallest_along(v2_root, top, "memory.max");
  return limit != 0 ? limit : smallest_along(v1_root, top, "memory.limit_in_bytes");
}

std::uint64_t own_memory_limit() noexcept {
  char text[8192];
  long n = read_file("/proc/self/cgroup", text, sizeof text);
  if (n < 0) n = 0;
  // A text that filled the buffer may end in a cut line, whose path would
  // name another group: only whole lines are used.
  if (static_cast<std::size_t>(n) == sizeof text) {
    while (n > 0 && text[n - 1] != '\n') --n;
  }
  return memory_limit(text, static_cast<std::size_t>(n), "/sys/fs/cgroup");
}

}  // namespace lagscan::platform::control_groups
