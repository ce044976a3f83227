#pragma once

#include <string>

namespace sandrig::pool {

// The text of an operating-system error number, as appended to messages.
std::string host_error_text(int error_number);

}  // namespace sandrig::pool
