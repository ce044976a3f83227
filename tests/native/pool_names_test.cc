#include <gtest/gtest.h>

#include <cctype>
#include <iterator>
#include <optional>
#include <set>
#include <string>

#include "common/internal_failure.h"
#include "pool/name_generator.h"
#include "pool/session_command.h"
#include "pool/userid.h"
#include "pool_fake_host.h"

namespace sandrig::pool {
namespace {

TEST(PoolNames, EveryGeneratorYieldsTheSameSequence) {
  NameGenerator first;
  EXPECT_EQ(first.next_name(), "test_UKUKKUUK");
  EXPECT_EQ(first.next_name(), "test_jii8OIPW");
  EXPECT_EQ(first.next_name(), "test_9mP8mMxu");
  NameGenerator second;
  EXPECT_EQ(second.next_name(), "test_UKUKKUUK");
}

TEST(PoolNames, NamesAreEightLettersOrDigitsAndDistinct) {
  NameGenerator names;
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    const std::string name = names.next_name();
    ASSERT_EQ(name.size(), 13u);
    ASSERT_EQ(name.substr(0, 5), "test_");
    for (const char c : name.substr(5)) ASSERT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << name;
    seen.insert(name);
  }
  EXPECT_EQ(seen.size(), 2000u);
}

TEST(PoolUserid, ParsesOnlyTheFirstLineAsAnUnsigned32BitNumber) {
  const struct {
    std::string output;
    std::optional<std::uint32_t> uid;
  } cases[] = {
      {"1000\n", 1000},        {"0", 0},
      {"42\r\n", 42},          {"+7\n", 7},
      {"12\nnot a number", 12}, {"4294967295\n", 4294967295u},
      {"4294967296\n", {}},    {"99999999999999999999999\n", {}},
      {"", {}},                {"\n", {}},
      {"-1\n", {}},            {"++1\n", {}},
      {" 1\n", {}},            {"1 \n", {}},
      {"12a\n", {}},           {"42\r", {}},  // a '\r' counts only before '\n'
      {"+\n", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_uid_output(c.output), c.uid) << '"' << c.output << '"';
}

TEST(PoolUserid, RunsIdWithTheName) {
  testing::FakeHost host;
  host.logging_program("id", "echo 1234");
  EXPECT_EQ(userid("test_name"), 1234u);
  EXPECT_EQ(host.log("id"), "-u test_name\n");
}

TEST(PoolUserid, FailingIdMeansNoAccount) {
  testing::FakeHost host;
  host.program("id", "echo 1234; exit 1");
  EXPECT_EQ(userid("nobody_here"), std::nullopt);
}

TEST(PoolUserid, InvalidUtf8OutputIsReported) {
  testing::FakeHost host;
  host.program("id", "printf '12\\377\\n'");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(userid("x"), std::nullopt);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Failed to convert the result back to a valid utf-8 string\n");
}

TEST(PoolUserid, MissingIdIsAnInternalFailure) {
  testing::FakeHost host(/*only=*/true);
  try {
    userid("x");
    FAIL() << "no failure";
  } catch (const InternalFailure& failure) {
    EXPECT_EQ(std::string(failure.what()),
              "Failed to execute the command `id`: No such file or directory (os error 2)");
  }
}

TEST(PoolSessionCommand, OrdinaryPathGivesThePlainCommand) {
  EXPECT_EQ(session_shell_command("/tmp/tmp_user_home/test_UKUKKUUK"),
            "export HOME=\"/tmp/tmp_user_home/test_UKUKKUUK\"; cd \"/tmp/tmp_user_home/test_UKUKKUUK\"; "
            "exec /bin/bash");
}

TEST(PoolSessionCommand, ShellSpecialCharactersAreEscaped) {
  EXPECT_EQ(session_shell_command("/a\"b\\c$d`e'f g"),
            "export HOME=\"/a\\\"b\\\\c\\$d\\`e'f g\"; cd \"/a\\\"b\\\\c\\$d\\`e'f g\"; exec /bin/bash");
}

TEST(PoolSessionCommand, EscapedPathReachesTheShellUnchanged) {
  // The shell must see the path itself, never code: run the command's
  // assignment and print what HOME became.
  testing::FakeHost host;
  const std::string path = "/x\"; echo injected; \"$(id)`id`\\";
  const std::string command = session_shell_command(path);
  const std::string assignment = command.substr(0, command.find("; cd \""));
  const std::string out = host.dir() + "/home.out";
  host.program("probe", assignment + "; printf '%s' \"$HOME\" > '" + out + "'");
  ASSERT_EQ(std::system((host.dir() + "/probe").c_str()), 0);
  std::ifstream in(out);
  const std::string seen((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(seen, path);
}

}  // namespace
}  // namespace sandrig::pool
