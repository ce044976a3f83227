#include "pool/terminal_session.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <utility>

#include "common/internal_failure.h"
#include "pool/host_error.h"
#include "pool/sigpipe_block.h"
#include "pool/stderr_line.h"
#include "pool/user.h"

namespace sandrig::pool {

namespace {
constexpr const char* kNoProcess = "The process is None";
// Linux's default pipe capacity, assumed when the pipe cannot tell.
constexpr std::size_t kDefaultPipeCapacity = 65536;
}  // namespace

TerminalSession::TerminalSession(SharedUser owner, ChildProcess process)
    : owner_(std::move(owner)), process_(std::move(process)) {}

TerminalSession::TerminalSession(TerminalSession&& other) noexcept
    : owner_(std::move(other.owner_)), process_(std::exchange(other.process_, std::nullopt)) {}

TerminalSession::~TerminalSession() {
  try {
    close();
  } catch (const std::exception& failure) {
    write_stderr_line(failure.what());
  }
  // process_ is gone now; owner_ goes next and may release the account.
}

std::expected<void, std::string> TerminalSession::write(std::span<const std::uint8_t> bytes) {
  if (!process_) return std::unexpected(kNoProcess);
  SigpipeBlock block;
  const int fd = process_->stdin_pipe().get();
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      const int error = errno;
      if (error == EINTR) continue;
      if (error == EPIPE) block.discard_raised();
      return std::unexpected("Failed to write to the stdin of the process: " + host_error_text(error));
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return {};
}

std::expected<std::size_t, std::string> TerminalSession::read_stdout(std::span<std::uint8_t> buffer) {
  if (!process_) return std::unexpected(kNoProcess);
  return read_from(process_->stdout_pipe().get(), buffer, "Failed to read stdout");
}

std::expected<std::size_t, std::string> TerminalSession::read_stderr(std::span<std::uint8_t> buffer) {
  if (!process_) return std::unexpected(kNoProcess);
  return read_from(process_->stderr_pipe().get(), buffer, "Failed to read stderr");
}

std::expected<std::size_t, std::string> TerminalSession::read_from(int fd, std::span<std::uint8_t> buffer,
                                                                   const char* failure) {
  // One read, not repeated even when a signal interrupts it.
  const ssize_t n = ::read(fd, buffer.data(), buffer.size());
  if (n < 0) return std::unexpected(failure);
  return static_cast<std::size_t>(n);
}

void TerminalSession::close() {
  if (!process_) return;
  ChildProcess child = std::move(*process_);
  process_.reset();
  if (!child.waited()) {
    if (auto sent = child.kill(SIGKILL); !sent) {
      fail("Failed to kill the terminal session: " + host_error_text(sent.error()));
    }
  }
  child.wait();
  child.close_pipes();
}

std::size_t TerminalSession::stdout_read_limit() const {
  return process_ ? read_limit(process_->stdout_pipe().get()) : 0;
}

std::size_t TerminalSession::stderr_read_limit() const {
  return process_ ? read_limit(process_->stderr_pipe().get()) : 0;
}

std::size_t TerminalSession::read_limit(int fd) const {
  const int capacity = ::fcntl(fd, F_GETPIPE_SZ);
  return capacity > 0 ? static_cast<std::size_t>(capacity) : kDefaultPipeCapacity;
}

}  // namespace sandrig::pool
