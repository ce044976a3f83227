#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>

#include "pool/account.h"
#include "pool/child_process.h"
#include "terminal/async_terminal.h"

namespace sandrig::pool {

// A bash shell running as a pool account under `su`, reached through
// pipes to its standard input, output and error. It keeps its User alive;
// destroying an open session closes it first.
class TerminalSession final : public terminal::AsyncTerminal {
 public:
  TerminalSession(SharedUser owner, ChildProcess process);
  TerminalSession(TerminalSession&& other) noexcept;
  TerminalSession& operator=(TerminalSession&&) = delete;
  ~TerminalSession() override;

  // Writes every byte to the shell's standard input, waiting while the
  // pipe is full.
  std::expected<void, std::string> write(std::span<const std::uint8_t> bytes) override;
  // One read of the shell's standard output; 0 at end of stream.
  std::expected<std::size_t, std::string> read_stdout(std::span<std::uint8_t> buffer) override;
  // One read of the shell's standard error; 0 at end of stream.
  std::expected<std::size_t, std::string> read_stderr(std::span<std::uint8_t> buffer) override;

  // Kills `su` with SIGKILL, reaps it and closes the pipes; later calls do
  // nothing. Throws InternalFailure if the signal cannot be sent.
  void close();

  // The most bytes one read of standard output can return now (the pipe's
  // capacity): a larger buffer would never be filled.
  std::size_t stdout_read_limit() const;
  // The same for standard error.
  std::size_t stderr_read_limit() const;

  // True until close().
  bool is_open() const { return process_.has_value(); }
  // The account the session runs as.
  const SharedUser& owner() const { return owner_; }

 private:
  std::expected<std::size_t, std::string> read_from(int fd, std::span<std::uint8_t> buffer,
                                                    const char* failure);
  std::size_t read_limit(int fd) const;

  SharedUser owner_;
  std::optional<ChildProcess> process_;
};

}  // namespace sandrig::pool
