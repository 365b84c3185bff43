// Mesh nodes and their watchdogs on a short clock (a "second" of 20 ms), all watchdogs on one
// shared timer worker as in the daemon.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "mesh/mesh_node.h"
#include "mesh/mesh_qos.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::WaitUntil;

namespace {

constexpr auto kSecond = 20ms;

WatchdogTiming ShortTiming() { return WatchdogTiming{std::make_shared<timer::TimerWorker>(), kSecond}; }

std::string Hex(const std::vector<unsigned char>& bytes) {
  static const char* const digits = "0123456789abcdef";
  std::string text;
  for (const unsigned char byte : bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 0x0F];
  }
  return text;
}

// What a node queued for sending, in order.
class SentRecord {
 public:
  MeshNode::Send Sender() {
    return [this](unsigned short address, std::vector<unsigned char> bytes) {
      const std::lock_guard<std::mutex> guard(lock_);
      sent_.emplace_back(address, Hex(bytes));
    };
  }
  std::vector<std::pair<unsigned short, std::string>> Sent() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return sent_;
  }
  std::size_t CountStartingWith(const std::string& prefix) const {
    std::size_t count = 0;
    for (const auto& entry : Sent()) count += entry.second.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::pair<unsigned short, std::string>> sent_;
};

// Sensor data get (C0 F1 05), folds (C3 F1 05 20 02) and beacon (C3 F1 05 20 06) messages.
const std::string kGet = "c0f105";
const std::string kFolds = "c3f1050220";
const std::string kBeacon = "c3f1050620";

TEST(MeshQoSTest, FiresAfterTheIntervalPlusFiveThenRetriesTenTimesAndFallsSilent) {
  const WatchdogTiming timing = ShortTiming();
  std::atomic<int> calls{0};
  MeshQoS watchdog("temp", 2, 1, [&calls](const std::string& name) {
    EXPECT_EQ(name, "temp");
    ++calls;
  }, timing);

  const auto started = std::chrono::steady_clock::now();
  watchdog.Start();
  ASSERT_TRUE(WaitUntil([&] { return calls >= 1; }, 5s));
  EXPECT_GE(std::chrono::steady_clock::now() - started, 7 * kSecond);
  ASSERT_TRUE(WaitUntil([&] { return calls == 10; }, 5s));
  EXPECT_FALSE(WaitUntil([&] { return calls > 10; }, 30 * kSecond)) << "at most ten callbacks after a start";

  watchdog.Start();  // a new start counts again from zero
  EXPECT_TRUE(WaitUntil([&] { return calls == 20; }, 5s));
}

TEST(MeshQoSTest, ACancelledOrRestartedWatchdogDoesNotFireEarly) {
  const WatchdogTiming timing = ShortTiming();
  std::atomic<int> calls{0};
  MeshQoS watchdog("FOLD", 10, 1, [&calls](const std::string&) { ++calls; }, timing);
  watchdog.Start();
  watchdog.Cancel();
  EXPECT_FALSE(WaitUntil([&] { return calls > 0; }, 25 * kSecond));
  watchdog.SetInterval(0);
  watchdog.Start();
  EXPECT_TRUE(WaitUntil([&] { return calls > 0; }, 5s));
}

class MeshNodeTest : public ::testing::Test {
 protected:
  std::unique_ptr<MeshNode> MakeNode(std::uint16_t channel = 0) {
    return std::make_unique<MeshNode>(0x0010, 0x0101, channel ? "0a1b2c3d4e5f_" + std::to_string(channel)
                                                              : std::string("0a1b2c3d4e5f"),
                                      "1.0.0.0", 7, sent_.Sender(), channel, timing_);
  }

  WatchdogTiming timing_ = ShortTiming();
  SentRecord sent_;
};

TEST_F(MeshNodeTest, FoldsAreSentAndResentUntilAcknowledged) {
  auto node = MakeNode();
  EXPECT_TRUE(node->FoldsEmpty());
  node->UpdateFolds(json{{"temp", 5}});
  ASSERT_EQ(sent_.CountStartingWith(kFolds), 1u);
  EXPECT_EQ(sent_.Sent().front().first, 0x0010);
  // Not acknowledged: sent again after 60 + 5 "seconds".
  ASSERT_TRUE(WaitUntil([&] { return sent_.CountStartingWith(kFolds) == 2; }, 5s));
  node->FoldsAcknowledged();
  EXPECT_FALSE(WaitUntil([&] { return sent_.CountStartingWith(kFolds) > 2; }, 60 * kSecond));
}

TEST_F(MeshNodeTest, ASilentKindIsPolledAndAReportRestartsItsWatchdog) {
  auto node = MakeNode(2);
  node->UpdateFolds(json{{"temp", 0}});  // 0 minutes: polled 5 "seconds" after a start
  node->FoldsAcknowledged();
  node->KindReceived("temp");
  ASSERT_TRUE(WaitUntil([&] { return sent_.CountStartingWith(kGet) >= 1; }, 5s));
  // Channel 2 asks with {"temp": 2}.
  EXPECT_EQ(sent_.Sent().back().second, kGet + "a16474656d7002");
  node->KindReceived("humidity");  // no watchdog of that kind: nothing happens
}

TEST_F(MeshNodeTest, LaterFoldsAddNoWatchdogButAreSent) {
  auto node = MakeNode();
  node->UpdateFolds(json{{"temp", 5}});
  node->UpdateFolds(json{{"temp", 5}, {"hum", 0}});
  EXPECT_EQ(node->Folds(), (json{{"temp", 5}, {"hum", 0}}));
  EXPECT_EQ(sent_.CountStartingWith(kFolds), 2u);
  node->FoldsAcknowledged();
  node->KindReceived("hum");
  EXPECT_FALSE(WaitUntil([&] { return sent_.CountStartingWith(kGet) > 0; }, 20 * kSecond));
}

TEST_F(MeshNodeTest, BeaconSettingsGoToMainNodesOnly) {
  auto sub_device = MakeNode(1);
  sub_device->UpdateBeacon(true);
  sub_device->BeaconAcknowledged();
  EXPECT_TRUE(sent_.Sent().empty());

  auto node = MakeNode();
  node->UpdateBeacon(true);
  ASSERT_EQ(sent_.CountStartingWith(kBeacon), 1u);
  ASSERT_TRUE(WaitUntil([&] { return sent_.CountStartingWith(kBeacon) == 2; }, 5s)) << "resent after 125";
  node->BeaconAcknowledged();
  EXPECT_FALSE(WaitUntil([&] { return sent_.CountStartingWith(kBeacon) > 2; }, 100 * kSecond));
}

TEST_F(MeshNodeTest, FoldsThatAreNotNumbersNeverThrow) {
  auto node = MakeNode();
  node->UpdateFolds(json{{"temp", "five"}, {"hum", nullptr}, {"co2", 1e30}});
  node->FoldsAcknowledged();
  node->UpdateFolds(json::array({1, 2}));
  node->FoldsAcknowledged();
  SUCCEED();
}

}  // namespace
