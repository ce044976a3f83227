#include "pool/host_command.h"

#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "common/try.h"

namespace sandrig::pool {

namespace {

// Appends what one read of `fd` yields to `sink`; false at end of stream.
bool drain_once(int fd, std::string& sink) {
  std::array<char, 65536> chunk;
  ssize_t n;
  do {
    n = ::read(fd, chunk.data(), chunk.size());
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return false;  // a failed read ends the stream like EOF
  sink.append(chunk.data(), static_cast<std::size_t>(n));
  return true;
}

// Reads both streams together, so a command that fills one pipe while we
// wait on the other cannot deadlock.
void drain_both(const ChildProcess& child, HostCommandOutput& output) {
  std::array<pollfd, 2> fds{pollfd{child.stdout_pipe().get(), POLLIN, 0},
                            pollfd{child.stderr_pipe().get(), POLLIN, 0}};
  std::array<std::string*, 2> sinks{&output.out, &output.err};
  int open_streams = 2;
  while (open_streams > 0) {
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      if (!drain_once(fds[i].fd, *sinks[i])) {
        fds[i].fd = -1;  // poll skips negative descriptors
        --open_streams;
      }
    }
  }
}

}  // namespace

std::expected<HostCommandOutput, int> run_host_command(const std::vector<std::string>& argv) {
  ChildProcess child = SANDRIG_TRY(ChildProcess::spawn(argv));
  child.close_stdin();
  HostCommandOutput output;
  drain_both(child, output);
  output.status = child.wait();
  return output;
}

}  // namespace sandrig::pool
