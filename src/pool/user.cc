#include "pool/user.h"

#include <exception>
#include <string>

#include "common/internal_failure.h"
#include "common/try.h"
#include "common/utf8.h"
#include "pool/home_directory.h"
#include "pool/host_command.h"
#include "pool/host_error.h"
#include "pool/process_limit.h"
#include "pool/session_command.h"
#include "pool/stderr_line.h"
#include "pool/terminal_session.h"
#include "pool/user_pool.h"
#include "pool/wake_signal.h"

namespace sandrig::pool {

namespace {

// Signals every process of `uid`; the warning text when that went wrong.
std::optional<std::string> kill_all_processes(std::uint32_t uid) {
  auto result = run_host_command({"pkill", "-u", std::to_string(uid)});
  if (!result) return "Failed to execute the command `pkill`: " + host_error_text(result.error());
  // 1 means no process matched and 2 a syntax error: neither leaves a
  // process of the account behind that pkill could have reached.
  const std::optional<int> code = result->status.code;
  if (code && *code <= 2) return std::nullopt;
  const std::string shown = code ? std::to_string(*code) : "None";
  const std::string reason = is_valid_utf8(result->err) ? result->err : std::string();
  return "Failed exit code: " + shown + " (" + reason + ")";
}

}  // namespace

User::User(std::string username, std::string home, std::uint32_t uid, SharedPool pool)
    : username_(std::move(username)), home_(std::move(home)), uid_(uid), pool_(std::move(pool)) {}

User::~User() { release(); }

std::expected<SharedUser, std::string> User::prepare(SharedPool pool, Account account) {
  auto home = SANDRIG_TRY(prepare_home(kHomeRoot, account.name, account.uid));
  return std::make_shared<Mutex<User>>(kPoisonedLock, std::move(account.name), std::move(home),
                                       account.uid, std::move(pool));
}

void User::release() noexcept {
  // A destructor must not throw: failures become lines on standard error.
  try {
    if (std::optional<std::string> warning = kill_all_processes(uid_)) {
      write_stderr_line("⚠️ Failed to kill all processes of the user: " + *warning);
    }
    SharedPool pool = std::move(pool_);
    pool_.reset();
    if (pool) UserPool::release_user(*pool, uid_);
  } catch (const std::exception& failure) {
    write_stderr_line(failure.what());
  }
}

std::expected<std::unique_ptr<TerminalSession>, std::string> User::spawn_terminal(SharedUser user) {
  std::string username;
  std::string home;
  {
    auto guard = user->lock();
    username = guard->username_;
    home = guard->home_;
  }
  auto wake = WakeSignal::make();
  if (!wake) return std::unexpected("Failed to create the terminal session: " + host_error_text(wake.error()));
  // Every process of the session counts against the account's limit.
  const rlim_t limit = account_process_limit();
  auto child = ChildProcess::spawn({"su", "-s", "/bin/bash", "-P", "-c", session_shell_command(home), username},
                                   apply_process_limit, &limit);
  if (!child) return std::unexpected("Failed to create the terminal session: " + host_error_text(child.error()));
  return std::make_unique<TerminalSession>(std::move(user), std::move(*child), std::move(*wake));
}

}  // namespace sandrig::pool
