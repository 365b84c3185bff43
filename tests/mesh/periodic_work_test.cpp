#include "mesh/periodic_work.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "mesh/mesh_names.h"
#include "mesh_doubles.h"
#include "mesh/node_registry.h"
#include "nvram/mesh_settings.h"
#include "ota/firmware_source.h"
#include "support/wait.h"
#include "timer/timer_queue.h"
#include "timer/timer_worker.h"

using namespace std::chrono_literals;
using testing_support::WaitUntil;

namespace {

class FixedSettings : public MeshSettings {
 public:
  std::uint16_t NetAddr() const override { return 0x0001; }
  std::uint16_t GroupAddr() const override { return 0xCA01; }
  std::uint16_t TTL() const override { return 5; }
  std::uint64_t Token() const override { return 0; }
  void Token(const std::uint64_t& /*token*/) override {}
  std::vector<std::uint8_t> DeviceUUID() const override { return {}; }
  std::vector<std::uint8_t> MeshNetKey() const override { return {}; }
  std::vector<std::uint8_t> MeshAppKey() const override { return {}; }
  std::vector<std::uint8_t> MeshDevKey() const override { return {}; }
};

// A cloud that keeps the heartbeats it is handed.
class HeartbeatCloud : public mesh_test::SilentCloud {
 public:
  void HeartBeat(const std::string& json) override {
    const std::lock_guard<std::mutex> guard(lock_);
    heartbeats_.push_back(json);
  }
  std::vector<std::string> Heartbeats() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return heartbeats_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> heartbeats_;
};

class TwoImages : public FirmwareSource {
 public:
  std::vector<FirmwareListEntry> FirmwareList() const override { return {{1, "1.2.3+4", 7}, {2, "2.0.0+1", 9}}; }
  bool FirmwareBlock(std::uint16_t, int, int, ota::Block&) override { return false; }
};

// The records the work queued, and how often it asked for the controller check.
class Queued {
 public:
  void Add(const MeshMessage& message) {
    const std::lock_guard<std::mutex> guard(lock_);
    messages_.push_back(message);
  }
  std::size_t Count(std::uint32_t type) const {
    const std::lock_guard<std::mutex> guard(lock_);
    std::size_t count = 0;
    for (const MeshMessage& message : messages_) {
      if (message.type == type && message.address == mesh_names::kAllNodes) ++count;
    }
    return count;
  }

 private:
  mutable std::mutex lock_;
  std::vector<MeshMessage> messages_;
};

class PeriodicWorkTest : public ::testing::Test {
 protected:
  PeriodicWorkTest() {
    periods_.beacon_first = 10ms;
    periods_.beacon = 40ms;
    periods_.upgrade_first = 10ms;
    periods_.upgrade = 1h;
    periods_.heartbeat = 20ms;
    periods_.node_check = 20ms;
  }

  PeriodicWork::Services Services() {
    return {settings_, cloud_, firmware_, nodes_, [this](const MeshMessage& message) { queued_.Add(message); },
            [this] { ++controller_checks_; }};
  }

  FixedSettings settings_;
  HeartbeatCloud cloud_;
  TwoImages firmware_;
  NodeRegistry nodes_;
  Queued queued_;
  std::atomic<int> controller_checks_{0};
  MeshPeriods periods_;
  WatchdogTiming timing_{std::make_shared<timer::TimerWorker>(), 1s};
  timer::TimerQueue timer_;
};

}  // namespace

TEST_F(PeriodicWorkTest, RunningWorkBeaconsEveryPeriodAndAnnouncesEachFirmware) {
  PeriodicWork work(timer_, periods_, Services());
  work.StartRunning();
  ASSERT_TRUE(WaitUntil([&] { return queued_.Count(MeshMessage::kApplicationKey) >= 3; }));
  EXPECT_GE(controller_checks_, 2) << "the controller is checked after each beacon";
  EXPECT_EQ(queued_.Count(MeshMessage::kFirmware), 2u) << "one announcement per firmware, to every node";
  work.Cancel();
  const std::size_t beacons = queued_.Count(MeshMessage::kApplicationKey);
  EXPECT_FALSE(WaitUntil([&] { return queued_.Count(MeshMessage::kApplicationKey) > beacons; }, 150ms));
}

TEST_F(PeriodicWorkTest, TheHeartbeatNamesEveryNodeAndTheNodeCheckForgetsStaleOnes) {
  auto fresh = std::make_shared<MeshNode>(0x0100, 0x0101, "aabbccddeeff", "1.0", 0, [](auto, auto) {}, 0, timing_);
  auto stale = std::make_shared<MeshNode>(0x0200, 0x0101, "010203040506", "1.0", 0, [](auto, auto) {}, 0, timing_);
  fresh->Seen();
  stale->SeenAt(std::time(nullptr) - periods_.node_max_age_seconds - 10);
  nodes_.Add(fresh);
  nodes_.Add(stale);
  PeriodicWork work(timer_, periods_, Services());
  work.Start();
  ASSERT_TRUE(WaitUntil([&] { return nodes_.CountAt(0x0200) == 0; }));
  EXPECT_EQ(nodes_.CountAt(0x0100), 1u);
  ASSERT_TRUE(WaitUntil([&] {
    const auto beats = cloud_.Heartbeats();
    return !beats.empty() && beats.back() == R"(["aabbccddeeff"])";
  }));
  EXPECT_EQ(queued_.Count(MeshMessage::kApplicationKey), 0u) << "no beacon before a join";
  work.Cancel();
}
