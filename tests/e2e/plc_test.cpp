// The daemon in its sandbox with the stand-in PLC: the PLC the stand-in cloud lists for the
// gateway is stored and polled on one kept connection, values due together in one request
// per data type, its readings reach the cloud, and a power cycle of the PLC costs no more
// than the readings due while it was off and two log lines. Runs at the daemon's own periods
// (list fetched 20 s after start, first poll one minute later), so it takes about 2.5 minutes.

#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cloud/control_client.h"
#include "standin/control_socket.h"
#include "support/sandbox.h"
#include "support/subprocess.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::SourcePath;
using testing_support::Subprocess;
using testing_support::WaitUntil;

namespace {

// The ids of the values the sandbox scenario's PLC list names.
const std::string kTemp = "0123456789abcdef0123456789abcdef0123456789abcd01";
const std::string kPh = "0123456789abcdef0123456789abcdef0123456789abcd02";

class SandboxedPlc : public ::testing::Test {
 protected:
  void SetUp() override {
    // Tokens (the sandbox's settings hold the device id the scenario knows), so the daemon may
    // fetch its PLC list at once.
    daemon_ = std::make_unique<Subprocess>(std::vector<std::string>{
        "/bin/bash", SourcePath("sim/sandbox/sandbox"), "--build", testing_support::BuildPath(""), "--",
        SourcePath("sim/sandbox/with-tokens"), testing_support::BuildPath("src/app/quellaron")});
    ASSERT_TRUE(daemon_->WaitForOutput("[App::Init@", 60s)) << daemon_->Output();
  }
  void TearDown() override {
    daemon_->Signal(SIGTERM);
    EXPECT_TRUE(daemon_->Wait(30s).has_value());
  }

  std::string Root() const { return "/proc/" + std::to_string(daemon_->Pid()) + "/root"; }
  json Plc(const json& command) const { return sim::standin::ControlCall(Root() + "/run/sim/plc.sock", command); }
  // The reported values per id, in the order the cloud received them.
  std::map<std::string, std::vector<std::string>> Readings() const {
    std::map<std::string, std::vector<std::string>> readings;
    const sim::cloud::ControlClient cloud(Root() + "/run/sim/cloud.sock");
    for (const auto& request : cloud.Requests()) {
      if (request.value("target", "").find("/gateways/report") == std::string::npos) continue;
      // One request may carry the readings of several reports.
      const json body = json::parse(request.at("body").get<std::string>());
      for (const auto& node : body.at("nodes")) {
        for (const auto& reading : node.at("vs")) readings[node.at("id")].push_back(reading.at("v"));
      }
    }
    return readings;
  }
  std::string StoredConfig() const {
    std::ifstream file(Root() + "/etc/config/ferrowick");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }
  std::size_t LogLines(const std::string& part) const {
    const std::string output = daemon_->Output();
    std::size_t count = 0;
    for (auto at = output.find(part); at != std::string::npos; at = output.find(part, at + 1)) ++count;
    return count;
  }

  std::unique_ptr<Subprocess> daemon_;
};

}  // namespace

TEST_F(SandboxedPlc, AListedPlcIsStoredPolledReportedAndSurvivesAPowerCycle) {
  // 20 s to the list, one fold (a minute) to the first poll.
  ASSERT_TRUE(WaitUntil([&] { return Readings()[kPh].size() == 1 && Readings()[kTemp].size() == 1; }, 120s))
      << daemon_->Output();
  EXPECT_EQ(Readings()[kPh][0], "-12.340000");
  const std::string stored = StoredConfig();
  EXPECT_NE(stored.find("option name 'line 1'"), std::string::npos) << stored;
  EXPECT_NE(stored.find("list mem_dev '" + kTemp + ".temp.W.D.100'"), std::string::npos) << stored;
  // The two words in one request, the bit in another, on one connection.
  const json requests = Plc({{"cmd", "requests"}}).at("requests");
  ASSERT_GE(requests.size(), 2u);
  std::size_t variables = 0;
  for (const auto& request : requests) {
    EXPECT_EQ(request.at("problems"), json::array()) << request.dump();
    variables += request.at("variables").size();
  }
  EXPECT_GE(variables, 3u);
  EXPECT_EQ(requests[0].at("variables"), json::array({"%DW100", "%DW101"}));
  EXPECT_EQ(Plc({{"cmd", "status"}}).at("accepted"), 1u);

  // Off across the next readings (due a minute after the first), on again 5 s later.
  const auto temp_before = std::stoul(Readings()[kTemp][0]);
  ASSERT_TRUE(Plc({{"cmd", "restart"}, {"off_ms", 65000}}).at("ok"));
  const std::string failing = "PLC 1 is not answering: Cannot connect PLC [127.0.0.1] (Connection refused)";
  ASSERT_TRUE(WaitUntil([&] { return LogLines(failing) >= 1; }, 75s)) << daemon_->Output();
  ASSERT_TRUE(WaitUntil([&] { return Plc({{"cmd", "status"}}).at("power") == true; }, 30s));
  // Asked again after pauses of 2, 4, 8, ... s, so each value is read again soon after the power-on.
  EXPECT_TRUE(WaitUntil([&] { return Readings()[kPh].size() == 2 && Readings()[kTemp].size() == 2; }, 30s))
      << daemon_->Output();
  EXPECT_GT(std::stoul(Readings()[kTemp][1]), temp_before);  // the counter went on meanwhile
  EXPECT_EQ(LogLines(failing), 1u) << daemon_->Output();
  EXPECT_EQ(LogLines("PLC 1 answers again after "), 1u) << daemon_->Output();
}
