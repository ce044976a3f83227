#include "pool/host_error.h"

#include <cstring>

namespace sandrig::pool {

std::string host_error_text(int error_number) {
  char buffer[256];
  // The GNU strerror_r may return a static string instead of filling buffer.
  const char* text = strerror_r(error_number, buffer, sizeof buffer);
  return std::string(text) + " (os error " + std::to_string(error_number) + ")";
}

}  // namespace sandrig::pool
