#include "pool/userid.h"

#include "common/internal_failure.h"
#include "common/utf8.h"
#include "pool/host_command.h"
#include "pool/host_error.h"
#include "pool/stderr_line.h"

namespace sandrig::pool {

std::optional<std::uint32_t> parse_uid_output(std::string_view output) {
  std::string_view line = output.substr(0, output.find('\n'));
  if (line.size() < output.size() && line.ends_with('\r')) line.remove_suffix(1);
  if (line.starts_with('+')) line.remove_prefix(1);
  if (line.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : line) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > UINT32_MAX) return std::nullopt;  // stops before 64 bits can overflow
  }
  return static_cast<std::uint32_t>(value);
}

std::optional<std::uint32_t> userid(const std::string& name) {
  auto result = run_host_command({"id", "-u", name});
  if (!result) fail("Failed to execute the command `id`: " + host_error_text(result.error()));
  if (!result->status.success()) return std::nullopt;
  if (!is_valid_utf8(result->out)) {
    write_stderr_line("Failed to convert the result back to a valid utf-8 string");
    return std::nullopt;
  }
  return parse_uid_output(result->out);
}

}  // namespace sandrig::pool
