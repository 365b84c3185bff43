#include "cloud/cloud_hub.h"

#include <algorithm>

#include "cloud/channel_protocol.h"

namespace sim::cloud {

using nlohmann::json;

CloudHub::CloudHub(std::string api_prefix, std::chrono::milliseconds ping_interval)
    : state_(std::move(api_prefix)), ping_interval_(ping_interval) {}

int CloudHub::OpenChannel(std::weak_ptr<ChannelPeer> peer, RecordedRequest handshake) {
  const int id = next_id_++;
  Channel channel;
  channel.peer = std::move(peer);
  channel.target = handshake.target;
  channels_.emplace(id, std::move(channel));
  handshake.status = 101;
  state_.RecordHandshake(std::move(handshake));
  return id;
}

void CloudHub::ChannelFrame(int id, const std::string& text) {
  const auto found = channels_.find(id);
  if (found == channels_.end()) return;
  auto& channel = found->second;
  channel.received.push_back(text);
  const auto answer = channel::Answer(text);
  if (answer.subscribed) channel.subscriptions.push_back(*answer.subscribed);
  if (answer.unsubscribed) {
    auto& subscriptions = channel.subscriptions;
    subscriptions.erase(std::remove(subscriptions.begin(), subscriptions.end(), *answer.unsubscribed),
                        subscriptions.end());
  }
  if (answer.reply && confirmations_enabled_) {
    if (auto peer = channel.peer.lock()) peer->Send(*answer.reply);
  }
}

void CloudHub::ChannelSent(int id, const std::string& text) {
  const auto found = channels_.find(id);
  if (found != channels_.end()) found->second.sent.push_back(text);
}

void CloudHub::ChannelClosed(int id) {
  const auto found = channels_.find(id);
  if (found != channels_.end()) found->second.open = false;
}

std::size_t CloudHub::Push(const std::string& text, const std::string& identifier) {
  std::size_t count = 0;
  for (auto& [id, channel] : channels_) {
    if (!channel.open) continue;
    const auto& subscribed = channel.subscriptions;
    if (!identifier.empty() && std::find(subscribed.begin(), subscribed.end(), identifier) == subscribed.end()) {
      continue;
    }
    if (auto peer = channel.peer.lock()) {
      peer->Send(text);
      ++count;
    }
  }
  return count;
}

std::size_t CloudHub::DropChannels() {
  std::size_t count = 0;
  for (auto& [id, channel] : channels_) {
    if (!channel.open) continue;
    if (auto peer = channel.peer.lock()) {
      peer->Drop();
      ++count;
    }
  }
  return count;
}

std::size_t CloudHub::CloseChannels() {
  std::size_t count = 0;
  for (auto& [id, channel] : channels_) {
    if (!channel.open) continue;
    if (auto peer = channel.peer.lock()) {
      peer->Close();
      ++count;
    }
  }
  return count;
}

json CloudHub::ChannelsJson() const {
  json list = json::array();
  for (const auto& [id, channel] : channels_) {
    list.push_back(json{{"id", id},
                        {"open", channel.open},
                        {"target", channel.target},
                        {"received", channel.received},
                        {"sent", channel.sent},
                        {"subscriptions", channel.subscriptions}});
  }
  return list;
}

void CloudHub::ClearChannelRecord() {
  for (auto it = channels_.begin(); it != channels_.end();) {
    if (it->second.open) {
      it->second.received.clear();
      it->second.sent.clear();
      ++it;
    } else {
      it = channels_.erase(it);
    }
  }
}

}  // namespace sim::cloud
