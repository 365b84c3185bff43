#include "mesh/paced_sender.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "packet/log_capture.h"
#include "recording_transport.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

using mesh_test::RecordingTransport;

MeshMessage Record(std::uint32_t type, std::uint16_t address, std::uint8_t byte) {
  return MeshMessage{type, address, {byte}};
}

constexpr SenderPaces kShortPaces{40ms, 120ms, 80ms};

}  // namespace

TEST(PacedSender, EachQueueKeepsItsOrderAndItsPace) {
  RecordingTransport transport;
  PacedSender sender(
      transport, [](const MeshMessage&) {}, [](const std::vector<std::uint8_t>&) {}, kShortPaces);
  // Addresses name the queue: 1 transmit, 2 control, 3 firmware.
  for (std::uint8_t i = 0; i < 3; ++i) {
    sender.Enqueue(Record(MeshMessage::kControl, 2, i));
    sender.Enqueue(Record(MeshMessage::kFirmware, 3, i));
    sender.Enqueue(Record(MeshMessage::kApplicationKey, 1, i));
  }
  ASSERT_TRUE(transport.WaitFor(9));
  const std::pair<std::uint16_t, std::chrono::milliseconds> queues[] = {
      {1, kShortPaces.transmit}, {2, kShortPaces.control}, {3, kShortPaces.firmware}};
  for (const auto& [address, pace] : queues) {
    const auto sent = transport.SentTo(address);
    ASSERT_EQ(sent.size(), 3u) << address;
    for (std::size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(sent[i].how, "Send");
      EXPECT_EQ(sent[i].data, std::vector<std::uint8_t>{static_cast<std::uint8_t>(i)}) << address;
      if (i > 0) {
        EXPECT_GE(sent[i].at - sent[i - 1].at, pace) << address;
      }
    }
  }
}

TEST(PacedSender, ReceivedAndUnknownTypesAreNotSent) {
  RecordingTransport transport;
  PacedSender sender(
      transport, [](const MeshMessage&) {}, [](const std::vector<std::uint8_t>&) {}, kShortPaces);
  sender.Enqueue(Record(MeshMessage::kReceived, 7, 0));
  sender.Enqueue(Record(5, 7, 0));
  sender.Enqueue(Record(MeshMessage::kApplicationKey, 8, 0));  // a marker behind them
  ASSERT_TRUE(transport.WaitFor(1));
  sender.Stop();
  EXPECT_EQ(transport.Count(), 1u);
  EXPECT_TRUE(transport.SentTo(7).empty());
}

TEST(PacedSender, ADeviceKeyRecordThatDidNotGoOutIsHandedBack) {
  RecordingTransport transport;
  transport.fail_device_key_ = true;
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::vector<std::uint8_t>> failed;
  PacedSender sender(
      transport, [](const MeshMessage&) {},
      [&](const std::vector<std::uint8_t>& data) {
        const std::lock_guard<std::mutex> guard(lock);
        failed.push_back(data);
        changed.notify_all();
      },
      kShortPaces);
  sender.Enqueue(MeshMessage{MeshMessage::kDeviceKey, 1, {0x80, 0x0D, 0x05}});
  std::unique_lock<std::mutex> guard(lock);
  ASSERT_TRUE(changed.wait_for(guard, 20s, [&] { return !failed.empty(); }));
  EXPECT_EQ(failed.front(), (std::vector<std::uint8_t>{0x80, 0x0D, 0x05}));
  EXPECT_EQ(transport.SentTo(0).front().how, "DevKeySend");
}

TEST(PacedSender, ReceivedMessagesReachTheDispatchInOrderAndStopEndsAPaceAtOnce) {
  RecordingTransport transport;
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::uint16_t> received;
  PacedSender sender(
      transport,
      [&](const MeshMessage& message) {
        const std::lock_guard<std::mutex> guard(lock);
        received.push_back(message.address);
        changed.notify_all();
      },
      [](const std::vector<std::uint8_t>&) {}, SenderPaces{1h, 1h, 1h});
  for (std::uint16_t address = 1; address <= 3; ++address) sender.Received(Record(MeshMessage::kReceived, address, 0));
  {
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(changed.wait_for(guard, 20s, [&] { return received.size() == 3; }));
    EXPECT_EQ(received, (std::vector<std::uint16_t>{1, 2, 3}));
  }
  sender.Enqueue(Record(MeshMessage::kControl, 9, 0));
  ASSERT_TRUE(transport.WaitFor(1));  // the control queue now pauses for an hour
  const auto start = Clock::now();
  sender.Stop();
  EXPECT_LT(Clock::now() - start, 10s);
}

// Every queue is bounded: the sending queues refuse what finds them full (a refused device-key
// record fails its step at once), the receive queue drops its oldest; each counts its drops and
// tells the log once, not once a drop.
TEST(PacedSender, AFullQueueDropsCountsAndTellsTheLogOnce) {
  packet_test::LogCapture log;
  RecordingTransport transport;
  transport.Hold();
  std::mutex lock;
  std::condition_variable changed;
  bool receiving_held = true;
  std::vector<std::uint16_t> received;
  std::vector<std::vector<std::uint8_t>> failed;
  PacedSender sender(
      transport,
      [&](const MeshMessage& message) {
        std::unique_lock<std::mutex> guard(lock);
        received.push_back(message.address);
        changed.notify_all();
        changed.wait(guard, [&] { return !receiving_held; });
      },
      [&](const std::vector<std::uint8_t>& data) {
        const std::lock_guard<std::mutex> guard(lock);
        failed.push_back(data);
      },
      SenderPaces{1h, 0ms, 0ms}, SenderBounds{1, 2, 1, 2});

  // Each queue's first record is in hand (held) or paced (the transmit queue's hour); the rest
  // wait behind it.
  sender.Enqueue(Record(MeshMessage::kControl, 1, 0));
  sender.Enqueue(MeshMessage{MeshMessage::kDeviceKey, 0, {0x80, 0x0D, 0x00}});
  sender.Received(Record(MeshMessage::kReceived, 1, 0));
  ASSERT_TRUE(transport.WaitFor(2));
  {
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(changed.wait_for(guard, 20s, [&] { return received.size() == 1; }));
  }

  auto setting = [](std::uint8_t byte, const char* key) {
    MeshMessage message = Record(MeshMessage::kControl, 3, byte);
    message.key = key;
    return message;
  };
  sender.Enqueue(setting(1, "3/folds/0"));
  sender.Enqueue(setting(2, "3/beacon/0"));
  sender.Enqueue(setting(3, "3/folds/0"));  // replaces the waiting folds: no drop
  sender.Enqueue(Record(MeshMessage::kControl, 3, 4));  // refused
  sender.Enqueue(setting(5, "4/folds/0"));              // refused
  sender.Enqueue(MeshMessage{MeshMessage::kDeviceKey, 0, {0x80, 0x0D, 0x01}});
  sender.Enqueue(MeshMessage{MeshMessage::kDeviceKey, 0, {0x80, 0x0D, 0x02}});  // refused: fails at once
  for (std::uint16_t address = 2; address <= 4; ++address) sender.Received(Record(MeshMessage::kReceived, address, 0));

  const SenderCounters counters = sender.Counters();
  EXPECT_EQ(counters.control.waiting, 2u);
  EXPECT_EQ(counters.control.replaced, 1u);
  EXPECT_EQ(counters.control.dropped, 2u);
  EXPECT_EQ(counters.transmit.dropped, 1u);
  EXPECT_EQ(counters.receive.dropped, 1u);
  EXPECT_EQ(counters.firmware.dropped, 0u);
  {
    const std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(failed, (std::vector<std::vector<std::uint8_t>>{{0x80, 0x0D, 0x02}}));
  }

  {
    const std::lock_guard<std::mutex> guard(lock);
    receiving_held = false;
  }
  changed.notify_all();
  transport.Release();
  ASSERT_TRUE(transport.WaitFor(4));  // the two settings
  {
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(changed.wait_for(guard, 20s, [&] { return received.size() == 3; }));
    EXPECT_EQ(received, (std::vector<std::uint16_t>{1, 3, 4})) << "the oldest waiting message was dropped";
  }
  const auto to_node = transport.SentTo(3);
  ASSERT_EQ(to_node.size(), 2u);
  EXPECT_EQ(to_node[0].data, std::vector<std::uint8_t>{3}) << "the newer folds, in the older one's place";
  EXPECT_EQ(to_node[1].data, std::vector<std::uint8_t>{2});
  sender.Stop();

  const std::string text = log.Text();
  for (const char* queue : {"control", "transmit", "receive"}) {
    const std::string line = std::string("Mesh ") + queue + " queue full, records dropped since the last notice: 1";
    EXPECT_NE(text.find(line), std::string::npos) << text;
  }
  EXPECT_EQ(text.find("since the last notice: 2"), std::string::npos) << "one line a minute at most";
}
