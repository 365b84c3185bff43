// rpcd's "uci" semantics, call by call, over the example package of the platform notes.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <fstream>

#include "ipc/blobmsg_json.h"
#include "ipc/bus_fixture.h"
#include "ipc/status.h"
#include "platform/uci_service.h"

namespace {

using sim::platform::UciService;

const char* const kExample =
    "config sys 'sys'\n\toption url 'https://cloud.example.test/api/v1'\n\toption first_boot '1'\n\n"
    "config mesh 'mesh'\n\toption ttl '5'\n\toption tags 'a b  c'\n\n"
    "config plc\n\toption id '7'\n\toption name 'line1'\n\toption vendor 'ls'\n\toption proto 'tcp'\n"
    "\toption ip '192.168.10.20'\n\toption base '0'\n\toption slot '1'\n\tlist mem_dev 'a.b.W.D.1'\n";

class UciServiceTest : public ::testing::Test {
 protected:
  UciServiceTest() : directory_(ipc_test::MakeTempDirectory("uci")), store_(directory_), service_(store_) {
    std::ofstream(directory_ + "/ferrowick") << kExample;
    std::ofstream(directory_ + "/empty");
  }
  ~UciServiceTest() override { std::filesystem::remove_all(directory_); }

  // "status reply-json" (reply "-" when there is none).
  std::string Call(const std::string& method, const std::string& json) {
    const auto arguments = ipc::blobmsg::FromJson(json);
    if (!arguments) return "bad test JSON";
    UciService::Reply reply;
    using Method = int (UciService::*)(const UciService::Members&, UciService::Reply&);
    const std::map<std::string, Method> methods = {
        {"get", &UciService::Get},         {"set", &UciService::Set},         {"add", &UciService::Add},
        {"delete", &UciService::Delete},   {"changes", &UciService::Changes}, {"revert", &UciService::Revert},
        {"commit", &UciService::Commit},   {"configs", &UciService::Configs}};
    const int status = (service_.*methods.at(method))(*arguments, reply);
    return std::to_string(status) + " " + (reply ? ipc::blobmsg::ToJson(*reply) : "-");
  }

  std::string directory_;
  sim::platform::UciStore store_;
  UciService service_;
};

struct Step {
  std::string method;
  std::string argument;
  std::string expected;
};

void RunSteps(const std::vector<Step>& steps,
              const std::function<std::string(const std::string&, const std::string&)>& call) {
  for (const auto& step : steps) EXPECT_EQ(call(step.method, step.argument), step.expected) << step.method << " " << step.argument;
}

}  // namespace

TEST_F(UciServiceTest, GetAnswersLikeRpcd) {
  const std::string plc7 =
      R"("cfg039da4":{".anonymous":true,".type":"plc",".name":"cfg039da4",".index":2,"id":"7","name":"line1","vendor":"ls","proto":"tcp","ip":"192.168.10.20","base":"0","slot":"1","mem_dev":["a.b.W.D.1"]})";
  RunSteps({
      {"get", R"({"config":"ferrowick","section":"sys"})",
       R"(0 {"values":{".anonymous":false,".type":"sys",".name":"sys","url":"https://cloud.example.test/api/v1","first_boot":"1"}})"},
      {"get", R"({"config":"ferrowick","type":"plc"})", "0 {\"values\":{" + plc7 + "}}"},
      {"get", R"({"config":"ferrowick","type":"plc","match":{"id":7}})", "0 {\"values\":{" + plc7 + "}}"},
      {"get", R"({"config":"ferrowick","match":{"id":"7","nonexist":"x"}})", "0 {\"values\":{" + plc7 + "}}"},
      {"get", R"({"config":"ferrowick","match":{"nonexist":"x"}})", R"(0 {"values":{}})"},
      {"get", R"({"config":"ferrowick","type":"plc","match":{"id":7.0}})", "0 {\"values\":{" + plc7 + "}}"},
      {"get", R"({"config":"ferrowick","type":"plc","match":{"id":"07"}})", R"(0 {"values":{}})"},
      {"get", R"({"config":"ferrowick","match":{"tags":"b"}})",
       R"(0 {"values":{"mesh":{".anonymous":false,".type":"mesh",".name":"mesh",".index":1,"ttl":"5","tags":"a b  c"}}})"},
      {"get", R"({"config":"ferrowick","match":{"mem_dev":"a.b.W.D.1","base":false}})", "0 {\"values\":{" + plc7 + "}}"},
      {"get", R"({"config":"ferrowick","section":"sys","option":"url"})", R"(0 {"value":"https://cloud.example.test/api/v1"})"},
      {"get", R"({"config":"ferrowick","section":"@plc[-1]","option":"mem_dev"})", R"(0 {"value":["a.b.W.D.1"]})"},
      {"get", R"({"config":"ferrowick","section":"auth"})", "0 -"},
      {"get", R"({"config":"ferrowick","section":"sys","option":"nope"})", "0 -"},
      {"get", R"({"config":"nosuch","section":"sys"})", "4 -"},
      {"get", R"({"config":7})", "2 -"},
      {"get", R"({"config":"empty"})", R"(0 {"values":{}})"},
      {"configs", "{}", R"(0 {"configs":["empty","ferrowick"]})"},
  }, [this](const std::string& m, const std::string& a) { return Call(m, a); });
}

TEST_F(UciServiceTest, WritesAreStagedConvertedAndCommittedAsRpcdDoes) {
  RunSteps({
      {"add", R"({"config":"ferrowick","type":"plc","values":{"id":8,"name":"line2","vendor":"ls","proto":"tcp","ip":"192.168.10.21","base":0,"slot":2,"mem_dev":["p.q.X.M.1.2","p.q.X.M.1.3"]}})",
       R"(0 {"section":"cfg049da4"})"},
      {"set", R"({"config":"ferrowick","type":"plc","values":{"name":"line2b","mem_dev":""},"match":{"id":8}})", "0 -"},
      {"set", R"({"config":"ferrowick","section":"sys","values":{"first_boot":"0","fw_check":1440}})", "0 -"},
      {"set", R"({"config":"ferrowick","section":"sys","values":{"first_boot":"0"}})", "0 -"},
      {"changes", R"({"config":"ferrowick"})",
       R"(0 {"changes":[["add","cfg049da4","plc"],["set","cfg049da4","id","8"],["set","cfg049da4","name","line2"],["set","cfg049da4","vendor","ls"],["set","cfg049da4","proto","tcp"],["set","cfg049da4","ip","192.168.10.21"],["set","cfg049da4","base","0"],["set","cfg049da4","slot","2"],["list-add","cfg049da4","mem_dev","p.q.X.M.1.2"],["list-add","cfg049da4","mem_dev","p.q.X.M.1.3"],["set","cfg049da4","name","line2b"],["remove","cfg049da4","mem_dev"],["set","sys","first_boot","0"],["set","sys","fw_check","1440"]]})"},
      {"get", R"({"config":"ferrowick","section":"cfg049da4","option":"name"})", R"(0 {"value":"line2b"})"},
      {"commit", R"({"config":"ferrowick"})", "0 -"},
      {"changes", "{}", R"(0 {"changes":{}})"},
      {"delete", R"({"config":"ferrowick","type":"plc","match":{"id":7}})", "0 -"},
      {"delete", R"({"config":"ferrowick","type":"plc","match":{"id":99}})", "4 -"},
      {"commit", R"({"config":"ferrowick"})", "0 -"},
      {"get", R"({"config":"ferrowick","type":"plc"})",
       R"(0 {"values":{"cfg039da4":{".anonymous":true,".type":"plc",".name":"cfg039da4",".index":2,"id":"8","name":"line2b","vendor":"ls","proto":"tcp","ip":"192.168.10.21","base":"0","slot":"2"}}})"},
  }, [this](const std::string& m, const std::string& a) { return Call(m, a); });
}

TEST_F(UciServiceTest, BadWritesChangeNothing) {
  RunSteps({
      {"set", R"({"config":"ferrowick","section":"sys","values":{"a":"1","b":1.5}})", "2 -"},
      {"set", R"({"config":"ferrowick","section":"sys","values":{"a":"1","bad-name":"x"}})", "2 -"},
      {"set", R"({"config":"ferrowick","section":"sys","values":{"l":[]}})", "2 -"},
      {"set", R"({"config":"ferrowick","section":"sys","values":{"n":null}})", "2 -"},
      {"set", R"({"config":"ferrowick","values":{"a":"1"}})", "2 -"},
      {"set", R"({"config":"ferrowick","section":"auth","values":{"access_token":"x"}})", "4 -"},
      {"set", R"({"config":"ferrowick","type":"plc","match":{"id":99},"values":{"a":"1"}})", "4 -"},
      {"set", R"({"config":"nosuch","section":"sys","values":{"a":"1"}})", "4 -"},
      {"set", R"({"config":"ferrowick","section":"s.x","values":{"a":"1"}})", "2 -"},
      {"add", R"({"config":"ferrowick","type":"plc","values":{"id":8,"l":[1,{}]}})", "2 -"},
      {"add", R"({"config":"ferrowick","type":"bad type"})", "2 -"},
      {"add", R"({"config":"nosuch","type":"plc"})", "4 -"},
      {"delete", R"({"config":"ferrowick"})", "2 -"},
      {"delete", R"({"config":"ferrowick","section":"sys","option":"nope"})", "4 -"},
      {"changes", R"({"config":"ferrowick"})", R"(0 {"changes":[]})"},
      {"revert", R"({"config":"nosuch"})", "4 -"},
      {"commit", "{}", "2 -"},
  }, [this](const std::string& m, const std::string& a) { return Call(m, a); });
}

TEST_F(UciServiceTest, ValuesBecomeTextAsRpcdStoresThem) {
  RunSteps({
      {"set", R"({"config":"ferrowick","section":"sys","values":{"i":-1,"j":-5,"big":5000000000,"t":true,"f":false,"s":"x # 'y'","list":["a",1,2.5,""]}})", "0 -"},
      {"get", R"({"config":"ferrowick","section":"sys"})",
       R"(0 {"values":{".anonymous":false,".type":"sys",".name":"sys","url":"https://cloud.example.test/api/v1","first_boot":"1","i":"4294967295","j":"4294967291","big":"5000000000","t":"1","f":"0","s":"x # 'y'","list":["a","1",""]}})"},
      {"set", R"({"config":"ferrowick","section":"sys","values":{"list":"plain","url":""}})", "0 -"},
      {"get", R"({"config":"ferrowick","section":"sys","option":"list"})", R"(0 {"value":"plain"})"},
      {"get", R"({"config":"ferrowick","section":"sys","option":"url"})", "0 -"},
      {"revert", R"({"config":"ferrowick"})", "0 -"},
      {"get", R"({"config":"ferrowick","section":"sys","option":"url"})", R"(0 {"value":"https://cloud.example.test/api/v1"})"},
      {"add", R"({"config":"ferrowick","type":"other","name":"sys","values":{"x":"1"}})", R"(0 {"section":"sys"})"},
      {"get", R"({"config":"ferrowick","section":"sys","option":"x"})", R"(0 {"value":"1"})"},
  }, [this](const std::string& m, const std::string& a) { return Call(m, a); });
}
