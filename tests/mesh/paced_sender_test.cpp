#include "mesh/paced_sender.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A transport that records every hand-over; device-key sends fail when told to.
class RecordingTransport : public MeshTransport {
 public:
  struct Sent {
    std::string how;  // "Send" or "DevKeySend"
    std::uint16_t address;
    std::vector<std::uint8_t> data;
    Clock::time_point at;
  };

  void Send(std::uint16_t address, const std::vector<std::uint8_t>& data) override { Record("Send", address, data); }
  void DevKeySend(const std::vector<std::uint8_t>& data, std::function<void()> failed) override {
    Record("DevKeySend", 0, data);
    if (fail_device_key_) failed();
  }

  bool WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, 20s, [&] { return sent_.size() >= count; });
  }
  std::vector<Sent> SentTo(std::uint16_t address) {
    const std::lock_guard<std::mutex> guard(lock_);
    std::vector<Sent> matching;
    for (const Sent& sent : sent_) {
      if (sent.address == address) matching.push_back(sent);
    }
    return matching;
  }
  std::size_t Count() {
    const std::lock_guard<std::mutex> guard(lock_);
    return sent_.size();
  }

  bool fail_device_key_ = false;

 private:
  void Record(const char* how, std::uint16_t address, const std::vector<std::uint8_t>& data) {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      sent_.push_back({how, address, data, Clock::now()});
    }
    changed_.notify_all();
  }

  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Sent> sent_;
};

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
