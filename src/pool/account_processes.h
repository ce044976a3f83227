#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace sandrig::pool {

// How long kill_account_processes waits for the account's last process.
inline constexpr std::chrono::milliseconds kProcessKillBound{5000};

// Kills every process of `uid` with SIGKILL, again and again until none
// is left or `bound` has passed; true once none is left. Needs root; the
// account `uid` 0 (root itself) is always refused.
bool kill_account_processes(std::uint32_t uid, std::chrono::milliseconds bound = kProcessKillBound);

// True while some process that can still run has `uid` as its real,
// effective or saved user id (zombies are dead and do not count); none
// when /proc cannot be read.
std::optional<bool> account_has_processes(std::uint32_t uid);

}  // namespace sandrig::pool
