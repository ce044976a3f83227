#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sandrig::terminal {

// Splits a command line into words with shell quoting: blanks (space, tab,
// newline) separate words, "#" at the start of a word comments out the rest
// of its line, and single quotes, double quotes and backslashes quote.
// Empty when a quote is left open or the line ends in a backslash.
std::optional<std::vector<std::string>> split_words(std::string_view line);

}  // namespace sandrig::terminal
