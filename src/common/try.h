#pragma once

#include <expected>
#include <utility>

// Early return for std::expected results, so an operation reads as its
// algorithm rather than as a ladder of error checks.
//
// SANDRIG_TRY(step) evaluates `step` once and yields its value (nothing for
// a void result); when it failed, the enclosing function returns
// `propagate_failure(step)`. The generic overload below hands the same error
// on as std::unexpected, which every std::expected with that error type
// takes; a layer whose failures take another form (the binding returns null
// to the interpreter) declares its own overload for its error type in its
// own namespace, where unqualified lookup finds it first. (A GNU statement
// expression, which g++ and clang accept.)
#define SANDRIG_TRY(...)                                                  \
  __extension__({                                                         \
    auto sandrig_try_result_ = (__VA_ARGS__);                             \
    if (!sandrig_try_result_) return propagate_failure(std::move(sandrig_try_result_)); \
    ::sandrig::take_value(std::move(sandrig_try_result_));                \
  })

namespace sandrig {

// The failure of `result`, as a failed result of any value type.
template <typename T, typename E>
std::unexpected<E> propagate_failure(std::expected<T, E>&& result) {
  return std::unexpected(std::move(result).error());
}

// The value of a successful result, moved out (nothing for a void one).
template <typename T, typename E>
T take_value(std::expected<T, E>&& result) {
  return std::move(*result);
}
template <typename E>
void take_value(std::expected<void, E>&&) {}

}  // namespace sandrig
