#pragma once

#include <sys/types.h>

#include <expected>
#include <optional>
#include <string>
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

// A running program started without a shell, its standard input, output
// and error each connected to a pipe whose parent end this object owns.
// Every pipe end is close-on-exec, so no other child inherits them. A
// child that was never waited for is killed and reaped on destruction.
class ChildProcess {
 public:
  // Starts argv[0], searched for through PATH, with argv as its arguments
  // and the process's environment, an empty signal mask and SIGPIPE and
  // SIGXFSZ at their defaults; returns the host error number on failure.
  static std::expected<ChildProcess, int> spawn(const std::vector<std::string>& argv);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // The child's process id.
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
  // Sends `signal` to the child; returns the host error number on failure.
  std::expected<void, int> kill(int signal);
  // Blocks until the child has terminated and reaps it (once).
  ExitStatus wait();

 private:
  ChildProcess() = default;
  void kill_and_reap() noexcept;

  pid_t pid_ = -1;
  bool waited_ = true;
  ExitStatus status_;
  UniqueFd stdin_;
  UniqueFd stdout_;
  UniqueFd stderr_;
};

}  // namespace sandrig::pool
