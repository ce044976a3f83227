#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>

#include "common/mutex.h"
#include "pool/account.h"
#include "pool/child_process.h"
#include "pool/unique_fd.h"
#include "pool/wake_signal.h"
#include "terminal/async_terminal.h"

namespace sandrig::pool {

// A bash shell running as a pool account under `su`, reached through
// pipes to its standard input, output and error. It keeps its User alive;
// destroying an open session closes it first.
//
// Safe for concurrent callers: each of the three streams has a lock of its
// own, so a write, a read of standard output and a read of standard error
// may wait at the same time in three threads, while two calls on one
// stream run one after the other. close() from any thread wakes the calls
// that wait (they fail with "The process is None") and closes a pipe end
// only under that stream's lock, so no call ever uses a closed or reused
// descriptor.
class TerminalSession final : public terminal::AsyncTerminal {
 public:
  TerminalSession(SharedUser owner, ChildProcess process, WakeSignal wake);
  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;
  ~TerminalSession() override;

  // Writes every byte to the shell's standard input, waiting while the
  // pipe is full.
  std::expected<void, std::string> write(std::span<const std::uint8_t> bytes) override;
  // One read of the shell's standard output; 0 at end of stream. A signal
  // that interrupts the wait fails it.
  std::expected<std::size_t, std::string> read_stdout(std::span<std::uint8_t> buffer) override;
  // One read of the shell's standard error; 0 at end of stream.
  std::expected<std::size_t, std::string> read_stderr(std::span<std::uint8_t> buffer) override;

  // Kills `su` with SIGKILL, reaps it and closes the pipes; later calls do
  // nothing. Throws InternalFailure if the signal cannot be sent.
  void close();

  // The most bytes one read of standard output can return now (the pipe's
  // capacity): a larger buffer would never be filled. 0 once closed.
  std::size_t stdout_read_limit();
  // The same for standard error.
  std::size_t stderr_read_limit();

  // True until close().
  bool is_open() const { return !closed_.load(); }
  // The account the session runs as.
  const SharedUser& owner() const { return owner_; }

 private:
  using Stream = Mutex<UniqueFd>;

  std::expected<std::size_t, std::string> read_from(Stream& stream, std::span<std::uint8_t> buffer,
                                                    const char* failure);
  std::size_t read_limit(Stream& stream);

  SharedUser owner_;
  // su's process; close() takes it out, and its lock makes a second close
  // wait for the first.
  Mutex<std::optional<ChildProcess>> process_;
  // Set by close() before it wakes the waiting calls; a call that sees it
  // under its stream's lock leaves the descriptors alone.
  std::atomic<bool> closed_{false};
  // Raised by close(); polled beside the pipe by every waiting call.
  // Closed by close() once every stream's lock has been drained.
  WakeSignal wake_;
  Stream stdin_;
  Stream stdout_;
  Stream stderr_;
};

}  // namespace sandrig::pool
