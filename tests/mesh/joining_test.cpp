// The gateway joining the stand-in mesh daemon, which checks and answers as BlueZ's does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "meshd/mesh_daemon.h"
#include "mesh_fixture.h"
#include "support/temp_directory.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

const std::string kAppKeyHex(32, '2');  // sixteen 0x22

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

}  // namespace
