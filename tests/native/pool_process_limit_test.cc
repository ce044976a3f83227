#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "pool/child_process.h"
#include "pool/process_limit.h"

namespace sandrig::pool {
namespace {

// Everything `child` writes to its standard output, once it has exited.
std::string output_of(ChildProcess& child) {
  child.close_stdin();
  std::string text;
  char chunk[256];
  ssize_t n;
  while ((n = ::read(child.stdout_pipe().get(), chunk, sizeof chunk)) > 0) {
    text.append(chunk, static_cast<std::size_t>(n));
  }
  child.wait();
  return text;
}

TEST(PoolProcessLimit, IsAnEighthOfThePidsWithinItsBounds) {
  rlim_t pid_max = 0;
  std::ifstream("/proc/sys/kernel/pid_max") >> pid_max;
  ASSERT_GT(pid_max, 0u);
  const rlim_t limit = account_process_limit();
  EXPECT_EQ(limit, std::clamp(pid_max / 8, kMinAccountProcesses, kMaxAccountProcesses));
}

TEST(PoolProcessLimit, TheProgramStartsWithItAsSoftAndHardLimit) {
  const rlim_t limit = 77;
  auto child = ChildProcess::spawn({"bash", "-c", "ulimit -Su; ulimit -Hu"}, apply_process_limit, &limit);
  ASSERT_TRUE(child.has_value());
  EXPECT_EQ(output_of(*child), "77\n77\n");
  rlimit own;
  ASSERT_EQ(::getrlimit(RLIMIT_NPROC, &own), 0);
  EXPECT_NE(own.rlim_max, 77u);  // the caller's own limit is untouched
}

// Run in a child of the test: lowers its own limit to 20, then starts a
// program with a higher one; 0 when the program got 20.
[[noreturn]] void spawn_under_a_lower_limit() {
  rlimit low;
  low.rlim_cur = low.rlim_max = 20;
  if (::setrlimit(RLIMIT_NPROC, &low) != 0) std::_Exit(2);
  const rlim_t limit = kMaxAccountProcesses;
  auto child = ChildProcess::spawn({"bash", "-c", "ulimit -Hu"}, apply_process_limit, &limit);
  std::_Exit(child && output_of(*child) == "20\n" ? 0 : 1);
}

TEST(PoolProcessLimit, ALowerLimitOfTheCallerIsKept) {
  EXPECT_EXIT(spawn_under_a_lower_limit(), ::testing::ExitedWithCode(0), "");
}

TEST(PoolChildProcess, AFailedSetupFailsTheStartWithItsError) {
  auto child = ChildProcess::spawn({"sh", "-c", "exit 0"}, [](const void*) { return EPERM; }, nullptr);
  ASSERT_FALSE(child.has_value());
  EXPECT_EQ(child.error(), EPERM);
}

}  // namespace
}  // namespace sandrig::pool
