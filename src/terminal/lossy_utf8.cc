#include "terminal/lossy_utf8.h"

#include <string_view>

#include "common/utf8.h"

namespace sandrig::terminal {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

}  // namespace

std::string decode_utf8_lossy(std::span<const std::uint8_t> bytes) {
  std::string_view rest(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::string text;
  text.reserve(bytes.size());
  while (!rest.empty()) {
    const Utf8Step step = decode_utf8_step(rest);
    if (step.valid) {
      text.append(rest.substr(0, step.length));
    } else {
      text += kReplacement;
    }
    rest.remove_prefix(step.length);
  }
  return text;
}

}  // namespace sandrig::terminal
