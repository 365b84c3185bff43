#include "queue/thread_safe_queue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "mailbox/depesche.h"

TEST(ThreadSafeQueue, PopOnEmptyInboxYieldsAllNullRecord) {
  queue::ThreadSafeQueue<mailbox::Depesche> inbox;
  EXPECT_TRUE(inbox.Empty());
  const auto message = inbox.Pop();
  EXPECT_EQ(message.sender, nullptr);
  EXPECT_EQ(message.destination, nullptr);
  EXPECT_EQ(message.id, 0u);
  EXPECT_EQ(message.data, nullptr);
}

TEST(ThreadSafeQueue, FirstInFirstOutAndEmptyValuesForOtherTypes) {
  queue::ThreadSafeQueue<std::vector<std::uint8_t>> bytes;
  EXPECT_TRUE(bytes.Pop().empty());
  bytes.Push({1});
  bytes.Push({2, 3});
  EXPECT_EQ(bytes.Pop(), (std::vector<std::uint8_t>{1}));
  EXPECT_EQ(bytes.Pop(), (std::vector<std::uint8_t>{2, 3}));
  EXPECT_TRUE(bytes.Empty());
}

TEST(ThreadSafeQueue, PayloadIsSharedByCopiesAndFreedWithTheLast) {
  std::weak_ptr<void> watch;
  {
    queue::ThreadSafeQueue<mailbox::Depesche> inbox;
    mailbox::Depesche message;
    message.id = 0x2003;
    message.data = mailbox::MakePayload(std::string("001a2b3c4d5e"));
    watch = message.data;
    inbox.Push(message);
    message = {};
    const auto popped = inbox.Pop();
    EXPECT_EQ(mailbox::PayloadAs<std::string>(popped), "001a2b3c4d5e");
  }
  EXPECT_TRUE(watch.expired());
}

TEST(ThreadSafeQueue, ConcurrentProducersLoseNothing) {
  queue::ThreadSafeQueue<int> items;
  constexpr int kPerProducer = 2000;
  std::vector<std::thread> producers;
  for (int producer = 0; producer < 4; ++producer) {
    producers.emplace_back([&items] {
      for (int i = 1; i <= kPerProducer; ++i) items.Push(i);
    });
  }
  long long sum = 0;
  int taken = 0;
  while (taken < 4 * kPerProducer) {
    if (!items.WaitFor(std::chrono::milliseconds(100))) continue;
    sum += items.Pop();
    ++taken;
  }
  for (auto& producer : producers) producer.join();
  EXPECT_EQ(sum, 4LL * kPerProducer * (kPerProducer + 1) / 2);
}

TEST(ThreadSafeQueue, WaitForReturnsFalseOnTimeoutAndTrueWhenFilled) {
  queue::ThreadSafeQueue<int> items;
  EXPECT_FALSE(items.WaitFor(std::chrono::milliseconds(10)));
  std::thread producer([&items] { items.Push(5); });
  EXPECT_TRUE(items.WaitFor(std::chrono::seconds(10)));
  producer.join();
  EXPECT_EQ(items.Pop(), 5);
}

TEST(ThreadSafeQueue, WaitEndsOnAnElementOrOnClose) {
  queue::ThreadSafeQueue<int> items;
  std::thread producer([&items] { items.Push(5); });
  EXPECT_TRUE(items.Wait());
  producer.join();
  EXPECT_EQ(items.Pop(), 5);

  std::thread closer([&items] { items.Close(); });
  EXPECT_FALSE(items.Wait()) << "closed and empty";
  closer.join();
  items.Push(6);
  EXPECT_TRUE(items.Wait()) << "a closed queue still hands out what it holds";
}

TEST(ThreadSafeQueue, ABoundedPushDropsTheOldestBeyondTheCapacity) {
  queue::ThreadSafeQueue<int> queue;
  for (int value = 1; value <= 3; ++value) EXPECT_EQ(queue.PushBounded(value, 3), 0u);
  EXPECT_EQ(queue.PushBounded(4, 3), 1u);
  queue.Push(5);  // an unbounded push in between
  EXPECT_EQ(queue.PushBounded(6, 3), 2u);
  EXPECT_EQ(queue.Size(), 3u);
  for (const int expected : {4, 5, 6}) EXPECT_EQ(queue.Pop(), expected);
  EXPECT_TRUE(queue.Empty());
}
