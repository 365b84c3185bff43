// The configuration store against a scripted "uci" object on the project's broker: what it
// loads from the replies, and exactly which calls its setters make.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "ipc/blobmsg_json.h"
#include "ipc/bus_fixture.h"
#include "ipc/connection.h"
#include "nvram/deployment.h"
#include "nvram/nvram.h"

using namespace std::chrono_literals;

namespace {

// Object "uci" answering "get" from canned replies (keyed by section, or "type:<type>")
// and recording every call as "method argument-json".
class ScriptedUci {
 public:
  explicit ScriptedUci(const std::string& socket) : bus_(socket) {
    std::vector<ipc::ObjectMethod> methods;
    for (const std::string method : {"get", "set", "add", "delete", "commit"}) {
      methods.push_back({method, {}, [this, method](const ipc::InvokeRequest& request, const ipc::ReplySender& reply) {
                           return Answer(method, request, reply);
                         }});
    }
    std::uint32_t id = 0;
    EXPECT_EQ(bus_.AddObject("uci", std::move(methods), id, 5s), ipc::kOk);
    thread_ = std::thread([this] { bus_.Serve(stop_); });
  }
  ~ScriptedUci() {
    stop_ = true;
    bus_.Wake();
    thread_.join();
  }

  void Reply(const std::string& key, const std::string& json) {
    const std::lock_guard<std::mutex> guard(lock_);
    replies_[key] = json;
  }
  std::vector<std::string> Calls() {
    const std::lock_guard<std::mutex> guard(lock_);
    return calls_;
  }
  void ClearCalls() {
    const std::lock_guard<std::mutex> guard(lock_);
    calls_.clear();
  }

 private:
  int Answer(const std::string& method, const ipc::InvokeRequest& request, const ipc::ReplySender& reply) {
    const std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(method + " " + ipc::blobmsg::ToJson(request.arguments));
    if (method != "get") return ipc::kOk;
    const auto* section = ipc::blobmsg::FindTyped(request.arguments, "section", ipc::blobmsg::Type::kString);
    const auto* type = ipc::blobmsg::FindTyped(request.arguments, "type", ipc::blobmsg::Type::kString);
    const std::string key = section != nullptr ? section->text : "type:" + (type != nullptr ? type->text : "");
    const auto found = replies_.find(key);
    if (found == replies_.end()) return ipc::kOk;  // a missing section: success without data
    reply(*ipc::blobmsg::FromJson(found->second));
    return ipc::kOk;
  }

  ipc::Connection bus_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex lock_;
  std::map<std::string, std::string> replies_;
  std::vector<std::string> calls_;
};

class NvramTest : public ::testing::Test {
 protected:
  ipc_test::LogCapture log_;
  ipc_test::BrokerProcess broker_;
  ScriptedUci uci_{broker_.Socket()};
  NVRAM nvram_{broker_.Socket()};
};

const std::string kCommit = R"(commit {"config":"ferrowick"})";

std::string SetCall(const std::string& section, const std::string& option, const std::string& value) {
  return R"(set {"config":"ferrowick","section":")" + section + R"(","values":{")" + option + R"(":")" + value +
         R"("}})";
}

}  // namespace

TEST_F(NvramTest, AnEmptyPackageLeavesEveryDefault) {
  uci_.Reply("type:plc", R"({"values":{}})");
  nvram_.Init();
  EXPECT_EQ(nvram_.TTL(), 3);
  EXPECT_EQ(nvram_.GroupAddr(), 0xFC88);
  EXPECT_EQ(nvram_.OTASession(), 2u);
  EXPECT_EQ(nvram_.FWCheck(), 1440u);
  EXPECT_FALSE(nvram_.FirstBoot());
  EXPECT_FALSE(nvram_.MeshEnable());
  EXPECT_EQ(nvram_.NetAddr(), 0);
  EXPECT_EQ(nvram_.NetIdx(), 0u);
  EXPECT_EQ(nvram_.Token(), 0u);
  for (const auto& text : {nvram_.AccessToken(), nvram_.RefreshToken(), nvram_.ClientID(), nvram_.ClientSecret(),
                           nvram_.DeviceID(), nvram_.SerialNumber(), nvram_.URL(), nvram_.Host(),
                           nvram_.FirmwareKey()}) {
    EXPECT_EQ(text, "");
  }
  EXPECT_TRUE(nvram_.PLCList().empty());
  EXPECT_FALSE(nvram_.TlsVerify()) << "the cloud's certificate is not verified unless asked for";
  EXPECT_EQ(nvram_.CAFile(), "");
  EXPECT_TRUE(nvram_.ReportBatching());
  EXPECT_EQ(nvram_.ReportCapacity(), kDefaultReportCapacity);
  const ReportSpoolSettings spool = nvram_.Spool();
  EXPECT_EQ(spool.directory, "") << "no spool unless one is configured";
  EXPECT_EQ(spool.size_mib, kDefaultSpoolSizeMiB);
  EXPECT_EQ(spool.ttl_hours, kDefaultSpoolTtlHours);
  EXPECT_EQ(spool.flush_seconds, kDefaultSpoolFlushSeconds);
  EXPECT_EQ(nvram_.ProvisioningWindow(), 0u) << "advertising without end unless asked for";
  EXPECT_EQ(nvram_.LogLevel(), 6u) << "every line unless asked for less";
  EXPECT_FALSE(nvram_.MeshCredentialsStored());
  EXPECT_EQ(uci_.Calls(), (std::vector<std::string>{
                              R"(get {"config":"ferrowick","section":"sys"})",
                              R"(get {"config":"ferrowick","section":"auth"})",
                              R"(get {"config":"ferrowick","section":"mesh"})",
                              R"(get {"config":"ferrowick","type":"plc"})"}));
}

TEST_F(NvramTest, LoadsAndConvertsEverySection) {
  uci_.Reply("sys", R"({"values":{".anonymous":false,".type":"sys",".name":"sys","url":"https://cloud.example.test:8443/api/v1",
      "first_boot":"1","device_id":"0a1b2c3d4e5f","serial_number":"00ff","ota_session":"4","fw_check":"60","extra":"x",
      "tls_verify":"1","ca_file":"/etc/ssl/cloud-ca.pem","report_batching":"0","report_capacity":"12000",
      "firmware_key":"MCowBQYDK2VwAyEAVytEvdM/K4jxkryJ33nuy388EvcxE3zNJ7SoBgMS6CI=",
      "spool_dir":"/mnt/sda1/spool","spool_size":"64","spool_ttl":"24","spool_flush":"10",
      "provisioning_window":"15"}})");
  uci_.Reply("auth", R"({"values":{"access_token":"a","refresh_token":"r","client_id":"c","client_secret":"s"}})");
  uci_.Reply("mesh", R"({"values":{"enable":"1","net_idx":"4294967295","net_addr":"32767","group_addr":"51712",
      "token":"18446744073709551615","ttl":"5","netkey":"ABEiM0RVZneImaq7zN3u/w==","appkey":"AAEC","devkey":""}})");
  nvram_.Init();
  EXPECT_EQ(nvram_.URL(), "https://cloud.example.test:8443/api/v1");
  EXPECT_EQ(nvram_.Host(), "cloud.example.test");
  EXPECT_TRUE(nvram_.FirstBoot());
  EXPECT_EQ(nvram_.DeviceID(), "0a1b2c3d4e5f");
  EXPECT_EQ(nvram_.SerialNumber(), "00ff");
  EXPECT_EQ(nvram_.OTASession(), 4u);
  EXPECT_EQ(nvram_.FWCheck(), 60u);
  EXPECT_TRUE(nvram_.TlsVerify());
  EXPECT_EQ(nvram_.CAFile(), "/etc/ssl/cloud-ca.pem");
  EXPECT_FALSE(nvram_.ReportBatching());
  EXPECT_EQ(nvram_.ReportCapacity(), 12000u);
  EXPECT_EQ(nvram_.FirmwareKey(), "MCowBQYDK2VwAyEAVytEvdM/K4jxkryJ33nuy388EvcxE3zNJ7SoBgMS6CI=");
  const ReportSpoolSettings spool = nvram_.Spool();
  EXPECT_EQ(spool.directory, "/mnt/sda1/spool");
  EXPECT_EQ(spool.size_mib, 64u);
  EXPECT_EQ(spool.ttl_hours, 24u);
  EXPECT_EQ(spool.flush_seconds, 10u);
  EXPECT_EQ(nvram_.ProvisioningWindow(), 15u);
  EXPECT_EQ(nvram_.AccessToken(), "a");
  EXPECT_EQ(nvram_.RefreshToken(), "r");
  EXPECT_EQ(nvram_.ClientID(), "c");
  EXPECT_EQ(nvram_.ClientSecret(), "s");
  EXPECT_TRUE(nvram_.MeshEnable());
  EXPECT_EQ(nvram_.NetIdx(), 4294967295u);
  EXPECT_EQ(nvram_.NetAddr(), 0x7FFF);
  EXPECT_EQ(nvram_.GroupAddr(), 0xCA00);
  EXPECT_EQ(nvram_.Token(), 18446744073709551615u);
  EXPECT_EQ(nvram_.TTL(), 5);
  EXPECT_EQ(nvram_.MeshNetKey(), (std::vector<std::uint8_t>{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                                            0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}));
  EXPECT_EQ(nvram_.MeshAppKey(), (std::vector<std::uint8_t>{0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(nvram_.MeshDevKey(), std::vector<std::uint8_t>(16, 0));
  EXPECT_TRUE(log_.Contains("len : 3"));
  EXPECT_TRUE(log_.Contains("len : 0"));
}

TEST_F(NvramTest, ABadValueEndsItsSectionButKeepsWhatCameBeforeIt) {
  // Handled in name order: enable, group_addr (bad), net_addr, ttl.
  uci_.Reply("mesh", R"({"values":{"ttl":"7","net_addr":"5","group_addr":"many","enable":"1"}})");
  uci_.Reply("sys", R"({"values":{"url":"https://h.example/","device_id":"d1","first_boot":"yes","serial_number":"s"}})");
  uci_.Reply("auth", "{\"values\":{\"access_token\":[\"a\",\"b\"]}}");
  nvram_.Init();
  EXPECT_TRUE(nvram_.MeshEnable());
  EXPECT_EQ(nvram_.GroupAddr(), 0xFC88);
  EXPECT_EQ(nvram_.NetAddr(), 0);
  EXPECT_EQ(nvram_.TTL(), 3);
  EXPECT_TRUE(log_.Contains("Invalid value for group_addr"));
  EXPECT_EQ(nvram_.DeviceID(), "d1");
  EXPECT_FALSE(nvram_.FirstBoot());
  EXPECT_EQ(nvram_.SerialNumber(), "");
  EXPECT_EQ(nvram_.URL(), "");
  EXPECT_EQ(nvram_.AccessToken(), "") << "a list is not a text";
  EXPECT_TRUE(log_.Contains("Invalid value for access_token")) << "the error line names the option\n" << log_.Text();

  uci_.Reply("sys", R"({"values":{"url":"ftp://cloud.example.test/x"}})");
  nvram_.Init();
  EXPECT_EQ(nvram_.URL(), "ftp://cloud.example.test/x");
  EXPECT_EQ(nvram_.Host(), deployment::kDefaultCloudHost);
}

TEST_F(NvramTest, PLCSectionsNeedTheirRequiredOptionsAndABadOneEndsTheList) {
  uci_.Reply("type:plc", R"({"values":{
      "cfg029da4":{".anonymous":true,".type":"plc","id":"7","name":"line1","vendor":"ls","proto":"fenet","ip":"192.168.10.20","base":"0","slot":"1","mem_dev":["a.b.W.D.1"]},
      "cfg039da4":{".anonymous":true,".type":"plc","id":"8","vendor":"ls"},
      "named":{".anonymous":false,".type":"plc","id":"9","name":"n","vendor":"ls","proto":"fenet","ip":"10.0.0.9","base":"1","slot":"2"},
      "cfg059da4":{"id":"10","vendor":"ls","proto":"fenet","ip":"10.0.0.1","base":"0","slot":"0"},
      "cfg069da4":{"id":"11","name":"late","vendor":"ls","proto":"fenet","ip":"10.0.0.2","base":"0","slot":"0"}}})");
  nvram_.Init();
  const auto list = nvram_.PLCList();
  ASSERT_EQ(list.size(), 3u) << log_.Text();
  EXPECT_EQ(list[0].id, 7u);
  EXPECT_EQ(list[0].name, "line1");
  EXPECT_EQ(list[0].proto, "fenet");
  EXPECT_EQ(list[0].plc_addresses, std::vector<std::string>{"a.b.W.D.1"});
  EXPECT_EQ(list[1].id, 0u) << "an incomplete section keeps the starting values";
  EXPECT_EQ(list[1].vendor, "u");
  EXPECT_EQ(list[1].proto, "u");
  EXPECT_EQ(list[1].ip_address, "0.0.0.0");
  EXPECT_EQ(list[2].id, 9u);
  EXPECT_TRUE(list[2].plc_addresses.empty());
  EXPECT_TRUE(log_.Contains("name")) << "the missing name of cfg059da4 is an error";

  uci_.Reply("type:plc", R"({"values":{"a":{"id":"x1","name":"n","vendor":"ls","proto":"fenet","ip":"1","base":"0","slot":"0"}}})");
  nvram_.Init();
  EXPECT_TRUE(nvram_.PLCList().empty());
  uci_.Reply("type:plc", R"({"values":{"a":{"id":"1","name":"n","vendor":"ls","proto":"fenet","ip":"1","base":"0","slot":"0","mem_dev":"x"}}})");
  nvram_.Init();
  EXPECT_TRUE(nvram_.PLCList().empty());
  EXPECT_TRUE(log_.Contains("mem_dev is not a list"));
}

// The log level is 1 to 6; anything else keeps every line and names the option.
TEST_F(NvramTest, LogLevelIsOneToSix) {
  const struct {
    const char* stored;
    std::uint32_t level;
  } cases[] = {{"1", 1}, {"4", 4}, {"+6", 6}, {"0", 6}, {"7", 6}, {"-2", 6}, {"info", 6}, {"", 6}};
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.stored);
    uci_.Reply("sys", nlohmann::json{{"values", {{"log_level", entry.stored}}}}.dump());
    nvram_.Init();
    EXPECT_EQ(nvram_.LogLevel(), entry.level);
    if (entry.level == 6 && std::string(entry.stored) != "+6") {
      EXPECT_TRUE(log_.Contains(std::string("Invalid value for log_level: \"") + entry.stored + "\""));
    }
  }
}

// id, base and slot are unsigned numbers: a sign, even "+", ends the list like any other
// text that is not decimal digits.
TEST_F(NvramTest, PLCNumbersAreDecimalDigitsOnly) {
  for (const char* option : {"id", "base", "slot"}) {
    for (const char* bad : {"-3", "+-3", "+3"}) {
      SCOPED_TRACE(std::string(option) + " " + bad);
      nlohmann::json section = {{"id", "1"}, {"name", "n"}, {"vendor", "ls"}, {"proto", "fenet"},
                                {"ip", "10.0.0.1"}, {"base", "2"}, {"slot", "3"}};
      section[option] = bad;
      uci_.Reply("type:plc", nlohmann::json{{"values", {{"a", section}}}}.dump());
      nvram_.Init();
      EXPECT_TRUE(nvram_.PLCList().empty());
      EXPECT_TRUE(log_.Contains(std::string("Invalid value for ") + option + ": \"" + bad + "\""));
    }
  }
}

// Keys never reach the log in clear: a key setter's verbose line and a write's argument
// name the key by its length only.
TEST_F(NvramTest, KeysAreNotLoggedInClear) {
  nvram_.Init();
  nvram_.MeshNetKey(std::string("bmV0d29ya2tleTAxMjM0NQ=="));
  nvram_.MeshAppKey(std::string("YXBwa2V5MDEyMzQ1Njc4OQ=="));
  nvram_.MeshNetKey(std::vector<std::uint8_t>(16, 0x11));
  nvram_.Set("wifi-iface", nlohmann::ordered_json{{"ssid", "Office"}, {"key", "s3cretpass"}}, nullptr, "wireless");
  for (const char* secret : {"bmV0d29ya2tleTAxMjM0NQ==", "YXBwa2V5MDEyMzQ1Njc4OQ==", "ERERERERERERERERERERE",
                             "s3cretpass"}) {
    EXPECT_FALSE(log_.Contains(secret)) << secret << "\n" << log_.Text();
  }
  EXPECT_TRUE(log_.Contains("*** (24 chars)")) << log_.Text();
  EXPECT_TRUE(log_.Contains(R"j("key":"*** (10 chars)")j")) << log_.Text();
}

// The mesh can start only from three keys of 16 bytes in their Base64 form and a unicast
// address; keys the store would fill with zeros do not count.
TEST_F(NvramTest, MeshCredentialsAreStoredOnlyWhenTheMeshCanStartFromThem) {
  const std::string key = "AAECAwQFBgcICQoLDA0ODw==";
  const struct {
    const char* netkey;
    const char* appkey;
    const char* devkey;
    const char* net_addr;
    bool stored;
  } cases[] = {
      {key.c_str(), key.c_str(), key.c_str(), "1", true},
      {key.c_str(), key.c_str(), key.c_str(), "0", false},
      {"", key.c_str(), key.c_str(), "1", false},
      {key.c_str(), "x", key.c_str(), "1", false},
      {key.c_str(), key.c_str(), "AAECAwQFBgcICQoLDA0O", "1", false},
      {key.c_str(), "AAECAwQFBgcICQoLDA0ODw", key.c_str(), "1", false},
  };
  for (const auto& entry : cases) {
    uci_.Reply("mesh", std::string(R"({"values":{"netkey":")") + entry.netkey + R"(","appkey":")" + entry.appkey +
                           R"(","devkey":")" + entry.devkey + R"(","net_addr":")" + entry.net_addr + R"("}})");
    nvram_.Init();
    EXPECT_EQ(nvram_.MeshCredentialsStored(), entry.stored) << entry.netkey << " " << entry.appkey << " "
                                                             << entry.devkey << " " << entry.net_addr;
  }
}

TEST_F(NvramTest, SettersValidateAndWriteThroughWithACommit) {
  nvram_.Init();
  uci_.ClearCalls();

  EXPECT_THROW(nvram_.NetAddr(0), std::runtime_error);
  EXPECT_THROW(nvram_.NetAddr(0x8000), std::runtime_error);
  EXPECT_THROW(nvram_.NetAddr(0xFFFF), std::runtime_error);
  try {
    nvram_.NetAddr(0x8000);
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Address error.");
  }
  for (const std::uint16_t bad : {0xC9FF, 0xFC01, 0xFC88}) {
    try {
      nvram_.GroupAddr(bad);
      ADD_FAILURE() << bad;
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "Group Address Error.");
    }
  }
  for (const std::size_t size : {15u, 17u, 0u}) {
    EXPECT_THROW(nvram_.MeshDevKey(std::vector<std::uint8_t>(size, 1)), std::invalid_argument);
  }
  EXPECT_THROW(nvram_.MeshNetKey(std::string()), std::invalid_argument);
  EXPECT_TRUE(uci_.Calls().empty()) << "rejected values write nothing";
  EXPECT_EQ(nvram_.NetAddr(), 0);

  nvram_.NetAddr(0x7FFF);
  nvram_.NetAddr(0x7FFF);
  nvram_.GroupAddr(0xCA00);
  nvram_.GroupAddr(0xFC00);
  nvram_.MeshDevKey(std::vector<std::uint8_t>(16, 0xff));
  nvram_.MeshDevKey(std::vector<std::uint8_t>(16, 0xff));
  nvram_.MeshEnable(true);
  nvram_.MeshEnable(true);
  nvram_.AccessToken("tok");
  nvram_.AccessToken("tok");
  nvram_.OTASession(2);
  nvram_.FWCheck(1440);
  nvram_.ProvisioningWindow(0);  // unchanged: not written
  nvram_.ProvisioningWindow(15);
  nvram_.ClearFirstBoot();
  nvram_.Token(5000000000);
  EXPECT_EQ(uci_.Calls(), (std::vector<std::string>{
                              SetCall("mesh", "net_addr", "32767"), kCommit,
                              SetCall("mesh", "group_addr", "51712"), kCommit,
                              SetCall("mesh", "group_addr", "64512"), kCommit,
                              SetCall("mesh", "devkey", "/////////////////////w=="), kCommit,
                              SetCall("mesh", "enable", "1"), kCommit,
                              SetCall("auth", "access_token", "tok"), kCommit,
                              SetCall("sys", "ota_session", "2"), kCommit,
                              SetCall("sys", "fw_check", "1440"), kCommit,
                              SetCall("sys", "provisioning_window", "15"), kCommit,
                              SetCall("sys", "first_boot", "0"), kCommit,
                              SetCall("mesh", "token", "5000000000"), kCommit}));
  EXPECT_EQ(nvram_.MeshDevKey(), std::vector<std::uint8_t>(16, 0xff));
}

TEST_F(NvramTest, PLCAndRouterWritesUseTheirPackagesAndSelections) {
  nvram_.Init();
  uci_.ClearCalls();
  PLCInfo info;
  info.id = 8;
  info.name = "line2";
  info.ip_address = "192.168.10.21";
  nvram_.AddPLC(info);
  nvram_.UpdatePLC(info);
  nvram_.DeletePLC(info);
  nvram_.Hostname("quellaron-0a1b2c3d4e5f");
  nvram_.Wireless("Office", "psk2", "s3cret");
  const std::string values = R"({"id":8,"name":"line2","vendor":"ls","proto":"fenet","ip":"192.168.10.21","base":0,"slot":0,"mem_dev":""})";
  EXPECT_EQ(uci_.Calls(), (std::vector<std::string>{
                              R"(add {"config":"ferrowick","type":"plc","values":)" + values + "}", kCommit,
                              R"(set {"config":"ferrowick","type":"plc","values":)" + values + R"(,"match":{"id":8}})",
                              kCommit,
                              R"(delete {"config":"ferrowick","type":"plc","match":{"id":8}})", kCommit,
                              R"(set {"config":"system","type":"system","values":{"hostname":"quellaron-0a1b2c3d4e5f"}})",
                              R"(commit {"config":"system"})",
                              R"(set {"config":"wireless","section":"default_radio0","values":{"ssid":"Office","encryption":"psk2","key":"s3cret"}})",
                              R"(commit {"config":"wireless"})"}));
  EXPECT_TRUE(nvram_.PLCList().empty()) << "the writes change only UCI";
  nvram_.PLCList({info});
  EXPECT_EQ(nvram_.PLCList(), std::vector<PLCInfo>{info});
}

TEST_F(NvramTest, DeviceUUIDReadsTheDeviceIdAsHexPairs) {
  const std::string prefix = "quellaron_";
  const std::vector<std::pair<std::string, std::vector<std::uint8_t>>> cases = {
      {"0a1b2c3d4e5f", {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}},
      {"ABC", {0xAB, 0x0C}},
      {"zz1g", {0x00, 0x01}},
      {"", {}},
  };
  for (const auto& [device_id, tail] : cases) {
    uci_.Reply("sys", R"({"values":{"device_id":")" + device_id + R"("}})");
    nvram_.Init();
    std::vector<std::uint8_t> expected(prefix.begin(), prefix.end());
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(nvram_.DeviceUUID(), expected) << device_id;
  }
}

TEST_F(NvramTest, WithoutTheBusLoadingKeepsTheDefaultsAndSettersStillChangeMemory) {
  NVRAM offline(broker_.Directory() + "/none.sock");
  offline.Init();
  EXPECT_EQ(offline.TTL(), 3);
  offline.TTL(9);
  EXPECT_EQ(offline.TTL(), 9);
  EXPECT_TRUE(log_.Contains("lookup_id"));
}

TEST_F(NvramTest, ReadersOnOtherThreadsSeeOldOrNewValues) {
  nvram_.Init();
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!stop) {
      const std::string token = nvram_.AccessToken();
      if (!token.empty() && token != std::string(token.size(), token[0])) ++torn;
    }
  });
  for (int round = 0; round < 20; ++round) nvram_.AccessToken(std::string(64, static_cast<char>('a' + round % 26)));
  stop = true;
  reader.join();
  EXPECT_EQ(torn, 0);
}
