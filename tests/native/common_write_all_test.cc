#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "common/write_all.h"

namespace sandrig {
namespace {

// Both ends of a pipe, closed on scope exit.
struct Pipe {
  int ends[2] = {-1, -1};
  Pipe() { EXPECT_EQ(::pipe(ends), 0); }
  ~Pipe() {
    for (int end : ends) {
      if (end >= 0) ::close(end);
    }
  }
  std::string drain() const {
    std::string out;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(ends[0], buffer, sizeof buffer)) > 0) out.append(buffer, got);
    return out;
  }
};

TEST(WriteAll, WritesEveryByteIncludingNul) {
  Pipe pipe;
  const std::string text("a\0b\n", 4);
  ASSERT_TRUE(write_all(pipe.ends[1], text));
  ::close(pipe.ends[1]);
  pipe.ends[1] = -1;
  EXPECT_EQ(pipe.drain(), text);
}

TEST(WriteAll, FailsOnABadDescriptorAndWhenTheHookDeclines) {
  EXPECT_FALSE(write_all(-1, "x"));
  Pipe pipe;
  EXPECT_FALSE(write_all(pipe.ends[1], "x", [] { return false; }));
  EXPECT_TRUE(write_all(pipe.ends[1], "", [] { return false; }));  // nothing to write, nothing asked
}

// A full non-blocking pipe reports EAGAIN: without a hook that is a failure
// (no spinning); with one, the hook is asked again before every retry.
TEST(WriteAll, FullNonBlockingPipeFailsWithoutHookAndRetriesWithOne) {
  static int calls = 0;  // the hook is a plain function pointer, so it counts here
  Pipe pipe;
  ASSERT_EQ(::fcntl(pipe.ends[1], F_SETFL, O_NONBLOCK), 0);
  const std::string block(1 << 16, 'x');
  while (::write(pipe.ends[1], block.data(), block.size()) > 0) {
  }
  ASSERT_EQ(errno, EAGAIN);
  EXPECT_FALSE(write_all(pipe.ends[1], "y"));
  calls = 0;
  EXPECT_FALSE(write_all(pipe.ends[1], "y", [] { return ++calls < 3; }));
  EXPECT_EQ(calls, 3);
}

// With a hook for a full descriptor, EAGAIN is handed to it and the write
// goes on once it made room; a hook that declines gives the write up.
TEST(WriteAll, FullNonBlockingPipeWaitsInTheWhenFullHook) {
  static int read_end = -1;  // the hooks are plain function pointers
  Pipe pipe;
  read_end = pipe.ends[0];
  ASSERT_EQ(::fcntl(pipe.ends[1], F_SETFL, O_NONBLOCK), 0);
  const std::string block(1 << 16, 'x');
  while (::write(pipe.ends[1], block.data(), block.size()) > 0) {
  }
  ASSERT_EQ(errno, EAGAIN);
  EXPECT_FALSE(write_all(pipe.ends[1], "y", nullptr, [](int) { return false; }));
  ASSERT_TRUE(write_all(pipe.ends[1], "tail", nullptr, [](int fd) {
    std::string drained(1 << 20, '\0');
    return fd >= 0 && ::read(read_end, drained.data(), drained.size()) > 0;
  }));
  ::close(pipe.ends[1]);
  pipe.ends[1] = -1;
  const std::string rest = pipe.drain();
  EXPECT_EQ(rest.substr(rest.size() - 4), "tail");
}

TEST(WriteAll, WaitUntilWritableOnRoomAndOnBadDescriptors) {
  Pipe pipe;
  EXPECT_TRUE(wait_until_writable(pipe.ends[1]));
  EXPECT_FALSE(wait_until_writable(-1));
  ::close(pipe.ends[0]);
  pipe.ends[0] = -1;
  EXPECT_FALSE(wait_until_writable(pipe.ends[1]));  // no reader left: an error
}

}  // namespace
}  // namespace sandrig
