#include "uiglean/platform/linux/keptanswers.h"

#include <gtest/gtest.h>

namespace uiglean::lx {
namespace {

KeptRef obj(const std::string& bus, int n) {
  return {bus, "/org/a11y/atspi/accessible/" + std::to_string(n)};
}

KeptBase role(std::uint32_t r) { return KeptBase{r, 0x1234}; }

KeptActions actions(std::size_t n, std::size_t length) {
  return KeptActions(n, {std::string(length, 'a'), "<Alt>x"});
}

TEST(KeptAnswers, KeepsRoleStatesAndActionsPerObject) {
  KeptAnswers kept(100, 1 << 20);
  KeptRef a = obj(":1.5", 1);
  kept.keepActions(a, actions(1, 5));  // no role and states kept: nothing to put them beside
  EXPECT_EQ(kept.find(a), nullptr);
  kept.keepBase(a, role(42));
  kept.keepActions(a, actions(1, 5));
  ASSERT_NE(kept.find(a), nullptr);
  EXPECT_EQ(kept.find(a)->base.role, 42U);
  EXPECT_EQ(kept.find(a)->base.states, 0x1234U);
  ASSERT_TRUE(kept.find(a)->actions.has_value());
  EXPECT_EQ(kept.find(a)->actions->front().second, "<Alt>x");

  // Same path on another application is another object.
  KeptRef b = obj(":1.6", 1);
  kept.keepBase(b, role(7));
  EXPECT_EQ(kept.find(a)->base.role, 42U);
  kept.forget(a);
  EXPECT_EQ(kept.find(a), nullptr);
  EXPECT_EQ(kept.find(b)->base.role, 7U);
  // Keeping a role again leaves the actions as they were.
  kept.keepActions(b, actions(2, 3));
  kept.keepBase(b, role(8));
  EXPECT_EQ(kept.find(b)->base.role, 8U);
  EXPECT_EQ(kept.find(b)->actions->size(), 2U);
  EXPECT_TRUE(kept.find(b)->actionInterface);
  // An object without the Action interface is kept as such.
  kept.keepActions(b, {}, false);
  EXPECT_FALSE(kept.find(b)->actionInterface);
  EXPECT_TRUE(kept.find(b)->actions->empty());
}

TEST(KeptAnswers, ForgetsOneApplicationWhole) {
  KeptAnswers kept(100, 1 << 20);
  for (int i = 0; i < 10; ++i) {
    kept.keepBase(obj(":1.5", i), role(1));
    kept.keepBase(obj(":1.7", i), role(2));
  }
  kept.forgetApp(":1.5");
  EXPECT_EQ(kept.size(), 10U);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(kept.find(obj(":1.5", i)), nullptr);
    EXPECT_NE(kept.find(obj(":1.7", i)), nullptr);
  }
  kept.clear();
  EXPECT_EQ(kept.size(), 0U);
  EXPECT_EQ(kept.bytes(), 0U);
}

TEST(KeptAnswers, EvictsTheLeastRecentlyUsedBeyondTheEntryBound) {
  KeptAnswers kept(3, 1 << 20);
  kept.keepBase(obj(":1.5", 1), role(1));
  kept.keepBase(obj(":1.5", 2), role(2));
  kept.keepBase(obj(":1.5", 3), role(3));
  ASSERT_NE(kept.find(obj(":1.5", 1)), nullptr);  // 1 used: 2 is now the oldest
  kept.keepBase(obj(":1.5", 4), role(4));
  EXPECT_EQ(kept.size(), 3U);
  EXPECT_EQ(kept.find(obj(":1.5", 2)), nullptr);
  EXPECT_NE(kept.find(obj(":1.5", 1)), nullptr);
  EXPECT_NE(kept.find(obj(":1.5", 3)), nullptr);
  EXPECT_NE(kept.find(obj(":1.5", 4)), nullptr);
  // Keeping again counts as a use too.
  kept.keepActions(obj(":1.5", 1), {});
  kept.keepBase(obj(":1.5", 5), role(5));
  EXPECT_EQ(kept.find(obj(":1.5", 3)), nullptr);
  EXPECT_NE(kept.find(obj(":1.5", 1)), nullptr);
}

TEST(KeptAnswers, StaysWithinTheByteBoundAndRefusesHugeAnswers) {
  const std::size_t bound = 64 * 1024;
  KeptAnswers kept(100'000, bound);
  // An application giving its controls long action names: the store keeps the newest that fit.
  for (int i = 0; i < 1000; ++i) {
    kept.keepBase(obj(":1.5", i), role(1));
    kept.keepActions(obj(":1.5", i), actions(4, 250));
    ASSERT_LE(kept.bytes(), bound);
  }
  EXPECT_GT(kept.size(), 10U);
  EXPECT_LT(kept.size(), 1000U);
  EXPECT_NE(kept.find(obj(":1.5", 999)), nullptr);
  EXPECT_EQ(kept.find(obj(":1.5", 0)), nullptr);

  // Actions of a megabyte are not kept, and the object's role and states go with them (the
  // entry is refused whole); nothing else is pushed out for them.
  std::size_t before = kept.size();
  kept.keepBase(obj(":1.9", 1), role(1));
  kept.keepActions(obj(":1.9", 1), actions(1, 1 << 20));
  EXPECT_EQ(kept.find(obj(":1.9", 1)), nullptr);
  EXPECT_EQ(kept.size(), before);
  EXPECT_LE(kept.bytes(), bound);
}

TEST(KeptAnswers, ForgettingUnknownObjectsDoesNothing) {
  KeptAnswers kept(10, 1 << 20);
  kept.keepBase(obj(":1.5", 2), role(1));
  kept.forget(obj(":1.5", 1));
  kept.forgetApp(":1.6");
  EXPECT_EQ(kept.size(), 1U);
}

}  // namespace
}  // namespace uiglean::lx
