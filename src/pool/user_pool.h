#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "pool/account.h"
#include "pool/name_generator.h"
#include "pool/user.h"

namespace sandrig::pool {

// Hands out host accounts, at most `max_user` at a time: idle accounts
// first (last given back, first out), otherwise a newly named one that is
// adopted if it exists on the host or created with `useradd`. A reused or
// adopted account is cleared of every process and shared object of its
// earlier holder before it is handed out. An account whose clearing or
// home preparation failed is never lost: it is set aside, idle, and tried
// again only after the other idle accounts and a new one. Accounts are
// never deleted from the host.
class UserPool {
 public:
  // An empty pool for at most `user_count` accounts in use at once.
  explicit UserPool(std::size_t user_count);

  // A new pool behind its mutex, as the Python object holds it.
  static SharedPool make_shared(std::size_t user_count);

  // Hands out an account and prepares its home; the User keeps `pool`.
  // When the preparation fails the account is set aside and its message
  // returned. Throws InternalFailure on a poisoned pool or a host command
  // that cannot start.
  static std::expected<SharedUser, std::string> alloc_user(SharedPool pool);

  // Gives the account `uid` back to the idle list. Throws InternalFailure
  // on a poisoned pool (the account is then not given back).
  static void release_user(Mutex<UserPool>& pool, std::uint32_t uid);

  // The accounts in use, in the order they were handed out.
  const std::vector<Account>& users() const { return user_; }
  // The idle accounts; the last one is handed out next.
  const std::vector<Account>& free_users() const { return free_; }
  // The idle accounts whose last clearing or home preparation failed,
  // longest set aside first.
  const std::vector<Account>& set_aside_users() const { return set_aside_; }

 private:
  // An account found on the host or created there.
  struct HostAccount {
    std::uint32_t uid;
    bool adopted;  // it existed before this pool looked
  };

  std::optional<Account> take_account();
  std::optional<Account> take_new_account();
  std::optional<HostAccount> create_account(const std::string& name);
  Account hand_out(Account account);
  void give_back(std::uint32_t uid);
  void set_aside(std::uint32_t uid);
  std::optional<Account> remove_in_use(std::uint32_t uid);

  std::vector<Account> user_;
  std::vector<Account> free_;
  std::vector<Account> set_aside_;
  std::size_t max_user_;
  NameGenerator rng_;
};

}  // namespace sandrig::pool
