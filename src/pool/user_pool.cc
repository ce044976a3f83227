#include "pool/user_pool.h"

#include <algorithm>

#include "common/internal_failure.h"
#include "common/utf8.h"
#include "pool/account_sweep.h"
#include "pool/host_command.h"
#include "pool/host_error.h"
#include "pool/stderr_line.h"
#include "pool/user.h"
#include "pool/userid.h"

namespace sandrig::pool {

namespace {
// Room reserved up front; a larger bound only grows the lists on demand
// instead of reserving memory for accounts that may never exist.
constexpr std::size_t kMaxReserved = 1024;
}  // namespace

UserPool::UserPool(std::size_t user_count) : max_user_(user_count) {
  user_.reserve(std::min(user_count, kMaxReserved));
  free_.reserve(std::min(user_count, kMaxReserved));
}

SharedPool UserPool::make_shared(std::size_t user_count) {
  return std::make_shared<Mutex<UserPool>>(kPoisonedLock, user_count);
}

std::expected<SharedUser, std::string> UserPool::alloc_user(SharedPool pool) {
  std::optional<Account> account = pool->lock()->take_account();
  if (!account) return std::unexpected("Failed to allocate a new user account");
  const std::uint32_t uid = account->uid;
  auto user = User::prepare(pool, std::move(*account));
  // Whatever made the preparation fail (a full /tmp, files still flowing
  // into the old home) may pass: the account stays the pool's, idle.
  if (!user) pool->lock()->set_aside(uid);
  return user;
}

void UserPool::release_user(Mutex<UserPool>& pool, std::uint32_t uid) { pool.lock()->give_back(uid); }

std::optional<Account> UserPool::take_account() {
  if (user_.size() == max_user_) return std::nullopt;
  // An account used before (idle here, or adopted from the host) may still
  // hold processes and shared objects of whoever used it last; they are
  // cleared here, under the pool lock, before the account is recorded as in
  // use. An account whose clearing fails is set aside and the next one is
  // tried: the idle accounts, last released first, then a new account where
  // the pool has room, and only then the accounts set aside before this
  // allocation, longest set aside first. So one account that cannot be
  // cleared neither blocks the pool nor is lost to it. Like `useradd`, the
  // clearing (bounded in time) delays the other allocations and releases of
  // the pool while it runs.
  const std::size_t set_aside_before = set_aside_.size();
  while (!free_.empty()) {
    Account account = std::move(free_.back());
    free_.pop_back();
    if (clear_account(account.uid)) return hand_out(std::move(account));
    set_aside_.push_back(std::move(account));
  }
  if (user_.size() + set_aside_.size() < max_user_) {
    if (std::optional<Account> account = take_new_account()) return account;
  }
  for (std::size_t i = 0; i < set_aside_before; ++i) {
    if (!clear_account(set_aside_[i].uid)) continue;
    Account account = std::move(set_aside_[i]);
    set_aside_.erase(set_aside_.begin() + static_cast<std::ptrdiff_t>(i));
    return hand_out(std::move(account));
  }
  return std::nullopt;
}

// A newly named account, created on the host or adopted (and cleared) from
// it, handed out; none when the creation failed. An adopted account that
// cannot be cleared is set aside.
std::optional<Account> UserPool::take_new_account() {
  if (!(user_.size() <= max_user_)) fail("assertion failed: self.user.len() <= self.max_user");
  Account account;
  account.name = rng_.next_name();
  std::optional<HostAccount> host = create_account(account.name);
  if (!host) return std::nullopt;
  account.uid = host->uid;
  if (host->adopted && !clear_account(account.uid)) {
    set_aside_.push_back(std::move(account));
    return std::nullopt;
  }
  return hand_out(std::move(account));
}

Account UserPool::hand_out(Account account) {
  user_.push_back(account);
  return account;
}

std::optional<UserPool::HostAccount> UserPool::create_account(const std::string& name) {
  if (std::optional<std::uint32_t> existing = userid(name)) return HostAccount{*existing, true};
  auto result = run_host_command({"useradd", name});
  if (!result) fail("Failed to execute the command `useradd`: " + host_error_text(result.error()));
  if (!result->status.success()) {
    const std::string reason = is_valid_utf8(result->err) ? result->err : std::string();
    write_stderr_line("Failed to create the user account: " + reason);
    return std::nullopt;
  }
  std::optional<std::uint32_t> created = userid(name);
  if (!created) return std::nullopt;
  return HostAccount{*created, false};
}

void UserPool::give_back(std::uint32_t uid) {
  if (std::optional<Account> account = remove_in_use(uid)) free_.push_back(std::move(*account));
}

void UserPool::set_aside(std::uint32_t uid) {
  if (std::optional<Account> account = remove_in_use(uid)) set_aside_.push_back(std::move(*account));
}

std::optional<Account> UserPool::remove_in_use(std::uint32_t uid) {
  const auto found =
      std::find_if(user_.begin(), user_.end(), [uid](const Account& a) { return a.uid == uid; });
  if (found == user_.end()) return std::nullopt;
  Account account = std::move(*found);
  user_.erase(found);
  return account;
}

}  // namespace sandrig::pool
