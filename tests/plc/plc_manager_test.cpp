// The PLC list manager among the stand-ins: the configuration store on the bus stand-ins
// (whose example package holds a PLC of protocol "tcp"), the stand-in cloud and the
// stand-in PLC, all in or beside this process; periods shortened.
#include "plc/plc_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <regex>
#include <string>

#include "nvram/nvram.h"
#include "platform_fixture.h"
#include "plc/plc_server.h"
#include "server/server_api.h"
#include "sim-cloud/stand_in_cloud.h"
#include "support/memory_cloud_settings.h"
#include "support/stack_size.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::WaitUntil;

namespace {

const std::string kTemp(48, 'a');
const std::string kDoor(48, 'b');

// The store, with a count of the PLC records written to it.
class CountingSettings : public PlcSettings {
 public:
  explicit CountingSettings(PlcSettings& store) : store_(store) {}
  std::string DeviceID() const override { return store_.DeviceID(); }
  std::vector<PLCInfo> PLCList() const override { return store_.PLCList(); }
  void AddPLC(const PLCInfo& info) override {
    ++writes_;
    store_.AddPLC(info);
  }
  void UpdatePLC(const PLCInfo& info) override {
    ++writes_;
    store_.UpdatePLC(info);
  }
  void DeletePLC(const PLCInfo& info) override {
    ++writes_;
    store_.DeletePLC(info);
  }
  int Writes() const { return writes_; }

 private:
  PlcSettings& store_;
  std::atomic<int> writes_{0};
};

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class PLCManagerTest : public ::testing::Test {
 protected:
  PLCManagerTest() {
    store_.Init();
    store_.DeviceID("gw1");
    plc_server_.Start();
    ServerAPIOptions options;
    options.default_base_url = cloud_.BaseURL();
    options.request_timeout = 5s;
    options.worker_period = 100ms;
    cloud_client_ = std::make_unique<ServerAPI>(cloud_settings_, options);
  }

  std::unique_ptr<PLCManager> MakeManager(std::chrono::milliseconds first_fetch = 1h) {
    return MakeManager(store_, first_fetch);
  }
  std::unique_ptr<PLCManager> MakeManager(PlcSettings& settings, std::chrono::milliseconds first_fetch = 1h) {
    PLCManagerOptions options;
    options.first_fetch = first_fetch;
    options.fetch_period = 1h;
    options.plc.client.port = std::to_string(plc_server_.Port());
    options.plc.periods.fold_unit = 200ms;
    options.plc.periods.retry = 100ms;
    return std::make_unique<PLCManager>(nullptr, PlcServices{settings, *cloud_client_}, options);
  }

  static json Entry(std::uint32_t id, const std::string& address, json extra = json::object()) {
    json entry{{"id", id},
               {"name", "plc" + std::to_string(id)},
               {"ip_address", "127.0.0.1"},
               {"plc_addresses", json::array({{{"device_id", address}, {"sensor_type", "temp"}, {"addr", "W.D.100"}}})}};
    entry.update(extra);
    return entry;
  }

  // The ids of the stored PLC sections, in file order.
  std::vector<std::string> StoredIds() const {
    const std::string text = platform_.ReadConfig("ferrowick");
    static const std::regex id_option("option id '([0-9]+)'");
    std::vector<std::string> ids;
    for (std::sregex_iterator match(text.begin(), text.end(), id_option), end; match != end; ++match) {
      ids.push_back((*match)[1]);
    }
    return ids;
  }

  testing_support::LogCapture log_;
  sim_ubus_test::PlatformFixture platform_;
  NVRAM store_{platform_.Socket()};
  testing_support::StandInCloud cloud_;
  MemoryCloudSettings cloud_settings_{[] {
    MemoryCloudSettings::Values values;
    values.access_token = "tok";
    values.refresh_token = "ref";
    values.device_id = "gw1";
    return values;
  }()};
  std::unique_ptr<ServerAPI> cloud_client_;
  sim::plc::PlcServer plc_server_{[] {
    sim::plc::ServerOptions options;
    options.listen.port(0);
    options.setup = json{{"values", {{"DW100", 215}}}};
    return options;
  }()};
};

}  // namespace

TEST_F(PLCManagerTest, AStoredRecordTheConstructorRefusesIsSkippedAndStaysStored) {
  auto manager = MakeManager();
  EXPECT_TRUE(manager->Ids().empty());
  EXPECT_TRUE(log_.Contains("Stored PLC 7 skipped: Unsupported PLC Protocol."));
  EXPECT_EQ(StoredIds(), std::vector<std::string>{"7"});
  // Listed again with a supported protocol: the stored record is updated, not doubled.
  manager->UpdatePLCList(json::array({Entry(7, kTemp)}).dump());
  EXPECT_EQ(manager->Ids(), std::vector<std::uint32_t>{7});
  EXPECT_EQ(StoredIds(), std::vector<std::string>{"7"});
  EXPECT_NE(platform_.ReadConfig("ferrowick").find("option proto 'fenet'"), std::string::npos);
}

TEST_F(PLCManagerTest, AListAddsUpdatesAndDeletesPLCsAndTheirStoredRecords) {
  auto manager = MakeManager();
  manager->UpdatePLCList(json::array({Entry(8, kTemp), Entry(9, kDoor)}).dump());
  EXPECT_EQ(manager->Ids(), (std::vector<std::uint32_t>{8, 9}));
  EXPECT_TRUE(log_.Contains("Delete PLC 7"));  // the stored record nobody lists any more
  EXPECT_EQ(StoredIds(), (std::vector<std::string>{"8", "9"}));

  const auto plc8 = manager->Find(8);
  manager->UpdatePLCList(json::array({Entry(8, kTemp, {{"base", "1"}, {"slot", "2"}})}).dump());
  EXPECT_EQ(manager->Ids(), std::vector<std::uint32_t>{8});
  EXPECT_EQ(manager->Find(8), plc8);  // updated in place
  EXPECT_TRUE(log_.Contains("Delete PLC 9"));
  EXPECT_EQ(StoredIds(), std::vector<std::string>{"8"});
  const std::string stored = platform_.ReadConfig("ferrowick");
  EXPECT_NE(stored.find("option base '1'"), std::string::npos) << stored;
  EXPECT_NE(stored.find("option slot '2'"), std::string::npos) << stored;

  manager->UpdatePLCList("[]");
  EXPECT_TRUE(manager->Ids().empty());
  EXPECT_TRUE(StoredIds().empty());
}

TEST_F(PLCManagerTest, AnUnsupportedVendorStopsTheUpdateAtThatEntry) {
  auto manager = MakeManager();
  manager->UpdatePLCList(json::array({Entry(8, kTemp)}).dump());
  manager->UpdatePLCList(
      json::array({Entry(10, kTemp), Entry(11, kDoor, {{"vendor", "ab"}}), Entry(12, kDoor)}).dump());
  EXPECT_TRUE(log_.Contains("Unsupported PLC Vendor."));
  EXPECT_EQ(manager->Ids(), (std::vector<std::uint32_t>{8, 10}));  // 8 not deleted, 12 not reached
  EXPECT_EQ(StoredIds(), (std::vector<std::string>{"8", "10"}));
  for (const std::string bad : {"{", R"({"id":1})", R"([{"id":"x","name":"n"}])", R"([{"id":3,"name":"n","base":"1x"}])"}) {
    manager->UpdatePLCList(bad);
  }
  EXPECT_EQ(manager->Ids(), (std::vector<std::uint32_t>{8, 10}));
}

TEST_F(PLCManagerTest, TheFetchedListIsPolledAndItsReadingsReachTheCloudAndFoldsReachThePoller) {
  cloud_.Control().Call("PATCH", "/scenario", {{"devices", {{"gw1", {{"plcs", json::array({Entry(8, kTemp)})}}}}}});
  auto manager = MakeManager(100ms);
  ASSERT_TRUE(WaitUntil([&] { return !cloud_.RequestsTo("/gateways/report").empty(); }));
  const auto report = json::parse(cloud_.RequestsTo("/gateways/report")[0].at("body").get<std::string>());
  EXPECT_EQ(report.at("nodes")[0].at("id"), kTemp);
  EXPECT_EQ(report.at("nodes")[0].at("vs")[0].at("v"), "215");
  manager->UpdateFolds(kTemp, json::array({5, 15}));
  EXPECT_EQ(manager->Find(8)->Pollers(), (std::vector<std::pair<std::string, int>>{{kTemp, 15}}));
}

TEST_F(PLCManagerTest, DestructionEndsTheWaitBetweenFetchesAtOnce) {
  auto manager = MakeManager(0ms);
  ASSERT_TRUE(WaitUntil([&] { return !cloud_.RequestsTo("/devices/gw1").empty(); }));
  const auto started = std::chrono::steady_clock::now();
  manager.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

TEST_F(PLCManagerTest, AnUnchangedListWritesNothingToTheStoreAndAChangedRecordIsWrittenOnce) {
  CountingSettings settings(store_);
  auto manager = MakeManager(settings);
  const json list = json::array({Entry(8, kTemp), Entry(9, kDoor)});
  manager->UpdatePLCList(list.dump());
  const int first = settings.Writes();  // 8 and 9 added, the stored 7 deleted
  EXPECT_EQ(first, 3);
  manager->UpdateFolds(kTemp, json::array({5}));
  manager->UpdatePLCList(list.dump());
  EXPECT_EQ(settings.Writes(), first);
  // The pollers' folds still go back to one minute, as every refreshed list has done.
  EXPECT_EQ(manager->Find(8)->Pollers(), (std::vector<std::pair<std::string, int>>{{kTemp, 1}}));
  manager->UpdatePLCList(json::array({Entry(8, kTemp, {{"name", "renamed"}}), Entry(9, kDoor)}).dump());
  EXPECT_EQ(settings.Writes(), first + 1);
  EXPECT_NE(platform_.ReadConfig("ferrowick").find("option name 'renamed'"), std::string::npos);

  // After a restart the records read back from the store count as written.
  manager.reset();
  NVRAM reloaded{platform_.Socket()};
  reloaded.Init();
  CountingSettings restarted(reloaded);
  manager = MakeManager(restarted);
  manager->UpdatePLCList(json::array({Entry(8, kTemp, {{"name", "renamed"}}), Entry(9, kDoor)}).dump());
  EXPECT_EQ(restarted.Writes(), 0);
}

TEST_F(PLCManagerTest, LongFieldsAndPositionsOutsideTheirBitsAreRefusedEntryByEntryWithoutACrashOnASmallStack) {
  auto manager = MakeManager();
  manager->UpdatePLCList(json::array({Entry(8, kTemp), Entry(9, kDoor)}).dump());
  const auto plc9 = manager->Find(9);
  for (const std::size_t length : {65u, 480u, 40000u, 200000u}) {
    const std::string long_text(length, 'k');
    json addresses = json::array();
    addresses.push_back({{"device_id", kTemp}, {"sensor_type", long_text}, {"addr", "W.D.100"}});
    addresses.push_back({{"device_id", kTemp}, {"sensor_type", "temp"}, {"addr", "W.D." + std::string(length, '1')}});
    addresses.push_back({{"device_id", kDoor}, {"sensor_type", "door"}, {"addr", "X.M.10.3"}});
    const json list = json::array({Entry(8, kTemp, {{"plc_addresses", addresses}}),
                                   Entry(9, kDoor, {{"name", std::string(length + 64, 'n')}}),
                                   Entry(10, kTemp, {{"base", "16"}}), Entry(11, kDoor, {{"slot", "20"}}),
                                   Entry(12, kDoor)});
    const auto errors_before = Count(log_.Text(), "ERROR");
    testing_support::RunWithStackOf(testing_support::kRouterThreadStack, [&] { manager->UpdatePLCList(list.dump()); });
    const std::string text = log_.Text();
    // One line per refused address or entry, and PLC 8's poller of the refused addresses goes;
    // the rest of the list applies, and no PLC is deleted.
    EXPECT_EQ(Count(text, "ERROR"), errors_before + 6) << length << "\n" << text.substr(text.size() - 2000);
    EXPECT_TRUE(log_.Contains("PLC 8: address left out, its sensor_type has " + std::to_string(length) + " bytes"));
    EXPECT_TRUE(log_.Contains("PLC 8: address left out, its addr has " + std::to_string(length + 4) + " bytes"));
    EXPECT_TRUE(log_.Contains("PLC 9 refused: name of " + std::to_string(length + 64) + " bytes; at most 128"));
    EXPECT_TRUE(log_.Contains("PLC 10 refused: base 16 is outside 0 to 15"));
    EXPECT_TRUE(log_.Contains("PLC 11 refused: slot 20 is outside 0 to 15"));
    EXPECT_TRUE(log_.Contains("Delete : " + kTemp));
    EXPECT_EQ(manager->Ids(), (std::vector<std::uint32_t>{8, 9, 12}));
    EXPECT_EQ(manager->Find(8)->Pollers(), (std::vector<std::pair<std::string, int>>{{kDoor, 1}}));
    EXPECT_EQ(manager->Find(9), plc9);  // kept as it was
    EXPECT_EQ(StoredIds(), (std::vector<std::string>{"8", "9", "12"}));
    manager->UpdatePLCList(json::array({Entry(8, kTemp), Entry(9, kDoor)}).dump());
  }
}
