#include <gtest/gtest.h>

#include "scan/keyed_list.h"

namespace quillfen {

TEST(KeyedList, RejectsDuplicateKeyAndKeepsList) {
  KeyedList<std::string> list;
  EXPECT_TRUE(list.Add("K1", "a"));
  EXPECT_FALSE(list.Add("K1", "b"));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Item(1), "a");
  EXPECT_EQ(list.Item(std::string("K1")), "a");
}

}  // namespace quillfen
