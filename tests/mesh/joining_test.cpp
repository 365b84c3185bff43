// The gateway joining the stand-in mesh daemon, which checks and answers as BlueZ's does.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "mesh/mesh_joiner.h"
#include "mesh/mesh_link.h"
#include "meshd/mesh_daemon.h"
#include "mesh_fixture.h"
#include "timer/timer_queue.h"
#include "support/temp_directory.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

const std::string kAppKeyHex(32, '2');  // sixteen 0x22

// The gateway's four configuration messages to its own node.
const std::string kTTLSet = "800d05";
const std::string kAppKeyAdd = "00000000" + kAppKeyHex;
const std::string kBind = "803d01000000f1050100";
const std::string kSubscriptionAdd = "801b010001caf1050100";

// The lines of `text` that contain `part`, in order.
std::vector<std::string> LinesWith(const std::string& text, const std::string& part) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    if (line.find(part) != std::string::npos) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

class JoiningTest : public mesh_test::MeshFixture, public ::testing::Test {
 protected:
  JoiningTest() : daemon_(DaemonOptions(bus_.Address())) { daemon_.Start(); }

  static sim::meshd::MeshDaemonOptions DaemonOptions(const std::string& address) {
    sim::meshd::MeshDaemonOptions options;
    options.bus_address = address;
    options.state_file = testing_support::MakeTempDirectory("meshd") + "/nodes.json";
    return options;
  }

  // The records of one kind and member, in order.
  std::vector<json> Records(const std::string& kind, const std::string& member) const {
    std::vector<json> found;
    for (const json& record : daemon_.Records()) {
      if (record.value("kind", "") == kind && record.value("member", "") == member) found.push_back(record);
    }
    return found;
  }

  std::vector<std::string> ConfigurationMessages() const {
    std::vector<std::string> data;
    for (const json& call : Records("call", "DevKeySend")) data.push_back(call.at("data").get<std::string>());
    return data;
  }

  void Command(const json& command) { ASSERT_TRUE(daemon_.Control(command).value("ok", false)) << command; }

  // The daemon's stored vendor model of the gateway's node (empty when there is none).
  json StoredVendorModel() {
    const json nodes = daemon_.Control({{"cmd", "nodes"}}).at("nodes");
    for (const json& node : nodes) {
      for (const json& element : node.at("elements")) {
        for (const json& model : element.at("models")) {
          if (model.at("id") == 0x05F10001u) return model;
        }
      }
    }
    return json::object();
  }

  // A "Send" went out without an error: the join completed (the gateway beacon starts then)
  // and the application key is in place.
  bool SentWithTheApplicationKey() const {
    const auto sends = Records("call", "Send");
    return std::any_of(sends.begin(), sends.end(), [](const json& send) { return !send.contains("error"); });
  }

  // Starts over without a node: no token, nothing stored in the daemon, no faults, no records.
  void Unjoined(const json& faults) {
    store_.Token(0);
    Command({{"cmd", "forget"}});
    json command = faults;
    command["cmd"] = "faults";
    command["reset"] = true;
    Command(command);
    Command({{"cmd", "clear"}});
  }

  sim::meshd::MeshDaemon daemon_;
};

TEST_F(JoiningTest, TheFirstJoinImportsStoresTheTokenAttachesAndConfiguresTheNode) {
  auto mesh = MakeMesh();
  ASSERT_TRUE(mesh->Initialize()) << log_.Text();

  const auto imports = Records("call", "Import");
  ASSERT_EQ(imports.size(), 1u);
  EXPECT_EQ(imports[0].at("uuid"), "7175656c6c61426fae5f0a1b2c3d4e5f") << "version 4, variant 1";
  EXPECT_EQ(imports[0].at("dev_key"), std::string(32, '3'));
  EXPECT_EQ(imports[0].at("net_key"), std::string(32, '1'));
  EXPECT_EQ(imports[0].at("unicast"), mesh_test::kNetAddr);
  EXPECT_EQ(imports[0].at("app_root"), "/com/quellaron/mesh");

  ASSERT_NE(store_.Token(), 0u);
  EXPECT_EQ(StoredMeshOption("token"), std::to_string(store_.Token())) << "stored in UCI through the bus";

  const auto key_imports = Records("call", "ImportRemoteNode");
  ASSERT_EQ(key_imports.size(), 1u);
  EXPECT_EQ(key_imports[0].at("primary"), mesh_test::kNetAddr);
  EXPECT_FALSE(key_imports[0].contains("error"));

  EXPECT_EQ(ConfigurationMessages(), (std::vector<std::string>{"800d05", "00000000" + kAppKeyHex,
                                                               "803d01000000f1050100", "801b010001caf1050100"}));
  for (const json& call : Records("call", "DevKeySend")) {
    EXPECT_EQ(call.at("destination"), mesh_test::kNetAddr);
    EXPECT_EQ(call.at("remote"), true);
    EXPECT_EQ(call.at("element_path"), "/com/quellaron/mesh/ele0");
    EXPECT_FALSE(call.contains("error")) << call;
  }
  EXPECT_TRUE(log_.Contains("Node Path : /org/bluez/mesh/node"));
}

TEST_F(JoiningTest, AStoredTokenAttachesWithoutImportOrConfiguration) {
  ASSERT_TRUE(MakeMesh()->Initialize());
  const std::uint64_t token = store_.Token();
  Command({{"cmd", "clear"}});

  auto restarted = MakeMesh();
  ASSERT_TRUE(restarted->Initialize());
  EXPECT_TRUE(Records("call", "Import").empty());
  EXPECT_TRUE(ConfigurationMessages().empty());
  const auto attaches = Records("reply", "Attach");
  ASSERT_EQ(attaches.size(), 1u);
  EXPECT_EQ(attaches[0].at("token"), token);
  EXPECT_FALSE(attaches[0].contains("error"));
  EXPECT_EQ(store_.Token(), token);
}

TEST_F(JoiningTest, EachFailingStepEndsTheJoinWithItsOwnLine) {
  struct Case {
    json faults;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases{
      {{{"join", "failed"}}, {"JoinFailed", "Import Error"}},
      {{{"import_error", {{"name", "org.bluez.mesh.Error.Failed"}, {"message", "Storage full"}}}},
       {"Import refused: org.bluez.mesh.Error.Failed: Storage full", "Import Error"}},
      {{{"join", "silent"}}, {"Import: no answer from the mesh daemon within 1 s", "Import Error"}},
      {{{"config_server", "silent"}}, {"TTL Set: no answer from the mesh daemon within 1 s", "TTL Set Error"}},
      {{{"appkey_status", 2}}, {"AppKey Set Error"}},
      {{{"short_app_status", true}}, {"Binding Error"}},
  };
  for (const Case& failing : cases) {
    SCOPED_TRACE(failing.faults.dump());
    store_.Token(0);
    Command({{"cmd", "forget"}});
    json faults = failing.faults;
    faults["cmd"] = "faults";
    faults["reset"] = true;
    Command(faults);

    auto mesh = MakeMesh(1s);
    EXPECT_FALSE(mesh->Initialize());
    for (const std::string& line : failing.lines) EXPECT_TRUE(log_.Contains(line)) << line;
  }
}

TEST_F(JoiningTest, AnUnknownTokenFailsTheJoinAndKeepsTheToken) {
  store_.Token(0x1234567890ULL);
  auto mesh = MakeMesh();
  EXPECT_FALSE(mesh->Initialize());
  EXPECT_TRUE(log_.Contains("Attach with the stored token failed: org.bluez.mesh.Error.NotFound"));
  EXPECT_EQ(store_.Token(), 0x1234567890ULL);
  EXPECT_TRUE(Records("call", "Import").empty());
}

TEST_F(JoiningTest, TheGatewayAttachesAgainWhenTheMeshDaemonRestarts) {
  auto mesh = MakeMesh();
  ASSERT_TRUE(mesh->Initialize());
  Command({{"cmd", "clear"}});
  Command({{"cmd", "restart"}, {"off_ms", 300}});

  ASSERT_TRUE(testing_support::WaitUntil(
      [this] {
        const auto attaches = Records("reply", "Attach");
        return !attaches.empty() && !attaches.back().contains("error");
      },
      20s))
      << log_.Text();
  EXPECT_TRUE(log_.Contains("The mesh daemon left the system bus"));
  EXPECT_TRUE(Records("call", "Import").empty());
  EXPECT_TRUE(ConfigurationMessages().empty());
}

TEST_F(JoiningTest, AStepThatFailedInTheFirstJoinIsRedoneOnTheNextStartAndOnlyThenIsItJoined) {
  struct Case {
    json faults;
    std::vector<std::string> first;   // the first join's messages, the last one failing
    std::vector<std::string> redone;  // after a restart, as the attached configuration lacks them
  };
  const std::vector<Case> cases{
      {{{"refuse", {{"opcode", "800d"}}}}, {kTTLSet}, {kTTLSet, kAppKeyAdd, kBind, kSubscriptionAdd}},
      {{{"refuse", {{"opcode", "00"}, {"status", 9}}}},
       {kTTLSet, kAppKeyAdd},
       {kTTLSet, kAppKeyAdd, kBind, kSubscriptionAdd}},
      {{{"refuse", {{"opcode", "803d"}, {"status", 9}}}},
       {kTTLSet, kAppKeyAdd, kBind},
       {kTTLSet, kAppKeyAdd, kBind, kSubscriptionAdd}},
      // Bound, but the status cannot be read: the binding is not redone.
      {{{"short_app_status", true}}, {kTTLSet, kAppKeyAdd, kBind}, {kTTLSet, kSubscriptionAdd}},
      {{{"refuse", {{"opcode", "801b"}, {"status", 9}}}},
       {kTTLSet, kAppKeyAdd, kBind, kSubscriptionAdd},
       {kTTLSet, kSubscriptionAdd}},
  };
  MeshOptions options;
  options.retry_first = std::chrono::minutes(1);  // no retry within a case
  options.periods.beacon_first = 50ms;
  for (const Case& failing : cases) {
    SCOPED_TRACE(failing.faults.dump());
    Unjoined(failing.faults);
    {
      auto mesh = MakeMesh(1s, options);
      EXPECT_FALSE(mesh->Initialize());
      EXPECT_NE(store_.Token(), 0u) << "stored at JoinComplete: the daemon holds the node";
      EXPECT_EQ(ConfigurationMessages(), failing.first);
      EXPECT_FALSE(SentWithTheApplicationKey()) << "not joined, so no beacon";
    }
    Command({{"cmd", "faults"}, {"reset", true}});
    Command({{"cmd", "clear"}});

    auto restarted = MakeMesh(1s, options);
    EXPECT_TRUE(restarted->Initialize()) << log_.Text();
    EXPECT_TRUE(Records("call", "Import").empty());
    EXPECT_EQ(ConfigurationMessages(), failing.redone);
    EXPECT_TRUE(log_.Contains("The gateway's node is not fully configured; redoing: TTL Set"));
    const json model = StoredVendorModel();
    EXPECT_EQ(model.value("bindings", json::array()), json::array({0}));
    EXPECT_EQ(model.value("subscriptions", json::array()), json::array({mesh_test::kGroupAddr}));
    EXPECT_TRUE(testing_support::WaitUntil([this] { return SentWithTheApplicationKey(); }, 10s));
  }
}

TEST_F(JoiningTest, AFailedJoinIsRetriedWithAGrowingPauseWhileTheDaemonStaysOnTheBus) {
  Command({{"cmd", "faults"}, {"refuse", {{"opcode", "801b"}, {"status", 9}}}});
  MeshOptions options;
  options.retry_first = 200ms;
  options.retry_max = 400ms;
  options.periods.beacon_first = 50ms;
  auto mesh = MakeMesh(1s, options);
  EXPECT_FALSE(mesh->Initialize());

  // One line per failed attempt, with the pause before the next.
  ASSERT_TRUE(testing_support::WaitUntil(
      [this] { return LinesWith(log_.Text(), "trying again in").size() >= 3; }, 20s))
      << log_.Text();
  const auto lines = LinesWith(log_.Text(), "trying again in");
  EXPECT_NE(lines[0].find("Joining the mesh daemon failed; trying again in 200 ms"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("trying again in 400 ms"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("trying again in 400 ms"), std::string::npos) << lines[2];
  EXPECT_FALSE(SentWithTheApplicationKey());

  Command({{"cmd", "faults"}, {"reset", true}});
  ASSERT_TRUE(testing_support::WaitUntil([this] { return SentWithTheApplicationKey(); }, 20s)) << log_.Text();
  EXPECT_EQ(StoredVendorModel().value("subscriptions", json::array()), json::array({mesh_test::kGroupAddr}));
  // Still attached: the retries sent only the missing subscription, and never attached again.
  EXPECT_EQ(Records("call", "Import").size(), 1u);
  EXPECT_EQ(Records("call", "Attach").size(), 1u);
  const auto messages = ConfigurationMessages();
  ASSERT_GE(messages.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(messages.begin(), messages.begin() + 4),
            (std::vector<std::string>{kTTLSet, kAppKeyAdd, kBind, kSubscriptionAdd}));
  for (std::size_t at = 4; at < messages.size(); ++at) EXPECT_EQ(messages[at], kSubscriptionAdd);
}

TEST_F(JoiningTest, AFailedImportIsRetriedUntilTheNodeIsImported) {
  Command({{"cmd", "faults"}, {"import_error", {{"name", "org.bluez.mesh.Error.Failed"}, {"message", "Busy"}}}});
  MeshOptions options;
  options.retry_first = 100ms;
  options.periods.beacon_first = 50ms;
  auto mesh = MakeMesh(1s, options);
  EXPECT_FALSE(mesh->Initialize());
  ASSERT_TRUE(testing_support::WaitUntil([this] { return Records("call", "Import").size() >= 2; }, 20s));

  Command({{"cmd", "faults"}, {"reset", true}});
  ASSERT_TRUE(testing_support::WaitUntil([this] { return SentWithTheApplicationKey(); }, 20s)) << log_.Text();
  EXPECT_NE(store_.Token(), 0u);
  EXPECT_EQ(ConfigurationMessages(), (std::vector<std::string>{kTTLSet, kAppKeyAdd, kBind, kSubscriptionAdd}));
}

TEST_F(JoiningTest, LeavingCancelsAPendingRetry) {
  Command({{"cmd", "faults"}, {"import_error", {{"name", "org.bluez.mesh.Error.Failed"}, {"message", "Busy"}}}});
  MeshLink link(bus_.Address(), 1s, store_);
  timer::TimerQueue timer;
  MeshJoiner joiner(
      link, store_, timer, [](const MeshMessage&) {}, nullptr, JoinTiming{1s, 100ms, 200ms, 200ms});
  MeshEvents events;
  events.join_complete = [&joiner](std::uint64_t token) { joiner.OnJoinComplete(token); };
  events.join_failed = [&joiner](const std::string& reason) { joiner.OnJoinFailed(reason); };
  events.message = [](std::uint16_t, const std::vector<std::uint8_t>&) {};
  events.configuration_reply = [&joiner](const std::vector<std::uint8_t>& data) { joiner.OnConfigurationReply(data); };
  ASSERT_TRUE(link.Open(events));

  EXPECT_FALSE(joiner.Registration());
  EXPECT_TRUE(log_.Contains("Joining the mesh daemon failed; trying again in 200 ms"));
  { const auto no_registration = joiner.Leave(); }
  joiner.Allow();  // as a new Initialize would: a retry still pending would now import again

  // The timer runs its handlers one at a time in deadline order: once this one, due after
  // the retry, has run, the retry would have run too.
  std::atomic<bool> passed{false};
  timer.Add(400ms, [&passed](bool) { passed = true; });
  ASSERT_TRUE(testing_support::WaitUntil([&passed] { return passed.load(); }));
  EXPECT_EQ(Records("call", "Import").size(), 1u);
  link.Close();
}

}  // namespace
