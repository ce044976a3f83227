#pragma once

#include <string_view>

namespace sandrig::pool {

// Writes `text` and a newline to the process's standard error as one line.
void write_stderr_line(std::string_view text);

}  // namespace sandrig::pool
