// The stand-in mesh daemon against a small application on a private bus: joining, attaching,
// the device-key rules, the configuration server's answers, the scripted faults and restarts.

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "meshd/mesh_daemon.h"
#include "meshd/node_state.h"
#include "standin/control_socket.h"
#include "support/private_dbus.h"
#include "support/sandbox.h"
#include "support/subprocess.h"
#include "support/temp_directory.h"
#include "support/wait.h"
#include "test_application.h"

namespace {

using sim::meshd::Bytes;
using sim::meshd::FromHex;
using testing_support::TestApplication;
using testing_support::WaitUntil;

const Bytes kUuid = FromHex("0d4c1a2e8f5b4c3aa1b2c3d4e5f60718");  // version 4, variant 10
const Bytes kDeviceKey = FromHex("00112233445566778899aabbccddeeff");
const Bytes kNetKey = FromHex("ffeeddccbbaa99887766554433221100");
const Bytes kAppKey = FromHex("0123456789abcdef0123456789abcdef");
constexpr std::uint16_t kUnicast = 0x0001;
const std::string kNodePath = "/org/bluez/mesh/node0d4c1a2e8f5b4c3aa1b2c3d4e5f60718";

// The gateway's four configuration requests (element 0x0001, group 0xFC88, TTL 3).
const Bytes kTtlSet = FromHex("800d03");
const Bytes kAppKeyAdd = FromHex("00000000" "0123456789abcdef0123456789abcdef");
const Bytes kAppBind = FromHex("803d01000000f1050100");
const Bytes kSubscriptionAdd = FromHex("801b010088fcf1050100");

void ExpectMeshError(const std::function<void()>& call, const std::string& name, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "expected " << name;
  } catch (const sdbus::Error& error) {
    EXPECT_EQ(error.getName(), name);
    EXPECT_EQ(error.getMessage(), message);
  }
}

class MeshDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override { StartDaemon(); }

  void StartDaemon() {
    sim::meshd::MeshDaemonOptions options;
    options.bus_address = bus_.Address();
    options.state_file = state_directory_ + "/nodes.json";
    options.call_timeout = std::chrono::seconds(5);
    daemon_ = std::make_unique<sim::meshd::MeshDaemon>(options);
    daemon_->Start();
  }

  nlohmann::json Control(const nlohmann::json& command) {
    const nlohmann::json reply = daemon_->Control(command);
    EXPECT_TRUE(reply.value("ok", false)) << reply.dump();
    return reply;
  }

  // Imports the node and waits for its token.
  std::uint64_t Join(TestApplication& application) {
    try {
      application.Import(kUuid, kDeviceKey, kNetKey, kUnicast);
    } catch (const sdbus::Error&) {
      ADD_FAILURE() << "Import refused; the daemon's records: " << daemon_->Records().dump();
      throw;
    }
    EXPECT_TRUE(WaitUntil([&] { return !application.JoinCompletions().empty(); }));
    return application.JoinCompletions().empty() ? 0 : application.JoinCompletions().front();
  }

  // Joined and attached, with its own device key in the key ring: ready to configure itself.
  std::string JoinAttachAndTrustItself(TestApplication& application) {
    const std::uint64_t token = Join(application);
    const std::string path = std::get<0>(application.Attach(token));
    application.ImportRemoteNode(path, kUnicast, 1, kDeviceKey);
    return path;
  }

  // Sends `request` to the node's own configuration server; returns the status it answers.
  Bytes Configure(TestApplication& application, const Bytes& request) {
    const std::size_t before = application.Messages().size();
    application.DevKeySend(kNodePath, kUnicast, true, 0, request);
    if (!WaitUntil([&] { return application.Messages().size() > before; })) return {};
    const auto message = application.Messages().back();
    EXPECT_EQ(message.member, "DevKeyMessageReceived");
    EXPECT_EQ(message.source, kUnicast);
    EXPECT_FALSE(message.remote);
    EXPECT_EQ(message.index, 0);
    return message.data;
  }

  bool HasRecord(const std::string& kind, const std::string& member) {
    for (const auto& record : daemon_->Records()) {
      if (record.value("kind", "") == kind && record.value("member", "") == member) return true;
    }
    return false;
  }

  testing_support::PrivateDBus bus_;
  std::string state_directory_ = testing_support::MakeTempDirectory("meshd");
  std::unique_ptr<sim::meshd::MeshDaemon> daemon_;
};

TEST_F(MeshDaemonTest, ImportReadsTheObjectsRepliesThenCompletesTheJoinWithANewToken) {
  TestApplication application(bus_.Address());
  const std::uint64_t token = Join(application);
  EXPECT_NE(token, 0u);
  // The daemon records the call once the application has answered it.
  ASSERT_TRUE(WaitUntil([&] { return HasRecord("sent", "JoinComplete"); }));

  std::vector<std::string> order;
  for (const auto& record : daemon_->Records()) {
    if (record.contains("member")) order.push_back(record["kind"].get<std::string>() + " " + record["member"].get<std::string>());
  }
  EXPECT_EQ(order, (std::vector<std::string>{"call Import", "sent GetManagedObjects", "sent JoinComplete"}));

  const auto status = Control({{"cmd", "status"}});
  ASSERT_EQ(status["nodes"].size(), 1u);
  EXPECT_EQ(status["nodes"][0]["token"].get<std::uint64_t>(), token);
  EXPECT_EQ(status["nodes"][0]["unicast"], kUnicast);
  EXPECT_FALSE(status["nodes"][0]["attached"].get<bool>());
}

TEST_F(MeshDaemonTest, ImportIsRefusedAsTheRealDaemonRefusesIt) {
  struct Case {
    std::string what;
    Bytes uuid, device_key;
    std::uint16_t unicast;
    std::string name, message;
  };
  const std::vector<Case> cases = {
      {"UUID of version 0", FromHex("0d4c1a2e8f5b0c3aa1b2c3d4e5f60718"), kDeviceKey, kUnicast,
       "org.bluez.mesh.Error.InvalidArgs", "Bad device UUID"},
      {"UUID of another variant", FromHex("0d4c1a2e8f5b4c3ae1b2c3d4e5f60718"), kDeviceKey, kUnicast,
       "org.bluez.mesh.Error.InvalidArgs", "Bad device UUID"},
      {"15-byte UUID", FromHex("0d4c1a2e8f5b4c3aa1b2c3d4e5f607"), kDeviceKey, kUnicast,
       "org.bluez.mesh.Error.InvalidArgs", "Bad device UUID"},
      {"short device key", kUuid, FromHex("0011"), kUnicast, "org.bluez.mesh.Error.InvalidArgs", "Bad dev key"},
      {"group address", kUuid, kDeviceKey, 0xC000, "org.bluez.mesh.Error.InvalidArgs", "Bad address"},
      {"unassigned address", kUuid, kDeviceKey, 0x0000, "org.bluez.mesh.Error.InvalidArgs", "Bad address"},
  };
  TestApplication application(bus_.Address());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectMeshError([&] { application.Import(c.uuid, c.device_key, kNetKey, c.unicast); }, c.name, c.message);
  }

  // A tree without the application object or without an element: the daemon reads it, then fails.
  for (const auto& shape : {TestApplication::Shape{false, true}, TestApplication::Shape{true, false}}) {
    TestApplication partial(bus_.Address(), shape);
    ExpectMeshError([&] { partial.Import(kUuid, kDeviceKey, kNetKey, kUnicast); }, "org.bluez.mesh.Error.Failed",
                    "Operation failed");
  }
  EXPECT_TRUE(application.JoinCompletions().empty());
  EXPECT_TRUE(Control({{"cmd", "status"}})["nodes"].empty());

  // The same UUID twice.
  Join(application);
  ExpectMeshError([&] { application.Import(kUuid, kDeviceKey, kNetKey, kUnicast); },
                  "org.bluez.mesh.Error.AlreadyExists", "Node already exists");
}

TEST_F(MeshDaemonTest, AttachReturnsTheNodePathForAKnownTokenOnly) {
  TestApplication application(bus_.Address());
  const std::uint64_t token = Join(application);

  ExpectMeshError([&] { application.Attach(token + 1); }, "org.bluez.mesh.Error.NotFound", "Attach failed");

  const auto [path, configuration] = application.Attach(token);
  EXPECT_EQ(path, kNodePath);
  ASSERT_EQ(configuration.size(), 1u);
  EXPECT_EQ(configuration[0].get<0>(), 0);
  EXPECT_TRUE(configuration[0].get<1>().empty());  // nothing configured yet
  EXPECT_EQ(Control({{"cmd", "status"}})["nodes"][0]["owner"], application.UniqueName());

  ExpectMeshError([&] { application.Attach(token); }, "org.bluez.mesh.Error.AlreadyExists", "Attach failed");
}

TEST_F(MeshDaemonTest, DevKeySendFollowsTheKeyRingAndAddressingRules) {
  TestApplication application(bus_.Address());
  const std::uint64_t token = Join(application);
  application.Attach(token);

  // Import does not put the node's own device key in the key ring.
  ExpectMeshError([&] { application.DevKeySend(kNodePath, kUnicast, true, 0, kTtlSet); }, "org.bluez.mesh.Error.NotFound",
                  "Object not found");
  // A local destination needs remote addressing.
  ExpectMeshError([&] { application.DevKeySend(kNodePath, kUnicast, false, 0, kTtlSet); },
                  "org.bluez.mesh.Error.InvalidArgs", "Invalid arguments");
  ExpectMeshError([&] { application.DevKeySend(kNodePath, kUnicast, true, 0, {}); }, "org.bluez.mesh.Error.InvalidArgs",
                  "Incorrect data");
  ExpectMeshError([&] { application.ImportRemoteNode(kNodePath, kUnicast, 1, FromHex("0011")); },
                  "org.bluez.mesh.Error.InvalidArgs", "Bad device key");
  // Only the attached application may use the node.
  TestApplication stranger(bus_.Address());
  ExpectMeshError([&] { stranger.ImportRemoteNode(kNodePath, kUnicast, 1, kDeviceKey); },
                  "org.bluez.mesh.Error.NotAuthorized", "Permission denied");

  application.ImportRemoteNode(kNodePath, kUnicast, 1, kDeviceKey);
  EXPECT_EQ(Configure(application, kTtlSet), FromHex("800e03"));

  // A remote node without a key in the ring is refused; with one, the bytes are recorded.
  ExpectMeshError([&] { application.DevKeySend(kNodePath, 0x0100, true, 0, kTtlSet); }, "org.bluez.mesh.Error.NotFound",
                  "Object not found");
  application.ImportRemoteNode(kNodePath, 0x0100, 2, kDeviceKey);
  application.DevKeySend(kNodePath, 0x0101, true, 0, kTtlSet);
  bool recorded = false;
  for (const auto& record : daemon_->Records()) {
    recorded |= record.value("member", "") == "DevKeySend" && record.value("destination", 0) == 0x0101 &&
                record.value("data", "") == "800d03" && !record.contains("error");
  }
  EXPECT_TRUE(recorded);
}

TEST_F(MeshDaemonTest, ConfigurationServerAnswersTheGatewaysFourRequestsByteForByte) {
  TestApplication application(bus_.Address());
  JoinAttachAndTrustItself(application);

  EXPECT_EQ(Configure(application, kTtlSet), FromHex("800e03"));
  EXPECT_EQ(Configure(application, kAppKeyAdd), FromHex("800300000000"));
  EXPECT_EQ(Configure(application, kAppBind), FromHex("803e0001000000f1050100"));
  EXPECT_EQ(Configure(application, kSubscriptionAdd), FromHex("801f00010088fcf1050100"));

  // The element hears of its model's new configuration, as from the real daemon.
  ASSERT_TRUE(WaitUntil([&] { return application.ModelUpdates().size() == 2; }));
  const auto updates = application.ModelUpdates();
  EXPECT_EQ(updates[0].model_id, 0x0001);
  EXPECT_EQ(updates[0].config.at("Vendor").get<std::uint16_t>(), 0x05F1);
  EXPECT_EQ(updates[0].config.at("Bindings").get<std::vector<std::uint16_t>>(), std::vector<std::uint16_t>{0});
  const auto groups = updates[1].config.at("Subscriptions").get<std::vector<sdbus::Variant>>();
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].get<std::uint16_t>(), 0xFC88);

  // A binding to a key the node lacks, and a request of the wrong length (consumed, unanswered).
  EXPECT_EQ(Configure(application, FromHex("803d01000100f1050100")), FromHex("803e0301000100f1050100"));
  application.DevKeySend(kNodePath, kUnicast, true, 0, FromHex("800d0302"));
  EXPECT_TRUE(WaitUntil([&] { return HasRecord("withheld", "DevKeyMessageReceived"); }));
}

TEST_F(MeshDaemonTest, SendNeedsAnApplicationKeyOfTheNodeAndIsRecordedWithItsBytes) {
  TestApplication application(bus_.Address());
  JoinAttachAndTrustItself(application);
  ExpectMeshError([&] { application.Send(kNodePath, 0xFC88, 0, FromHex("c1f10501")); },
                  "org.bluez.mesh.Error.InvalidArgs", "Key not found");
  Configure(application, kAppKeyAdd);
  ExpectMeshError([&] { application.Send(kNodePath, 0xFC88, 0x1000, FromHex("c1f10501")); },
                  "org.bluez.mesh.Error.InvalidArgs", "Invalid key index");
  application.Send(kNodePath, 0xFC88, 0, FromHex("c1f10501"));
  const auto records = daemon_->Records();
  const auto sent = std::find_if(records.begin(), records.end(), [](const nlohmann::json& record) {
    return record.value("member", "") == "Send" && !record.contains("error");
  });
  ASSERT_NE(sent, records.end());
  EXPECT_EQ((*sent)["destination"], 0xFC88);
  EXPECT_EQ((*sent)["key_index"], 0);
  EXPECT_EQ((*sent)["data"], "c1f10501");
  EXPECT_EQ((*sent)["element_path"], TestApplication::kElementPath);

  // Bound and subscribed to the group, the node's own element hears what it sends there.
  Configure(application, kAppBind);
  Configure(application, kSubscriptionAdd);
  application.Send(kNodePath, 0xFC88, 0, FromHex("c1f10502"));
  ASSERT_TRUE(WaitUntil([&] { return application.Messages().back().member == "MessageReceived"; }));
  EXPECT_EQ(application.Messages().back().source, kUnicast);
  EXPECT_EQ(application.Messages().back().data, FromHex("c1f10502"));
}

TEST_F(MeshDaemonTest, ScriptedConfigurationFaults) {
  TestApplication application(bus_.Address());
  JoinAttachAndTrustItself(application);

  Control({{"cmd", "faults"}, {"appkey_status", 4}, {"short_app_status", true}});
  EXPECT_EQ(Configure(application, kAppKeyAdd), FromHex("800304000000"));
  Control({{"cmd", "faults"}, {"appkey_status", nullptr}});
  EXPECT_EQ(Configure(application, kAppKeyAdd), FromHex("800300000000"));
  EXPECT_EQ(Configure(application, kAppBind), FromHex("803e0001000000f10501"));  // 8 parameter bytes

  Control({{"cmd", "faults"}, {"refuse", {{"opcode", "801b"}, {"status", 9}}}});
  EXPECT_EQ(Configure(application, kSubscriptionAdd), FromHex("801f09010088fcf1050100"));
  Control({{"cmd", "faults"}, {"refuse", nullptr}});
  EXPECT_EQ(Configure(application, kSubscriptionAdd), FromHex("801f00010088fcf1050100"));

  Control({{"cmd", "faults"}, {"config_server", "silent"}});
  const std::size_t before = application.Messages().size();
  application.DevKeySend(kNodePath, kUnicast, true, 0, kTtlSet);
  ASSERT_TRUE(WaitUntil([&] { return HasRecord("withheld", "DevKeyMessageReceived"); }));
  EXPECT_EQ(application.Messages().size(), before);
}

TEST_F(MeshDaemonTest, ScriptedJoinFaults) {
  TestApplication application(bus_.Address());

  Control({{"cmd", "faults"}, {"import_error", {{"name", "org.bluez.mesh.Error.Busy"}, {"message", "Busy"}}}});
  ExpectMeshError([&] { application.Import(kUuid, kDeviceKey, kNetKey, kUnicast); }, "org.bluez.mesh.Error.Busy", "Busy");

  Control({{"cmd", "faults"}, {"reset", true}, {"join", "failed"}, {"join_failed_reason", "timeout"}});
  application.Import(kUuid, kDeviceKey, kNetKey, kUnicast);
  ASSERT_TRUE(WaitUntil([&] { return !application.JoinFailures().empty(); }));
  EXPECT_EQ(application.JoinFailures(), std::vector<std::string>{"timeout"});
  EXPECT_TRUE(Control({{"cmd", "status"}})["nodes"].empty());

  Control({{"cmd", "faults"}, {"join", "silent"}});
  application.Import(kUuid, kDeviceKey, kNetKey, kUnicast);
  ASSERT_TRUE(WaitUntil([&] { return HasRecord("withheld", "JoinComplete"); }));
  EXPECT_TRUE(application.JoinCompletions().empty());
}

TEST_F(MeshDaemonTest, ForgottenNodesAreUnknownTokens) {
  TestApplication application(bus_.Address());
  const std::uint64_t token = Join(application);
  Control({{"cmd", "forget"}});
  ExpectMeshError([&] { application.Attach(token); }, "org.bluez.mesh.Error.NotFound", "Attach failed");
}

TEST_F(MeshDaemonTest, DeliversAccessMessagesFromOtherNodesToBoundModels) {
  TestApplication application(bus_.Address());
  JoinAttachAndTrustItself(application);
  // Nothing bound to the application key yet: no element takes it.
  EXPECT_FALSE(daemon_->Control({{"cmd", "deliver"}, {"source", 0x0100}, {"data", "c1f105"}})["ok"].get<bool>());

  Configure(application, kAppKeyAdd);
  Configure(application, kAppBind);
  Configure(application, kSubscriptionAdd);
  Control({{"cmd", "deliver"}, {"source", 0x0100}, {"destination", 0xFC88}, {"data", "c1f10501"}});
  ASSERT_TRUE(WaitUntil([&] { return application.Messages().back().member == "MessageReceived"; }));
  const auto message = application.Messages().back();
  EXPECT_EQ(message.source, 0x0100);
  EXPECT_EQ(message.index, 0);
  EXPECT_EQ(message.data, FromHex("c1f10501"));

  // A device-key message from a node whose key is not in the ring cannot be decrypted.
  const nlohmann::json from_node{{"cmd", "deliver"}, {"source", 0x0100}, {"dev_key", true}, {"data", "8003000000"}};
  EXPECT_FALSE(daemon_->Control(from_node)["ok"].get<bool>());
  application.ImportRemoteNode(kNodePath, 0x0100, 1, kDeviceKey);
  Control(from_node);
  ASSERT_TRUE(WaitUntil([&] { return application.Messages().back().member == "DevKeyMessageReceived"; }));
  EXPECT_EQ(application.Messages().back().source, 0x0100);
  EXPECT_TRUE(application.Messages().back().remote);
  EXPECT_EQ(application.Messages().back().data, FromHex("8003000000"));
}

TEST_F(MeshDaemonTest, RestartDropsTheNameAndKeepsTheNodesAndTheirConfiguration) {
  std::uint64_t token = 0;
  {
    TestApplication application(bus_.Address());
    token = Join(application);
    application.Attach(token);
    application.ImportRemoteNode(kNodePath, kUnicast, 1, kDeviceKey);
    Configure(application, kAppKeyAdd);
    Configure(application, kAppBind);
    Configure(application, kSubscriptionAdd);

    Control({{"cmd", "restart"}, {"off_ms", 300}});
    ASSERT_TRUE(WaitUntil([&] { return !daemon_->NameOwned(); }));
    ASSERT_TRUE(WaitUntil([&] { return daemon_->NameOwned(); }));
    EXPECT_FALSE(Control({{"cmd", "status"}})["nodes"][0]["attached"].get<bool>());
    // The key ring came back too.
    application.Attach(token);
    EXPECT_EQ(Configure(application, kTtlSet), FromHex("800e03"));
  }
  // A new process of the daemon finds the same node, and reports its configuration on Attach.
  daemon_.reset();
  StartDaemon();
  TestApplication application(bus_.Address());
  const auto [path, configuration] = application.Attach(token);
  EXPECT_EQ(path, kNodePath);
  ASSERT_EQ(configuration.size(), 1u);
  const auto& models = configuration[0].get<1>();
  ASSERT_EQ(models.size(), 1u);
  EXPECT_EQ(models[0].get<0>(), 0x0001);
  const auto& config = models[0].get<1>();
  EXPECT_EQ(config.at("Vendor").get<std::uint16_t>(), 0x05F1);
  EXPECT_EQ(config.at("Bindings").get<std::vector<std::uint16_t>>(), std::vector<std::uint16_t>{0});
  const auto groups = config.at("Subscriptions").get<std::vector<sdbus::Variant>>();
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].get<std::uint16_t>(), 0xFC88);
}

TEST_F(MeshDaemonTest, AnApplicationLeavingTheBusDetachesItsNode) {
  std::uint64_t token = 0;
  {
    TestApplication application(bus_.Address());
    token = Join(application);
    application.Attach(token);
  }
  ASSERT_TRUE(WaitUntil([&] { return !Control({{"cmd", "status"}})["nodes"][0]["attached"].get<bool>(); }));
  TestApplication again(bus_.Address());
  EXPECT_EQ(std::get<0>(again.Attach(token)), kNodePath);
}

TEST(SimMeshdExecutable, ServesTheControlSocketAndKeepsNodesAcrossRuns) {
  testing_support::PrivateDBus bus;
  const std::string directory = testing_support::MakeTempDirectory("meshd-exe");
  const std::vector<std::string> command = {testing_support::BuildPath("sim/meshd/sim-meshd"), "--bus", bus.Address(),
                                            "--state", directory + "/nodes.json", "--control", directory + "/meshd.sock"};
  std::uint64_t token = 0;
  {
    testing_support::Subprocess daemon(command);
    ASSERT_TRUE(daemon.WaitForOutput("owning org.bluez.mesh", std::chrono::seconds(10))) << daemon.Output();
    TestApplication application(bus.Address());
    application.Import(kUuid, kDeviceKey, kNetKey, kUnicast);
    ASSERT_TRUE(WaitUntil([&] { return !application.JoinCompletions().empty(); }));
    token = application.JoinCompletions().front();
    const auto status = sim::standin::ControlCall(directory + "/meshd.sock", {{"cmd", "status"}});
    EXPECT_TRUE(status["name_owned"].get<bool>());
    EXPECT_EQ(status["nodes"][0]["token"].get<std::uint64_t>(), token);
    daemon.Signal(SIGTERM);
    ASSERT_TRUE(daemon.Wait(std::chrono::seconds(10)).has_value());
  }
  testing_support::Subprocess daemon(command);
  ASSERT_TRUE(daemon.WaitForOutput("owning org.bluez.mesh", std::chrono::seconds(10))) << daemon.Output();
  TestApplication application(bus.Address());
  EXPECT_EQ(std::get<0>(application.Attach(token)), kNodePath);
}

}  // namespace
