#pragma once

#include <string_view>

namespace sandrig {

// Called before each write; false gives the write up. A caller whose
// descriptor may be full uses it to wait for room its own way.
using BeforeWrite = bool (*)();

// Writes all of `bytes` to descriptor `fd`, going on after short writes and
// EINTR. EAGAIN is retried only with a `before_write` to wait for room;
// without one it fails, like any other error, rather than spin. False also
// when `before_write` declines.
bool write_all(int fd, std::string_view bytes, BeforeWrite before_write = nullptr);

}  // namespace sandrig
