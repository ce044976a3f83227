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
  return User::prepare(std::move(pool), std::move(*account));
}

void UserPool::release_user(Mutex<UserPool>& pool, std::uint32_t uid) { pool.lock()->give_back(uid); }

std::optional<Account> UserPool::take_account() {
  if (user_.size() == max_user_) return std::nullopt;
  // An account used before (idle here, or adopted from the host) may still
  // hold processes and shared objects of whoever used it last; they are
  // cleared here, under the pool lock, before the account is recorded as in
  // use. When that fails the allocation is refused with the lists as they
  // were: an idle account stays on top of `free` for a later try instead of
  // being stranded in `user`, and no other allocation of this pool can
  // take it meanwhile. Like `useradd`, the clearing (bounded in time) delays
  // the other allocations and releases of the pool while it runs.
  Account account;
  if (free_.empty()) {
    if (!(user_.size() <= max_user_)) fail("assertion failed: self.user.len() <= self.max_user");
    account.name = rng_.next_name();
    std::optional<HostAccount> host = create_account(account.name);
    if (!host) return std::nullopt;
    if (host->adopted && !clear_account(host->uid)) return std::nullopt;
    account.uid = host->uid;
  } else {
    if (!clear_account(free_.back().uid)) return std::nullopt;
    account = std::move(free_.back());
    free_.pop_back();
  }
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
  const auto found =
      std::find_if(user_.begin(), user_.end(), [uid](const Account& a) { return a.uid == uid; });
  if (found == user_.end()) return;
  Account account = std::move(*found);
  user_.erase(found);
  free_.push_back(std::move(account));
}

}  // namespace sandrig::pool
