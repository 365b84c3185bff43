#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_client.hpp>

#include "mailbox/depesche_poster.h"
#include "mailbox/depesche_sender.h"
#include "queue/thread_safe_queue.h"
#include "nvram/cloud_settings.h"
#include "websocket/channel_component.h"

namespace websocket {

// Periods of the connection upkeep; the defaults are the daemon's.
struct EndpointTimings {
  std::chrono::milliseconds first_retry{1000};   // back-off after a lost connection, doubling...
  std::chrono::milliseconds last_retry{60000};   // ...up to this
  std::chrono::milliseconds dead_after{10000};   // no frame for this long: the connection is dead
};

// The TLS websocket to the cloud's channel endpoint: subscribes to the gateway's channel
// on every (re)connection and to the sensor channels asked for, and posts the server's
// fold and beacon pushes to the application. While the gateway holds an access token a
// lost connection is re-established with a bounded back-off; a connection that stays
// silent (the server pings every 3 s) is closed and re-established.
class Endpoint : public ChannelComponent, public mailbox::DepescheSender {
 public:
  using Client = websocketpp::client<websocketpp::config::asio_tls_client>;

  // `poster` receives the posted messages; `settings` (the configuration store in the
  // daemon; it outlives the endpoint) supplies the host, the access token and the device id.
  Endpoint(std::shared_ptr<mailbox::DepeschePoster> poster, CloudSettings& settings, EndpointTimings timings = {});
  ~Endpoint() override;
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  // Opens the connection: false when one is open or being opened, without an access
  // token, or when the URI is refused. The outcome arrives later.
  bool Start() override;
  // Closes the connection and ends the reconnection.
  void Stop() override;
  bool Send(const std::string& text);
  void AddSubscribe(const std::string& device_id) override;
  void RemoveSubscribe(const std::string& device_id) override;
  void ObserveConnection(std::function<void(bool open)> observer) override;
  void MessageParser(const std::string& text);

  bool Connected() const override { return connected_; }
  // Whether the server confirmed the device's sensor-channel subscription.
  bool Subscribed(const std::string& device_id);

 private:
  bool Connect();
  void ScheduleReconnect();
  void Reconnect(std::uint64_t generation);
  // The watchdog runs only while a connection is open, and wakes when the connection
  // would have been silent for `dead_after`.
  void ScheduleWatchdog(std::chrono::nanoseconds delay);
  void CancelWatchdog();
  void CheckSilence();
  void SendSubscriptions();
  void ParserLoop();
  void ConfirmSubscription(const std::string& device_id);
  void NoteFrame();
  void TellObserver(bool open);

  void WebsocketOpenHandler(websocketpp::connection_hdl handle);
  void WebsocketCloseHandler(websocketpp::connection_hdl handle);
  void WebsocketFailHandler(websocketpp::connection_hdl handle);
  bool WebsocketPingHandler(websocketpp::connection_hdl handle, const std::string& payload);
  void WebsocketMessageHandler(websocketpp::connection_hdl handle, const Client::message_ptr& message);
  websocketpp::lib::shared_ptr<boost::asio::ssl::context> WebsocketTLSInitHandler(websocketpp::connection_hdl);

  Client client_;
  std::mutex connection_lock_;  // the handle, the connecting flag and the TLS host
  websocketpp::connection_hdl connection_;
  std::string tls_host_;  // the host of the connection being made, to verify its certificate
  bool connecting_ = false;
  std::thread loop_thread_;
  std::atomic<bool> connected_{false};
  queue::ThreadSafeQueue<std::string> received_;
  std::thread parser_thread_;
  std::atomic<bool> parsing_{false};
  std::mutex subscription_lock_;
  std::vector<std::uint32_t> subscribed_;   // FNV-1a of confirmed device ids
  std::vector<std::string> requested_;      // device ids asked for and not removed, sent again on reconnection
  std::shared_ptr<mailbox::DepeschePoster> poster_;
  CloudSettings& settings_;
  EndpointTimings timings_;
  std::mutex observer_lock_;
  std::function<void(bool)> connection_observer_;  // guarded by observer_lock_

  // Connection upkeep: `wanted_` from Start to Stop; a reconnection scheduled under an
  // older generation is void. Timers are used on the event-loop thread only.
  std::atomic<bool> wanted_{false};
  std::atomic<std::uint64_t> generation_{0};
  std::atomic<bool> stopping_{false};
  std::chrono::milliseconds backoff_;
  std::atomic<std::int64_t> last_frame_{0};  // steady-clock nanoseconds
  Client::timer_ptr reconnect_timer_;
  Client::timer_ptr watchdog_timer_;
};

}  // namespace websocket
