#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cloud/control_client.h"
#include "support/subprocess.h"

namespace testing_support {

// The daemon in its sandbox among the stand-ins, with a WAN that starts down and stays down
// until an event says otherwise; stopped with SIGTERM after each test, which must end it
// cleanly.
class WanDownGateway : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the bus CLI inside the sandbox; true when it exits with 0.
  bool Ubus(const std::vector<std::string>& arguments) const;
  sim::cloud::ControlClient Cloud() const;
  // Waits until the stand-in cloud has received a request whose record mentions `path`.
  bool CloudHeard(const std::string& path) const;

  std::unique_ptr<Subprocess> daemon_;

 private:
  std::string scenario_;
};

}  // namespace testing_support
