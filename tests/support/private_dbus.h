#pragma once

#include <memory>
#include <string>

#include "support/subprocess.h"

namespace testing_support {

// A private dbus-daemon with the sandbox's system-bus policy, listening on a socket in a
// fresh temporary directory, for component tests of D-Bus peers. Ended with the object.
class PrivateDBus {
 public:
  PrivateDBus();
  ~PrivateDBus();
  PrivateDBus(const PrivateDBus&) = delete;
  PrivateDBus& operator=(const PrivateDBus&) = delete;

  // The bus address, "unix:path=...", for sdbus::createSessionBusConnectionWithAddress.
  const std::string& Address() const { return address_; }

 private:
  std::string directory_;
  std::string address_;
  std::unique_ptr<Subprocess> daemon_;
};

}  // namespace testing_support
