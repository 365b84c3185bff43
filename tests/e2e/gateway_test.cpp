// The daemon in its sandbox among the stand-ins: bus events typed with the CLI reach it,
// and a WAN coming up leads it to the stand-in cloud's device authorisation.

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "wan_down_gateway.h"

using namespace std::chrono_literals;

namespace {

// The daemon in a sandbox whose WAN starts down.
class SandboxedGateway : public testing_support::WanDownGateway {};

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
  // The stand-in bluetoothd takes the provisioning service and its advertisement.
  EXPECT_TRUE(daemon_->WaitForOutput("Advertisement registered", 30s)) << daemon_->Output();
}
