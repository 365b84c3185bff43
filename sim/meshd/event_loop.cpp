#include "meshd/event_loop.h"

#include <future>
#include <string>

namespace sim::meshd {

void WaitForEventLoop(sdbus::IConnection& connection) {
  auto bus = sdbus::createProxy(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
  std::promise<void> answered;
  bus->callMethodAsync("GetId").onInterface("org.freedesktop.DBus").uponReplyInvoke(
      [&answered](const sdbus::Error*, const std::string&) { answered.set_value(); });
  answered.get_future().wait();
}

}  // namespace sim::meshd
