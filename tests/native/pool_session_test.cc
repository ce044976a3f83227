#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <span>
#include <thread>
#include <string>
#include <vector>

#include "common/internal_failure.h"
#include "common/mutex.h"
#include "pool/terminal_session.h"
#include "pool/user.h"
#include "pool/user_pool.h"
#include "pool_fake_host.h"

namespace sandrig::pool {
namespace {

// A fake `su` that logs its arguments and runs the command with a plain,
// non-interactive bash on real pipes, so the session's own behaviour can
// be checked exactly and without root.
class PoolSession : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.logging_program("su", "exec /bin/bash -c \"$5\"");
    host_.logging_program("pkill", "exit 1");
    user_ = std::make_shared<Mutex<User>>(kPoisonedLock, "test_fake", host_.dir(), 4242u, nullptr);
  }

  std::unique_ptr<TerminalSession> spawn() {
    auto session = User::spawn_terminal(user_);
    EXPECT_TRUE(session.has_value()) << session.error();
    return std::move(*session);
  }

  static void write_text(TerminalSession& session, const std::string& text) {
    auto bytes = std::as_bytes(std::span(text));
    auto written = session.write({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    ASSERT_TRUE(written.has_value()) << written.error();
  }

  // Reads standard output (or error) until `want` bytes came or it ended.
  static std::string read_text(TerminalSession& session, std::size_t want, bool from_stderr = false) {
    std::string text;
    std::vector<std::uint8_t> buffer(1024);
    while (text.size() < want) {
      auto n = from_stderr ? session.read_stderr(buffer) : session.read_stdout(buffer);
      if (!n.has_value() || *n == 0) break;
      text.append(reinterpret_cast<const char*>(buffer.data()), *n);
    }
    return text;
  }

  testing::FakeHost host_;  // declared first: outlives the user and its release
  SharedUser user_;
};

TEST_F(PoolSession, SuGetsTheSpecifiedArguments) {
  std::unique_ptr<TerminalSession> session = spawn();
  write_text(*session, "exit\n");
  EXPECT_EQ(read_text(*session, 1), "");
  EXPECT_EQ(host_.log("su"), "-s /bin/bash -P -c export HOME=\"" + host_.dir() + "\"; cd \"" + host_.dir() +
                                 "\"; exec /bin/bash test_fake\n");
}

TEST_F(PoolSession, EchoRoundTripStartsInTheHome) {
  std::unique_ptr<TerminalSession> session = spawn();
  write_text(*session, "echo hello; pwd; echo \"$HOME\"\n");
  const std::string expected = "hello\n" + host_.dir() + "\n" + host_.dir() + "\n";
  EXPECT_EQ(read_text(*session, expected.size()), expected);
}

TEST_F(PoolSession, StandardErrorIsItsOwnStream) {
  std::unique_ptr<TerminalSession> session = spawn();
  write_text(*session, "echo oops >&2; echo fine\n");
  EXPECT_EQ(read_text(*session, 5, /*from_stderr=*/true), "oops\n");
  EXPECT_EQ(read_text(*session, 5), "fine\n");
}

TEST_F(PoolSession, ReadsReturnAtMostTheBufferAndKeepTheRest) {
  std::unique_ptr<TerminalSession> session = spawn();
  write_text(*session, "printf 0123456789; exit\n");
  std::vector<std::uint8_t> small(4);
  auto first = session->read_stdout(small);
  ASSERT_TRUE(first.has_value());
  // The shell may still be writing: at most four bytes, then the rest.
  ASSERT_GE(*first, 1u);
  ASSERT_LE(*first, 4u);
  std::string text(reinterpret_cast<const char*>(small.data()), *first);
  text += read_text(*session, 100);
  EXPECT_EQ(text, "0123456789");
  auto empty = session->read_stdout(std::span<std::uint8_t>());
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(*empty, 0u);
}

TEST_F(PoolSession, AfterExitReadsEndAndWritesFailWithBrokenPipe) {
  std::unique_ptr<TerminalSession> session = spawn();
  write_text(*session, "echo bye; exit\n");
  EXPECT_EQ(read_text(*session, 100), "bye\n");
  std::vector<std::uint8_t> buffer(16);
  EXPECT_EQ(session->read_stdout(buffer).value(), 0u);
  EXPECT_EQ(session->read_stderr(buffer).value(), 0u);
  // The end of output may be seen a moment before the shell's stdin is
  // released, so give the exit a bounded while to finish.
  const std::uint8_t data[] = {'x', '\n'};
  auto written = session->write(data);
  for (int i = 0; i < 500 && written.has_value(); ++i) {
    ::usleep(10000);
    written = session->write(data);
  }
  ASSERT_FALSE(written.has_value());
  EXPECT_EQ(written.error(), "Failed to write to the stdin of the process: Broken pipe (os error 32)");
}

TEST_F(PoolSession, BrokenPipeNeverKillsTheProcessWhateverTheDisposition) {
  EXPECT_EXIT(
      {
        ::signal(SIGPIPE, SIG_DFL);
        std::unique_ptr<TerminalSession> session = spawn();
        write_text(*session, "exit\n");
        read_text(*session, 1);
        const std::vector<std::uint8_t> data(200000, 'x');  // more than the pipe holds
        auto written = session->write(data);
        bool ok = !written.has_value() && written.error().ends_with("Broken pipe (os error 32)");
        // No SIGPIPE may be left pending either: unblocking must not kill us.
        sigset_t pending;
        sigpending(&pending);
        ok = ok && sigismember(&pending, SIGPIPE) == 0;
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(PoolSession, WriteHandsOverEveryByteEvenBeyondThePipeCapacity) {
  std::unique_ptr<TerminalSession> session = spawn();
  write_text(*session, "head -c 300000 | wc -c\n" + std::string(300000, 'a'));
  EXPECT_EQ(read_text(*session, 7), "300000\n");
}

TEST_F(PoolSession, CloseEndsTheSessionForGood) {
  std::unique_ptr<TerminalSession> session = spawn();
  EXPECT_TRUE(session->is_open());
  session->close();
  EXPECT_FALSE(session->is_open());
  const std::uint8_t data[] = {'x'};
  std::vector<std::uint8_t> buffer(4);
  EXPECT_EQ(session->write(data).error(), "The process is None");
  EXPECT_EQ(session->read_stdout(buffer).error(), "The process is None");
  EXPECT_EQ(session->read_stderr(buffer).error(), "The process is None");
  EXPECT_EQ(session->read_stdout({}).error(), "The process is None");
  EXPECT_NO_THROW(session->close());
}

TEST_F(PoolSession, ReadLimitIsThePipeCapacity) {
  std::unique_ptr<TerminalSession> session = spawn();
  EXPECT_EQ(session->stdout_read_limit(), 65536u);
  EXPECT_EQ(session->stderr_read_limit(), 65536u);
  session->close();
  EXPECT_EQ(session->stdout_read_limit(), 0u);
}

TEST_F(PoolSession, MissingSuFailsAndLeavesTheUserAlone) {
  testing::FakeHost empty(/*only=*/true);
  auto session = User::spawn_terminal(user_);
  ASSERT_FALSE(session.has_value());
  EXPECT_EQ(session.error(), "Failed to create the terminal session: No such file or directory (os error 2)");
  EXPECT_EQ(user_.use_count(), 1);
  EXPECT_EQ(user_->lock()->username(), "test_fake");
}

TEST_F(PoolSession, PoisonedUserLockIsAnInternalFailure) {
  try {
    auto guard = user_->lock();
    throw InternalFailure("boom");
  } catch (const InternalFailure&) {
  }
  try {
    (void)User::spawn_terminal(user_);
    FAIL() << "no failure";
  } catch (const InternalFailure& failure) {
    EXPECT_EQ(std::string(failure.what()), "☢️ Poisoned lock");
  }
}

TEST_F(PoolSession, UserIsReleasedOnlyAfterItsLastSession) {
  std::unique_ptr<TerminalSession> first = spawn();
  std::unique_ptr<TerminalSession> second = spawn();
  user_.reset();
  first.reset();
  EXPECT_EQ(host_.log("pkill"), "");
  second.reset();
  EXPECT_EQ(host_.log("pkill"), "-u 4242\n");
}

TEST_F(PoolSession, DestroyingAnOpenSessionKillsItsChild) {
  pid_t pid;
  {
    std::unique_ptr<TerminalSession> session = spawn();
    write_text(*session, "echo $$\n");
    pid = std::stoi(read_text(*session, 2));
  }
  EXPECT_EQ(::kill(pid, 0), -1);
}

// A blocked call has to be waiting before the test acts on it; the time
// waited is never asserted, only that the call ends as it must.
void let_it_block() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

// Bounds a wait that a fault would make endless.
template <typename T>
bool finishes(std::future<T>& future) {
  return future.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
}

TEST_F(PoolSession, CloseFromAnotherThreadEndsBlockedReads) {
  std::unique_ptr<TerminalSession> session = spawn();
  auto read_one = [&session](bool from_stderr) {
    std::vector<std::uint8_t> buffer(16);
    return from_stderr ? session->read_stderr(buffer) : session->read_stdout(buffer);
  };
  auto out = std::async(std::launch::async, read_one, false);
  auto err = std::async(std::launch::async, read_one, true);
  let_it_block();
  session->close();
  ASSERT_TRUE(finishes(out));
  ASSERT_TRUE(finishes(err));
  EXPECT_EQ(out.get().error(), "The process is None");
  EXPECT_EQ(err.get().error(), "The process is None");
}

TEST_F(PoolSession, CloseFromAnotherThreadEndsAWriteToAFullPipe) {
  std::unique_ptr<TerminalSession> session = spawn();
  write_text(*session, "exec sleep 60\n");  // nobody reads standard input any more
  const std::vector<std::uint8_t> data(1 << 20, 'x');
  auto written = std::async(std::launch::async, [&] { return session->write(data); });
  let_it_block();
  session->close();
  ASSERT_TRUE(finishes(written));
  EXPECT_EQ(written.get().error(), "The process is None");
}

TEST_F(PoolSession, TheThreeStreamsWaitIndependently) {
  std::unique_ptr<TerminalSession> session = spawn();
  auto out = std::async(std::launch::async, [&] { return read_text(*session, 4); });
  auto err = std::async(std::launch::async, [&] { return read_text(*session, 4, /*from_stderr=*/true); });
  let_it_block();
  // Both readers wait in their own stream while this write goes through.
  write_text(*session, "echo out; echo err >&2\n");
  ASSERT_TRUE(finishes(out));
  ASSERT_TRUE(finishes(err));
  EXPECT_EQ(out.get(), "out\n");
  EXPECT_EQ(err.get(), "err\n");
}

void ignore_signal(int) {}

TEST_F(PoolSession, ASignalFailsABlockedReadWithoutRepeatingIt) {
  struct sigaction action {};
  action.sa_handler = ignore_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // even so: the wait is never restarted
  struct sigaction previous {};
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
  std::unique_ptr<TerminalSession> session = spawn();
  for (bool from_stderr : {false, true}) {
    std::promise<pthread_t> reader;
    auto read = std::async(std::launch::async, [&] {
      reader.set_value(::pthread_self());
      std::vector<std::uint8_t> buffer(16);
      return from_stderr ? session->read_stderr(buffer) : session->read_stdout(buffer);
    });
    const pthread_t thread = reader.get_future().get();
    // A signal that lands before the read waits is simply missed: repeat.
    for (int i = 0; i < 3000 && read.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready; ++i) {
      ::pthread_kill(thread, SIGUSR1);
    }
    ASSERT_TRUE(finishes(read));
    EXPECT_EQ(read.get().error(), from_stderr ? "Failed to read stderr" : "Failed to read stdout");
  }
  ::sigaction(SIGUSR1, &previous, nullptr);
}

TEST_F(PoolSession, ConcurrentClosesEndTheSessionOnce) {
  std::unique_ptr<TerminalSession> session = spawn();
  std::vector<std::future<void>> closes;
  for (int i = 0; i < 4; ++i) closes.push_back(std::async(std::launch::async, [&] { session->close(); }));
  for (auto& close : closes) ASSERT_TRUE(finishes(close));
  EXPECT_FALSE(session->is_open());
  std::vector<std::uint8_t> buffer(4);
  EXPECT_EQ(session->read_stdout(buffer).error(), "The process is None");
}

}  // namespace
}  // namespace sandrig::pool
