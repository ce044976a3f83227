#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <pthread.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "pool/home_directory.h"

namespace sandrig::pool {
namespace {

namespace fs = std::filesystem;

constexpr const char* kParentFailure = "Failed to create the parent folder of the temporary home directory";

// A scratch directory standing in for /tmp, and a umask set for the test.
class PoolHome : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/sandrig-home-XXXXXX";
    base_ = fs::path(::mkdtemp(pattern));
    root_ = base_ / "tmp_user_home";
    saved_umask_ = ::umask(022);
  }
  void TearDown() override {
    ::umask(saved_umask_);
    fs::remove_all(base_);
  }

  std::expected<std::string, std::string> prepare(const std::string& name = "test_A") {
    return prepare_home(root_.string(), name, ::geteuid());
  }
  static mode_t mode_of(const fs::path& path) {
    struct stat info;
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
  }
  static void write_file(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

  fs::path base_;
  fs::path root_;
  mode_t saved_umask_;
};

TEST_F(PoolHome, CreatesAnEmptyHomeOwnedByTheAccount) {
  auto home = prepare();
  ASSERT_TRUE(home.has_value()) << home.error();
  EXPECT_EQ(*home, fs::canonical(root_ / "test_A").string());
  EXPECT_TRUE(fs::is_directory(*home));
  EXPECT_TRUE(fs::is_empty(*home));
  EXPECT_EQ(mode_of(root_), 0755);
  EXPECT_EQ(mode_of(*home), 0700);
}

TEST_F(PoolHome, TheHomeIsPrivateAndTheParentNotWritableByOthersWhateverTheUmask) {
  ::umask(0);
  auto home = prepare();
  ASSERT_TRUE(home.has_value()) << home.error();
  EXPECT_EQ(mode_of(root_), 0755);  // created here: group and other write cleared
  EXPECT_EQ(mode_of(*home), 0700);
  ::umask(077);
  fs::remove_all(root_);
  home = prepare();
  ASSERT_TRUE(home.has_value()) << home.error();
  EXPECT_EQ(mode_of(root_), 0700);
  EXPECT_EQ(mode_of(*home), 0700);
  // A set-group-id root would hand its bit down to a new directory.
  ASSERT_EQ(::chmod(root_.c_str(), 02755), 0);
  home = prepare();
  ASSERT_TRUE(home.has_value()) << home.error();
  EXPECT_EQ(mode_of(*home), 0700);
}

TEST_F(PoolHome, EverythingAnEarlierHolderLeftIsDeleted) {
  ASSERT_TRUE(prepare().has_value());
  const fs::path outside = base_ / "outside";
  fs::create_directories(outside / "keep");
  write_file(outside / "keep" / "file", "precious");
  fs::create_directories(root_ / "test_A" / "a" / "b");
  write_file(root_ / "test_A" / "a" / "b" / "f", "x");
  write_file(root_ / "test_A" / ".bashrc", "x");
  fs::create_directory_symlink(outside, root_ / "test_A" / "a" / "link");
  fs::create_symlink(outside / "keep" / "file", root_ / "test_A" / "filelink");
  ::chmod((root_ / "test_A" / "a" / "b").c_str(), 0);  // root removes it anyway; others fail below

  auto home = prepare();
  if (::geteuid() == 0) {
    ASSERT_TRUE(home.has_value()) << home.error();
    EXPECT_TRUE(fs::is_empty(*home));
  }
  // Links were removed, never followed.
  EXPECT_TRUE(fs::exists(outside / "keep" / "file"));
  std::ifstream in(outside / "keep" / "file");
  std::string text;
  in >> text;
  EXPECT_EQ(text, "precious");
}

TEST_F(PoolHome, ALinkAtTheHomePathIsRemovedNotFollowed) {
  fs::create_directories(root_);
  ::chmod(root_.c_str(), 0755);
  const fs::path outside = base_ / "outside";
  fs::create_directories(outside);
  write_file(outside / "file", "precious");
  fs::create_directory_symlink(outside, root_ / "test_A");
  fs::create_symlink(base_ / "missing", root_ / "test_B");  // dangling

  auto home = prepare("test_A");
  ASSERT_TRUE(home.has_value()) << home.error();
  EXPECT_FALSE(fs::is_symlink(root_ / "test_A"));
  EXPECT_TRUE(fs::exists(outside / "file"));
  auto dangling = prepare("test_B");
  ASSERT_TRUE(dangling.has_value()) << dangling.error();
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(root_ / "test_B")));
}

TEST_F(PoolHome, AnUnsafeParentIsRefusedAndLeftUntouched) {
  fs::create_directories(root_ / "test_A");
  write_file(root_ / "test_A" / "file", "kept");
  for (const mode_t unsafe : {0775, 0757, 0777, 01777}) {
    ::chmod(root_.c_str(), unsafe);
    auto home = prepare();
    ASSERT_FALSE(home.has_value()) << std::oct << unsafe;
    EXPECT_EQ(home.error(), kParentFailure);
    EXPECT_TRUE(fs::exists(root_ / "test_A" / "file"));
    EXPECT_EQ(mode_of(root_), unsafe);
  }
}

TEST_F(PoolHome, AParentOwnedBySomeoneElseIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the folder away";
  fs::create_directories(root_ / "test_A");
  ::chmod(root_.c_str(), 0755);
  ASSERT_EQ(::chown(root_.c_str(), 54321, 54321), 0);
  auto home = prepare();
  ASSERT_FALSE(home.has_value());
  EXPECT_EQ(home.error(), kParentFailure);
  EXPECT_TRUE(fs::exists(root_ / "test_A"));
}

TEST_F(PoolHome, AParentThatIsNoDirectoryIsRefused) {
  write_file(root_, "not a folder");
  auto home = prepare();
  ASSERT_FALSE(home.has_value());
  EXPECT_EQ(home.error(), kParentFailure);
}

TEST_F(PoolHome, ALinkAtTheParentIsRefusedWhereverItLeads) {
  // Whoever made the link chose its target: a safe-looking folder of
  // root's is refused as much as an open one, and neither is touched.
  for (const mode_t target_mode : {0700, 0755, 0777}) {
    const fs::path target = base_ / ("target" + std::to_string(target_mode));
    fs::create_directories(target / "test_A");
    write_file(target / "test_A" / "kept", "x");
    ::chmod(target.c_str(), target_mode);
    fs::remove(root_);
    fs::create_directory_symlink(target, root_);
    auto refused = prepare();
    ASSERT_FALSE(refused.has_value()) << std::oct << target_mode;
    EXPECT_EQ(refused.error(), kParentFailure);
    EXPECT_TRUE(fs::exists(target / "test_A" / "kept"));
    EXPECT_EQ(std::distance(fs::directory_iterator(target), {}), 1);
    EXPECT_TRUE(fs::is_symlink(root_));
  }
}

TEST_F(PoolHome, ALinkAboveTheParentIsResolved) {
  // As where /tmp itself is a link: the home's path is the resolved one.
  const fs::path real = base_ / "real";
  fs::create_directories(real);
  fs::create_directory_symlink(real, base_ / "tmp");
  root_ = base_ / "tmp" / "tmp_user_home";
  auto home = prepare();
  ASSERT_TRUE(home.has_value()) << home.error();
  EXPECT_EQ(*home, (fs::canonical(real) / "tmp_user_home" / "test_A").string());
  EXPECT_TRUE(fs::is_directory(real / "tmp_user_home" / "test_A"));
}

TEST_F(PoolHome, HomeIsOwnedByUidAsUserAndGroup) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the folder away";
  auto home = prepare_home(root_.string(), "test_A", 54321);
  ASSERT_TRUE(home.has_value()) << home.error();
  struct stat info;
  ASSERT_EQ(::stat(home->c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 54321u);
  EXPECT_EQ(info.st_gid, 54321u);
  EXPECT_EQ(::geteuid(), 0u);
  struct stat parent;
  ASSERT_EQ(::stat(root_.c_str(), &parent), 0);
  EXPECT_EQ(parent.st_uid, 0u);  // the parent is not given away
}

TEST_F(PoolHome, AnyDepthIsRemovedOnASmallStackWithFewDescriptors) {
  // An earlier holder may leave a chain of directories of any depth.
  ASSERT_TRUE(prepare().has_value());
  int fd = ::open((root_ / "test_A").c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < 4000 && fd >= 0; ++level) {
    ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
    if (level % 100 == 0) ::close(::openat(fd, "file", O_CREAT | O_WRONLY, 0644));
    const int deeper = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = deeper;
  }
  ASSERT_GE(fd, 0);
  ::close(fd);
  const auto open_fds = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
  const auto fds_before = open_fds();

  // A thread with a small stack, as threads get on some C libraries.
  struct Call {
    std::string root;
    std::expected<std::string, std::string> home;
  } call{root_.string(), std::unexpected("not run")};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 128 * 1024);
  pthread_t thread;
  ASSERT_EQ(::pthread_create(
                &thread, &attr,
                [](void* raw) -> void* {
                  auto* c = static_cast<Call*>(raw);
                  c->home = prepare_home(c->root, "test_A", ::geteuid());
                  return nullptr;
                },
                &call),
            0);
  ::pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  ASSERT_TRUE(call.home.has_value()) << call.home.error();
  EXPECT_TRUE(fs::is_empty(*call.home));
  EXPECT_EQ(open_fds(), fds_before);
}

TEST_F(PoolHome, ANonUtf8PathIsRefused) {
  const fs::path odd = base_ / "odd\xff";
  fs::create_directories(odd);
  ::chmod(odd.c_str(), 0755);
  root_ = odd / "tmp_user_home";
  auto home = prepare();
  ASSERT_FALSE(home.has_value());
  EXPECT_EQ(home.error(), "Failed to convert the path to a valid utf-8 string");
}

}  // namespace
}  // namespace sandrig::pool
