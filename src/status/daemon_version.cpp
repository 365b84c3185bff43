#include "status/daemon_version.h"

namespace status {

std::string DaemonVersion() { return QUELLARON_VERSION; }

}  // namespace status
