#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <string>

#include "pool/account.h"

namespace sandrig::pool {

class TerminalSession;

// One pool account while a caller holds it. Destroying it releases the
// account: `pkill -u` signals every process of the account, and the
// account goes back to its pool's idle list.
class User {
 public:
  User(std::string username, std::string home, std::uint32_t uid, SharedPool pool);
  User(const User&) = delete;
  User& operator=(const User&) = delete;
  ~User();

  // Prepares a fresh home for `account`, handed out by `pool`, and builds
  // the User, which keeps `pool`.
  static std::expected<SharedUser, std::string> prepare(SharedPool pool, Account account);

  // Starts a bash session as the account through `su`; the session keeps
  // `user`. Throws InternalFailure on a poisoned user lock.
  static std::expected<std::unique_ptr<TerminalSession>, std::string> spawn_terminal(SharedUser user);

  const std::string& username() const { return username_; }
  // The canonical path of the home prepared for this allocation.
  const std::string& home() const { return home_; }
  // The account's numeric user id.
  std::uint32_t uid() const { return uid_; }

 private:
  void release() noexcept;

  std::string username_;
  std::string home_;
  std::uint32_t uid_;
  SharedPool pool_;  // emptied by the release
};

}  // namespace sandrig::pool
