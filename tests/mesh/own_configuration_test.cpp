// Which configuration steps the gateway's node still needs, from what Attach reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mesh/own_configuration.h"

namespace {

using org::bluez::mesh::ModelConfiguration;
using org::bluez::mesh::NodeConfiguration;
using Model = sdbus::Struct<std::uint16_t, ModelConfiguration>;

constexpr std::uint16_t kGroup = 0xCA01;

ModelConfiguration VendorOptions(std::uint16_t company, std::vector<std::uint16_t> bindings,
                                 std::vector<sdbus::Variant> subscriptions) {
  ModelConfiguration options{{"Vendor", sdbus::Variant(company)}};
  if (!bindings.empty()) options["Bindings"] = sdbus::Variant(bindings);
  if (!subscriptions.empty()) options["Subscriptions"] = sdbus::Variant(subscriptions);
  return options;
}

NodeConfiguration OneModel(std::uint8_t element, std::uint16_t model, ModelConfiguration options) {
  return {{element, std::vector<Model>{Model(model, std::move(options))}}};
}

TEST(OwnConfiguration, TheStepsANodeNeedsFollowItsReportedBindingAndSubscription) {
  struct Case {
    std::string what;
    NodeConfiguration configuration;
    std::string missing;  // t: TTL, k: application key, b: binding, s: subscription
  };
  const sdbus::Variant group(kGroup);
  const sdbus::Variant virtual_label(std::vector<std::uint8_t>(16, 1));
  const std::vector<Case> cases{
      {"a fresh node", {}, "tkbs"},
      {"complete", OneModel(0, 0x0001, VendorOptions(0x05F1, {0}, {group})), ""},
      {"bound, not subscribed", OneModel(0, 0x0001, VendorOptions(0x05F1, {0}, {})), "ts"},
      {"subscribed, not bound", OneModel(0, 0x0001, VendorOptions(0x05F1, {}, {group})), "tkb"},
      {"bound to another key only", OneModel(0, 0x0001, VendorOptions(0x05F1, {1}, {group})), "tkb"},
      {"subscribed to another group and a virtual label",
       OneModel(0, 0x0001, VendorOptions(0x05F1, {0}, {sdbus::Variant(std::uint16_t{0xC000}), virtual_label})), "ts"},
      {"another company's model 0x0001", OneModel(0, 0x0001, VendorOptions(0x0059, {0}, {group})), "tkbs"},
      {"the SIG model 0x0001", OneModel(0, 0x0001, {{"Bindings", sdbus::Variant(std::vector<std::uint16_t>{0})}}),
       "tkbs"},
      {"on another element", OneModel(1, 0x0001, VendorOptions(0x05F1, {0}, {group})), "tkbs"},
      {"values of unexpected types",
       OneModel(0, 0x0001,
                {{"Vendor", sdbus::Variant(std::uint16_t{0x05F1})},
                 {"Bindings", sdbus::Variant(std::vector<std::uint32_t>{0})},
                 {"Subscriptions", sdbus::Variant(std::vector<std::uint16_t>{kGroup})}}),
       "tkbs"},
  };
  for (const Case& reported : cases) {
    SCOPED_TRACE(reported.what);
    const own_configuration::Steps steps = own_configuration::Missing(kGroup, reported.configuration);
    std::string missing;
    if (steps.ttl) missing += 't';
    if (steps.app_key) missing += 'k';
    if (steps.binding) missing += 'b';
    if (steps.subscription) missing += 's';
    EXPECT_EQ(missing, reported.missing);
    EXPECT_EQ(steps.Any(), !reported.missing.empty());
  }
}

}  // namespace
