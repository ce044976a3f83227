#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>

namespace sandrig::terminal {

// A terminal backed by a running process, talked to through its standard
// streams. Failures are message texts ("Failed to ...").
class AsyncTerminal {
 public:
  virtual ~AsyncTerminal() = default;

  // Sends all of `bytes` to the process's standard input.
  virtual std::expected<void, std::string> write(std::span<const std::uint8_t> bytes) = 0;
  // Fills the start of `buffer` from the process's standard output; the count.
  virtual std::expected<std::size_t, std::string> read_stdout(std::span<std::uint8_t> buffer) = 0;
  // Fills the start of `buffer` from the process's standard error; the count.
  virtual std::expected<std::size_t, std::string> read_stderr(std::span<std::uint8_t> buffer) = 0;
};

}  // namespace sandrig::terminal
