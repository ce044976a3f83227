#include "pool/process_limit.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <optional>

#include "pool/unique_fd.h"

namespace sandrig::pool {

namespace {

// The host's largest process id plus one, or none when it cannot be read.
std::optional<rlim_t> host_pid_max() {
  UniqueFd fd(::open("/proc/sys/kernel/pid_max", O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  char text[32];
  ssize_t n;
  do {
    n = ::read(fd.get(), text, sizeof text);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return std::nullopt;
  rlim_t value = 0;
  const auto [end, error] = std::from_chars(text, text + n, value);
  if (error != std::errc() || end == text) return std::nullopt;
  return value;
}

}  // namespace

rlim_t account_process_limit() {
  const std::optional<rlim_t> pid_max = host_pid_max();
  if (!pid_max) return kMaxAccountProcesses;
  return std::clamp(*pid_max / 8, kMinAccountProcesses, kMaxAccountProcesses);
}

int apply_process_limit(const void* limit) {
  rlimit current;
  if (::getrlimit(RLIMIT_NPROC, &current) != 0) return errno;
  // A lower limit the process was given stays: this only ever lowers.
  const rlim_t wanted = *static_cast<const rlim_t*>(limit);
  const rlim_t value = current.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, current.rlim_max);
  const rlimit both{value, value};
  return ::setrlimit(RLIMIT_NPROC, &both) == 0 ? 0 : errno;
}

}  // namespace sandrig::pool
