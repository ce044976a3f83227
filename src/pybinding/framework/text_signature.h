#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "pybinding/framework/arguments.h"

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

// The text that `Write` puts, built at compile time into static storage.
template <void (*Write)(TextWriter&)>
struct StaticText {
 private:
  static constexpr std::size_t size() {
    TextWriter counter(nullptr);
    Write(counter);
    return counter.size();
  }

 public:
  // NUL-terminated.
  static constexpr std::array<char, size() + 1> kText = [] {
    std::array<char, size() + 1> text{};
    TextWriter writer(text.data());
    Write(writer);
    return text;
  }();
};

template <const auto& Decl>
constexpr void write_doc_of(TextWriter& out) {
  write_signature_doc(out, Decl.name, Decl.kReceiver, Decl.parameters, Decl.doc);
}

// The docstring of the declaration `Decl` (a Method or a class with a
// constructor, see declared_class.h): `Decl.doc` after the text signature
// of `Decl`.
template <const auto& Decl>
using SignatureDoc = StaticText<&write_doc_of<Decl>>;

template <const auto& Decl>
constexpr void write_qualified_name_of(TextWriter& out) {
  out.put("sandrig.");
  out.put(Decl.name);
}

// The name of the class `Decl` with the module's prefix: "sandrig.PyFs".
template <const auto& Decl>
using QualifiedName = StaticText<&write_qualified_name_of<Decl>>;

}  // namespace sandrig::py
