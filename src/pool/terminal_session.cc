#include "pool/terminal_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <exception>
#include <utility>

#include "common/internal_failure.h"
#include "common/poisoned_lock.h"
#include "pool/host_error.h"
#include "pool/sigpipe_block.h"
#include "pool/stderr_line.h"
#include "pool/user.h"

namespace sandrig::pool {

namespace {
constexpr const char* kNoProcess = "The process is None";
// Linux's default pipe capacity, assumed when the pipe cannot tell.
constexpr std::size_t kDefaultPipeCapacity = 65536;

// What ended a wait for a pipe.
enum class Woken { Ready, Closed, Failed };

// Waits until `fd` is ready for `events` or `wake` is raised. A signal
// that interrupts the wait fails it (errno is EINTR then).
Woken wait_for(int fd, short events, const WakeSignal& wake) {
  std::array<pollfd, 2> fds{pollfd{fd, events, 0}, pollfd{wake.fd(), POLLIN, 0}};
  if (::poll(fds.data(), fds.size(), -1) < 0) return Woken::Failed;
  // A close wins over data that arrived meanwhile: the call then behaves
  // as on a closed session.
  if (fds[1].revents != 0) return Woken::Closed;
  return Woken::Ready;
}

// The write end of standard input: a write to a full pipe returns at once
// instead of blocking, so that the wait happens in poll, where close() can
// end it. It is this process's own open file, not shared with the child.
UniqueFd non_blocking(UniqueFd fd) {
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK);
  return fd;
}
}  // namespace

TerminalSession::TerminalSession(SharedUser owner, ChildProcess process, WakeSignal wake)
    : owner_(std::move(owner)),
      process_(kPoisonedLock),
      wake_(std::move(wake)),
      stdin_(kPoisonedLock),
      stdout_(kPoisonedLock),
      stderr_(kPoisonedLock) {
  ChildPipes pipes = process.take_pipes();
  *stdin_.lock() = non_blocking(std::move(pipes.in));
  *stdout_.lock() = std::move(pipes.out);
  *stderr_.lock() = std::move(pipes.err);
  *process_.lock() = std::move(process);
}

TerminalSession::~TerminalSession() {
  try {
    close();
  } catch (const std::exception& failure) {
    write_stderr_line(failure.what());
  }
  // The child and the pipes are gone now; owner_ goes last and may release
  // the account.
}

std::expected<void, std::string> TerminalSession::write(std::span<const std::uint8_t> bytes) {
  auto fd = stdin_.lock();
  if (closed_.load()) return std::unexpected(kNoProcess);
  SigpipeBlock block;
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd->get(), bytes.data(), bytes.size());
    if (n >= 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(n));
      continue;
    }
    const int error = errno;
    if (error == EINTR) continue;
    if (error == EAGAIN) {
      // The pipe is full: wait for room. A signal only repeats the wait.
      const Woken woken = wait_for(fd->get(), POLLOUT, wake_);
      if (woken == Woken::Closed) return std::unexpected(kNoProcess);
      if (woken == Woken::Ready || errno == EINTR) continue;
      return std::unexpected("Failed to write to the stdin of the process: " + host_error_text(errno));
    }
    if (error == EPIPE) block.discard_raised();
    return std::unexpected("Failed to write to the stdin of the process: " + host_error_text(error));
  }
  return {};
}

std::expected<std::size_t, std::string> TerminalSession::read_stdout(std::span<std::uint8_t> buffer) {
  return read_from(stdout_, buffer, "Failed to read stdout");
}

std::expected<std::size_t, std::string> TerminalSession::read_stderr(std::span<std::uint8_t> buffer) {
  return read_from(stderr_, buffer, "Failed to read stderr");
}

std::expected<std::size_t, std::string> TerminalSession::read_from(Stream& stream, std::span<std::uint8_t> buffer,
                                                                   const char* failure) {
  auto fd = stream.lock();
  if (closed_.load()) return std::unexpected(kNoProcess);
  if (buffer.empty()) return 0;  // nothing asked for: no wait
  // One wait and one read, neither repeated when a signal interrupts it.
  switch (wait_for(fd->get(), POLLIN, wake_)) {
    case Woken::Closed:
      return std::unexpected(kNoProcess);
    case Woken::Failed:
      return std::unexpected(failure);
    case Woken::Ready:
      break;
  }
  const ssize_t n = ::read(fd->get(), buffer.data(), buffer.size());
  if (n < 0) return std::unexpected(failure);
  return static_cast<std::size_t>(n);
}

void TerminalSession::close() {
  auto process = process_.lock();
  if (!process->has_value()) return;
  ChildProcess child = std::move(**process);
  process->reset();
  // From here on the session counts as closed, whatever follows: the
  // waiting calls wake and fail, new ones fail at once.
  closed_.store(true);
  wake_.raise();
  if (!child.waited()) {
    if (auto sent = child.kill(SIGKILL); !sent) {
      fail("Failed to kill the terminal session: " + host_error_text(sent.error()));
    }
  }
  child.wait();
  // Each pipe end is closed under its stream's lock, so only once the call
  // that used it has returned; the wake descriptor goes after all three.
  for (Stream* stream : {&stdin_, &stdout_, &stderr_}) stream->lock()->reset();
  wake_.reset();
}

std::size_t TerminalSession::stdout_read_limit() { return read_limit(stdout_); }

std::size_t TerminalSession::stderr_read_limit() { return read_limit(stderr_); }

std::size_t TerminalSession::read_limit(Stream& stream) {
  auto fd = stream.lock();
  if (closed_.load()) return 0;
  const int capacity = ::fcntl(fd->get(), F_GETPIPE_SZ);
  return capacity > 0 ? static_cast<std::size_t>(capacity) : kDefaultPipeCapacity;
}

}  // namespace sandrig::pool
