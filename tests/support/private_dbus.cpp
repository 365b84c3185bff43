#include "support/private_dbus.h"

#include <chrono>
#include <filesystem>
#include <stdexcept>

#include "support/sandbox.h"
#include "support/temp_directory.h"
#include "support/wait.h"

namespace testing_support {

PrivateDBus::PrivateDBus() : directory_(MakeTempDirectory("dbus")) {
  const std::string socket = directory_ + "/bus";
  address_ = "unix:path=" + socket;
  daemon_ = std::make_unique<Subprocess>(std::vector<std::string>{
      "/usr/bin/dbus-daemon", "--config-file=" + SourcePath("sim/dbus/system-bus.conf"), "--address=" + address_,
      "--nofork", "--nopidfile", "--print-address"});
  // The address is printed once the daemon listens; the socket file alone appears earlier,
  // and a connection then is refused.
  if (!daemon_->WaitForOutput("unix:path=", std::chrono::seconds(10))) {
    throw std::runtime_error("dbus-daemon did not start: " + daemon_->Output());
  }
}

PrivateDBus::~PrivateDBus() {
  daemon_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

}  // namespace testing_support
