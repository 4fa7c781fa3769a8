// The arithmetic of the sending caps over given send times, and the caps a provider publishes.
#include "app/batch/sendcaps.h"

#include <gtest/gtest.h>

namespace {

TEST(SendCapsTest, TheNextMessageWaitsUntilTheOldestLeavesTheWindow) {
  const struct {
    const char* name;
    std::vector<int64_t> sent;
    TSendCaps caps;
    int64_t wait;  // at 1000
  } cases[] = {
      {"under the cap", {950, 990}, {3, 0, 0}, 0},
      {"at the cap", {950, 960, 990}, {3, 0, 0}, 10},
      {"one that left the window", {940, 990}, {2, 0, 0}, 0},
      {"more than the cap already", {950, 955, 990}, {2, 0, 0}, 15},
      {"the longer wait of two windows", {950, 990}, {2, 2, 0}, 3550},
      {"a day", {1000 - 86399}, {0, 0, 1}, 1},
      {"no cap", {990, 995, 999}, {}, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(CapWait(c.sent, c.caps, 1000), c.wait) << c.name;
  EXPECT_EQ(CapText({950, 990}, {2, 2, 0}, 1000), "at most 2 messages an hour");
}

TEST(SendCapsTest, TheProvidersCapAppliesUnlessOneIsGiven) {
  EXPECT_EQ(ResolveCaps({}, "SMTP.office365.com:587").perMinute, 30);
  EXPECT_EQ(ResolveCaps({0, 5, std::nullopt}, "smtp-mail.outlook.com").perMinute, 0);
  EXPECT_EQ(ResolveCaps({}, "mail.example.com").perMinute, 0);
}

}  // namespace
