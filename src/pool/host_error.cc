#include "pool/host_error.h"

#include <cstring>

namespace sandrig::pool {

namespace {

// strerror_r comes in two flavours: the GNU one returns the text (which may
// be a static string rather than `buffer`), the XSI one (musl, other libcs)
// returns 0 or an error number and always fills `buffer`. Overloading on
// the return type picks whichever the C library declares.
[[maybe_unused]] const char* error_text_of(char* result, const char*) { return result; }

[[maybe_unused]] const char* error_text_of(int result, const char* buffer) {
  return result == 0 ? buffer : nullptr;
}

}  // namespace

std::string host_error_text(int error_number) {
  char buffer[256] = {};
  const char* text = error_text_of(strerror_r(error_number, buffer, sizeof buffer), buffer);
  std::string described = text != nullptr && *text != '\0'
                              ? std::string(text)
                              : "Unknown error " + std::to_string(error_number);
  return described + " (os error " + std::to_string(error_number) + ")";
}

}  // namespace sandrig::pool
