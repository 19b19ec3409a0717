#include "scan/keyed_list.h"

#include <gtest/gtest.h>

#include <string>

namespace quillfen {
namespace {

TEST(KeyedList, ReadsByPositionAndKeyAndRejectsDuplicatesWithoutChange) {
  KeyedList<std::string> list;
  EXPECT_TRUE(list.Empty());
  // Keys that are prefixes of one another, and an empty key, must not be
  // confused where the keys are packed together.
  EXPECT_TRUE(list.Add("K1", "a"));
  EXPECT_TRUE(list.Add("K10", "b"));
  EXPECT_TRUE(list.Add("", "c"));
  EXPECT_TRUE(list.Add("K", "d"));

  EXPECT_FALSE(list.Add("K10", "other"));
  EXPECT_FALSE(list.Add("", "other"));

  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(std::vector<std::string>(list.begin(), list.end()),
            (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(list.Item(2), "b");
  EXPECT_EQ(list.Item(std::string("K10")), "b");
  EXPECT_EQ(list.Item(std::string("")), "c");
  EXPECT_EQ(list.Item(std::string("K")), "d");
  EXPECT_EQ(list.Key(3), "");
  EXPECT_FALSE(list.Exists("K2"));

  EXPECT_THROW(list.Item(0), std::out_of_range);
  EXPECT_THROW(list.Item(5), std::out_of_range);
  EXPECT_THROW(list.Item(std::string("K100")), std::out_of_range);
  EXPECT_THROW(list.Key(0), std::out_of_range);
}

TEST(KeyedList, StaysConsistentAcrossManyGrowthSteps) {
  // Enough entries for the key index to be rebuilt many times over; every
  // entry must still be found by its key and hold its place.
  constexpr std::int32_t kEntries = 200000;
  KeyedList<std::int32_t> list;
  for (std::int32_t k = 1; k <= kEntries; ++k) ASSERT_TRUE(list.Add("K" + std::to_string(k), k));
  ASSERT_EQ(list.Count(), kEntries);
  for (std::int32_t k = 1; k <= kEntries; ++k) {
    const std::string key = "K" + std::to_string(k);
    ASSERT_EQ(list.Item(key), k);
    ASSERT_EQ(list.Key(k), key);
    ASSERT_FALSE(list.Add(key, 0));
  }
  EXPECT_EQ(list.Count(), kEntries);
  EXPECT_FALSE(list.Exists("K0"));
  EXPECT_FALSE(list.Exists("K" + std::to_string(kEntries + 1)));
}

}  // namespace
}  // namespace quillfen
