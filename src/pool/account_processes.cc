#include "pool/account_processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <memory>
#include <string>
#include <string_view>

#include "pool/child_process.h"
#include "pool/unique_fd.h"

namespace sandrig::pool {

namespace {

// Exit statuses of the kill helper.
constexpr int kSignalled = 0;
constexpr int kCannotSwitch = 1;
constexpr int kCannotSignal = 2;

// Runs in a forked child (async-signal-safe calls only): becomes the
// account, so that kill(-1) reaches exactly the processes the account
// could signal itself, and sends SIGKILL to all of them at once. The
// kernel delivers it to every such process under one lock, and a fork in
// progress in one of them fails, so no child escapes by forking. The
// helper is not among the targets, and once it has switched ids it is not
// dumpable: the account cannot trace it.
int kill_as_account(const void* context) {
  const uid_t uid = *static_cast<const uid_t*>(context);
  const gid_t gid = static_cast<gid_t>(uid);
  if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) return kCannotSwitch;
  if (::getuid() != uid || ::geteuid() != uid) return kCannotSwitch;
  // kill(-1) fails with ESRCH only when it finds no other process at all;
  // with other users' processes about it reports success, so whether any
  // of the account's is left is read from /proc by the caller.
  if (::kill(-1, SIGKILL) != 0 && errno != ESRCH) return kCannotSignal;
  return kSignalled;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// The whole of a small /proc file; empty when it cannot be read (the
// process has gone meanwhile).
std::string read_small_file(int dir_fd, const char* name) {
  UniqueFd fd(::openat(dir_fd, name, O_RDONLY | O_CLOEXEC));
  std::string text;
  if (!fd.valid()) return text;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return text;
    text.append(chunk, static_cast<std::size_t>(n));
  }
}

// The value after "Name:" on its line of a /proc status text.
std::string_view status_field(std::string_view status, std::string_view name) {
  std::size_t at = 0;
  while (at < status.size()) {
    const std::size_t end = std::min(status.find('\n', at), status.size());
    const std::string_view line = status.substr(at, end - at);
    if (line.size() > name.size() && line.starts_with(name) && line[name.size()] == ':') {
      return line.substr(name.size() + 1);
    }
    at = end + 1;
  }
  return {};
}

// True when the status text is of a process that may still run as `uid`.
bool runs_as(std::string_view status, std::uint32_t uid) {
  std::string_view ids = status_field(status, "Uid");
  bool matches = false;
  // Real, effective and saved id; the fourth, the filesystem id, follows
  // the effective one.
  for (int field = 0; field < 3; ++field) {
    while (!ids.empty() && (ids.front() == ' ' || ids.front() == '\t')) ids.remove_prefix(1);
    std::uint32_t value = 0;
    const auto [rest, error] = std::from_chars(ids.data(), ids.data() + ids.size(), value);
    if (error != std::errc()) break;
    matches = matches || value == uid;
    ids.remove_prefix(static_cast<std::size_t>(rest - ids.data()));
  }
  if (!matches) return false;
  std::string_view state = status_field(status, "State");
  while (!state.empty() && (state.front() == ' ' || state.front() == '\t')) state.remove_prefix(1);
  const bool dead = !state.empty() && (state.front() == 'Z' || state.front() == 'X');
  // A leader that exited before its threads shows as a zombie while they
  // run on.
  std::string_view threads = status_field(status, "Threads");
  while (!threads.empty() && (threads.front() == ' ' || threads.front() == '\t')) threads.remove_prefix(1);
  unsigned count = 1;
  std::from_chars(threads.data(), threads.data() + threads.size(), count);
  return !dead || count > 1;
}

// Sleeps `milliseconds`, not longer.
void pause_for(int milliseconds) { ::poll(nullptr, 0, milliseconds); }

}  // namespace

std::optional<bool> account_has_processes(std::uint32_t uid) {
  UniqueFd proc(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!proc.valid()) return std::nullopt;
  const int listing_fd = ::fcntl(proc.get(), F_DUPFD_CLOEXEC, 0);
  if (listing_fd < 0) return std::nullopt;
  std::unique_ptr<DIR, DirCloser> listing(::fdopendir(listing_fd));
  if (!listing) {
    ::close(listing_fd);
    return std::nullopt;
  }
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string_view name = entry->d_name;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string_view::npos) continue;
    UniqueFd process(::openat(proc.get(), entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!process.valid()) continue;  // gone meanwhile
    if (runs_as(read_small_file(process.get(), "status"), uid)) return true;
  }
  return false;
}

bool kill_account_processes(std::uint32_t uid, std::chrono::milliseconds bound) {
  // As root, kill(-1) would reach every process there is.
  if (uid == 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + bound;
  int pause_ms = 1;
  const uid_t target = uid;
  for (;;) {
    auto helper = ChildProcess::fork_task(kill_as_account, &target);
    if (!helper) return false;
    helper->close_pipes();
    const ExitStatus status = helper->wait();
    // Killed by one of the account's processes before it could act: it
    // is tried again.
    if (status.code && *status.code != kSignalled) return false;
    const std::optional<bool> left = account_has_processes(uid);
    if (!left) return false;
    if (!*left) return true;
    // Killed processes take a moment to exit (one in an uninterruptible
    // wait only when that ends).
    if (std::chrono::steady_clock::now() >= deadline) return false;
    pause_for(pause_ms);
    pause_ms = std::min(pause_ms * 2, 50);
  }
}

}  // namespace sandrig::pool
