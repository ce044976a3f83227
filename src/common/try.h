#pragma once

#include <expected>
#include <utility>

// Early return for std::expected, so an operation reads as its algorithm
// rather than as a ladder of error checks. Each macro evaluates its
// expression once; on failure the enclosing function returns the same error
// as std::unexpected, which every std::expected with that error type takes.

// Evaluates `expression`; on failure returns its error.
#define SANDRIG_TRY(expression)                                                      \
  do {                                                                               \
    auto&& sandrig_try_result = (expression);                                        \
    if (!sandrig_try_result) return std::unexpected(std::move(sandrig_try_result).error()); \
  } while (false)

// Declares `name` as the value of `expression`, or returns its error.
#define SANDRIG_TRY_ASSIGN(name, expression)                                           \
  auto name##_try_result = (expression);                                               \
  if (!name##_try_result) return std::unexpected(std::move(name##_try_result).error()); \
  auto&& name = *std::move(name##_try_result)
