#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cloud/cloud_state.h"

namespace sim::cloud {

// What the hub needs of an open channel connection.
class ChannelPeer {
 public:
  virtual ~ChannelPeer() = default;
  virtual void Send(const std::string& text) = 0;
  // Ends the connection abruptly: the TCP connection closes without a closing frame.
  virtual void Drop() = 0;
  // Ends the connection with a closing frame ("going away").
  virtual void Close() = 0;
};

// The stand-in's shared state: the REST side, the channel connections and their
// record, and the channel's keep-alive settings. Used on the server's one I/O thread.
class CloudHub {
 public:
  CloudHub(std::string api_prefix, std::chrono::milliseconds ping_interval);

  CloudState& State() { return state_; }

  // Channel connections.
  int OpenChannel(std::weak_ptr<ChannelPeer> peer, RecordedRequest handshake);
  void ChannelFrame(int id, const std::string& text);
  void ChannelSent(int id, const std::string& text);
  void ChannelClosed(int id);

  // Sends `text` to every open connection (or only to those subscribed to
  // `identifier`, when given); returns how many received it.
  std::size_t Push(const std::string& text, const std::string& identifier = {});
  std::size_t DropChannels();
  std::size_t CloseChannels();

  bool PingsEnabled() const { return pings_enabled_; }
  void EnablePings(bool enabled) { pings_enabled_ = enabled; }
  std::chrono::milliseconds PingInterval() const { return ping_interval_; }
  // Whether subscriptions are answered (on by default).
  void EnableConfirmations(bool enabled) { confirmations_enabled_ = enabled; }

  nlohmann::json ChannelsJson() const;
  void ClearChannelRecord();

 private:
  struct Channel {
    std::weak_ptr<ChannelPeer> peer;
    bool open = true;
    std::string target;
    std::vector<std::string> received;
    std::vector<std::string> sent;
    std::vector<std::string> subscriptions;
  };

  CloudState state_;
  std::map<int, Channel> channels_;
  int next_id_ = 1;
  bool pings_enabled_ = true;
  bool confirmations_enabled_ = true;
  std::chrono::milliseconds ping_interval_;
};

}  // namespace sim::cloud
