#pragma once

// Test support: a temporary directory of fake host programs put first on
// PATH (or alone on it), restored when the object goes away.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace sandrig::pool::testing {

class FakeHost {
 public:
  // `only` hides the real programs: PATH holds the fake directory alone.
  explicit FakeHost(bool only = false) {
    char pattern[] = "/tmp/sandrig-fake-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    const char* path = ::getenv("PATH");
    saved_path_ = path ? path : "";
    const std::string next = only ? dir_ : dir_ + ":" + saved_path_;
    ::setenv("PATH", next.c_str(), 1);
  }
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;
  ~FakeHost() {
    ::setenv("PATH", saved_path_.c_str(), 1);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Installs a fake program `name` running the shell `body`.
  void program(const std::string& name, const std::string& body) {
    const std::string file = dir_ + "/" + name;
    std::ofstream(file) << "#!/bin/sh\nPATH=/usr/sbin:/usr/bin:/sbin:/bin\n" << body << "\n";
    ::chmod(file.c_str(), 0755);
  }
  // A fake program that appends its arguments as a line to log(name).
  void logging_program(const std::string& name, const std::string& then = "exit 0") {
    program(name, "echo \"$*\" >> '" + log_path(name) + "'\n" + then);
  }
  std::string log_path(const std::string& name) const { return dir_ + "/" + name + ".log"; }
  // What log_path(name) holds ("" when the program never ran).
  std::string log(const std::string& name) const {
    std::ifstream in(log_path(name));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
  std::string saved_path_;
};

// True when running as root inside tests/isolated.sh, where accounts and
// /tmp may be changed freely.
inline bool isolated_root() {
  const char* flag = ::getenv("SANDRIG_ISOLATED");
  return ::geteuid() == 0 && flag != nullptr && std::string(flag) == "1";
}

#define SANDRIG_REQUIRE_ISOLATED_ROOT()                                                  \
  do {                                                                                   \
    if (!::sandrig::pool::testing::isolated_root())                                      \
      GTEST_SKIP() << "needs root inside tests/isolated.sh (changes /tmp and accounts)"; \
  } while (0)

}  // namespace sandrig::pool::testing
