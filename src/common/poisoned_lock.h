#pragma once

namespace sandrig {

// The message of a poisoned lock met by the pool, users, sessions and nodes.
inline constexpr const char* kPoisonedLock = "☢️ Poisoned lock";

}  // namespace sandrig
