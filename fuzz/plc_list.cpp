// The cloud's PLC list as the PLC manager receives it, applied list after list (as the daemon
// applies one every 5 minutes) to PLCs and their pollers, with the store and the cloud as
// doubles and folds so long that nothing is polled. Checks what reaches the store and the
// pollers, and the address matcher against the expression on every address text.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "packet_fuzz_support.h"
#include "plc_address_regex.h"
#include "nvram/plc_settings.h"
#include "plc/plc_manager.h"
#include "server/cloud_client.h"

namespace {

class MemoryStore : public PlcSettings {
 public:
  std::string DeviceID() const override { return "gw"; }
  std::vector<PLCInfo> PLCList() const override { return {}; }
  void AddPLC(const PLCInfo& info) override {
    Check(info);
    ids_.insert(info.id);
  }
  void UpdatePLC(const PLCInfo& info) override { Check(info); }
  void DeletePLC(const PLCInfo& info) override { ids_.erase(info.id); }
  const std::set<std::uint32_t>& Ids() const { return ids_; }

 private:
  static void Check(const PLCInfo& info) {
    using fuzz_support::Require;
    Require(info.name.size() <= PLCEntryBounds::kName && info.vendor.size() <= PLCEntryBounds::kVendor &&
                info.proto.size() <= PLCEntryBounds::kProto && info.ip_address.size() <= PLCEntryBounds::kIpAddress,
            "stored fields are within their bounds");
    Require(info.base >= 0 && info.base <= 15 && info.slot >= 0 && info.slot <= 15, "base and slot fit 4 bits");
    for (const auto& text : info.plc_addresses) {
      Require(text.size() <= PLCEntryBounds::kDeviceId + PLCEntryBounds::kSensorType + PLCEntryBounds::kAddr + 2,
              "stored address texts are within their bounds");
    }
  }
  std::set<std::uint32_t> ids_;
};

class NoCloud : public CloudClient {
 public:
  void HeartBeat(const std::string&) override {}
  void Report(const std::string&) override {}
  std::tuple<bool, bool, nlohmann::json> DeviceBeaconFolds(const std::string&) override { return {false, false, {}}; }
  std::string PLCInfo(const std::string&) override { return ""; }
  bool FirmwareConfigTest(nlohmann::json&) override { return false; }
};

PLCManager& Manager(MemoryStore& store) {
  static NoCloud cloud;
  static const auto manager = [&store] {
    PLCManagerOptions options;
    options.first_fetch = std::chrono::hours(24 * 365);
    options.plc.periods.fold_unit = std::chrono::hours(24 * 365);
    options.plc.report = [](const std::string&) {};
    return std::make_unique<PLCManager>(nullptr, PlcServices{store, cloud}, options);
  }();
  return *manager;
}

void CheckPollers(const PLC& plc) {
  using fuzz_support::Require;
  for (const auto& [id, fold] : plc.Pollers()) {
    Require(fold == 1, "a listed poller polls every minute");
    const auto address = plc.Client()->FindMemoryAddress(id);
    Require(address.has_value(), "every poller has its address");
    Require(id.size() == 48, "poller ids have 48 digits");
    Require(!address->key.empty() && address->key.size() <= PLCEntryBounds::kSensorType, "keys are within bounds");
    Require(address->address <= INT_MAX && address->bit <= 15, "addresses and bits are in range");
  }
}

// Every address text the list would build, for the matcher check.
void CheckAddressTexts(const nlohmann::json& list) {
  if (!list.is_array()) return;
  for (const auto& entry : list) {
    if (!entry.is_object() || !entry.contains("plc_addresses") || !entry["plc_addresses"].is_array()) continue;
    for (const auto& address : entry["plc_addresses"]) {
      if (!address.is_object()) continue;
      const auto part = [&address](const char* name) {
        return address.contains(name) && address[name].is_string() ? address[name].get<std::string>() : "";
      };
      fuzz_support::RequireMatcherAgreesWithPattern(part("device_id") + "." + part("sensor_type") + "." + part("addr"));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::StartSilentLogger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static MemoryStore store;
  PLCManager& manager = Manager(store);
  const std::string text(reinterpret_cast<const char*>(data), size);
  manager.UpdatePLCList(text);
  const auto ids = manager.Ids();
  fuzz_support::Require(std::set<std::uint32_t>(ids.begin(), ids.end()) == store.Ids(),
                        "the store holds a record of every PLC and of nothing else");
  for (const auto id : ids) CheckPollers(*manager.Find(id));
  const auto list = nlohmann::json::parse(text, nullptr, false);
  if (!list.is_discarded()) CheckAddressTexts(list);
  return 0;
}
