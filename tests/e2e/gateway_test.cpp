// The daemon in its sandbox among the stand-ins: bus events typed with the CLI reach it,
// and a WAN coming up leads it to the stand-in cloud's device authorisation.

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <fstream>

#include "cloud/control_client.h"
#include "support/sandbox.h"
#include "support/subprocess.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using testing_support::Subprocess;
using testing_support::WaitUntil;

namespace {

constexpr auto kStartTimeout = 60s;

// The daemon in a sandbox whose WAN starts down.
class SandboxedGateway : public ::testing::Test {
 protected:
  void SetUp() override {
    scenario_ = "/tmp/quellaron-e2e-scenario-" + std::to_string(::getpid()) + ".json";
    std::ofstream(scenario_) << R"({"wan":{"up":false},"wireless":{"brings_wan_up":false}})";
    ::setenv("QUELLARON_PLATFORM_SCENARIO", scenario_.c_str(), 1);
    daemon_ = std::make_unique<Subprocess>(testing_support::SandboxedDaemon());
    ::unsetenv("QUELLARON_PLATFORM_SCENARIO");
    ASSERT_TRUE(daemon_->WaitForOutput("[App::Init@", kStartTimeout)) << daemon_->Output();
  }
  void TearDown() override {
    daemon_->Signal(SIGTERM);
    const auto status = daemon_->Wait(30s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << daemon_->Output();
    std::remove(scenario_.c_str());
  }

  // Runs the bus CLI inside the sandbox; true when it exits with 0.
  bool Ubus(const std::vector<std::string>& arguments) {
    std::vector<std::string> command{"/usr/local/bin/ubus"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    Subprocess cli(testing_support::InSandbox(daemon_->Pid(), command));
    const auto status = cli.Wait(30s);
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
  }

  sim_cloud::ControlClient Cloud() const {
    return sim_cloud::ControlClient("/proc/" + std::to_string(daemon_->Pid()) + "/root/run/sim/cloud.sock");
  }
  bool CloudHeard(const std::string& path) const {
    return WaitUntil([&] { return Cloud().Requests().dump().find(path) != std::string::npos; }, 30s);
  }

  std::string scenario_;
  std::unique_ptr<Subprocess> daemon_;
};

}  // namespace

TEST_F(SandboxedGateway, IfupTypedOnTheBusLeadsToDeviceAuthorisation) {
  ASSERT_TRUE(daemon_->WaitForOutput("Interface DOWN", 30s)) << daemon_->Output();
  EXPECT_EQ(Cloud().Requests().dump().find("/auth_device/request"), std::string::npos);

  ASSERT_TRUE(Ubus({"send", "network.interface", R"({"interface":"wan","action":"ifup"})"}));
  EXPECT_TRUE(daemon_->WaitForOutput("SYS_EVT_NETWORK_CONNECTED", 30s)) << daemon_->Output();
  EXPECT_TRUE(daemon_->WaitForOutput("APP_EVT_OAUTH_REQUEST", 30s));
  EXPECT_TRUE(CloudHeard("/auth_device/request")) << Cloud().Requests().dump();
}

TEST_F(SandboxedGateway, ButtonAndBluetoothdRestartAreVisibleInTheLog) {
  ASSERT_TRUE(Ubus({"send", "button", R"({"event":"reset"})"}));
  EXPECT_TRUE(daemon_->WaitForOutput(R"({"event":"reset"})", 30s)) << daemon_->Output();
  // Without a Bluetooth controller, provisioning cannot start: the LED shows the malfunction.
  EXPECT_TRUE(daemon_->WaitForOutput("Bluetooth Malfunction", 30s)) << daemon_->Output();
}
