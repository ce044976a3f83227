#include "pool/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "common/try.h"

extern char** environ;

namespace sandrig::pool {

namespace {

// waitid's id type for a process descriptor (P_PIDFD), which older C
// library headers do not name.
constexpr int kIdTypePidfd = 3;

// Both ends of one pipe, close-on-exec.
struct Pipe {
  UniqueFd read_end;
  UniqueFd write_end;
};

// Moves `fd` above the standard descriptors: a pipe end numbered 0, 1 or
// 2 (possible when the parent closed its own) would be overwritten by the
// child's dup2 of another pipe end.
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
  auto read_moved = SANDRIG_TRY(above_standard_fds(std::move(read_end)));
  auto write_moved = SANDRIG_TRY(above_standard_fds(std::move(write_end)));
  return Pipe{std::move(read_moved), std::move(write_moved)};
}

// Every signal blocked in the calling thread while it lives. Around fork,
// so that no handler of the parent runs in the child before the child has
// reset its dispositions.
class AllSignalsBlocked {
 public:
  AllSignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous_);
  }
  ~AllSignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  AllSignalsBlocked(const AllSignalsBlocked&) = delete;
  AllSignalsBlocked& operator=(const AllSignalsBlocked&) = delete;

 private:
  sigset_t previous_;
};

// What the child does once it is set up: run `task`, or execute the first
// of `paths` that can be executed.
struct ChildStart {
  ChildTask task = nullptr;
  const void* context = nullptr;
  ChildSetup setup = nullptr;
  const void* setup_context = nullptr;
  char* const* paths = nullptr;
  char* const* argv = nullptr;
  char* const* envp = nullptr;
};

// --- Everything from here to start_child's fork runs in the child: only
// async-signal-safe calls.

// Caught signals go back to their defaults (exec would do so too, but a
// task runs without exec), and so do SIGPIPE and SIGXFSZ: the interpreter
// ignores both, an ignored signal stays ignored across exec, and a shell
// would pass that on (`yes | head -1` would print a broken-pipe error
// instead of ending quietly). Other ignored signals stay ignored.
void reset_signals() {
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction current;
    if (::sigaction(signal, nullptr, &current) != 0) continue;  // reserved by the C library
    const bool caught = current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN;
    if (caught || signal == SIGPIPE || signal == SIGXFSZ) {
      struct sigaction fallback;
      std::memset(&fallback, 0, sizeof fallback);
      fallback.sa_handler = SIG_DFL;
      sigemptyset(&fallback.sa_mask);
      ::sigaction(signal, &fallback, nullptr);
    }
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// The descriptor number spelled by a /proc/self/fd entry, or -1.
int parse_fd_name(const char* name) {
  if (*name == '\0') return -1;
  int value = 0;
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9' || value > 100000000) return -1;
    value = value * 10 + (*name - '0');
  }
  return value;
}

// Closes every descriptor numbered `first` or higher.
void close_descriptors_from(int first) {
#ifdef SYS_close_range
  if (::syscall(SYS_close_range, static_cast<unsigned>(first), ~0U, 0U) == 0) return;
#endif
  // A kernel (or emulator) without close_range: the open descriptors as
  // /proc lists them, read with the raw call since readdir may allocate.
  const int listing = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing >= 0) {
    // Kernel layout of a linux_dirent64: d_reclen at 16, d_name at 19.
    constexpr std::size_t kRecordLength = 16;
    constexpr std::size_t kName = 19;
    alignas(8) char buffer[4096];
    for (;;) {
      const long n = ::syscall(SYS_getdents64, listing, buffer, sizeof buffer);
      if (n <= 0) break;
      for (long offset = 0; offset < n;) {
        unsigned short length;
        std::memcpy(&length, buffer + offset + kRecordLength, sizeof length);
        const int fd = parse_fd_name(buffer + offset + kName);
        if (fd >= first && fd != listing) ::close(fd);
        offset += length;
      }
    }
    ::close(listing);
    return;
  }
  // Not even /proc: every number below the descriptor limit.
  rlimit limit;
  long top = 65536;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    top = static_cast<long>(limit.rlim_cur < (1u << 20) ? limit.rlim_cur : (1u << 20));
  }
  for (long fd = first; fd < top; ++fd) ::close(static_cast<int>(fd));
}

// Tells the parent why the child could not start, then ends it.
[[noreturn]] void report_and_exit(int report_fd, int error) {
  if (report_fd >= 0) {
    while (::write(report_fd, &error, sizeof error) < 0 && errno == EINTR) {
    }
  }
  ::_exit(127);
}

// Executes the first of `paths` that the kernel accepts, searching on past
// the failures that mean "not here" as a PATH search does.
[[noreturn]] void exec_first(const ChildStart& start, int report_fd) {
  int error = ENOENT;
  bool denied = false;
  for (char* const* path = start.paths; *path != nullptr; ++path) {
    ::execve(*path, start.argv, start.envp);
    error = errno;
    if (error == EACCES) {
      denied = true;
    } else if (error != ENOENT && error != ENOTDIR && error != ESTALE && error != ENODEV &&
               error != ETIMEDOUT) {
      report_and_exit(report_fd, error);
    }
  }
  report_and_exit(report_fd, denied ? EACCES : error);
}

[[noreturn]] void run_child(const ChildStart& start, const Pipe& in, const Pipe& out, const Pipe& err,
                            int report_fd) {
  reset_signals();
  // dup2 leaves the copies 0, 1 and 2 without close-on-exec.
  if (::dup2(in.read_end.get(), STDIN_FILENO) < 0 || ::dup2(out.write_end.get(), STDOUT_FILENO) < 0 ||
      ::dup2(err.write_end.get(), STDERR_FILENO) < 0) {
    report_and_exit(report_fd, errno);
  }
  int keep_below = STDERR_FILENO + 1;
  if (report_fd >= 0) {
    // The report pipe goes to 3, close-on-exec, so that it is the only
    // descriptor left beside the standard ones and vanishes on exec.
    const int report_slot = STDERR_FILENO + 1;
    if (report_fd != report_slot) {
      if (::dup3(report_fd, report_slot, O_CLOEXEC) < 0) report_and_exit(report_fd, errno);
      report_fd = report_slot;
    }
    keep_below = report_slot + 1;
  }
  close_descriptors_from(keep_below);
  if (start.setup != nullptr) {
    if (const int error = start.setup(start.setup_context); error != 0) report_and_exit(report_fd, error);
  }
  if (start.task != nullptr) ::_exit(start.task(start.context));
  exec_first(start, report_fd);
}

// --- Back in the parent.

// A process descriptor of the child `pid`, close-on-exec; invalid where the
// kernel (or the C library's headers) lack them.
UniqueFd open_pidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) return UniqueFd(static_cast<int>(fd));
#else
  (void)pid;
#endif
  return UniqueFd();
}

// The files execve tries for `program`: the name itself when it holds a
// slash, otherwise the name in each folder of PATH (empty entries meaning
// the working directory, an unset PATH the C library's default).
std::vector<std::string> program_candidates(const std::string& program) {
  if (program.find('/') != std::string::npos) return {program};
  const char* path = std::getenv("PATH");
  std::string_view search = path != nullptr ? path : "/bin:/usr/bin";
  std::vector<std::string> candidates;
  for (;;) {
    const std::size_t colon = search.find(':');
    const std::string_view folder = search.substr(0, colon);
    candidates.push_back((folder.empty() ? std::string(".") : std::string(folder)) + "/" + program);
    if (colon == std::string_view::npos) break;
    search.remove_prefix(colon + 1);
  }
  return candidates;
}

std::vector<char*> null_terminated(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

// Forks a child that runs `start` with its standard streams on three new
// pipes. With `report_exec`, a close-on-exec pipe carries the error of a
// failed exec back, so the caller learns it as posix_spawn would tell.
std::expected<ChildProcess, int> ChildProcess::start_child(const void* raw_start, bool report_exec) {
  const ChildStart& start = *static_cast<const ChildStart*>(raw_start);
  auto in = SANDRIG_TRY(make_pipe());
  auto out = SANDRIG_TRY(make_pipe());
  auto err = SANDRIG_TRY(make_pipe());
  std::optional<Pipe> report;
  if (report_exec) {
    auto made = SANDRIG_TRY(make_pipe());
    report = std::move(made);
  }

  pid_t pid;
  {
    const AllSignalsBlocked blocked;
    pid = ::fork();
    if (pid == 0) run_child(start, in, out, err, report ? report->write_end.get() : -1);
  }
  if (pid < 0) return std::unexpected(errno);

  ChildProcess child;
  child.pid_ = pid;
  child.pidfd_ = open_pidfd(pid);
  child.waited_ = false;
  child.stdin_ = std::move(in.write_end);
  child.stdout_ = std::move(out.read_end);
  child.stderr_ = std::move(err.read_end);
  if (report) {
    report->write_end.reset();
    int error = 0;
    ssize_t n;
    do {
      n = ::read(report->read_end.get(), &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof error)) {
      child.close_pipes();
      child.wait();  // the child exits at once after its report
      return std::unexpected(error);
    }
  }
  return child;  // the child's ends of the pipes close here
}

std::expected<ChildProcess, int> ChildProcess::spawn(const std::vector<std::string>& argv, ChildSetup setup,
                                                     const void* context) {
  if (argv.empty()) return std::unexpected(EINVAL);
  const std::vector<std::string> candidates = program_candidates(argv[0]);
  std::vector<char*> paths = null_terminated(candidates);
  std::vector<char*> args = null_terminated(argv);
  ChildStart start;
  start.paths = paths.data();
  start.argv = args.data();
  start.envp = environ;
  start.setup = setup;
  start.setup_context = context;
  return start_child(&start, /*report_exec=*/true);
}

std::expected<ChildProcess, int> ChildProcess::fork_task(ChildTask task, const void* context) {
  ChildStart start;
  start.task = task;
  start.context = context;
  return start_child(&start, /*report_exec=*/false);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      pidfd_(std::move(other.pidfd_)),
      waited_(std::exchange(other.waited_, true)),
      status_(other.status_),
      stdin_(std::move(other.stdin_)),
      stdout_(std::move(other.stdout_)),
      stderr_(std::move(other.stderr_)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    kill_and_reap();
    pid_ = std::exchange(other.pid_, -1);
    pidfd_ = std::move(other.pidfd_);
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
    (void)kill(SIGKILL);
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
#ifdef SYS_pidfd_send_signal
  if (pidfd_.valid()) {
    if (::syscall(SYS_pidfd_send_signal, pidfd_.get(), signal, nullptr, 0U) == 0) return {};
    // ESRCH: the child is gone and reaped by someone else; its id may
    // already name another process, which the descriptor never reaches.
    if (errno == ESRCH) return {};
    if (errno != ENOSYS) return std::unexpected(errno);
  }
#endif
  if (::kill(pid_, signal) != 0) return std::unexpected(errno);
  return {};
}

// Waits through the process descriptor; nothing where the kernel cannot.
std::optional<ExitStatus> ChildProcess::wait_through_pidfd() {
  if (!pidfd_.valid()) return std::nullopt;
  siginfo_t info{};
  int rc;
  do {
    rc = ::waitid(static_cast<idtype_t>(kIdTypePidfd), static_cast<id_t>(pidfd_.get()), &info, WEXITED);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0 && errno == EINVAL) return std::nullopt;  // a kernel without P_PIDFD
  pidfd_.reset();
  // rc < 0 (ECHILD): reaped elsewhere; its status is lost.
  ExitStatus status;
  if (rc == 0 && info.si_code == CLD_EXITED) status.code = info.si_status;
  return status;
}

ExitStatus ChildProcess::wait() {
  if (waited_) return status_;
  if (std::optional<ExitStatus> status = wait_through_pidfd()) {
    waited_ = true;
    status_ = *status;
    return status_;
  }
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
