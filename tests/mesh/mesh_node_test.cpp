// Mesh nodes and their watchdogs on a short clock (a "second" of 20 ms), all watchdogs on one
// shared timer worker as in the daemon.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "mesh/mesh_node.h"
#include "mesh/mesh_qos.h"
#include "mesh/node_registry.h"
#include "support/gate.h"
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

// What a node sent, in order: a sink without a queue, so each record's turn comes at once.
class SentRecord {
 public:
  MeshNode::SendBytes Sender() {
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
  std::shared_ptr<MeshNode> MakeNode(std::uint16_t channel = 0) {
    return std::make_shared<MeshNode>(0x0010, 0x0101, channel ? "0a1b2c3d4e5f_" + std::to_string(channel)
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
  node->UpdateFolds(json{{"temp", 1}});  // 1 minute: polled 65 "seconds" after a start
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
  node->UpdateFolds(json{{"temp", 5}, {"hum", 1}});
  EXPECT_EQ(node->Folds(), (json{{"temp", 5}, {"hum", 1}}));
  EXPECT_EQ(sent_.CountStartingWith(kFolds), 2u);
  node->FoldsAcknowledged();
  node->KindReceived("hum");  // a watchdog of a minute would poll after 65 "seconds"
  EXPECT_FALSE(WaitUntil([&] { return sent_.CountStartingWith(kGet) > 0; }, 80 * kSecond));
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

// A control queue that holds the records until told to run their turns, as the paced sender
// does one record at a time.
class HeldRecords {
 public:
  MeshNode::Send Sender() {
    return [this](const MeshMessage& record) {
      const std::lock_guard<std::mutex> guard(lock_);
      held_.push_back(record);
    };
  }
  void RunTurns() {
    std::vector<MeshMessage> due;
    {
      const std::lock_guard<std::mutex> guard(lock_);
      due.swap(held_);
    }
    for (const auto& record : due) {
      if (record.on_turn) record.on_turn();
    }
  }

 private:
  std::mutex lock_;
  std::vector<MeshMessage> held_;
};

// Each setting's delivery as the snapshot tells it: given, out, acknowledged, given again.
TEST_F(MeshNodeTest, TheSnapshotFollowsEachSettingFromGivenToAcknowledged) {
  using mesh::SettingDelivery;
  HeldRecords queue;
  const auto node = std::make_shared<MeshNode>(0x0010, 0x0101, "0a1b2c3d4e5f", "1.0.0.0", 7, queue.Sender(), 0,
                                               timing_);
  struct Step {
    const char* what;
    std::function<void()> act;
    SettingDelivery folds;
    SettingDelivery beacon;
  };
  const std::vector<Step> steps{
      {"nothing given yet", [] {}, SettingDelivery::kNone, SettingDelivery::kNone},
      {"folds given", [&] { node->UpdateFolds(json{{"temp", 5}}); }, SettingDelivery::kWaiting, SettingDelivery::kNone},
      {"beacon given", [&] { node->UpdateBeacon(true); }, SettingDelivery::kWaiting, SettingDelivery::kWaiting},
      {"both out", [&] { queue.RunTurns(); }, SettingDelivery::kSent, SettingDelivery::kSent},
      {"folds acknowledged", [&] { node->FoldsAcknowledged(); }, SettingDelivery::kAcknowledged,
       SettingDelivery::kSent},
      {"beacon acknowledged", [&] { node->BeaconAcknowledged(); }, SettingDelivery::kAcknowledged,
       SettingDelivery::kAcknowledged},
      {"new folds given", [&] { node->UpdateFolds(json{{"temp", 2}}); }, SettingDelivery::kWaiting,
       SettingDelivery::kAcknowledged},
      {"an acknowledgement of the old copy", [&] { node->FoldsAcknowledged(); }, SettingDelivery::kWaiting,
       SettingDelivery::kAcknowledged},
  };
  for (const Step& step : steps) {
    step.act();
    const mesh::NodeStatus status = node->Status();
    EXPECT_EQ(status.folds_delivery, step.folds) << step.what;
    EXPECT_EQ(status.beacon_delivery, step.beacon) << step.what;
  }
  const mesh::NodeStatus status = node->Status();
  EXPECT_EQ(status.folds, (json{{"temp", 2}})) << "the folds last given";
  EXPECT_EQ(status.id, "0a1b2c3d4e5f");
  EXPECT_EQ(status.address, 0x0010);
  EXPECT_EQ(status.type, 0x0101);
  EXPECT_EQ(status.version, "1.0.0.0");
  EXPECT_FALSE(status.settings_fetch_pending) << "the fetcher's to tell, not the node's";

  auto sub_device = MakeNode(2);
  sub_device->UpdateBeacon(true);
  EXPECT_EQ(sub_device->Status().beacon_delivery, SettingDelivery::kNone) << "a sub-device has no beacon";
  EXPECT_EQ(sub_device->Status().channel, 2);
}

// Each kind's last report is remembered, for at most kReportKindsKept kinds: a device sending
// ever new kinds cannot grow the node.
TEST_F(MeshNodeTest, TheLastReportOfEachKindIsRememberedForABoundedNumberOfKinds) {
  auto node = MakeNode();
  node->SeenAt(1000);
  EXPECT_TRUE(node->Status().last_report.empty());
  EXPECT_EQ(node->Status().last_seen, 1000);

  const std::time_t before = std::time(nullptr);
  for (std::size_t kind = 0; kind < MeshNode::kReportKindsKept + 4; ++kind) node->KindReceived("k" + std::to_string(kind));
  const std::time_t after = std::time(nullptr);
  const auto reports = node->Status().last_report;
  ASSERT_EQ(reports.size(), MeshNode::kReportKindsKept);
  EXPECT_EQ(reports.count("k" + std::to_string(MeshNode::kReportKindsKept)), 0u) << "a kind beyond the bound";
  for (const auto& [kind, when] : reports) {
    EXPECT_GE(when, before) << kind;
    EXPECT_LE(when, after) << kind;
  }
}

// Without folds it is 0: the registry's floor (five minutes in the daemon) alone applies.
TEST_F(MeshNodeTest, ANodeIsStaleAfterTwoOfItsLongestFoldsAndAMinute) {
  struct Case {
    json folds;
    std::time_t stale_after;
  };
  const Case cases[] = {
      {nullptr, 0},
      {json{{"temp", 2}}, 300},
      {json{{"temp", 3}}, 420},
      {json{{"temp", 5}, {"hum", 10}}, 1260},
      {json{{"temp", 1440}}, 172860},
  };
  for (const Case& entry : cases) {
    SCOPED_TRACE(entry.folds.dump());
    auto node = MakeNode();
    node->UpdateFolds(entry.folds);
    EXPECT_EQ(node->StaleAfterSeconds(), entry.stale_after);
  }
}

// Sends that can be held: while the gate is closed, a send waits inside the node's send
// function until it opens, then records its tag (a copy the function owns, so it is read from
// the node after the wait) and the bytes.
class SendGate {
 public:
  MeshNode::SendBytes Sender(std::string tag) {
    return [this, tag](unsigned short /*address*/, std::vector<unsigned char> bytes) {
      gate_.Pass();
      const std::lock_guard<std::mutex> guard(lock_);
      sent_.push_back(tag + " " + Hex(bytes));
    };
  }
  void Arm() { gate_.Close(); }
  void Release() { gate_.Open(); }
  int Held() const { return gate_.Held(); }
  std::size_t CountFrom(const std::string& tag) const {
    const std::lock_guard<std::mutex> guard(lock_);
    return static_cast<std::size_t>(
        std::count_if(sent_.begin(), sent_.end(), [&tag](const std::string& entry) { return entry.rfind(tag + " ", 0) == 0; }));
  }

 private:
  testing_support::Gate gate_;
  mutable std::mutex lock_;
  std::vector<std::string> sent_;
};

// A node whose kind watchdog "temp" polls 65 "seconds" after a report (folds acknowledged).
std::shared_ptr<MeshNode> PollingNode(std::uint16_t address, const std::string& tag, SendGate& gate,
                                      const WatchdogTiming& timing) {
  auto node = std::make_shared<MeshNode>(address, 0x0101, tag, "1.0.0.0", 0, gate.Sender(tag), 0, timing);
  node->UpdateFolds(json{{"temp", 1}});
  node->FoldsAcknowledged();
  return node;
}

enum class Removal { kLeave, kAgeing };
enum class WatchdogState { kRunning, kQueued };

// The registry drops a node (a leave or ageing) while one of its watchdogs is running, or is
// due but waiting for the shared worker. A running callback finishes its send on the intact
// node before the node goes; a queued one is dropped. Run under ThreadSanitizer and ASan.
TEST(NodeRemovalTest, ANodeRemovedWhileItsWatchdogFiresStaysValidUntilTheCallbackEnds) {
  for (const Removal removal : {Removal::kLeave, Removal::kAgeing}) {
    for (const WatchdogState state : {WatchdogState::kRunning, WatchdogState::kQueued}) {
      SCOPED_TRACE(testing::Message() << "ageing " << (removal == Removal::kAgeing) << ", queued "
                                      << (state == WatchdogState::kQueued));
      const WatchdogTiming timing = ShortTiming();
      SendGate gate;
      NodeRegistry nodes;
      auto subject = PollingNode(0x0010, "subject", gate, timing);
      subject->SeenAt(1);  // long ago: ageing removes it
      nodes.Add(subject);
      // The watchdog that holds the worker: the subject's own, or another node's.
      const auto other = state == WatchdogState::kQueued ? PollingNode(0x0020, "holder", gate, timing) : nullptr;
      MeshNode& holder = other ? *other : *subject;

      gate.Arm();
      holder.KindReceived("temp");
      ASSERT_TRUE(WaitUntil([&] { return gate.Held() == 1; }, 5s));
      if (state == WatchdogState::kQueued) {
        const auto due = std::chrono::steady_clock::now() + 65 * kSecond;
        subject->KindReceived("temp");
        ASSERT_TRUE(WaitUntil([&] { return std::chrono::steady_clock::now() > due; }, 5s));
      }
      const std::weak_ptr<MeshNode> watched = subject;
      subject.reset();  // the registry (and a running callback) hold the subject now

      std::atomic<bool> removed{false};
      std::thread remover([&] {
        if (removal == Removal::kLeave) {
          EXPECT_TRUE(nodes.RemoveAll(0x0010));
        } else {
          nodes.RemoveStale(std::time(nullptr), 300);
        }
        removed = true;
      });
      EXPECT_TRUE(WaitUntil([&] { return watched.expired(); }, 5s)) << "the registry let go of the node";
      EXPECT_EQ(nodes.CountAt(0x0010), 0u);
      EXPECT_FALSE(WaitUntil([&] { return removed.load(); }, 20 * kSecond))
          << "the node's end waits for the callback on the worker";
      gate.Release();
      remover.join();
      EXPECT_TRUE(removed);
      if (state == WatchdogState::kRunning) {
        EXPECT_EQ(gate.CountFrom("subject"), 2u) << "the folds, then the poll that was held";
      } else {
        EXPECT_EQ(gate.CountFrom("subject"), 1u) << "the folds only: the queued poll was dropped";
        EXPECT_GE(gate.CountFrom("holder"), 2u);
      }
    }
  }
}

}  // namespace
