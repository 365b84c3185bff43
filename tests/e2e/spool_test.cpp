// The daemon with a report spool, in its sandbox among every stand-in: readings the simulated
// sensor nodes send while the cloud is away survive a SIGKILL of the daemon and all reach the
// cloud after its restart.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "sensor_sandbox.h"
#include "support/sandbox.h"
#include "support/subprocess.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::SensorSandbox;
using testing_support::SourcePath;
using testing_support::Subprocess;
using testing_support::WaitUntil;

namespace {

const std::string kSpool = "/var/lib/quellaron/spool";

class SandboxedSpool : public SensorSandbox {
 protected:
  // The distinct readings the cloud took (a reading sent twice counts once).
  std::set<std::string> DistinctReadings() const {
    std::set<std::string> distinct;
    for (const auto& [device, readings] : Readings()) {
      for (const auto& reading : readings) distinct.insert(device + " " + reading.dump());
    }
    return distinct;
  }
  // The sensor reports the daemon has handed to its cloud client (it logs each one).
  std::size_t ReportsTaken() const {
    const std::string output = daemon_->Output();
    const std::string mark = R"( {"nodes":[{"id":"5e05)";
    std::size_t count = 0;
    for (auto at = output.find(mark); at != std::string::npos; at = output.find(mark, at + 1)) ++count;
    return count;
  }
};

}  // namespace

TEST_F(SandboxedSpool, ReadingsSpooledInAnOutageSurviveAKillAndAreDeliveredAfterTheRestart) {
  Start({true, false, {SourcePath("sim/sandbox/with-spool"), kSpool}});
  ASSERT_TRUE(WaitUntil([&] { return EveryDeviceReported(); }, 90s)) << daemon_->Output();

  // The cloud goes away: no connection accepted, every request and the channel dropped.
  Cloud().Call("POST", "/refuse", {{"refuse", true}});
  Cloud().Call("POST", "/faults", {{"path", ""}, {"drop", true}});
  Cloud().Call("POST", "/channel/drop", json::object());
  const int sent_before = ReportsSent();
  ASSERT_TRUE(WaitUntil([&] { return ReportsSent() >= sent_before + 12; }, 60s)) << "the nodes go on reporting";
  ASSERT_TRUE(SensorsControl({{"cmd", "sensor_faults"}, {"silent", true}}).at("ok"));
  const auto sent = static_cast<std::size_t>(ReportsSent());
  ASSERT_TRUE(WaitUntil([&] { return ReportsTaken() >= sent; }, 30s)) << ReportsTaken() << " of " << sent;
  const std::size_t before_kill = DistinctReadings().size();
  ASSERT_LT(before_kill, sent) << "readings are waiting for the cloud";

  // Killed: no chance to write or flush anything more.
  Subprocess kill({"/usr/bin/pkill", "-KILL", "-x", "-P", std::to_string(daemon_->Pid()), "quellaron"});
  ASSERT_TRUE(kill.Wait(10s).has_value());
  ASSERT_TRUE(daemon_->WaitForOutput("first run ended", 30s)) << daemon_->Output();
  Cloud().Call("DELETE", "/faults");
  Cloud().Call("POST", "/refuse", {{"refuse", false}});

  // The second run finds the readings in the spool and delivers every one of them.
  EXPECT_TRUE(WaitUntil([&] { return DistinctReadings().size() >= sent; }, 120s))
      << DistinctReadings().size() << " distinct readings of " << sent << " sent; " << before_kill
      << " before the kill\n"
      << daemon_->Output();
  EXPECT_EQ(DistinctReadings().size(), sent);
  EXPECT_TRUE(daemon_->WaitForOutput("Report spool in " + kSpool + ": ", 1s));
  std::size_t received = 0;
  for (const auto& entry : Readings()) received += entry.second.size();
  RecordProperty("readings_sent_twice", static_cast<int>(received - DistinctReadings().size()));
}
