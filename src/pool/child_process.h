#pragma once

#include <sys/types.h>

#include <expected>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pool/unique_fd.h"

namespace sandrig::pool {

// How a child process ended: its exit code, or no code when a signal (or
// someone else reaping it) took that away.
struct ExitStatus {
  std::optional<int> code;
  // True for a normal exit with status 0.
  bool success() const { return code == 0; }
};

// The parent's ends of a child's three standard streams.
struct ChildPipes {
  UniqueFd in;   // write end of its standard input
  UniqueFd out;  // read end of its standard output
  UniqueFd err;  // read end of its standard error
};

// A function run in a forked child in place of a program; what it returns
// is the child's exit status. The child of a multi-threaded process has a
// single thread and may inherit locks that other threads held, so the
// function may make async-signal-safe calls only.
using ChildTask = int (*)(const void* context);

// A function run in the forked child just before it executes its program
// (async-signal-safe calls only, as for a ChildTask): 0 to go on, or a
// host error number that fails the start with that error.
using ChildSetup = int (*)(const void* context);

// A child process started without a shell, its standard input, output and
// error each connected to a pipe whose parent end this object owns. The
// child starts with an empty signal mask, every caught signal and SIGPIPE
// and SIGXFSZ at their defaults, and no descriptor other than 0, 1 and 2:
// nothing the parent holds open leaks into it. A child that was never
// waited for is killed and reaped on destruction.
//
// The child is signalled and waited for through a process descriptor
// opened right after the fork, so that when someone else reaps it (a
// program that calls waitpid(-1)) and its id goes to a new process, that
// process is never signalled or reaped from here. On a kernel without
// process descriptors the id is used, as before.
class ChildProcess {
 public:
  // Starts argv[0], searched for through PATH, with argv as its arguments
  // and the process's environment; returns the host error number when the
  // child cannot be made, `setup(context)` fails or the program cannot be
  // executed. `context` must stay valid until spawn returns.
  static std::expected<ChildProcess, int> spawn(const std::vector<std::string>& argv,
                                                ChildSetup setup = nullptr, const void* context = nullptr);

  // Runs `task(context)` in a forked child; returns the host error number
  // when the child cannot be made. `context` must stay valid until then.
  static std::expected<ChildProcess, int> fork_task(ChildTask task, const void* context);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  pid_t pid() const { return pid_; }
  // True once the child has been reaped.
  bool waited() const { return waited_; }
  // Write end of the child's standard input (invalid once closed).
  const UniqueFd& stdin_pipe() const { return stdin_; }
  // Read end of the child's standard output.
  const UniqueFd& stdout_pipe() const { return stdout_; }
  // Read end of the child's standard error.
  const UniqueFd& stderr_pipe() const { return stderr_; }

  // Closes the write end of the child's standard input: the child sees EOF.
  void close_stdin() { stdin_.reset(); }
  // Closes the three pipe ends: standard input, output, error, in order.
  void close_pipes();
  // Hands the three pipe ends over to the caller; this object keeps the
  // process only.
  ChildPipes take_pipes() { return {std::move(stdin_), std::move(stdout_), std::move(stderr_)}; }
  // Sends `signal` to the child; returns the host error number on failure.
  // A child that someone else already reaped counts as signalled.
  std::expected<void, int> kill(int signal);
  // Blocks until the child has terminated and reaps it (once). A child
  // that someone else reaped ends the wait with its status lost.
  ExitStatus wait();

 private:
  ChildProcess() = default;
  static std::expected<ChildProcess, int> start_child(const void* start, bool report_exec);
  void kill_and_reap() noexcept;
  std::optional<ExitStatus> wait_through_pidfd();

  pid_t pid_ = -1;
  UniqueFd pidfd_;  // invalid where the kernel has no process descriptors
  bool waited_ = true;
  ExitStatus status_;
  UniqueFd stdin_;
  UniqueFd stdout_;
  UniqueFd stderr_;
};

}  // namespace sandrig::pool
