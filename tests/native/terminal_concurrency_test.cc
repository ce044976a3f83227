#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fs/file_system.h"
#include "terminal/simple_terminal.h"

namespace sandrig::terminal {
namespace {

// Terminals on one filesystem, each on its own thread: their directories
// stay their own, and readers of a shared file never leave a share behind.
TEST(TerminalConcurrency, TerminalsShareOneFilesystem) {
  auto fs = std::make_shared<fs::FileSystem>();
  SimpleTerminal setup(fs);
  ASSERT_EQ(setup.run("touch shared"), "");

  constexpr int kThreads = 4;
  constexpr int kRounds = 50;
  std::vector<std::string> failures(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&fs, &failure = failures[t], t] {
      SimpleTerminal term(fs);
      const std::string dir = "t" + std::to_string(t);
      auto expect = [&](const std::string& line, const std::string& out) {
        auto result = term.run(line);
        if (failure.empty() && result != out) {
          failure = line + " gave " + (result ? *result : "error " + result.error());
        }
      };
      for (int round = 0; round < kRounds; ++round) {
        auto help = term.run("help");
        if (failure.empty() && (!help || std::count(help->begin(), help->end(), '\n') != 9)) {
          failure = "help did not list nine commands";
        }
        expect("mkdir " + dir, "");
        expect("cd " + dir, "");
        expect("touch f", "");
        expect("mkdir d", "");
        expect("ls", "f\nd/\n");
        expect("cat /shared", "");
        expect("pwd", "/" + dir);
        expect("cd ..", "");
        expect("rm -r " + dir, "");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& failure : failures) EXPECT_EQ(failure, "");
  EXPECT_EQ(setup.run("ls"), "shared\n");
  EXPECT_EQ(setup.run("rm shared"), "");  // no reader's share is left
}

}  // namespace
}  // namespace sandrig::terminal
