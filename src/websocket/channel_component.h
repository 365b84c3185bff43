#pragma once

#include <functional>
#include <string>

// What the application calls on its cloud channel component (websocket::Endpoint in the
// daemon).
class ChannelComponent {
 public:
  virtual ~ChannelComponent() = default;

  // Opens the connection; false when one is open or being opened, or when it cannot be.
  virtual bool Start() = 0;
  // Closes the connection and ends the reconnection.
  virtual void Stop() = 0;
  // Subscribes to the sensor channel of `device_id`, now and on every reconnection.
  virtual void AddSubscribe(const std::string& device_id) = 0;
  // Ends the subscription to the sensor channel of `device_id` (its node is gone): it is
  // not made again on reconnection.
  virtual void RemoveSubscribe(const std::string& device_id) = 0;
  // Whether the connection is open now.
  virtual bool Connected() const = 0;
  // Told, on the connection's own thread, when the connection opens (true) and when it
  // closes or fails to open (false).
  virtual void ObserveConnection(std::function<void(bool open)> observer) = 0;
};
