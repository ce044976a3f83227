#pragma once

#include <string_view>

namespace sandrig {

// Called before each write; false gives the write up. A caller whose
// descriptor may be full uses it to wait for room its own way.
using BeforeWrite = bool (*)();

// Called when a write found descriptor `fd` full (EAGAIN); false gives the
// write up, true retries it.
using WhenFull = bool (*)(int fd);

// Writes all of `bytes` to descriptor `fd`, going on after short writes and
// EINTR. EAGAIN is retried only with a `before_write` or a `when_full` to
// wait for room; without one it fails, like any other error, rather than
// spin. False also when either hook declines.
bool write_all(int fd, std::string_view bytes, BeforeWrite before_write = nullptr,
               WhenFull when_full = nullptr);

// Waits until `fd` can take a write; false if it never can (an error or a
// closed descriptor). A WhenFull for a caller that may block.
bool wait_until_writable(int fd);

}  // namespace sandrig
