#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "pybinding/arguments.h"

namespace sandrig::py {

// Counts, or writes into a buffer large enough, the characters of a text
// built at compile time.
class TextWriter {
 public:
  // Writes into `out`; null only counts.
  constexpr explicit TextWriter(char* out) : out_(out) {}

  constexpr void put(const char* text) {
    for (; *text != '\0'; ++text) {
      if (out_ != nullptr) out_[size_] = *text;
      ++size_;
    }
  }

  // The characters put so far.
  constexpr std::size_t size() const { return size_; }

 private:
  char* out_;
  std::size_t size_ = 0;
};

// Which callable a docstring introduces: a method's signature starts with
// "$self", a class's (its constructor's) does not.
enum class Receiver { Method, Class };

// Writes "name($self, a, b=False)\n--\n\n" and then `body`: the docstring
// from which the interpreter derives __text_signature__.
constexpr void write_signature_doc(TextWriter& out, const char* name, Receiver receiver,
                                   std::span<const Parameter> parameters, const char* body) {
  out.put(name);
  out.put("(");
  if (receiver == Receiver::Method) out.put("$self");
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    if (receiver == Receiver::Method || i > 0) out.put(", ");
    out.put(parameters[i].name);
    if (!parameters[i].required()) {
      out.put("=");
      out.put(parameters[i].default_text);
    }
  }
  out.put(")\n--\n\n");
  out.put(body);
}

// The docstring of the declaration `Decl` (a Method or a class with a
// constructor, see declared_class.h), built at compile time into static
// storage: `Decl.doc` after the text signature of `Decl`.
template <const auto& Decl>
struct SignatureDoc {
 private:
  static constexpr void write(TextWriter& out) {
    write_signature_doc(out, Decl.name, Decl.kReceiver, Decl.parameters, Decl.doc);
  }
  static constexpr std::size_t size() {
    TextWriter counter(nullptr);
    write(counter);
    return counter.size();
  }

 public:
  // NUL-terminated.
  static constexpr std::array<char, size() + 1> kText = [] {
    std::array<char, size() + 1> text{};
    TextWriter writer(text.data());
    write(writer);
    return text;
  }();
};

}  // namespace sandrig::py
