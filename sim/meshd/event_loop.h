#pragma once

#include <sdbus-c++/sdbus-c++.h>

namespace sim::meshd {

// Waits until the connection's event loop thread runs. sdbus-c++ 1.2 routes a blocking call
// through the event loop only once the loop thread runs; before that the call holds the
// connection, and a peer's call made before it answers (the mesh daemon's GetManagedObjects,
// before it answers Import or Attach) goes unanswered. A ping's reply proves the loop runs.
void WaitForEventLoop(sdbus::IConnection& connection);

}  // namespace sim::meshd
