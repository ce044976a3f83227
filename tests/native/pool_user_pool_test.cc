#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <vector>
#include <fstream>
#include <string>

#include "common/internal_failure.h"
#include "pool/home_directory.h"
#include "pool/user.h"
#include "pool/user_pool.h"
#include "pool_fake_host.h"

namespace sandrig::pool {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRefused = "Failed to allocate a new user account";

// Fake `id` and `useradd` keeping accounts in a file "name uid" per line,
// and a fake `pkill` that only logs, so the pool's logic runs without
// touching real accounts. Homes still go to /tmp/tmp_user_home, hence the
// isolation.
class PoolAllocation : public ::testing::Test {
 protected:
  void SetUp() override {
    SANDRIG_REQUIRE_ISOLATED_ROOT();
    accounts_ = host_.dir() + "/accounts";
    std::ofstream(accounts_).flush();
    host_.logging_program("id", "uid=$(awk -v n=\"$2\" '$1 == n { print $2 }' '" + accounts_ +
                                    "')\n[ -n \"$uid\" ] || exit 1\necho \"$uid\"");
    host_.logging_program("useradd", "echo \"$1 $((70000 + $(wc -l < '" + accounts_ + "')))\" >> '" +
                                         accounts_ + "'");
    host_.logging_program("pkill", "exit 1");
    fs::remove_all(kHomeRoot);
  }

  void add_account(const std::string& name, std::uint32_t uid) {
    std::ofstream(accounts_, std::ios::app) << name << ' ' << uid << '\n';
  }
  static std::string name_of(const SharedUser& user) { return user->lock()->username(); }
  static std::size_t lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  }

  testing::FakeHost host_;
  std::string accounts_;
};

TEST_F(PoolAllocation, ZeroCapacityRefusesWithoutRunningAnything) {
  SharedPool pool = UserPool::make_shared(0);
  auto user = UserPool::alloc_user(pool);
  ASSERT_FALSE(user.has_value());
  EXPECT_EQ(user.error(), kRefused);
  EXPECT_EQ(host_.log("id") + host_.log("useradd"), "");
  EXPECT_EQ(pool.use_count(), 1);  // the allocation's reference was dropped
}

TEST_F(PoolAllocation, CreatesAccountsInNameOrderWithFreshHomes) {
  SharedPool pool = UserPool::make_shared(3);
  auto first = UserPool::alloc_user(pool);
  ASSERT_TRUE(first.has_value()) << first.error();
  auto second = UserPool::alloc_user(pool);
  ASSERT_TRUE(second.has_value()) << second.error();
  EXPECT_EQ(name_of(*first), "test_UKUKKUUK");
  EXPECT_EQ(name_of(*second), "test_jii8OIPW");
  EXPECT_EQ(host_.log("useradd"), "test_UKUKKUUK\ntest_jii8OIPW\n");
  EXPECT_EQ(host_.log("id"), "-u test_UKUKKUUK\n-u test_UKUKKUUK\n-u test_jii8OIPW\n-u test_jii8OIPW\n");

  const auto user = (*first)->lock();
  EXPECT_EQ(user->uid(), 70000u);
  EXPECT_EQ(user->home(), "/tmp/tmp_user_home/test_UKUKKUUK");
  struct stat info;
  ASSERT_EQ(::stat(user->home().c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 70000u);
  EXPECT_EQ(info.st_gid, 70000u);
  EXPECT_EQ(pool.use_count(), 3);
}

TEST_F(PoolAllocation, BoundIsEnforcedAndReleasedAccountsComeBack) {
  SharedPool pool = UserPool::make_shared(1);
  auto first = UserPool::alloc_user(pool);
  ASSERT_TRUE(first.has_value());
  const std::string home = (*first)->lock()->home();
  std::ofstream(home + "/left_behind") << "x";
  auto refused = UserPool::alloc_user(pool);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), kRefused);

  first->reset();
  EXPECT_EQ(host_.log("pkill"), "-u 70000\n");
  EXPECT_EQ(pool->lock()->free_users().size(), 1u);
  auto again = UserPool::alloc_user(pool);
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(name_of(*again), "test_UKUKKUUK");
  EXPECT_EQ(lines(host_.log("useradd")), 1u);
  EXPECT_TRUE(fs::is_empty(home));
}

TEST_F(PoolAllocation, IdleAccountsAreReusedLastReleasedFirst) {
  SharedPool pool = UserPool::make_shared(4);
  auto a = UserPool::alloc_user(pool).value();
  auto b = UserPool::alloc_user(pool).value();
  const std::string name_a = name_of(a), name_b = name_of(b);
  a.reset();
  b.reset();
  EXPECT_EQ(name_of(UserPool::alloc_user(pool).value()), name_b);
  // The previous result was released at once, so B is idle again on top.
  auto next = UserPool::alloc_user(pool).value();
  auto after = UserPool::alloc_user(pool).value();
  EXPECT_EQ(name_of(next), name_b);
  EXPECT_EQ(name_of(after), name_a);
  EXPECT_EQ(lines(host_.log("useradd")), 2u);
}

TEST_F(PoolAllocation, AnExistingAccountIsAdopted) {
  add_account("test_UKUKKUUK", 777);
  SharedPool pool = UserPool::make_shared(2);
  auto user = UserPool::alloc_user(pool);
  ASSERT_TRUE(user.has_value());
  EXPECT_EQ((*user)->lock()->uid(), 777u);
  EXPECT_EQ(host_.log("useradd"), "");
}

TEST_F(PoolAllocation, FailedUseraddIsReportedAndTheNextNameIsTried) {
  host_.logging_program("useradd", "echo 'useradd: permission denied' >&2; exit 1");
  SharedPool pool = UserPool::make_shared(2);
  ::testing::internal::CaptureStderr();
  auto user = UserPool::alloc_user(pool);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Failed to create the user account: useradd: permission denied\n\n");
  ASSERT_FALSE(user.has_value());
  EXPECT_EQ(user.error(), kRefused);
  EXPECT_TRUE(pool->lock()->users().empty());
  ::testing::internal::CaptureStderr();
  (void)UserPool::alloc_user(pool);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(host_.log("useradd"), "test_UKUKKUUK\ntest_jii8OIPW\n");
}

TEST_F(PoolAllocation, UseraddWithBadUtf8IsReportedWithoutItsOutput) {
  host_.logging_program("useradd", "printf 'bad \\377' >&2; exit 9");
  SharedPool pool = UserPool::make_shared(2);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(UserPool::alloc_user(pool).has_value());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Failed to create the user account: \n");
}

TEST_F(PoolAllocation, MissingUseraddPoisonsThePool) {
  testing::FakeHost only_id(/*only=*/true);
  only_id.program("id", "exit 1");
  SharedPool pool = UserPool::make_shared(2);
  for (const char* expected : {"Failed to execute the command `useradd`: No such file or directory (os error 2)",
                               "☢️ Poisoned lock"}) {
    try {
      (void)UserPool::alloc_user(pool);
      ADD_FAILURE() << "no failure";
    } catch (const InternalFailure& failure) {
      EXPECT_EQ(std::string(failure.what()), expected);
    }
  }
}

TEST_F(PoolAllocation, AnAccountWhoseHomeFailedIsSetAsideAndNeverLost) {
  fs::create_directories(kHomeRoot);
  ::chmod(std::string(kHomeRoot).c_str(), 0777);
  SharedPool pool = UserPool::make_shared(2);
  auto user = UserPool::alloc_user(pool);
  ASSERT_FALSE(user.has_value());
  EXPECT_EQ(user.error(), "Failed to create the parent folder of the temporary home directory");
  EXPECT_TRUE(pool->lock()->users().empty());
  EXPECT_EQ(pool->lock()->set_aside_users(), (std::vector<Account>{{70000, "test_UKUKKUUK"}}));
  EXPECT_EQ(pool.use_count(), 1);

  ::chmod(std::string(kHomeRoot).c_str(), 0755);
  // The pool has room: a new account comes before the one set aside.
  auto next = UserPool::alloc_user(pool);
  ASSERT_TRUE(next.has_value()) << next.error();
  EXPECT_EQ(name_of(*next), "test_jii8OIPW");
  // Full now: the one set aside is tried again, and works.
  auto again = UserPool::alloc_user(pool);
  ASSERT_TRUE(again.has_value()) << again.error();
  EXPECT_EQ(name_of(*again), "test_UKUKKUUK");
  EXPECT_TRUE(pool->lock()->set_aside_users().empty());
  EXPECT_FALSE(UserPool::alloc_user(pool).has_value());
  EXPECT_EQ(lines(host_.log("useradd")), 2u);
}

TEST_F(PoolAllocation, AHomeRootLinkPlantedByAnotherUserIsRefused) {
  // Another local user gets to /tmp/tmp_user_home first, with a link to a
  // folder of root's that no one else may write to.
  const fs::path target = "/tmp/rootish";
  fs::create_directories(target / "test_UKUKKUUK");
  std::ofstream(target / "test_UKUKKUUK" / "kept") << "x";
  ::chmod(target.c_str(), 0755);
  fs::create_directory_symlink(target, kHomeRoot);
  ASSERT_EQ(::lchown(std::string(kHomeRoot).c_str(), 54321, 54321), 0);
  SharedPool pool = UserPool::make_shared(1);
  auto user = UserPool::alloc_user(pool);
  ASSERT_FALSE(user.has_value());
  EXPECT_EQ(user.error(), "Failed to create the parent folder of the temporary home directory");
  EXPECT_TRUE(fs::exists(target / "test_UKUKKUUK" / "kept"));
  EXPECT_EQ(std::distance(fs::directory_iterator(target), {}), 1);
  fs::remove(kHomeRoot);
  fs::remove_all(target);
}

TEST_F(PoolAllocation, PoolOutlivesItsOwnerWhileUsersRemain) {
  SharedPool pool = UserPool::make_shared(1);
  auto user = UserPool::alloc_user(pool).value();
  std::weak_ptr<Mutex<UserPool>> watch = pool;
  pool.reset();
  EXPECT_FALSE(watch.expired());
  user.reset();
  EXPECT_TRUE(watch.expired());
}

TEST_F(PoolAllocation, ConcurrentHoldersNeverShareAnAccount) {
  SharedPool pool = UserPool::make_shared(3);
  std::mutex held_lock;
  std::set<std::string> held;
  std::atomic<bool> shared_account{false};
  std::atomic<int> handed_out{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 15; ++i) {
        auto user = UserPool::alloc_user(pool);
        if (!user) continue;  // all three in use right now
        ++handed_out;
        const std::string name = name_of(*user);
        {
          std::lock_guard<std::mutex> hold(held_lock);
          if (!held.insert(name).second) shared_account = true;
        }
        {
          std::lock_guard<std::mutex> hold(held_lock);
          held.erase(name);
        }
        user->reset();  // released after leaving `held`, so a quick reuse is no clash
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(shared_account);
  EXPECT_GT(handed_out.load(), 0);
  const auto guard = pool->lock();
  EXPECT_TRUE(guard->users().empty());
  EXPECT_LE(guard->free_users().size(), 3u);
  EXPECT_LE(lines(host_.log("useradd")), 3u);
}

// Release warnings, from a fake `pkill`; no real process is signalled.
struct ReleaseCase {
  std::string pkill;
  std::string warning;
};

class PoolRelease : public ::testing::TestWithParam<ReleaseCase> {};

TEST_P(PoolRelease, WarnsOnlyWhenPkillFailed) {
  testing::FakeHost host(/*only=*/true);
  if (!GetParam().pkill.empty()) host.logging_program("pkill", GetParam().pkill);
  SharedPool pool = UserPool::make_shared(1);
  auto user = std::make_shared<Mutex<User>>(kPoisonedLock, "test_x", "/nowhere", 4242u, pool);
  ::testing::internal::CaptureStderr();
  user.reset();
  const std::string expected =
      GetParam().warning.empty() ? "" : "⚠️ Failed to kill all processes of the user: " + GetParam().warning + "\n";
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), expected);
  if (!GetParam().pkill.empty()) {
    EXPECT_EQ(host.log("pkill"), "-u 4242\n");
  }
  EXPECT_EQ(pool.use_count(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, PoolRelease,
    ::testing::Values(ReleaseCase{"exit 0", ""}, ReleaseCase{"exit 1", ""},
                      ReleaseCase{"echo x >&2; exit 2", ""},
                      ReleaseCase{"echo 'pkill: denied' >&2; exit 3", "Failed exit code: 3 (pkill: denied\n)"},
                      ReleaseCase{"printf 'bad\\377' >&2; exit 200", "Failed exit code: 200 ()"},
                      ReleaseCase{"echo dying >&2; kill -9 $$", "Failed exit code: None (dying\n)"},
                      ReleaseCase{"", "Failed to execute the command `pkill`: No such file or directory (os error 2)"}));

TEST(PoolReleaseLock, PoisonedPoolIsReportedAndNothingIsGivenBack) {
  testing::FakeHost host(/*only=*/true);
  host.program("pkill", "exit 1");
  SharedPool pool = UserPool::make_shared(1);
  try {
    auto guard = pool->lock();
    throw InternalFailure("boom");
  } catch (const InternalFailure&) {
  }
  auto user = std::make_shared<Mutex<User>>(kPoisonedLock, "test_x", "/nowhere", 4242u, pool);
  ::testing::internal::CaptureStderr();
  EXPECT_NO_THROW(user.reset());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "☢️ Poisoned lock\n");
}

}  // namespace
}  // namespace sandrig::pool
