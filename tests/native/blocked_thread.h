#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace sandrig {

// The kernel's id of the calling thread.
inline pid_t current_thread_id() { return ::gettid(); }

// True while the thread `tid` of this process sleeps in the kernel.
inline bool is_asleep(pid_t tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::stringstream text;
  text << stat.rdbuf();
  const std::string line = text.str();
  const std::size_t name_end = line.rfind(')');  // the state follows the name
  return name_end != std::string::npos && name_end + 2 < line.size() && line[name_end + 2] == 'S';
}

// Returns once the thread whose id `tid` will hold (0 until it is known)
// sleeps in the kernel: a thread that only waits for a lock sleeps exactly
// when it waits. The bound only keeps a broken wait from hanging the test.
inline void wait_until_asleep(const std::atomic<pid_t>& tid) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < give_up) {
    const pid_t id = tid.load();
    if (id != 0 && is_asleep(id)) return;
    std::this_thread::yield();
  }
}

}  // namespace sandrig
