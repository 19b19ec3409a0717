#include "source/keyed_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

  // "K<n>" at position n is kept without its key: it must still be found,
  // and must not be confused with the same text stored at another position.
  KeyedList<int> byPosition;
  EXPECT_TRUE(byPosition.Add("K1", 1));
  EXPECT_TRUE(byPosition.Add("K3", 2));
  EXPECT_FALSE(byPosition.Add("K3", 3));
  EXPECT_TRUE(byPosition.Add("K03", 3));
  EXPECT_TRUE(byPosition.Add("K2", 4));
  EXPECT_EQ(byPosition.Item(std::string("K3")), 2);
  EXPECT_EQ(byPosition.Item(std::string("K2")), 4);
  EXPECT_EQ(byPosition.Key(1), "K1");
  EXPECT_EQ(byPosition.Key(3), "K03");
  EXPECT_FALSE(byPosition.Exists("K4"));

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

TEST(KeyedList, PackedStringsComeBackExactly) {
  // Strings share prefixes of every length with the one before, some hold
  // NUL bytes, and one is larger than a storage block: each must come back
  // byte for byte, by position and in order.
  std::vector<std::string> values;
  std::string folder = "/export/Inbox/";
  for (int k = 0; k < 5000; ++k) {
    if (k % 700 == 0) folder = "/export/F" + std::to_string(k) + "/";
    std::string name = folder + std::to_string(k * 7919 % 100000) + ".eml";
    if (k % 3 == 0) name += ".meta";
    if (k % 97 == 0) name = name.substr(0, name.size() / 2);
    if (k == 2500) name = std::string(300 * 1024, 'x');
    if (k == 2501) name.push_back('\0');
    if (k == 2502) name.clear();
    values.push_back(name);
  }
  KeyedList<std::string> list;
  for (std::size_t k = 0; k < values.size(); ++k)
    ASSERT_TRUE(list.Add("K" + std::to_string(k + 1), values[k]));
  for (std::size_t k = values.size(); k > 0; --k)
    ASSERT_EQ(list.Item(static_cast<std::int32_t>(k)), values[k - 1]) << k;
  EXPECT_EQ(std::vector<std::string>(list.begin(), list.end()), values);
}

}  // namespace
}  // namespace quillfen
