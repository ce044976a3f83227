#pragma once

#include <expected>
#include <string>
#include <vector>

#include "pool/child_process.h"

namespace sandrig::pool {

// What a finished host command printed, and how it ended.
struct HostCommandOutput {
  ExitStatus status;
  std::string out;  // standard output, raw bytes
  std::string err;  // standard error, raw bytes
};

// Runs argv[0] (found through PATH) with empty standard input, collects
// its standard output and error until both end, and waits for it. Returns
// the host error number when it cannot be started.
std::expected<HostCommandOutput, int> run_host_command(const std::vector<std::string>& argv);

}  // namespace sandrig::pool
