#include <gtest/gtest.h>

#include <expected>
#include <memory>
#include <string>

#include "common/try.h"

namespace sandrig {
namespace {

std::expected<int, std::string> parse_digit(char c) {
  if (c < '0' || c > '9') return std::unexpected(std::string("not a digit: ") + c);
  return c - '0';
}

// Two digits as a number; the first failure is passed on as it is.
std::expected<int, std::string> two_digits(char tens, char ones, int& evaluations) {
  ++evaluations;
  auto high = SANDRIG_TRY(parse_digit(tens));
  ++evaluations;
  auto low = SANDRIG_TRY(parse_digit(ones));
  return high * 10 + low;
}

std::expected<void, std::string> check_digit(char c) {
  SANDRIG_TRY(parse_digit(c));
  return {};
}

std::expected<std::unique_ptr<int>, std::string> boxed(bool ok) {
  if (!ok) return std::unexpected(std::string("no box"));
  return std::make_unique<int>(7);
}

// A move-only value comes out of the result without a copy.
std::expected<int, std::string> unbox(bool ok) {
  auto box = SANDRIG_TRY(boxed(ok));
  std::unique_ptr<int> owned = std::move(box);
  return *owned;
}

TEST(Try, AssignBindsTheValueOrReturnsTheFirstError) {
  int evaluations = 0;
  EXPECT_EQ(two_digits('4', '2', evaluations), 42);
  EXPECT_EQ(evaluations, 2);
  evaluations = 0;
  EXPECT_EQ(two_digits('x', '2', evaluations), std::unexpected(std::string("not a digit: x")));
  EXPECT_EQ(evaluations, 1);  // stopped at the first failure
  EXPECT_EQ(two_digits('4', 'y', evaluations), std::unexpected(std::string("not a digit: y")));
}

TEST(Try, PlainTryPassesTheErrorOnAndIgnoresTheValue) {
  EXPECT_TRUE(check_digit('5'));
  EXPECT_EQ(check_digit('z'), std::unexpected(std::string("not a digit: z")));
}

TEST(Try, MoveOnlyValues) {
  EXPECT_EQ(unbox(true), 7);
  EXPECT_EQ(unbox(false), std::unexpected(std::string("no box")));
}

}  // namespace
}  // namespace sandrig
