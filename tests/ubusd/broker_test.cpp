// The broker's own services, seen through plain client connections.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "ipc/bus_fixture.h"
#include "ipc/connection.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using ipc::Connection;
using ipc::blobmsg::Node;

namespace {

// A connection serving its objects on a thread of its own, recording the events it gets.
class Client {
 public:
  explicit Client(const std::string& socket) : bus(socket) {}
  ~Client() { StopServing(); }

  std::uint32_t Listen(const std::vector<std::string>& patterns) {
    std::uint32_t object = 0;
    EXPECT_EQ(bus.AddEventObject([this](const std::string& type, const ipc::blobmsg::Members& data) {
      const std::lock_guard<std::mutex> guard(lock_);
      events_.push_back(type + (data.empty() ? "" : " " + data.front().name));
    }, object, 5s), ipc::kOk);
    for (const auto& pattern : patterns) EXPECT_EQ(bus.RegisterEvent(object, pattern, 5s), ipc::kOk) << pattern;
    Serve();
    return object;
  }
  void Serve() {
    if (!thread_.joinable()) thread_ = std::thread([this] { bus.Serve(stop_); });
  }
  void StopServing() {
    stop_ = true;
    bus.Wake();
    if (thread_.joinable()) thread_.join();
  }
  std::vector<std::string> Events() {
    const std::lock_guard<std::mutex> guard(lock_);
    return events_;
  }

  Connection bus;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex lock_;
  std::vector<std::string> events_;
};

std::vector<std::string> Lookup(Connection& bus, const std::string& path, int& status) {
  std::vector<std::string> paths;
  status = bus.Lookup(path, [&](const ipc::ObjectInfo& object) { paths.push_back(object.path); }, 5s);
  return paths;
}

class BrokerTest : public ::testing::Test {
 protected:
  ipc_test::BrokerProcess broker_;
};

}  // namespace

TEST_F(BrokerTest, LookupFindsExactPathsPrefixesOrEverythingInPathOrder) {
  Client provider(broker_.Socket());
  for (const std::string path : {"uci", "network.interface.wan", "network.interface.lan", "system"}) {
    std::uint32_t id = 0;
    ASSERT_EQ(provider.bus.AddObject(path, {{"status", {}, nullptr}}, id, 5s), ipc::kOk);
    EXPECT_GE(id, 1024u);
  }
  std::uint32_t id = 0;
  EXPECT_EQ(provider.bus.AddObject("uci", {}, id, 5s), ipc::kInvalidArgument) << "a path is registered once";
  Connection client(broker_.Socket());
  int status = -1;
  EXPECT_EQ(Lookup(client, "", status), (std::vector<std::string>{"network.interface.lan", "network.interface.wan",
                                                                    "system", "uci"}));
  EXPECT_EQ(status, ipc::kOk);
  EXPECT_EQ(Lookup(client, "network.interface.*", status),
            (std::vector<std::string>{"network.interface.lan", "network.interface.wan"}));
  EXPECT_EQ(Lookup(client, "u*", status), std::vector<std::string>{"uci"});
  EXPECT_EQ(Lookup(client, "uc", status), std::vector<std::string>{});
  EXPECT_EQ(status, ipc::kNotFound);
  EXPECT_EQ(Lookup(client, "x*", status), std::vector<std::string>{});
  EXPECT_EQ(status, ipc::kNotFound);
}

TEST_F(BrokerTest, EventPatternsMatchExactlyOrByPrefixWithoutLoopBackOrDuplicates) {
  Client exact(broker_.Socket());
  Client prefix(broker_.Socket());
  Client everything(broker_.Socket());
  exact.Listen({"network.interface", "network.interface"});
  prefix.Listen({"network.*", "net*"});
  everything.Listen({"*"});
  Client sender(broker_.Socket());
  sender.Listen({"*"});  // its own events never come back to it
  for (const std::string type : {"network.interface.wan", "network.interface", "network", "networkx", "button"}) {
    EXPECT_EQ(sender.bus.SendEvent(type, {Node::String("k", "v")}, 5s), ipc::kOk);
  }
  EXPECT_EQ(sender.bus.SendEvent("ubus.object.add", {}, 5s), ipc::kPermissionDenied);
  EXPECT_EQ(sender.bus.SendEvent("marker", {}, 5s), ipc::kOk);
  ASSERT_TRUE(testing_support::WaitUntil([&] {
    const auto events = everything.Events();
    return !events.empty() && events.back() == "marker";
  }));
  EXPECT_EQ(exact.Events(), std::vector<std::string>{"network.interface k"});
  EXPECT_EQ(prefix.Events(), (std::vector<std::string>{"network.interface.wan k", "network.interface k", "network k",
                                                       "networkx k"}));
  EXPECT_EQ(everything.Events(), (std::vector<std::string>{"network.interface.wan k", "network.interface k",
                                                           "network k", "networkx k", "button k", "marker"}));
  EXPECT_TRUE(sender.Events().empty());
}

TEST_F(BrokerTest, ObjectsComingAndGoingAreAnnounced) {
  Client watcher(broker_.Socket());
  watcher.Listen({"ubus.object.*"});
  {
    Client provider(broker_.Socket());
    std::uint32_t id = 0;
    ASSERT_EQ(provider.bus.AddObject("test.object", {}, id, 5s), ipc::kOk);
  }
  ASSERT_TRUE(testing_support::WaitUntil([&] { return watcher.Events().size() == 2; }));
  EXPECT_EQ(watcher.Events(), (std::vector<std::string>{"ubus.object.add id", "ubus.object.remove id"}));
  Connection client(broker_.Socket());
  std::uint32_t id = 0;
  EXPECT_EQ(client.LookupId("test.object", id, 5s), ipc::kNotFound);
}

TEST_F(BrokerTest, EventRegistrationsAreCheckedLikeUbusd) {
  Client owner(broker_.Socket());
  Client other(broker_.Socket());
  std::uint32_t object = 0;
  ASSERT_EQ(owner.bus.AddEventObject([](const std::string&, const ipc::blobmsg::Members&) {}, object, 5s), ipc::kOk);
  EXPECT_EQ(owner.bus.RegisterEvent(object, "", 5s), ipc::kPermissionDenied);
  EXPECT_EQ(other.bus.RegisterEvent(object, "x", 5s), ipc::kPermissionDenied);
  EXPECT_EQ(owner.bus.RegisterEvent(object + 1, "x", 5s), ipc::kNotFound);
  EXPECT_EQ(owner.bus.RegisterEvent(2, "x", 5s), ipc::kPermissionDenied);
  EXPECT_EQ(owner.bus.Invoke(1, "nosuch", {}, nullptr, 5s), ipc::kInvalidCommand);
  EXPECT_EQ(owner.bus.Invoke(1, "register", {Node::Int64("object", object), Node::String("pattern", "x")}, nullptr, 5s),
            ipc::kInvalidArgument);
  EXPECT_EQ(owner.bus.Invoke(1, "send", {Node::String("id", "x")}, nullptr, 5s), ipc::kInvalidArgument);
  EXPECT_EQ(owner.bus.Invoke(12345, "m", {}, nullptr, 5s), ipc::kNotFound);
}
