#include "terminal/rm_args.h"

#include <optional>
#include <string_view>

namespace sandrig::terminal {
namespace {

constexpr std::string_view kUsage = "Usage: sandrig [OPTIONS] <TARGET>\n";

constexpr std::string_view kHelp =
    "Remove a file or a directory (potentially recursive)\n"
    "\n"
    "Usage: sandrig [OPTIONS] <TARGET>\n"
    "\n"
    "Arguments:\n"
    "  <TARGET>\n"
    "\n"
    "Options:\n"
    "  -r, --recursive\n"
    "  -h, --help       Print help\n"
    "  -V, --version    Print version\n";

constexpr std::string_view kVersion = "sandrig " SANDRIG_VERSION "\n";

// An error text: the description, the usage line and the hint to --help.
std::string error_text(std::string_view description) {
  std::string text = "error: ";
  text += description;
  text += "\n\n";
  text += kUsage;
  text += "\nFor more information, try '--help'.\n";
  return text;
}

std::string unexpected_argument(std::string_view word) {
  return error_text("unexpected argument '" + std::string(word) + "' found");
}

// The UTF-8 character starting at byte `start`, continuation bytes included.
std::string_view whole_character(std::string_view text, std::size_t start) {
  std::size_t end = start + 1;
  while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  return text.substr(start, end - start);
}

// Walks the words once; an error, help or version ends the walk at once.
class RmParser {
 public:
  std::expected<RmArgs, std::string> parse(std::span<const std::string> words) {
    bool options_ended = false;
    for (const std::string& word : words) {
      std::optional<std::string> stop;
      if (options_ended || word == "-" || !word.starts_with('-')) {
        stop = positional(word);
      } else if (word == "--") {
        options_ended = true;
      } else if (word.starts_with("--")) {
        stop = long_option(word);
      } else {
        stop = short_options(word);
      }
      if (stop) return std::unexpected(std::move(*stop));
    }
    if (!target_) {
      return std::unexpected(
          error_text("the following required arguments were not provided:\n  <TARGET>"));
    }
    return RmArgs{recursive_, std::move(*target_)};
  }

 private:
  std::optional<std::string> positional(const std::string& word) {
    if (target_) return unexpected_argument(word);
    target_ = word;
    return std::nullopt;
  }

  std::optional<std::string> long_option(std::string_view word) {
    std::string_view name = word.substr(2);
    std::size_t equals = name.find('=');
    std::optional<std::string_view> value;
    if (equals != std::string_view::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
    }
    if (name != "recursive" && name != "help" && name != "version") {
      return unexpected_argument(word);
    }
    if (value) {
      return error_text("unexpected value '" + std::string(*value) + "' for '--" +
                        std::string(name) + "' found; no more were expected");
    }
    return flag(name.front());
  }

  // A cluster of one-letter flags, such as "-r" or "-rh".
  std::optional<std::string> short_options(std::string_view word) {
    for (std::size_t i = 1; i < word.size(); ++i) {
      char letter = word[i];
      if (letter != 'r' && letter != 'h' && letter != 'V') {
        return unexpected_argument("-" + std::string(whole_character(word, i)));
      }
      if (auto stop = flag(letter == 'V' ? 'v' : letter)) return stop;
    }
    return std::nullopt;
  }

  // Applies the flag with this initial ('r', 'h' or 'v').
  std::optional<std::string> flag(char initial) {
    if (initial == 'h') return std::string(kHelp);
    if (initial == 'v') return std::string(kVersion);
    if (recursive_) return error_text("the argument '--recursive' cannot be used multiple times");
    recursive_ = true;
    return std::nullopt;
  }

  bool recursive_ = false;
  std::optional<std::string> target_;
};

}  // namespace

std::expected<RmArgs, std::string> RmArgs::parse(std::span<const std::string> words) {
  return RmParser().parse(words);
}

}  // namespace sandrig::terminal
