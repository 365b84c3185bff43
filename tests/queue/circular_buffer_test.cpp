#include "queue/circular_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Drain(queue::CircularBuffer<std::string>& buffer) {
  std::vector<std::string> items;
  while (!buffer.Empty()) items.push_back(buffer.PopFront());
  return items;
}

}  // namespace

TEST(CircularBuffer, FiveHundredAndFirstPushDropsTheOldest) {
  queue::CircularBuffer<std::string> reports(500);
  for (int i = 1; i <= 501; ++i) reports.PushBack(std::to_string(i));
  EXPECT_EQ(reports.Size(), 500u);
  const auto items = Drain(reports);
  ASSERT_EQ(items.size(), 500u);
  EXPECT_EQ(items.front(), "2");
  EXPECT_EQ(items.back(), "501");
}

TEST(CircularBuffer, PushFrontOnFullBufferDropsTheNewest) {
  queue::CircularBuffer<std::string> buffer(3);
  for (const char* item : {"a", "b", "c"}) buffer.PushBack(item);
  buffer.PushFront("x");
  EXPECT_EQ(buffer.Size(), 3u);
  EXPECT_EQ(Drain(buffer), (std::vector<std::string>{"x", "a", "b"}));
}

TEST(CircularBuffer, PutBackAfterAFailedDeliveryKeepsOrderAcrossTheWrap) {
  queue::CircularBuffer<std::string> buffer(3);
  buffer.PushBack("a");
  buffer.PushBack("b");
  EXPECT_EQ(buffer.PopFront(), "a");  // head now at slot 1
  buffer.PushBack("c");
  buffer.PushBack("d");  // wraps to slot 0
  const auto failed = buffer.PopFront();
  buffer.PushFront(failed);
  EXPECT_EQ(Drain(buffer), (std::vector<std::string>{"b", "c", "d"}));

  buffer.PushFront("z");  // head wraps backwards from slot 0
  buffer.PushBack("e");
  EXPECT_EQ(Drain(buffer), (std::vector<std::string>{"z", "e"}));
}

TEST(CircularBuffer, OverwritingWrapsRepeatedly) {
  queue::CircularBuffer<std::string> buffer(2);
  for (int i = 0; i < 7; ++i) buffer.PushBack(std::to_string(i));
  EXPECT_EQ(Drain(buffer), (std::vector<std::string>{"5", "6"}));
}

TEST(CircularBuffer, EmptyAndZeroCapacity) {
  queue::CircularBuffer<std::string> empty(4);
  EXPECT_EQ(empty.PopFront(), "");
  EXPECT_EQ(empty.Size(), 0u);

  queue::CircularBuffer<std::string> none(0);
  none.PushBack("a");
  none.PushFront("b");
  EXPECT_TRUE(none.Empty());
  EXPECT_EQ(none.PopFront(), "");
}
