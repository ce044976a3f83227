#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "pool/child_process.h"
#include "pool/host_command.h"
#include "pool_fake_host.h"

namespace sandrig::pool {
namespace {

TEST(PoolHostCommand, DrainsLargeStdoutAndStderrTogether) {
  // Each stream is far beyond a pipe's capacity, and they alternate, so
  // reading one stream to its end before the other would deadlock.
  auto result = run_host_command(
      {"sh", "-c", "for i in 1 2 3 4; do head -c 300000 /dev/zero | tr '\\0' o; "
                   "head -c 300000 /dev/zero | tr '\\0' e >&2; done; exit 7"});
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->status.code, 7);
  EXPECT_FALSE(result->status.success());
  EXPECT_EQ(result->out, std::string(1200000, 'o'));
  EXPECT_EQ(result->err, std::string(1200000, 'e'));
}

TEST(PoolHostCommand, StandardInputIsEmpty) {
  auto result = run_host_command({"sh", "-c", "cat; echo done"});
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->status.success());
  EXPECT_EQ(result->out, "done\n");
}

TEST(PoolHostCommand, ArgumentsAreNotInterpretedByAShell) {
  auto result = run_host_command({"printf", "%s|", "a b", "$HOME", "*"});
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->out, "a b|$HOME|*|");
}

TEST(PoolHostCommand, SignalledCommandHasNoExitCode) {
  auto result = run_host_command({"sh", "-c", "kill -9 $$"});
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->status.code, std::nullopt);
  EXPECT_FALSE(result->status.success());
}

TEST(PoolHostCommand, ChildStartsWithDefaultSignalsWhateverTheParentIgnoresOrBlocks) {
  // As in the interpreter, which ignores SIGPIPE; a caller may block more.
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &previous), 0);
  sigset_t blocked, saved;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &saved), 0);
  auto result = run_host_command({"grep", "-E", "^Sig(Ign|Blk)", "/proc/self/status"});
  ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  ::sigaction(SIGPIPE, &previous, nullptr);
  ASSERT_TRUE(result.has_value());
  unsigned long long blocked_mask = ~0ull, ignored_mask = ~0ull;
  ASSERT_EQ(std::sscanf(result->out.c_str(), "SigBlk: %llx SigIgn: %llx", &blocked_mask, &ignored_mask), 2)
      << result->out;
  EXPECT_EQ(blocked_mask, 0u);
  EXPECT_EQ(ignored_mask & (1ull << (SIGPIPE - 1)), 0u);
}

TEST(PoolHostCommand, MissingProgramReportsTheHostError) {
  auto result = run_host_command({"sandrig-no-such-program"});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), ENOENT);
}

// What the descriptors of process `pid` refer to ("pipe:[123]", ...).
std::set<std::string> fd_targets(pid_t pid) {
  std::set<std::string> targets;
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  if (DIR* listing = ::opendir(dir.c_str())) {
    while (const dirent* entry = ::readdir(listing)) {
      char target[256];
      const std::string link = dir + "/" + entry->d_name;
      const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
      if (n > 0) targets.insert(std::string(target, static_cast<std::size_t>(n)));
    }
    ::closedir(listing);
  }
  return targets;
}

std::string fd_target(int fd) {
  char target[256];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

TEST(PoolChildProcess, PipeEndsAreCloseOnExecAndNotInherited) {
  auto first = ChildProcess::spawn({"cat"});
  ASSERT_TRUE(first.has_value());
  std::set<std::string> first_pipes;
  for (const UniqueFd* end : {&first->stdin_pipe(), &first->stdout_pipe(), &first->stderr_pipe()}) {
    EXPECT_NE(::fcntl(end->get(), F_GETFD) & FD_CLOEXEC, 0);
    first_pipes.insert(fd_target(end->get()));
  }
  ASSERT_EQ(first_pipes.size(), 3u);
  auto second = ChildProcess::spawn({"sleep", "30"});
  ASSERT_TRUE(second.has_value());
  ::usleep(50000);  // let sleep be exec'ed
  for (const std::string& target : fd_targets(second->pid())) {
    EXPECT_EQ(first_pipes.count(target), 0u) << "leaked " << target;
  }

  // With no copy of its stdin's write end elsewhere, cat sees end of input.
  first->close_stdin();
  EXPECT_EQ(first->wait().code, 0);
}

TEST(PoolChildProcess, KillAndWaitReapTheChild) {
  auto child = ChildProcess::spawn({"sleep", "30"});
  ASSERT_TRUE(child.has_value());
  const pid_t pid = child->pid();
  EXPECT_FALSE(child->waited());
  ASSERT_TRUE(child->kill(SIGKILL).has_value());
  EXPECT_EQ(child->wait().code, std::nullopt);
  EXPECT_TRUE(child->waited());
  EXPECT_EQ(::kill(pid, 0), -1);  // reaped: no zombie left behind
  EXPECT_FALSE(child->kill(SIGKILL).has_value());
}

TEST(PoolChildProcess, DestructionKillsAndReapsARunningChild) {
  pid_t pid;
  {
    auto child = ChildProcess::spawn({"sleep", "30"});
    ASSERT_TRUE(child.has_value());
    pid = child->pid();
  }
  EXPECT_EQ(::kill(pid, 0), -1);
}

// A process started as the next pid: inside the test's own PID namespace
// the id handed out next can be chosen. -1 where it cannot.
pid_t start_sleeper_as(pid_t pid) {
  std::ofstream last("/proc/sys/kernel/ns_last_pid");
  if (!(last << (pid - 1) << std::flush)) return -1;
  const pid_t started = ::fork();
  if (started == 0) {
    ::execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return started;
}

TEST(PoolChildProcess, AChildReapedElsewhereLeavesTheProcessThatTookItsIdAlone) {
  auto child = ChildProcess::spawn({"sleep", "30"});
  ASSERT_TRUE(child.has_value());
  const pid_t pid = child->pid();
  // Someone else kills and reaps it, and a new process gets its id.
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
  pid_t stranger = -1;
  for (int i = 0; i < 20 && stranger != pid; ++i) {
    if (stranger > 0) {
      ::kill(stranger, SIGKILL);
      ::waitpid(stranger, nullptr, 0);
    }
    stranger = start_sleeper_as(pid);
    if (stranger < 0) GTEST_SKIP() << "needs its own PID namespace (tests/isolated.sh)";
  }
  ASSERT_EQ(stranger, pid);
  EXPECT_TRUE(child->kill(SIGKILL).has_value());  // gone already: nothing to signal
  EXPECT_EQ(child->wait().code, std::nullopt);
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "the new process was signalled or reaped";
  ::kill(pid, SIGKILL);
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status));
}

TEST(PoolChildProcess, WorksWhenStandardDescriptorsAreClosed) {
  // Run in a child process of the test so closing 0-2 harms nothing.
  EXPECT_EXIT(
      {
        ::close(STDIN_FILENO);
        ::close(STDOUT_FILENO);
        auto result = run_host_command({"sh", "-c", "cat; echo out; echo err >&2"});
        const bool ok = result && result->status.success() && result->out == "out\n" && result->err == "err\n";
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(PoolChildProcess, OnlyTheThreePipeEndsReachTheChild) {
  // Descriptors the caller left inheritable, low and high.
  const int low = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(low, 0);
  ASSERT_EQ(::dup2(low, 200), 200);
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);

  auto child = ChildProcess::spawn({"sleep", "30"});
  ASSERT_TRUE(child.has_value());
  // spawn returns once the program runs, but the program's own start-up
  // (the dynamic loader, locale files) briefly opens descriptors of its
  // own: look again until it has settled. A leaked descriptor never goes.
  const std::set<std::string> expected{"0", "1", "2"};
  const std::string dir = "/proc/" + std::to_string(child->pid()) + "/fd";
  std::set<std::string> names;
  for (int attempt = 0; attempt < 200 && (attempt == 0 || names != expected); ++attempt) {
    if (attempt > 0) ::usleep(5000);
    names.clear();
    if (DIR* listing = ::opendir(dir.c_str())) {
      while (const dirent* entry = ::readdir(listing)) {
        if (entry->d_name[0] != '.') names.insert(entry->d_name);
      }
      ::closedir(listing);
    }
  }
  EXPECT_EQ(names, expected);

  auto task = ChildProcess::fork_task(
      [](const void*) -> int {
        int open_fds = 0;
        for (int fd = 3; fd < 1024; ++fd) open_fds += ::fcntl(fd, F_GETFD) >= 0 ? 1 : 0;
        return open_fds;
      },
      nullptr);
  ASSERT_TRUE(task.has_value());
  EXPECT_EQ(task->wait().code, 0);
  for (const int fd : {low, 200, pipe_ends[0], pipe_ends[1]}) ::close(fd);
}

TEST(PoolChildProcess, PathSearchGoesOnPastAFileThatIsNotExecutable) {
  testing::FakeHost first(/*only=*/true);
  testing::FakeHost second;
  std::ofstream(first.dir() + "/sandrig-prog") << "#!/bin/sh\necho first\n";  // no execute bit
  second.program("sandrig-prog", "echo second");
  // PATH: first's folder, then second's, then the rest.
  ::setenv("PATH", (first.dir() + ":" + second.dir()).c_str(), 1);
  auto ran = run_host_command({"sandrig-prog"});
  ASSERT_TRUE(ran.has_value());
  EXPECT_EQ(ran->out, "second\n");
  ::setenv("PATH", first.dir().c_str(), 1);
  auto denied = run_host_command({"sandrig-prog"});
  ASSERT_FALSE(denied.has_value());
  EXPECT_EQ(denied.error(), EACCES);
}

TEST(PoolChildProcess, ATaskReportsThroughItsExitStatus) {
  static int answer = 42;
  auto task = ChildProcess::fork_task([](const void* context) { return *static_cast<const int*>(context); },
                                      &answer);
  ASSERT_TRUE(task.has_value());
  EXPECT_EQ(task->wait().code, 42);
}

}  // namespace
}  // namespace sandrig::pool
