#include "pool/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

extern char** environ;

namespace sandrig::pool {

namespace {

// Both ends of one pipe, close-on-exec.
struct Pipe {
  UniqueFd read_end;
  UniqueFd write_end;
};

// Moves `fd` above the standard descriptors: a pipe end numbered 0, 1 or
// 2 (possible when the parent closed its own) would be dup2'ed onto itself
// in the child and keep its close-on-exec flag.
std::expected<UniqueFd, int> above_standard_fds(UniqueFd fd) {
  if (fd.get() > STDERR_FILENO) return fd;
  const int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (moved < 0) return std::unexpected(errno);
  return UniqueFd(moved);
}

std::expected<Pipe, int> make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::unexpected(errno);
  UniqueFd read_end(fds[0]);
  UniqueFd write_end(fds[1]);
  auto read_moved = above_standard_fds(std::move(read_end));
  if (!read_moved) return std::unexpected(read_moved.error());
  auto write_moved = above_standard_fds(std::move(write_end));
  if (!write_moved) return std::unexpected(write_moved.error());
  return Pipe{std::move(*read_moved), std::move(*write_moved)};
}

// posix_spawn file actions, destroyed with this object.
class FileActions {
 public:
  FileActions() { ::posix_spawn_file_actions_init(&actions_); }
  ~FileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;

  int dup2(int fd, int target) { return ::posix_spawn_file_actions_adddup2(&actions_, fd, target); }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

// posix_spawn attributes that start the child with an empty signal mask
// and SIGPIPE and SIGXFSZ at their defaults. The interpreter ignores both
// for itself, and an ignored signal stays ignored across exec: a shell
// would pass that on, and `yes | head -1` would print a broken-pipe error
// instead of ending quietly.
class SpawnAttributes {
 public:
  SpawnAttributes() {
    ::posix_spawnattr_init(&attributes_);
    sigset_t set;
    sigemptyset(&set);
    ::posix_spawnattr_setsigmask(&attributes_, &set);
    sigaddset(&set, SIGPIPE);
    sigaddset(&set, SIGXFSZ);
    ::posix_spawnattr_setsigdefault(&attributes_, &set);
    ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;

  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

}  // namespace

std::expected<ChildProcess, int> ChildProcess::spawn(const std::vector<std::string>& argv) {
  if (argv.empty()) return std::unexpected(EINVAL);
  auto in = make_pipe();
  if (!in) return std::unexpected(in.error());
  auto out = make_pipe();
  if (!out) return std::unexpected(out.error());
  auto err = make_pipe();
  if (!err) return std::unexpected(err.error());

  // dup2 clears close-on-exec on the child's copies 0, 1 and 2 only.
  FileActions actions;
  for (auto [fd, target] : {std::pair{in->read_end.get(), STDIN_FILENO},
                            std::pair{out->write_end.get(), STDOUT_FILENO},
                            std::pair{err->write_end.get(), STDERR_FILENO}}) {
    if (const int rc = actions.dup2(fd, target); rc != 0) return std::unexpected(rc);
  }

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  const SpawnAttributes attributes;
  pid_t pid = -1;
  if (const int rc = ::posix_spawnp(&pid, args[0], actions.get(), attributes.get(), args.data(), environ);
      rc != 0) {
    return std::unexpected(rc);
  }

  ChildProcess child;
  child.pid_ = pid;
  child.waited_ = false;
  child.stdin_ = std::move(in->write_end);
  child.stdout_ = std::move(out->read_end);
  child.stderr_ = std::move(err->read_end);
  return child;  // the child's ends of the pipes close here
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      waited_(std::exchange(other.waited_, true)),
      status_(other.status_),
      stdin_(std::move(other.stdin_)),
      stdout_(std::move(other.stdout_)),
      stderr_(std::move(other.stderr_)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    kill_and_reap();
    pid_ = std::exchange(other.pid_, -1);
    waited_ = std::exchange(other.waited_, true);
    status_ = other.status_;
    stdin_ = std::move(other.stdin_);
    stdout_ = std::move(other.stdout_);
    stderr_ = std::move(other.stderr_);
  }
  return *this;
}

ChildProcess::~ChildProcess() { kill_and_reap(); }

void ChildProcess::kill_and_reap() noexcept {
  close_pipes();
  if (!waited_) {
    ::kill(pid_, SIGKILL);
    wait();
  }
}

void ChildProcess::close_pipes() {
  stdin_.reset();
  stdout_.reset();
  stderr_.reset();
}

std::expected<void, int> ChildProcess::kill(int signal) {
  if (waited_) return std::unexpected(ESRCH);  // the pid may belong to another process now
  if (::kill(pid_, signal) != 0) return std::unexpected(errno);
  return {};
}

ExitStatus ChildProcess::wait() {
  if (waited_) return status_;
  int raw = 0;
  pid_t rc;
  do {
    rc = ::waitpid(pid_, &raw, 0);
  } while (rc < 0 && errno == EINTR);
  waited_ = true;
  // rc < 0 (ECHILD): the child was reaped elsewhere, e.g. with SIGCHLD
  // ignored; its status is lost.
  if (rc == pid_ && WIFEXITED(raw)) status_.code = WEXITSTATUS(raw);
  return status_;
}

}  // namespace sandrig::pool
