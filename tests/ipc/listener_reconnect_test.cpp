// A listener whose broker dies and is started again: it connects anew, registers its events
// again and tells its owner once; a stop ends a pause between attempts at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ipc/bus_fixture.h"
#include "ipc/ubus_listener.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using testing_support::WaitUntil;

namespace {

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Records the events of the given types that reach a listener.
class EventRecord {
 public:
  void Register(ipc::UBUSListener& listener, const std::string& type) {
    ASSERT_TRUE(listener.RegisterEventHandler(type, [this, type](const char* json) {
      const std::lock_guard<std::mutex> guard(lock_);
      events_.push_back(type + " " + json);
    }));
  }
  bool WaitFor(const std::string& event) const {
    return WaitUntil([&] {
      const std::lock_guard<std::mutex> guard(lock_);
      return std::find(events_.begin(), events_.end(), event) != events_.end();
    }, 20s);
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> events_;
};

class ListenerReconnect : public ::testing::Test {
 protected:
  void SendEvent(const std::string& type, const std::string& json) {
    ipc::UBUS sender(30, broker_.Socket());
    EXPECT_TRUE(sender.Event(type.c_str(), json));
  }

  ipc_test::BrokerProcess broker_;
  ipc_test::LogCapture log_;
};

}  // namespace

TEST_F(ListenerReconnect, EventsReachTheHandlersAgainAfterTheBrokerRestarts) {
  ipc::UBUSListener listener(30, broker_.Socket());
  std::atomic<int> reconnections{0};
  listener.SetReconnectedHandler([&] { ++reconnections; });
  EventRecord record;
  record.Register(listener, "network.interface");
  record.Register(listener, "button");
  listener.ServerStart();
  SendEvent("button", R"({"event":"before"})");
  ASSERT_TRUE(record.WaitFor(R"(button {"event":"before"})"));

  broker_.Kill();
  ASSERT_TRUE(WaitUntil([&] { return log_.Contains("ubus connection lost"); }));
  // Away across the first attempt (after 1 s): the next one, 2 s later, finds it.
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(reconnections, 0);
  broker_.Restart();
  ASSERT_TRUE(WaitUntil([&] { return reconnections > 0; }, 20s)) << log_.Text();
  EXPECT_TRUE(listener.IsServerRunning());

  SendEvent("network.interface", R"({"action":"ifup","interface":"wan"})");
  SendEvent("button", R"({"event":"after"})");
  EXPECT_TRUE(record.WaitFor(R"(network.interface {"action":"ifup","interface":"wan"})"));
  EXPECT_TRUE(record.WaitFor(R"(button {"event":"after"})"));
  // Events of the listener itself go over the new connection (the old one fails them).
  EXPECT_TRUE(listener.Event("button", R"({"event":"own"})"));

  EXPECT_EQ(reconnections, 1);
  const std::string log = log_.Text();
  EXPECT_EQ(CountOf(log, "ubus connection lost"), 1u) << log;
  EXPECT_EQ(CountOf(log, "ubus connection restored"), 1u) << log;
}

TEST_F(ListenerReconnect, EachLossIsRecoveredAgain) {
  ipc::UBUSListener listener(30, broker_.Socket());
  std::atomic<int> reconnections{0};
  listener.SetReconnectedHandler([&] { ++reconnections; });
  EventRecord record;
  record.Register(listener, "button");
  listener.ServerStart();
  for (int round = 1; round <= 2; ++round) {
    broker_.Kill();
    broker_.Restart();
    ASSERT_TRUE(WaitUntil([&] { return reconnections == round; }, 20s)) << log_.Text();
    const std::string event = R"({"round":)" + std::to_string(round) + "}";
    SendEvent("button", event);
    EXPECT_TRUE(record.WaitFor("button " + event));
  }
}

TEST_F(ListenerReconnect, StoppingEndsThePauseBeforeTheNextAttemptAtOnce) {
  auto listener = std::make_unique<ipc::UBUSListener>(30, broker_.Socket());
  listener->SetReconnectBackoff(ipc::ReconnectBackoff(60s, 60s));
  EventRecord record;
  record.Register(*listener, "button");
  listener->ServerStart();
  broker_.Kill();
  ASSERT_TRUE(WaitUntil([&] { return log_.Contains("ubus connection lost"); }));

  const auto start = std::chrono::steady_clock::now();
  listener->ServerStop();
  EXPECT_TRUE(WaitUntil([&] { return !listener->IsServerRunning(); }));
  listener.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s) << "far less than the 60 s pause";
}
