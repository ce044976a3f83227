#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/internal_failure.h"
#include "common/mutex.h"
#include "pybinding/framework/locked_call.h"

namespace sandrig::py {
namespace {

using Values = Mutex<std::vector<int>>;

TEST(LockedCall, ReturnsTheResultAndKeepsTheChange) {
  Values values("poisoned", std::vector<int>{1, 2});
  EXPECT_EQ(locked_call(values, [](std::vector<int>& v) {
              v.push_back(3);
              return v.size();
            }),
            3u);
  EXPECT_FALSE(values.is_poisoned());
  EXPECT_EQ(*values.lock(), (std::vector<int>{1, 2, 3}));
}

TEST(LockedCall, PassesAReferenceResultThrough) {
  Values values("poisoned", std::vector<int>{7});
  int& first = locked_call(values, [](std::vector<int>& v) -> int& { return v.front(); });
  EXPECT_EQ(&first, &values.lock()->front());
}

TEST(LockedCall, OutOfMemoryLeavesTheMutexUsable) {
  Values values("poisoned", std::vector<int>{1});
  EXPECT_THROW(locked_call(values,
                           [](std::vector<int>& v) -> int {
                             v.push_back(2);  // a change made before the failure stays
                             throw std::bad_alloc();
                           }),
               std::bad_alloc);
  EXPECT_FALSE(values.is_poisoned());
  // Unlocked again: a second call gets the lock on this thread.
  EXPECT_EQ(locked_call(values, [](std::vector<int>& v) { return v.size(); }), 2u);
}

struct OtherFailure {
  const char* name;
  void (*raise)();
};

class LockedCallPoisons : public ::testing::TestWithParam<OtherFailure> {};

TEST_P(LockedCallPoisons, OnEveryOtherException) {
  Values values("value poisoned", std::vector<int>{});
  EXPECT_ANY_THROW(locked_call(values, [](std::vector<int>&) -> int {
    GetParam().raise();
    return 0;
  }));
  EXPECT_TRUE(values.is_poisoned());
  try {
    locked_call(values, [](std::vector<int>& v) { return v.size(); });
    ADD_FAILURE() << "a poisoned mutex was locked";
  } catch (const InternalFailure& failure) {
    EXPECT_EQ(std::string(failure.what()), "value poisoned");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, LockedCallPoisons,
    ::testing::Values(OtherFailure{"internal", [] { fail("assertion failed"); }},
                      OtherFailure{"length", [] { throw std::length_error("too long"); }},
                      OtherFailure{"non_standard", [] { throw 5; }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sandrig::py
