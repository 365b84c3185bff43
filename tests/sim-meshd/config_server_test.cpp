// The stand-in's configuration server, request bytes in, status bytes out.

#include <gtest/gtest.h>

#include "meshd/config_server.h"

namespace {

using sim::meshd::Bytes;
using sim::meshd::FromHex;

sim::meshd::NodeState GatewayNode() {
  sim::meshd::NodeState node;
  node.unicast = 0x0001;
  node.net_index = 0;
  sim::meshd::ElementState element;
  element.index = 0;
  element.path = "/com/quellaron/mesh/ele0";
  element.models.push_back({sim::meshd::SigModel(0x0000), false, false, {}, {}});
  element.models.push_back({sim::meshd::SigModel(0x0001), false, false, {}, {}});
  element.models.push_back({sim::meshd::ModelKey(0x05F1, 0x0001), true, false, {}, {}});
  element.models.push_back({sim::meshd::SigModel(0x1000), false, true, {}, {}});  // no subscriptions allowed
  node.elements.push_back(element);
  return node;
}

const std::string kKey = "0123456789abcdef0123456789abcdef";

struct Exchange {
  std::string what;
  std::string request;
  std::string reply;  // empty: consumed without an answer
};

TEST(ConfigServer, AnswersEachRequestAsTheDaemonsServerDoes) {
  // One node, requests in order: later ones see the state the earlier ones left.
  const std::vector<Exchange> exchanges = {
      {"default TTL get", "800c", "800e7f"},
      {"default TTL set", "800d03", "800e03"},
      {"default TTL 1 is prohibited", "800d01", ""},
      {"default TTL above 0x7F", "800d80", ""},
      {"default TTL set, long", "800d0300", ""},
      {"app key bind before the key", "803d01000000f1050100", "803e0301000000f1050100"},
      {"app key add", "00000000" + kKey, "800300000000"},
      {"the same key again", "00000000" + kKey, "800300000000"},
      {"another key, same index", "00000000" + std::string(32, 'e'), "800306000000"},
      {"key on an unknown subnet", "00010010" + kKey, "800304010010"},
      {"app key add, short", "00000000" + kKey.substr(2), ""},
      {"app key list", "80010000", "8002000000" "0000"},
      {"vendor bind", "803d01000000f1050100", "803e0001000000f1050100"},
      {"bind again", "803d01000000f1050100", "803e0001000000f1050100"},
      {"bind the configuration client", "803d010000000100", "803e02010000000100"},
      {"bind on a missing element", "803d02000000f1050100", "803e0102000000f1050100"},
      {"bind a missing model", "803d01000000f1050200", "803e0201000000f1050200"},
      {"vendor app get", "804d0100f1050100", "804e000100f10501000000"},
      {"vendor subscription add", "801b010088fcf1050100", "801f00010088fcf1050100"},
      {"unicast is not a group", "801b01000200f1050100", ""},
      {"model without subscriptions", "801b010088fc0010", "801f08010088fc0010"},
      {"vendor subscription get", "802b0100f1050100", "802c000100f105010088fc"},
      {"not a configuration message", "c1f10501", "-"},
      {"reserved opcode", "7f", "-"},
  };
  auto node = GatewayNode();
  for (const auto& exchange : exchanges) {
    SCOPED_TRACE(exchange.what);
    const auto outcome = sim::meshd::HandleConfigRequest(node, FromHex(exchange.request));
    if (exchange.reply == "-") {
      EXPECT_FALSE(outcome.consumed);
      continue;
    }
    EXPECT_TRUE(outcome.consumed);
    EXPECT_EQ(sim::meshd::ToHex(outcome.reply), exchange.reply);
  }
  EXPECT_EQ(node.default_ttl, 3);
  EXPECT_EQ(node.app_keys.at(0).key, FromHex(kKey));
  EXPECT_EQ(node.elements[0].models[2].bindings, std::vector<std::uint16_t>{0});
  EXPECT_EQ(node.elements[0].models[2].subscriptions, std::vector<std::uint16_t>{0xFC88});
}

TEST(ConfigServer, ReportsNewModelConfigurationOnlyWhenItChanges) {
  auto node = GatewayNode();
  sim::meshd::HandleConfigRequest(node, FromHex("00000000" + kKey));
  const auto bound = sim::meshd::HandleConfigRequest(node, FromHex("803d01000000f1050100"));
  ASSERT_EQ(bound.updates.size(), 1u);
  EXPECT_EQ(bound.updates[0].key, "Bindings");
  EXPECT_EQ(bound.updates[0].model_id, sim::meshd::ModelKey(0x05F1, 0x0001));
  EXPECT_TRUE(sim::meshd::HandleConfigRequest(node, FromHex("803d01000000f1050100")).updates.empty());
  const auto subscribed = sim::meshd::HandleConfigRequest(node, FromHex("801b010088fcf1050100"));
  ASSERT_EQ(subscribed.updates.size(), 1u);
  EXPECT_EQ(subscribed.updates[0].values, std::vector<std::uint16_t>{0xFC88});
}

TEST(ConfigServer, ScriptedFaults) {
  auto node = GatewayNode();
  sim::meshd::ConfigFaults faults;
  faults.appkey_status = 0x05;
  EXPECT_EQ(sim::meshd::ToHex(sim::meshd::HandleConfigRequest(node, FromHex("00000000" + kKey), faults).reply),
            "800305000000");
  EXPECT_TRUE(node.app_keys.empty());

  faults = {};
  sim::meshd::HandleConfigRequest(node, FromHex("00000000" + kKey), faults);
  faults.short_app_status = true;
  EXPECT_EQ(sim::meshd::ToHex(sim::meshd::HandleConfigRequest(node, FromHex("803d01000000f1050100"), faults).reply),
            "803e0001000000f10501");

  faults = {};
  faults.silent = true;
  const auto silent = sim::meshd::HandleConfigRequest(node, FromHex("800d05"), faults);
  EXPECT_TRUE(silent.consumed);
  EXPECT_TRUE(silent.reply.empty());
}

TEST(ConfigServer, ARefusedRequestChangesNothingAndCarriesTheRefusalsStatus) {
  struct Case {
    std::string what;
    sim::meshd::ConfigRefusal refusal;
    std::string request;
    std::string reply;  // empty: consumed without an answer
  };
  const std::vector<Case> cases = {
      {"bind, storage failure", {0x803D, 0x09}, "803d01000000f1050100", "803e0901000000f1050100"},
      {"subscription add", {0x801B, 0x05}, "801b010088fcf1050100", "801f05010088fcf1050100"},
      {"app key add", {0x00, 0x09}, "00000000" + kKey, "800309000000"},
      {"no status: unanswered", {0x803D, std::nullopt}, "803d01000000f1050100", ""},
      {"default TTL has no status: unanswered", {0x800D, 0x09}, "800d05", ""},
  };
  for (const Case& refused : cases) {
    SCOPED_TRACE(refused.what);
    auto node = GatewayNode();
    sim::meshd::HandleConfigRequest(node, FromHex("00000000" + kKey));
    const auto before = sim::meshd::ToJson(node);
    sim::meshd::ConfigFaults faults;
    faults.refuse = refused.refusal;
    const auto outcome = sim::meshd::HandleConfigRequest(node, FromHex(refused.request), faults);
    EXPECT_TRUE(outcome.consumed);
    EXPECT_EQ(sim::meshd::ToHex(outcome.reply), refused.reply);
    EXPECT_TRUE(outcome.updates.empty());
    EXPECT_EQ(sim::meshd::ToJson(node), before);
  }
  // Other requests are served as usual.
  auto node = GatewayNode();
  sim::meshd::ConfigFaults faults;
  faults.refuse = sim::meshd::ConfigRefusal{0x803D, 0x09};
  EXPECT_EQ(sim::meshd::ToHex(sim::meshd::HandleConfigRequest(node, FromHex("800d05"), faults).reply), "800e05");
  EXPECT_EQ(node.default_ttl, 5);
}

TEST(ConfigServer, Opcodes) {
  EXPECT_EQ(sim::meshd::ParseOpcode(FromHex("800e07"))->first, 0x800Eu);
  EXPECT_EQ(sim::meshd::ParseOpcode(FromHex("00aa"))->first, 0x00u);
  EXPECT_EQ(sim::meshd::ParseOpcode(FromHex("c1f105"))->first, 0xC1F105u);
  EXPECT_FALSE(sim::meshd::ParseOpcode(FromHex("7f")));
  EXPECT_FALSE(sim::meshd::ParseOpcode(FromHex("80")));
  EXPECT_FALSE(sim::meshd::ParseOpcode(FromHex("c1f1")));
  EXPECT_EQ(sim::meshd::EncodeOpcode(0x8003), FromHex("8003"));
}

}  // namespace
