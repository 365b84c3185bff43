#include "wan_down_gateway.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "support/sandbox.h"
#include "support/wait.h"

using namespace std::chrono_literals;

namespace testing_support {

void WanDownGateway::SetUp() {
  scenario_ = "/tmp/quellaron-e2e-scenario-" + std::to_string(::getpid()) + ".json";
  std::ofstream(scenario_) << R"({"wan":{"up":false},"wireless":{"brings_wan_up":false}})";
  ::setenv("QUELLARON_PLATFORM_SCENARIO", scenario_.c_str(), 1);
  daemon_ = std::make_unique<Subprocess>(SandboxedDaemon());
  ::unsetenv("QUELLARON_PLATFORM_SCENARIO");
  ASSERT_TRUE(daemon_->WaitForOutput("[App::Init@", 60s)) << daemon_->Output();
}

void WanDownGateway::TearDown() {
  daemon_->Signal(SIGTERM);
  const auto status = daemon_->Wait(30s);
  std::remove(scenario_.c_str());
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << daemon_->Output();
}

bool WanDownGateway::Ubus(const std::vector<std::string>& arguments) const {
  std::vector<std::string> command{"/usr/local/bin/ubus"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  Subprocess cli(InSandbox(daemon_->Pid(), command));
  const auto status = cli.Wait(30s);
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

sim::cloud::ControlClient WanDownGateway::Cloud() const {
  return sim::cloud::ControlClient("/proc/" + std::to_string(daemon_->Pid()) + "/root/run/sim/cloud.sock");
}

bool WanDownGateway::CloudHeard(const std::string& path) const {
  return WaitUntil([&] { return Cloud().Requests().dump().find(path) != std::string::npos; }, 30s);
}

}  // namespace testing_support
