#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "fs/file_handle.h"
#include "fs/file_system.h"
#include "terminal/simple_terminal.h"

namespace sandrig::terminal {
namespace {

// Every case starts from the same tree: directory docs (id 1), file a.txt
// (id 2) in the root and file b.txt (id 3) in docs.
class TerminalFixture {
 public:
  TerminalFixture() : fs_(std::make_shared<fs::FileSystem>()), term_(fs_) {
    for (const char* line : {"mkdir docs", "touch a.txt", "touch docs/b.txt"}) run_ok(line);
  }

  std::expected<std::string, std::string> run(const std::string& line) { return term_.run(line); }
  void run_ok(const std::string& line) {
    auto result = term_.run(line);
    ASSERT_TRUE(result.has_value()) << line << ": " << result.error();
  }
  const std::shared_ptr<fs::FileSystem>& fs() const { return fs_; }

 private:
  std::shared_ptr<fs::FileSystem> fs_;
  SimpleTerminal term_;
};

struct LineCase {
  std::vector<std::string> setup;  // lines that must succeed first
  std::string line;
  bool ok;
  std::string text;  // the output, or the error message
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << '"' << c.line << '"'; }

LineCase ok(std::vector<std::string> setup, std::string line, std::string out) {
  return {std::move(setup), std::move(line), true, std::move(out)};
}
LineCase err(std::vector<std::string> setup, std::string line, std::string message) {
  return {std::move(setup), std::move(line), false, std::move(message)};
}

class TerminalLineTest : public testing::TestWithParam<LineCase> {};

TEST_P(TerminalLineTest, GivesTheText) {
  TerminalFixture t;
  for (const std::string& line : GetParam().setup) t.run_ok(line);
  auto result = t.run(GetParam().line);
  if (GetParam().ok) {
    ASSERT_TRUE(result.has_value()) << result.error();
    EXPECT_EQ(*result, GetParam().text);
  } else {
    ASSERT_FALSE(result.has_value()) << *result;
    EXPECT_EQ(result.error(), GetParam().text);
  }
}

const std::string kRootListing = "a.txt\ndocs/\n";
const std::string kRmUsageTail =
    "\n\nUsage: sandrig [OPTIONS] <TARGET>\n\nFor more information, try '--help'.\n";

INSTANTIATE_TEST_SUITE_P(
    Driver, TerminalLineTest,
    testing::Values(
        ok({}, "", ""), ok({}, "   ", ""), ok({}, "# note", ""), ok({}, "ls # note", kRootListing),
        ok({}, R"(echo 'a b' "c\"d" e\ f)", "a b c\"d e f"),
        err({}, "echo \"x", "The command was not correctly formatted"),
        err({}, "echo 'x", "The command was not correctly formatted"),
        err({}, "echo x\\", "The command was not correctly formatted"),
        err({}, "LS", "LS: command not found"), err({}, "nosuch arg", "nosuch: command not found"),
        err({}, "'' x", ": command not found"),
        err({}, "cd\\ docs", "cd docs: command not found")));

INSTANTIATE_TEST_SUITE_P(
    Navigation, TerminalLineTest,
    testing::Values(
        ok({}, "pwd", "/"), ok({}, "ls", kRootListing), ok({}, "ls ''", kRootListing),
        ok({"mkdir e"}, "ls e", ""), err({}, "cd", "cd: missing argument"),
        ok({"cd docs"}, "pwd", "/docs"), ok({"cd docs", "cd .."}, "pwd", "/"),
        ok({"cd .."}, "pwd", "/"), ok({"cd docs extra"}, "pwd", "/docs"),
        ok({"cd docs", "cd ''", "cd ."}, "pwd", "/docs"), ok({"cd docs", "cd /"}, "pwd", "/"),
        ok({"cd docs"}, "pwd anything", "/docs"), ok({"mkdir docs/sub", "cd docs", "cd sub"}, "pwd", "/docs/sub"),
        err({}, "cd a.txt", "cd: a.txt: Not a directory"),
        err({}, "cd nope", "cd: cannot access 'nope': nope: Inode not found"),
        err({}, "cd /nope", "cd: cannot access '/nope': nope: Inode not found"),
        err({"mkdir docs/sub"}, "cd /docs/sub",
            "cd: cannot access '/docs/sub': docs/sub: Inode not found"),
        err({}, "cd docs/", "cd: cannot access 'docs/': docs/: Inode not found"),
        err({}, "cd //", "cd: cannot access '//': /: Inode not found"),
        err({}, "ls a.txt", "ls: 2: Not a directory"), err({}, "ls nope", "nope: Inode not found"),
        err({}, "ls /nope", "nope: Inode not found"),
        ok({"cd docs"}, "ls /", kRootListing), ok({"cd docs"}, "ls ..", kRootListing),
        ok({"cd docs"}, "ls", "b.txt\n"), ok({}, "ls /docs", "b.txt\n"),
        ok({"cd docs"}, "ls /docs", "b.txt\n"),
        // directories after all other entries, whatever the creation order
        ok({"mkdir e", "touch f", "mkdir g"}, "ls", "a.txt\nf\ndocs/\ne/\ng/\n"),
        // a removed current directory
        ok({"mkdir gone", "cd gone", "rm /gone"}, "echo still", "still"),
        err({"mkdir gone", "cd gone", "rm /gone"}, "pwd", "pwd: cannot access '4': Inode not found"),
        err({"mkdir gone", "cd gone", "rm /gone"}, "ls", "ls: cannot access '4': Inode not found"),
        err({"mkdir gone", "cd gone", "rm /gone"}, "ls x", "x: Inode not found"),
        err({"mkdir gone", "cd gone", "rm /gone"}, "cd ..", "cd: cannot access '..': ..: Inode not found"),
        ok({"mkdir gone", "cd gone", "rm /gone", "cd /"}, "pwd", "/")));

INSTANTIATE_TEST_SUITE_P(
    Cat, TerminalLineTest,
    testing::Values(
        ok({}, "cat a.txt", ""), err({}, "cat", "cat: missing argument"),
        err({}, "cat docs", "cat: docs: Is a directory"), err({}, "cat /", "cat: /: Is a directory"),
        err({}, "cat nope", "nope: Inode not found"), err({"cd docs"}, "cat a.txt", "a.txt: Inode not found"),
        err({"cd docs"}, "cat /docs/b.txt", "docs/b.txt: Inode not found"),
        ok({"cd docs"}, "cat b.txt nope", ""), ok({"cd docs"}, "cat /a.txt", "")));

INSTANTIATE_TEST_SUITE_P(
    MkdirTouch, TerminalLineTest,
    testing::Values(
        err({}, "mkdir", "mkdir: missing argument"), err({}, "touch", "touch: missing argument"),
        ok({"mkdir d"}, "ls", "a.txt\ndocs/\nd/\n"), ok({"touch t"}, "ls", "a.txt\nt\ndocs/\n"),
        err({"mkdir d"}, "mkdir d", "mkdir: cannot create directory 'd': Resource already exists"),
        err({}, "touch a.txt", "touch: cannot create file 'a.txt': Resource already exists"),
        err({}, "touch docs", "touch: cannot create file 'docs': Resource already exists"),
        ok({"cd docs", "mkdir /x"}, "ls", "b.txt\nx/\n"),
        err({"cd docs", "mkdir /x"}, "cd /x", "cd: cannot access '/x': x: Inode not found"),
        ok({"cd docs", "mkdir /docs/y"}, "ls", "b.txt\ny/\n"),
        ok({"cd docs", "touch ../up"}, "ls /", "a.txt\nup\ndocs/\n"),
        ok({"touch 'docs\\c'"}, "ls docs", "b.txt\nc\n"),
        err({}, "mkdir a/b/c", "a/b: Inode not found"),
        err({"mkdir docs/sub"}, "mkdir docs/sub/c", "docs/sub: Inode not found"),
        err({}, "mkdir nope/x", "nope: Inode not found"),
        err({}, "touch a.txt/x", "touch: 2: Not a directory"),
        err({}, "mkdir a.txt/x", "mkdir: 2: Not a directory"),
        err({}, "mkdir docs/", "mkdir: cannot create directory 'docs/': Resource already exists"),
        err({}, "mkdir .", "mkdir: cannot create directory '.': Resource already exists"),
        err({}, "touch /", "touch: cannot create file '/': Resource already exists"),
        ok({"mkdir d extra"}, "ls d", ""),
        // a removed current directory is a parent that cannot be read
        err({"mkdir gone", "cd gone", "rm /gone"}, "mkdir x", "mkdir: cannot access '4': Inode not found"),
        err({"mkdir gone", "cd gone", "rm /gone"}, "touch /x", "touch: cannot access '4': Inode not found")));

INSTANTIATE_TEST_SUITE_P(
    Rm, TerminalLineTest,
    testing::Values(
        ok({"rm a.txt"}, "ls", "docs/\n"), ok({"cd docs", "rm b.txt"}, "ls", ""),
        err({}, "rm docs/b.txt", "docs/b.txt: Inode not found"),
        err({}, "rm docs", "rm: cannot remove 'docs': Directory is not empty"),
        ok({"rm -r docs"}, "ls", "a.txt\n"), ok({"rm docs --recursive"}, "ls", "a.txt\n"),
        ok({"mkdir e", "rm e"}, "ls", kRootListing), ok({"rm -r a.txt"}, "ls", "docs/\n"),
        err({}, "rm", "rm: missing argument"), err({}, "rm nope", "nope: Inode not found"),
        err({}, "rm /docs/b.txt", "docs/b.txt: Inode not found"),
        err({}, "rm --version", "rm: sandrig 0.1.3\n"),
        err({}, "rm -x a", "rm: error: unexpected argument '-x' found" + kRmUsageTail),
        err({}, "rm a.txt docs", "rm: error: unexpected argument 'docs' found" + kRmUsageTail),
        err({}, "rm -r", "rm: error: the following required arguments were not provided:\n  <TARGET>" +
                             kRmUsageTail),
        err({}, "rm -- -r", "-r: Inode not found"),
        err({}, "rm -r /", "rm: cannot remove '/': Resource is currently in use"),
        err({}, "rm /", "rm: cannot remove '/': Resource is currently in use"),
        err({}, "rm ..", "rm: cannot remove '..': Resource is currently in use"),
        err({}, "rm -r ''", "rm: cannot remove '': Resource is currently in use"),
        err({"cd docs"}, "rm -r ..", "rm: cannot remove '..': Resource is currently in use")));

INSTANTIATE_TEST_SUITE_P(
    Echo, TerminalLineTest,
    testing::Values(ok({}, "echo", ""), ok({}, "echo hello world", "hello world"),
                    ok({}, "echo a   b", "a b"), ok({}, "echo '' x", " x"),
                    ok({}, "echo 'a  b'", "a  b"), ok({}, "echo ☃ 'é'", "☃ é")));

TEST(TerminalHelp, ListsEveryCommandOnce) {
  TerminalFixture t;
  for (const char* line : {"help", "help cd"}) {
    auto out = t.run(line);
    ASSERT_TRUE(out.has_value());
    ASSERT_TRUE(out->ends_with('\n'));
    std::vector<std::string> names;
    std::size_t start = 0;
    for (std::size_t end; (end = out->find('\n', start)) != std::string::npos; start = end + 1) {
      names.push_back(out->substr(start, end - start));
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"cat", "cd", "echo", "help", "ls", "mkdir", "pwd",
                                               "rm", "touch"}));
  }
}

TEST(TerminalRm, RootIsNeverRemoved) {
  for (const char* line : {"rm -r /", "rm -r ..", "rm /", "rm -r .", "rm --recursive ''"}) {
    TerminalFixture t;
    EXPECT_FALSE(t.run(line).has_value()) << line;
    EXPECT_EQ(t.run("ls"), kRootListing) << line;
    EXPECT_EQ(t.run("ls docs"), "b.txt\n") << line;
  }
}

TEST(TerminalFailures, LeaveTheCurrentDirectory) {
  TerminalFixture t;
  t.run_ok("cd docs");
  for (const char* line : {"cd b.txt", "cd nope", "cd", "nosuch", "echo 'x", "rm -x"}) {
    EXPECT_FALSE(t.run(line).has_value()) << line;
    EXPECT_EQ(t.run("pwd"), "/docs") << line;
  }
}

TEST(TerminalSharing, TerminalsKeepTheirOwnDirectory) {
  TerminalFixture t;
  SimpleTerminal other(t.fs());
  t.run_ok("cd docs");
  EXPECT_EQ(other.run("pwd"), "/");
  EXPECT_EQ(other.run("mkdir docs/new"), "");
  EXPECT_EQ(t.run("ls"), "b.txt\nnew/\n");
  // the other terminal removes this one's current directory
  EXPECT_EQ(other.run("rm -r docs"), "");
  EXPECT_EQ(t.run("pwd"), std::unexpected("pwd: cannot access '1': Inode not found"));
}

// Writes `bytes` into the file at `path` through a write handle.
void write_file(const std::shared_ptr<fs::FileSystem>& fs, const std::string& path,
                const std::string& bytes) {
  auto handle = fs::FileSystem::open(fs, path, fs::FileHandleType(fs::FileHandleType::WRITE), false);
  ASSERT_TRUE(handle.has_value());
  std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
  ASSERT_TRUE(handle->write(data).has_value());
  ASSERT_TRUE(handle->close().has_value());
}

TEST(TerminalCat, PrintsTheBytesAsText) {
  TerminalFixture t;
  write_file(t.fs(), "/a.txt", "hi");
  EXPECT_EQ(t.run("cat a.txt"), "hi");
  write_file(t.fs(), "/docs/b.txt", "ok \xFF\xE2\x98 \xE2\x98\x83\n" + std::string(100, 'x'));
  EXPECT_EQ(t.run("cat /docs"), std::unexpected("cat: /docs: Is a directory"));
  t.run_ok("cd docs");
  EXPECT_EQ(t.run("cat b.txt"), "ok \xEF\xBF\xBD\xEF\xBF\xBD \xE2\x98\x83\n" + std::string(100, 'x'));
}

TEST(TerminalCat, LeavesNoLockShareBehind) {
  TerminalFixture t;
  write_file(t.fs(), "/a.txt", "data");
  for (const char* line : {"cat a.txt", "cat a.txt", "cat docs", "cat nope"}) (void)t.run(line);
  auto writer = fs::FileSystem::open(t.fs(), "/a.txt", fs::FileHandleType(fs::FileHandleType::WRITE), false);
  ASSERT_TRUE(writer.has_value()) << writer.error().display();

  // while a writer holds the file, cat fails and takes nothing
  EXPECT_EQ(t.run("cat a.txt"), std::unexpected("cat: cannot access 'a.txt': Resource is currently in use"));
  EXPECT_EQ(t.run("rm a.txt"), std::unexpected("rm: cannot remove 'a.txt': Resource is currently in use"));
  ASSERT_TRUE(writer->close().has_value());
  EXPECT_EQ(t.run("rm a.txt"), "");
}

TEST(TerminalCat, ReadersShareTheFile) {
  TerminalFixture t;
  write_file(t.fs(), "/a.txt", "shared");
  auto reader = fs::FileSystem::open(t.fs(), "/a.txt", fs::FileHandleType(fs::FileHandleType::READ), false);
  ASSERT_TRUE(reader.has_value());
  EXPECT_EQ(t.run("cat a.txt"), "shared");
  EXPECT_EQ(t.run("rm a.txt"), std::unexpected("rm: cannot remove 'a.txt': Resource is currently in use"));
  ASSERT_TRUE(reader->close().has_value());
  EXPECT_EQ(t.run("rm a.txt"), "");
}

}  // namespace
}  // namespace sandrig::terminal
