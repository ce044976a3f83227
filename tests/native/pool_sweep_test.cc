#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/mount.h>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pool/account_processes.h"
#include "pool/child_process.h"
#include "pool/home_directory.h"
#include "pool/sysv_ipc.h"
#include "pool/temp_entries.h"
#include "pool/user_pool.h"
#include "pool_fake_host.h"

namespace sandrig::pool {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kAccount = 61234;
constexpr std::uint32_t kOther = 61235;
constexpr std::uint32_t kThird = 61236;

// How a process of the account behaves, started in a forked child of the
// test (async-signal-safe calls only from there on).
enum class Stray {
  kIgnoresTerm,  // ignores SIGTERM and SIGHUP, sleeps forever
  kForkHopper,   // ignores them too, and keeps forking and exiting
  kEffectiveOnly,  // root with only the account's effective id: not the account's to kill
};

// Starts a process of `uid` behaving as `kind` and waits until it runs as
// `uid`; returns the direct child's pid (a hopper's first hop exits soon).
pid_t start_stray(std::uint32_t uid, Stray kind) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid != 0) {
    ::close(ready[1]);
    char byte;
    while (::read(ready[0], &byte, 1) < 0 && errno == EINTR) {
    }
    ::close(ready[0]);
    return pid;
  }
  ::close(ready[0]);
  if (kind == Stray::kEffectiveOnly) {
    if (::setresuid(static_cast<uid_t>(-1), uid, static_cast<uid_t>(-1)) != 0) ::_exit(1);
  } else if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0) {
    ::_exit(1);
  }
  ::signal(SIGTERM, SIG_IGN);
  ::signal(SIGHUP, SIG_IGN);
  (void)!::write(ready[1], "x", 1);
  ::close(ready[1]);
  for (;;) {
    if (kind == Stray::kForkHopper && ::fork() > 0) ::_exit(0);
    ::poll(nullptr, 0, 2);
  }
}

class PoolSweep : public ::testing::Test {
 protected:
  void SetUp() override { SANDRIG_REQUIRE_ISOLATED_ROOT(); }
  // Reaps the direct children started by the test.
  void TearDown() override {
    for (const pid_t pid : children_) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  pid_t stray(std::uint32_t uid, Stray kind) {
    const pid_t pid = start_stray(uid, kind);
    children_.push_back(pid);
    return pid;
  }
  std::vector<pid_t> children_;
};

TEST_F(PoolSweep, EveryProcessOfTheAccountIsKilledAndNoOtherOne) {
  const pid_t ignorer = stray(kAccount, Stray::kIgnoresTerm);
  stray(kAccount, Stray::kForkHopper);
  const pid_t bystander = stray(kOther, Stray::kIgnoresTerm);
  ASSERT_EQ(account_has_processes(kAccount), true);

  EXPECT_TRUE(kill_account_processes(kAccount));
  EXPECT_EQ(account_has_processes(kAccount), false);
  int status = 0;
  ASSERT_EQ(::waitpid(ignorer, &status, 0), ignorer);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_EQ(::waitpid(bystander, &status, WNOHANG), 0);  // still running
  EXPECT_EQ(account_has_processes(kOther), true);
}

TEST_F(PoolSweep, AProcessThatCannotBeKilledFailsWithinTheBound) {
  // Only root could have made it; the account itself could not signal it.
  stray(kAccount, Stray::kEffectiveOnly);
  EXPECT_FALSE(kill_account_processes(kAccount, std::chrono::milliseconds(100)));
  EXPECT_EQ(account_has_processes(kAccount), true);
}

TEST_F(PoolSweep, RootIsNeverTheAccount) {
  EXPECT_FALSE(kill_account_processes(0));
  EXPECT_EQ(::kill(::getpid(), 0), 0);
}

TEST_F(PoolSweep, IpcObjectsOfTheAccountAreRemovedOthersKept) {
  // Owned by the account, created by it, and of someone else.
  const auto owned_by = [](int id, int (*set)(int, std::uint32_t), std::uint32_t uid) {
    EXPECT_GE(id, 0);
    EXPECT_EQ(set(id, uid), 0);
    return id;
  };
  const auto shm_owner = [](int id, std::uint32_t uid) {
    shmid_ds info;
    if (::shmctl(id, IPC_STAT, &info) != 0) return -1;
    info.shm_perm.uid = uid;
    return ::shmctl(id, IPC_SET, &info);
  };
  const auto sem_owner = [](int id, std::uint32_t uid) {
    semid_ds info;
    if (::semctl(id, 0, IPC_STAT, &info) != 0) return -1;
    info.sem_perm.uid = uid;
    return ::semctl(id, 0, IPC_SET, &info);
  };
  const auto msg_owner = [](int id, std::uint32_t uid) {
    msqid_ds info;
    if (::msgctl(id, IPC_STAT, &info) != 0) return -1;
    info.msg_perm.uid = uid;
    return ::msgctl(id, IPC_SET, &info);
  };
  const int shm = owned_by(::shmget(IPC_PRIVATE, 4096, IPC_CREAT | 0600), shm_owner, kAccount);
  const int sem = owned_by(::semget(IPC_PRIVATE, 1, IPC_CREAT | 0600), sem_owner, kAccount);
  const int msg = owned_by(::msgget(IPC_PRIVATE, IPC_CREAT | 0600), msg_owner, kAccount);
  const int kept = owned_by(::shmget(IPC_PRIVATE, 4096, IPC_CREAT | 0600), shm_owner, kOther);
  // Created by the account, then given to another owner.
  int made_by_account = -1;
  {
    auto child = ChildProcess::fork_task(
        [](const void*) -> int {
          if (::setgid(kAccount) != 0 || ::setuid(kAccount) != 0) return 1;
          const int id = ::shmget(0x5a5d0009, 4096, IPC_CREAT | 0666);
          return id >= 0 ? 0 : 2;
        },
        nullptr);
    ASSERT_TRUE(child.has_value());
    ASSERT_EQ(child->wait().code, 0);
    made_by_account = ::shmget(0x5a5d0009, 0, 0);
    ASSERT_GE(made_by_account, 0);
    ASSERT_EQ(shm_owner(made_by_account, kOther), 0);
  }

  EXPECT_TRUE(remove_ipc_objects(kAccount));
  shmid_ds shm_info;
  semid_ds sem_info;
  msqid_ds msg_info;
  EXPECT_NE(::shmctl(shm, IPC_STAT, &shm_info), 0);
  EXPECT_NE(::semctl(sem, 0, IPC_STAT, &sem_info), 0);
  EXPECT_NE(::msgctl(msg, IPC_STAT, &msg_info), 0);
  EXPECT_NE(::shmctl(made_by_account, IPC_STAT, &shm_info), 0);
  EXPECT_EQ(::shmctl(kept, IPC_STAT, &shm_info), 0);
  ::shmctl(kept, IPC_RMID, nullptr);
}

TEST_F(PoolSweep, TempEntriesOfTheAccountAreRemovedWithoutFollowingLinks) {
  char pattern[] = "/tmp/sandrig-shared-XXXXXX";
  const fs::path folder = ::mkdtemp(pattern);
  const fs::path outside = folder.parent_path() / (folder.filename().string() + "-outside");
  fs::create_directories(outside);
  std::ofstream(outside / "precious") << "x";
  const auto give = [](const fs::path& path, std::uint32_t uid) {
    ASSERT_EQ(::lchown(path.c_str(), uid, uid), 0) << path;
  };
  std::ofstream(folder / "file") << "x";
  give(folder / "file", kAccount);
  fs::create_directories(folder / "tree" / "deeper");
  std::ofstream(folder / "tree" / "deeper" / "f") << "x";
  fs::create_directory_symlink(outside, folder / "tree" / "link");
  give(folder / "tree", kAccount);
  fs::create_directory_symlink(outside, folder / "link");
  give(folder / "link", kAccount);
  fs::create_directories(folder / "kept_root_dir");
  std::ofstream(folder / "kept_root_dir" / "inner") << "x";
  give(folder / "kept_root_dir" / "inner", kAccount);  // not directly in the folder
  std::ofstream(folder / "others") << "x";
  give(folder / "others", kOther);
  fs::create_directories(folder / "home_root");
  give(folder / "home_root", kAccount);
  struct stat home_root;
  ASSERT_EQ(::lstat((folder / "home_root").c_str(), &home_root), 0);

  EXPECT_TRUE(remove_owned_entries(folder.string(), kAccount, FileIdentity{home_root.st_dev, home_root.st_ino}));
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(folder)) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"home_root", "kept_root_dir", "others"}));
  EXPECT_TRUE(fs::exists(folder / "kept_root_dir" / "inner"));
  EXPECT_TRUE(fs::exists(outside / "precious"));
  EXPECT_TRUE(remove_owned_entries((folder / "missing").string(), kAccount, std::nullopt));
  fs::remove_all(folder);
  fs::remove_all(outside);
}

// The pool clears a reused account before handing it out again; fake `id`,
// `useradd` and `pkill` (which kills nothing) keep real accounts out.
class PoolReuse : public ::testing::Test {
 protected:
  void SetUp() override {
    SANDRIG_REQUIRE_ISOLATED_ROOT();
    // The first three names get kAccount, kOther and kThird once made.
    const std::string made = "'" + host_.dir() + "'/made_";
    host_.program("id", "[ -e " + made + "\"$2\" ] || exit 1\ncase $2 in\n test_UKUKKUUK) echo " +
                            std::to_string(kAccount) + ";;\n test_jii8OIPW) echo " + std::to_string(kOther) +
                            ";;\n test_9mP8mMxu) echo " + std::to_string(kThird) + ";;\n *) exit 1;;\nesac");
    host_.program("useradd", "touch " + made + "\"$1\"");
    host_.logging_program("pkill", "exit 1");
    fs::remove_all(kHomeRoot);
  }
  void TearDown() override {
    if (!busy_.empty()) ::umount(busy_.c_str());
  }
  // Makes the clearing of `uid` fail until unblock(): an entry of the
  // account in /tmp that even root cannot remove, a mount point.
  void block_clearing(std::uint32_t uid) {
    busy_ = "/tmp/busy";
    fs::create_directories(busy_);
    ASSERT_EQ(::chown(busy_.c_str(), uid, uid), 0);
    const std::string options = "uid=" + std::to_string(uid);
    ASSERT_EQ(::mount("sandrig-busy", busy_.c_str(), "tmpfs", 0, options.c_str()), 0);
  }
  void unblock() {
    ::umount(busy_.c_str());
    busy_.clear();
  }
  static std::uint32_t uid_of(const SharedUser& user) { return user->lock()->uid(); }

  testing::FakeHost host_;
  std::string busy_;
};

TEST_F(PoolReuse, AReusedAccountMeetsNothingOfTheEarlierHolder) {
  SharedPool pool = UserPool::make_shared(1);
  auto first = UserPool::alloc_user(pool);
  ASSERT_TRUE(first.has_value()) << first.error();
  const pid_t left_running = start_stray(kAccount, Stray::kIgnoresTerm);
  std::ofstream("/tmp/left_in_tmp") << "x";
  ASSERT_EQ(::chown("/tmp/left_in_tmp", kAccount, kAccount), 0);
  const int segment = ::shmget(IPC_PRIVATE, 4096, IPC_CREAT | 0600);
  shmid_ds info;
  ASSERT_EQ(::shmctl(segment, IPC_STAT, &info), 0);
  info.shm_perm.uid = kAccount;
  ASSERT_EQ(::shmctl(segment, IPC_SET, &info), 0);
  first->reset();
  EXPECT_EQ(::waitpid(left_running, nullptr, WNOHANG), 0);  // the release only sends SIGTERM

  auto second = UserPool::alloc_user(pool);
  ASSERT_TRUE(second.has_value()) << second.error();
  int status = 0;
  ASSERT_EQ(::waitpid(left_running, &status, 0), left_running);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_FALSE(fs::exists("/tmp/left_in_tmp"));
  EXPECT_NE(::shmctl(segment, IPC_STAT, &info), 0);
}

TEST_F(PoolReuse, AnAccountThatCannotBeClearedIsSetAsideNotLost) {
  SharedPool pool = UserPool::make_shared(1);
  UserPool::alloc_user(pool)->reset();
  block_clearing(kAccount);
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto refused = UserPool::alloc_user(pool);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), "Failed to allocate a new user account");
    const auto guard = pool->lock();
    EXPECT_TRUE(guard->users().empty());
    EXPECT_TRUE(guard->free_users().empty());
    EXPECT_EQ(guard->set_aside_users(), (std::vector<Account>{{kAccount, "test_UKUKKUUK"}}));
  }
  unblock();
  auto again = UserPool::alloc_user(pool);
  ASSERT_TRUE(again.has_value()) << again.error();
  EXPECT_EQ(uid_of(*again), kAccount);
  EXPECT_FALSE(fs::exists("/tmp/busy"));
  EXPECT_TRUE(pool->lock()->set_aside_users().empty());
}

TEST_F(PoolReuse, OtherIdleAccountsAndANewOneComeBeforeOneThatCannotBeCleared) {
  SharedPool pool = UserPool::make_shared(3);
  auto first = UserPool::alloc_user(pool);
  auto second = UserPool::alloc_user(pool);
  ASSERT_TRUE(first.has_value() && second.has_value());
  second->reset();
  first->reset();  // on top of the idle accounts now
  block_clearing(kAccount);

  auto idle = UserPool::alloc_user(pool);
  ASSERT_TRUE(idle.has_value()) << idle.error();
  EXPECT_EQ(uid_of(*idle), kOther);
  auto created = UserPool::alloc_user(pool);
  ASSERT_TRUE(created.has_value()) << created.error();
  EXPECT_EQ(uid_of(*created), kThird);
  // No room for a fourth account: only the one set aside is left.
  EXPECT_FALSE(UserPool::alloc_user(pool).has_value());
  unblock();
  auto last = UserPool::alloc_user(pool);
  ASSERT_TRUE(last.has_value()) << last.error();
  EXPECT_EQ(uid_of(*last), kAccount);
  EXPECT_EQ(pool->lock()->users().size(), 3u);
}

}  // namespace
}  // namespace sandrig::pool
