#include "terminal/word_splitter.h"

namespace sandrig::terminal {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// Reads the characters of a line one at a time. All special characters are
// ASCII, so the bytes of multi-byte UTF-8 characters pass through whole.
class LineReader {
 public:
  explicit LineReader(std::string_view line) : line_(line) {}

  bool at_end() const { return pos_ == line_.size(); }
  char peek() const { return line_[pos_]; }
  // True if the next two characters are a backslash and a newline.
  bool at_line_continuation() const {
    return line_.substr(pos_).starts_with("\\\n");
  }
  std::optional<char> next() {
    if (at_end()) return std::nullopt;
    return line_[pos_++];
  }

 private:
  std::string_view line_;
  std::size_t pos_ = 0;
};

// Skips blanks, comments and line continuations; false once the line is
// used up. A continuation between words joins the lines without starting a
// word, so it yields no empty word and a "#" after it still starts a comment.
bool skip_to_word(LineReader& in) {
  while (!in.at_end()) {
    char c = in.peek();
    if (is_blank(c)) {
      in.next();
    } else if (in.at_line_continuation()) {
      in.next();
      in.next();
    } else if (c == '#') {
      while (auto skipped = in.next()) {
        if (*skipped == '\n') break;
      }
    } else {
      return true;
    }
  }
  return false;
}

// After an opening single quote: everything up to the closing one, literally.
bool read_single_quoted(LineReader& in, std::string& word) {
  while (auto c = in.next()) {
    if (*c == '\'') return true;
    word += *c;
  }
  return false;
}

// After an opening double quote: a backslash escapes only $ ` " \ and newline.
bool read_double_quoted(LineReader& in, std::string& word) {
  while (auto c = in.next()) {
    if (*c == '"') return true;
    if (*c != '\\') {
      word += *c;
      continue;
    }
    auto escaped = in.next();
    if (!escaped) return false;
    switch (*escaped) {
      case '$':
      case '`':
      case '"':
      case '\\':
        word += *escaped;
        break;
      case '\n':
        break;
      default:
        word += '\\';
        word += *escaped;
    }
  }
  return false;
}

// Reads one word up to an unquoted blank or the end of the line.
std::optional<std::string> read_word(LineReader& in) {
  std::string word;
  while (!in.at_end() && !is_blank(in.peek())) {
    char c = *in.next();
    bool ok = true;
    if (c == '\'') {
      ok = read_single_quoted(in, word);
    } else if (c == '"') {
      ok = read_double_quoted(in, word);
    } else if (c == '\\') {
      auto escaped = in.next();
      ok = escaped.has_value();
      if (ok && *escaped != '\n') word += *escaped;
    } else {
      word += c;
    }
    if (!ok) return std::nullopt;
  }
  return word;
}

}  // namespace

std::optional<std::vector<std::string>> split_words(std::string_view line) {
  LineReader in(line);
  std::vector<std::string> words;
  while (skip_to_word(in)) {
    auto word = read_word(in);
    if (!word) return std::nullopt;
    words.push_back(std::move(*word));
  }
  return words;
}

}  // namespace sandrig::terminal
