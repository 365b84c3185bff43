// The gateway's application tree as the mesh daemon (or any D-Bus client) sees it, with no
// mesh daemon on the bus: joining fails, and the objects stay exported.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "mesh_fixture.h"
#include "support/wait.h"

namespace {

using Properties = std::map<std::string, sdbus::Variant>;
using Interfaces = std::map<std::string, Properties>;
using ManagedObjects = std::map<sdbus::ObjectPath, Interfaces>;

class ExportedTreeTest : public mesh_test::MeshFixture, public ::testing::Test {
 protected:
  ExportedTreeTest() : mesh_(MakeMesh()), client_(Connect()) {
    EXPECT_FALSE(mesh_->Initialize());
    gateway_ = GatewayName(*client_);
  }

  std::unique_ptr<sdbus::IProxy> Object(const std::string& path) const {
    return sdbus::createProxy(*client_, gateway_, path);
  }

  std::unique_ptr<BluetoothMesh> mesh_;
  std::unique_ptr<sdbus::IConnection> client_;
  std::string gateway_;
};

TEST_F(ExportedTreeTest, WithoutAMeshDaemonJoiningFailsWithTheImportError) {
  EXPECT_TRUE(log_.Contains("Import refused: org.freedesktop.DBus.Error.ServiceUnknown"));
  EXPECT_TRUE(log_.Contains("Import Error"));
  ASSERT_FALSE(gateway_.empty()) << "the objects stay exported";
}

TEST_F(ExportedTreeTest, TheObjectManagerListsEveryObjectWithItsPropertiesAndTypes) {
  ManagedObjects objects;
  Object("/com/quellaron/mesh")
      ->callMethod("GetManagedObjects")
      .onInterface("org.freedesktop.DBus.ObjectManager")
      .storeResultsTo(objects);

  auto& application = objects[sdbus::ObjectPath("/com/quellaron/mesh/application")];
  ASSERT_EQ(application.count("org.bluez.mesh.Application1"), 1u);
  EXPECT_EQ(application.count("org.bluez.mesh.Provisioner1"), 1u);
  const Properties& identity = application["org.bluez.mesh.Application1"];
  const std::vector<std::tuple<const char*, std::uint16_t>> numbers{
      {"CompanyID", 0x05F1}, {"ProductID", 0}, {"VersionID", 0}, {"CRPL", 0x7FFF}};
  for (const auto& [name, value] : numbers) {
    ASSERT_EQ(identity.at(name).peekValueType(), "q") << name;
    EXPECT_EQ(identity.at(name).get<std::uint16_t>(), value) << name;
  }

  const Properties& element = objects[sdbus::ObjectPath("/com/quellaron/mesh/ele0")]["org.bluez.mesh.Element1"];
  EXPECT_EQ(element.at("Index").peekValueType(), "y");
  EXPECT_EQ(element.at("Index").get<std::uint8_t>(), 0);
  EXPECT_EQ(element.at("Location").peekValueType(), "q");
  ASSERT_EQ(element.at("Models").peekValueType(), "a(qa{sv})");
  const auto models = element.at("Models").get<std::vector<sdbus::Struct<std::uint16_t, Properties>>>();
  ASSERT_EQ(models.size(), 2u);
  for (std::size_t index = 0; index < models.size(); ++index) {
    EXPECT_EQ(models[index].get<0>(), index);
    EXPECT_EQ(models[index].get<1>().at("Subscribe").peekValueType(), "b");
    EXPECT_FALSE(models[index].get<1>().at("Subscribe").get<bool>());
    EXPECT_FALSE(models[index].get<1>().at("Publish").get<bool>());
  }
  ASSERT_EQ(element.at("VendorModels").peekValueType(), "a(qqa{sv})");
  const auto vendor =
      element.at("VendorModels").get<std::vector<sdbus::Struct<std::uint16_t, std::uint16_t, Properties>>>();
  ASSERT_EQ(vendor.size(), 1u);
  EXPECT_EQ(vendor[0].get<0>(), 0x05F1);
  EXPECT_EQ(vendor[0].get<1>(), 0x0001);
  EXPECT_TRUE(vendor[0].get<2>().at("Subscribe").get<bool>());
  EXPECT_FALSE(vendor[0].get<2>().at("Publish").get<bool>());

  const Properties& agent =
      objects[sdbus::ObjectPath("/com/quellaron/mesh/agent")]["org.bluez.mesh.ProvisionAgent1"];
  EXPECT_EQ(agent.at("Capabilities").peekValueType(), "as");
  EXPECT_TRUE(agent.at("Capabilities").get<std::vector<std::string>>().empty());
  EXPECT_TRUE(agent.at("OutOfBandInfo").get<std::vector<std::string>>().empty());
}

TEST_F(ExportedTreeTest, TheAgentHasNoKeysAndRefusesEveryPrompt) {
  auto agent = Object("/com/quellaron/mesh/agent");
  std::vector<std::uint8_t> key;
  agent->callMethod("PrivateKey").onInterface("org.bluez.mesh.ProvisionAgent1").storeResultsTo(key);
  EXPECT_TRUE(key.empty());

  const std::vector<std::pair<std::string, std::function<void(sdbus::MethodInvoker&)>>> prompts{
      {"DisplayString", [](sdbus::MethodInvoker& call) { call.withArguments(std::string("1234")); }},
      {"DisplayNumeric", [](sdbus::MethodInvoker& call) { call.withArguments(std::string("push"), 7u); }},
      {"PromptNumeric", [](sdbus::MethodInvoker& call) { call.withArguments(std::string("twist")); }},
      {"PromptStatic", [](sdbus::MethodInvoker& call) { call.withArguments(std::string("static-oob")); }},
      {"Cancel", [](sdbus::MethodInvoker&) {}},
  };
  for (const auto& [method, arguments] : prompts) {
    try {
      sdbus::MethodInvoker call = agent->callMethod(method);
      call.onInterface("org.bluez.mesh.ProvisionAgent1");
      arguments(call);
      call.storeResultsTo();
      ADD_FAILURE() << method << " answered";
    } catch (const sdbus::Error& error) {
      EXPECT_EQ(error.getName(), "org.bluez.Error.NotSupported") << method;
      EXPECT_EQ(error.getMessage(), "Default '" + method + "' called, returning error");
    }
  }
}

TEST_F(ExportedTreeTest, TheProvisionerHandsOutNoAddress) {
  std::uint16_t net_index = 9;
  std::uint16_t unicast = 9;
  Object("/com/quellaron/mesh/application")
      ->callMethod("RequestProvData")
      .onInterface("org.bluez.mesh.Provisioner1")
      .withArguments(std::uint8_t{3})
      .storeResultsTo(net_index, unicast);
  EXPECT_EQ(net_index, 0);
  EXPECT_EQ(unicast, 0);
}

TEST_F(ExportedTreeTest, DeviceKeyMessagesCountOnlyFromTheGatewaysOwnAddress) {
  auto element = Object("/com/quellaron/mesh/ele0");
  const auto deliver = [&element](std::uint16_t source) {
    element->callMethod("DevKeyMessageReceived")
        .onInterface("org.bluez.mesh.Element1")
        .withArguments(source, true, std::uint16_t{0}, std::vector<std::uint8_t>{0x80, 0x0E, 0x05});
  };
  deliver(0x0042);
  EXPECT_FALSE(log_.Contains("src : "));
  deliver(mesh_test::kNetAddr);
  EXPECT_TRUE(log_.Contains("src : 1 , remote : 1, net_idx : 0, size : 3"));
  EXPECT_TRUE(log_.Contains("TTL : 5"));
}

}  // namespace
