#pragma once

#include <sys/resource.h>

namespace sandrig::pool {

// The most processes (threads included) one account may run at once.
inline constexpr rlim_t kMaxAccountProcesses = 1024;
// The least, however few process ids the host has.
inline constexpr rlim_t kMinAccountProcesses = 32;

// The process limit of every account on this host: kMaxAccountProcesses,
// or an eighth of the host's process ids where that is less (a small
// pid_max), but at least kMinAccountProcesses. An account at its limit
// leaves the other seven eighths to the host, the pool and other holders.
rlim_t account_process_limit();

// Sets `*static_cast<const rlim_t*>(limit)`, or the current hard limit
// where that is lower, as the soft and hard RLIMIT_NPROC of the calling
// process; 0, or the host error number. Made to run in a forked child
// before it executes `su`: the hard limit is inherited through `su` and
// its session, and the account, unprivileged, cannot raise it again.
// Async-signal-safe.
int apply_process_limit(const void* limit);

}  // namespace sandrig::pool
