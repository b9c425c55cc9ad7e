#include "platform/files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <climits>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "platform/posix/native_path.h"
#include "platform/posix/removal_list.h"
#include "platform/redirect.h"

namespace lagscan::platform {
namespace {

bool wants_write(const char* mode) {
  return std::strpbrk(mode, "+wa") != nullptr;
}

bool is_read_only(const struct stat& st) {
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// The absolute path with "." and ".." resolved, and the links of the part
// that exists followed.
std::filesystem::path normal_path(const char* native) {
  namespace fs = std::filesystem;
  std::error_code error;
  // Absolute first: weakly_canonical leaves a relative path whose first
  // part does not exist as it was.
  fs::path path = fs::absolute(native, error);
  if (error) return fs::path(native).lexically_normal();
  fs::path resolved = fs::weakly_canonical(path, error);
  return error ? path.lexically_normal() : resolved;
}

// fopen for reading, except that a named pipe without a writer does not make
// the open wait for one (as an open for update never waited): it reads as
// empty instead; and a folder is refused, as an open for update refuses it.
std::FILE* open_for_reading(const char* native, const char* mode) {
  const int fd = ::open(native, O_RDONLY | O_NONBLOCK);
  if (fd < 0) return nullptr;
  // A folder opens for reading too, and would read as an empty file.
  struct stat st{};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  std::FILE* f = flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1 ? nullptr : ::fdopen(fd, mode);
  if (f == nullptr) ::close(fd);
  return f;
}

}  // namespace

std::FILE* open_file(const char* path, const char* mode) {
  char native[PATH_MAX];
  if (!native_path(redirected(path), native)) return nullptr;
  // Root may write anything, so the permission bits are checked here: a file
  // nobody may write must not be opened for update by anyone.
  struct stat st{};
  if (wants_write(mode) && ::stat(native, &st) == 0 && is_read_only(st)) {
    errno = EACCES;
    return nullptr;
  }
  std::FILE* f = wants_write(mode) ? std::fopen(native, mode) : open_for_reading(native, mode);
  if (f != nullptr && wants_write(mode) && ::fstat(fileno(f), &st) == 0 && is_read_only(st)) {
    std::fclose(f);  // the file changed between the two looks
    errno = EACCES;
    return nullptr;
  }
  return f;
}

bool seek_file(std::FILE* file, std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
  return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::int64_t file_size(const char* path) {
  char native[PATH_MAX];
  struct stat st{};
  if (!native_path(path, native) || ::stat(native, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool current_directory(char* buffer, int size) {
  if (size <= 0) return false;
  return ::getcwd(buffer, static_cast<std::size_t>(size)) != nullptr;
}

void fail_writes_to_closed_pipes() noexcept { std::signal(SIGPIPE, SIG_IGN); }

std::FILE* create_new_file(const char* path, bool binary) {
  char native[PATH_MAX];
  if (!native_path(path, native)) return nullptr;
  // O_EXCL makes the check for an existing file and the creation one step.
  int fd = ::open(native, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, binary ? "wb" : "w");
  if (f == nullptr) {
    ::close(fd);
    ::unlink(native);
  }
  return f;
}

bool replace_file(const char* from, const char* to) {
  char native_from[PATH_MAX];
  char native_to[PATH_MAX];
  if (!native_path(from, native_from) || !native_path(to, native_to)) return false;
  // rename would replace a file that nobody may write: the same rule as
  // open_file keeps it.
  struct stat st{};
  if (::stat(native_to, &st) == 0 && is_read_only(st)) {
    errno = EACCES;
    return false;
  }
  return std::rename(native_from, native_to) == 0;
}

bool remove_file(const char* path) {
  char native[PATH_MAX];
  return native_path(path, native) && ::unlink(native) == 0;
}

std::string link_target(const char* path) {
  namespace fs = std::filesystem;
  char native[PATH_MAX];
  if (!native_path(path, native)) return path;
  fs::path at = native;
  // As many links as the system itself follows before it gives up (ELOOP).
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(at, error)) || error) break;
    const fs::path next = fs::read_symlink(at, error);
    if (error) break;
    at = next.is_absolute() ? next : at.parent_path() / next;
  }
  return at.string();
}

bool is_device_or_pipe(const char* path) {
  char native[PATH_MAX];
  struct stat st{};
  return native_path(path, native) && ::stat(native, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

namespace {

// The paths to remove at a signal. A slot is claimed (free to filling),
// filled, and then marked in use with release order; the handler reads the
// mark with acquire order, so that it never sees a slot in use before its
// path is whole, on whichever thread the signal arrives. The marks are
// lock-free atomics, which a handler may read; it calls only unlink, signal
// and raise, which a handler may call.
enum slot_state : int { slot_free, slot_filling, slot_in_use };
struct removal_slot {
  char path[PATH_MAX];
  std::atomic<int> state{slot_free};
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slots' marks");
removal_slot removal_slots[8];
constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void remove_and_end(int signal_number) {
  remove_recorded_files();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

void remove_recorded_files() noexcept {
  for (removal_slot& slot : removal_slots) {
    if (slot.state.load(std::memory_order_acquire) == slot_in_use) ::unlink(slot.path);
  }
}

bool remove_on_signal(const char* path) {
  char native[PATH_MAX];
  if (!native_path(path, native)) return false;
  for (removal_slot& slot : removal_slots) {
    int free = slot_free;
    if (!slot.state.compare_exchange_strong(free, slot_filling, std::memory_order_acquire)) continue;
    std::memcpy(slot.path, native, sizeof native);
    slot.state.store(slot_in_use, std::memory_order_release);
    for (int signal_number : ending_signals) {
      // A signal the caller chose to ignore (nohup) stays ignored.
      struct sigaction old{};
      if (::sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
        std::signal(signal_number, remove_and_end);
      }
    }
    return true;
  }
  return false;
}

void forget_on_signal(const char* path) {
  char native[PATH_MAX];
  if (!native_path(path, native)) return;
  for (removal_slot& slot : removal_slots) {
    if (slot.state.load(std::memory_order_acquire) == slot_in_use && std::strcmp(slot.path, native) == 0) {
      slot.state.store(slot_free, std::memory_order_release);
    }
  }
}

std::FILE* create_temporary_file(const char* path, bool binary) {
  sigset_t ending{};
  sigset_t before{};
  sigemptyset(&ending);
  for (int signal_number : ending_signals) sigaddset(&ending, signal_number);
  ::pthread_sigmask(SIG_BLOCK, &ending, &before);
  std::FILE* f = create_new_file(path, binary);
  if (f != nullptr && !remove_on_signal(path)) {
    std::fclose(f);
    remove_file(path);
    f = nullptr;
  }
  // A signal that came meanwhile is delivered here, and finds the file recorded.
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return f;
}

bool identify_file(const char* path, file_id& id) {
  char native[PATH_MAX];
  struct stat st{};
  if (!native_path(path, native) || ::stat(native, &st) != 0) return false;
  id.volume = static_cast<std::uint64_t>(st.st_dev);
  id.index = static_cast<std::uint64_t>(st.st_ino);
  return true;
}

bool same_path(const char* a, const char* b) {
  char native_a[PATH_MAX];
  char native_b[PATH_MAX];
  if (!native_path(a, native_a) || !native_path(b, native_b)) return false;
  return normal_path(native_a) == normal_path(native_b);
}

}  // namespace lagscan::platform
