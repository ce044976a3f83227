#pragma once

#include <cstdint>

namespace sandrig::pool {

// Clears what an earlier holder of the account `uid` left behind outside
// its home, before the account is handed out again: every process of the
// account is killed, and its System V IPC objects and its entries directly
// in the shared temporary folders are removed (the home root is never
// touched). False when something could not be killed or removed; the
// account must not be handed out then.
bool clear_account(std::uint32_t uid);

}  // namespace sandrig::pool
