#include "common/json_nesting.h"

#include <gtest/gtest.h>

#include <string>

TEST(JsonNesting, CountsArraysAndObjectsOutsideStrings) {
  EXPECT_TRUE(JsonNestingWithin("", 0));
  EXPECT_TRUE(JsonNestingWithin("7", 0));
  EXPECT_FALSE(JsonNestingWithin("[]", 0));
  EXPECT_TRUE(JsonNestingWithin(R"({"a":[1,{"b":[]}]})", 4));
  EXPECT_FALSE(JsonNestingWithin(R"({"a":[1,{"b":[]}]})", 3));
  EXPECT_TRUE(JsonNestingWithin(R"([[],[],[],[]])", 2));  // siblings do not add up
  // Brackets inside strings, escaped quotes included, do not count.
  EXPECT_TRUE(JsonNestingWithin(R"(["[[[[", "\"[[[[", "\\", {"k": "{{{{"}])", 2));
  EXPECT_FALSE(JsonNestingWithin(R"(["\\", [[]]])", 2));
  EXPECT_FALSE(JsonNestingWithin(std::string(100000, '['), 32));
}
