#pragma once

#include <cstdint>

namespace sandrig::pool {

// Removes every System V shared memory segment, semaphore set and message
// queue that `uid` owns or created, as /proc/sysvipc lists them for this
// IPC namespace. True when none of them is left (also when the kernel has
// no System V IPC); false when one could not be removed or the lists
// could not be read.
bool remove_ipc_objects(std::uint32_t uid);

}  // namespace sandrig::pool
