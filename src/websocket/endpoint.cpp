#include "websocket/endpoint.h"

#include <algorithm>

#include "common/fnv1a.h"
#include "log/log.h"
#include "mailbox/message_id.h"
#include "nvram/url_host.h"
#include "websocket/channel_frame.h"

namespace websocket {
namespace {

using websocketpp::lib::placeholders::_1;
using websocketpp::lib::placeholders::_2;

std::int64_t SteadyNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

Endpoint::Endpoint(std::shared_ptr<mailbox::DepeschePoster> poster, CloudSettings& settings, EndpointTimings timings)
    : poster_(std::move(poster)),
      settings_(settings),
      timings_(timings),
      backoff_(timings.first_retry) {
  client_.clear_access_channels(websocketpp::log::alevel::all);
  client_.clear_error_channels(websocketpp::log::elevel::all);
  client_.init_asio();
  client_.start_perpetual();
  client_.set_open_handler(websocketpp::lib::bind(&Endpoint::WebsocketOpenHandler, this, _1));
  client_.set_close_handler(websocketpp::lib::bind(&Endpoint::WebsocketCloseHandler, this, _1));
  client_.set_fail_handler(websocketpp::lib::bind(&Endpoint::WebsocketFailHandler, this, _1));
  client_.set_ping_handler(websocketpp::lib::bind(&Endpoint::WebsocketPingHandler, this, _1, _2));
  client_.set_message_handler(websocketpp::lib::bind(&Endpoint::WebsocketMessageHandler, this, _1, _2));
  client_.set_tls_init_handler(websocketpp::lib::bind(&Endpoint::WebsocketTLSInitHandler, this, _1));
  loop_thread_ = std::thread([this] { client_.run(); });
  parsing_ = true;
  parser_thread_ = std::thread([this] { ParserLoop(); });
}

Endpoint::~Endpoint() {
  stopping_ = true;
  wanted_ = false;
  client_.stop_perpetual();
  client_.get_io_service().post([this] {
    if (reconnect_timer_) reconnect_timer_->cancel();
    CancelWatchdog();
  });
  {
    const std::lock_guard<std::mutex> guard(connection_lock_);
    if (!connection_.expired()) {
      websocketpp::lib::error_code error;
      client_.close(connection_, websocketpp::close::status::going_away, "", error);
      if (error) LOG_ERROR << "Error closing connection : " << error.message();
    }
  }
  loop_thread_.join();
  parsing_ = false;
  received_.Close();
  parser_thread_.join();
}

bool Endpoint::Start() {
  if (connected_) return false;
  if (settings_.AccessToken().empty()) return false;
  const std::lock_guard<std::mutex> guard(connection_lock_);
  if (connecting_) return false;
  wanted_ = true;
  ++generation_;  // a pending reconnection gives way to this attempt
  return Connect();
}

// Called with connection_lock_ held.
bool Endpoint::Connect() {
  const std::string uri = "wss://" + settings_.Host() + "/cable?access_token=" + settings_.AccessToken();
  websocketpp::lib::error_code error;
  Client::connection_ptr connection;
  // The library takes a URI without a host (no URL configured) and fails only later.
  const auto host = HostOfUrl(uri);
  if (!host) {
    error = websocketpp::error::make_error_code(websocketpp::error::invalid_uri);
  } else {
    tls_host_ = *host;  // for the TLS init handler, which the library calls from here
    connection = client_.get_connection(uri, error);
  }
  if (error) {
    LOG_ERROR << "Connect initialization error : " << error.message();
    return false;
  }
  connection_ = connection->get_handle();
  connecting_ = true;
  client_.connect(connection);
  return true;
}

void Endpoint::Stop() {
  wanted_ = false;
  ++generation_;
  if (!connected_) return;
  connected_ = false;
  LOG_VERBOSE << "Closing connection ";
  const std::lock_guard<std::mutex> guard(connection_lock_);
  websocketpp::lib::error_code error;
  client_.close(connection_, websocketpp::close::status::normal, "no-ping", error);
  if (error) LOG_ERROR << "Error closing connection : " << error.message();
}

bool Endpoint::Send(const std::string& text) {
  websocketpp::lib::error_code error;
  websocketpp::connection_hdl handle;
  {
    const std::lock_guard<std::mutex> guard(connection_lock_);
    handle = connection_;
  }
  client_.send(handle, text, websocketpp::frame::opcode::text, error);
  if (error) {
    LOG_ERROR << "Error sending message : " << error.message();
    return false;
  }
  return true;
}

void Endpoint::AddSubscribe(const std::string& device_id) {
  LOG_DEBUG << device_id;
  {
    const std::lock_guard<std::mutex> guard(subscription_lock_);
    if (std::find(requested_.begin(), requested_.end(), device_id) == requested_.end()) {
      requested_.push_back(device_id);
    }
    if (std::find(subscribed_.begin(), subscribed_.end(), Fnv1a(device_id)) != subscribed_.end()) return;
  }
  Send(SubscribeCommand("SensorChannel", device_id));
}

void Endpoint::RemoveSubscribe(const std::string& device_id) {
  LOG_DEBUG << device_id;
  {
    const std::lock_guard<std::mutex> guard(subscription_lock_);
    const auto requested = std::find(requested_.begin(), requested_.end(), device_id);
    if (requested == requested_.end()) return;
    requested_.erase(requested);
    subscribed_.erase(std::remove(subscribed_.begin(), subscribed_.end(), Fnv1a(device_id)), subscribed_.end());
  }
  if (connected_) Send(UnsubscribeCommand("SensorChannel", device_id));
}

void Endpoint::MessageParser(const std::string& text) {
  try {
    const FrameAction action = InterpretFrame(text);
    switch (action.kind) {
      case FrameAction::Kind::folds:
        mailbox::PostMessage(*poster_, this, mailbox::APP_EVT_WEBSOCKET_EVT_FOLDS, mailbox::MakePayload(action.payload));
        break;
      case FrameAction::Kind::beacon:
        mailbox::PostMessage(*poster_, this, mailbox::APP_EVT_WEBSOCKET_EVT_BEACON,
                             mailbox::MakePayload(action.payload));
        break;
      case FrameAction::Kind::confirmed:
        ConfirmSubscription(action.device_id);
        break;
      case FrameAction::Kind::none:
        break;
    }
  } catch (const std::exception& error) {
    LOG_ERROR << error.what();
  }
}

bool Endpoint::Subscribed(const std::string& device_id) {
  const std::lock_guard<std::mutex> guard(subscription_lock_);
  return std::find(subscribed_.begin(), subscribed_.end(), Fnv1a(device_id)) != subscribed_.end();
}

void Endpoint::ConfirmSubscription(const std::string& device_id) {
  const std::lock_guard<std::mutex> guard(subscription_lock_);
  const std::uint32_t hash = Fnv1a(device_id);
  if (std::find(subscribed_.begin(), subscribed_.end(), hash) == subscribed_.end()) subscribed_.push_back(hash);
}

// Frames are handed over by the event loop; the parser sleeps on the queue until a frame
// arrives or the queue is closed at destruction.
void Endpoint::ParserLoop() {
  while (parsing_ && received_.Wait()) MessageParser(received_.Pop());
}

void Endpoint::SendSubscriptions() {
  Send(SubscribeCommand("GatewayChannel", settings_.DeviceID()));
  std::vector<std::string> devices;
  {
    const std::lock_guard<std::mutex> guard(subscription_lock_);
    devices = requested_;
  }
  for (const auto& device_id : devices) Send(SubscribeCommand("SensorChannel", device_id));
}

void Endpoint::NoteFrame() { last_frame_ = SteadyNow(); }

void Endpoint::WebsocketOpenHandler(websocketpp::connection_hdl handle) {
  const Client::connection_ptr connection = client_.get_con_from_hdl(handle);
  LOG_VERBOSE << "Connection opened : " << connection->get_response_header("Server");
  {
    const std::lock_guard<std::mutex> guard(connection_lock_);
    connecting_ = false;
  }
  NoteFrame();
  backoff_ = timings_.first_retry;
  connected_ = true;
  ScheduleWatchdog(timings_.dead_after);
  TellObserver(true);
  if (!wanted_) {  // stopped while the connection was being opened
    Stop();
    return;
  }
  SendSubscriptions();
}

// The connection is gone: the server's confirmations went with it, and while the gateway
// holds a token a new connection is tried after the back-off.
void Endpoint::WebsocketCloseHandler(websocketpp::connection_hdl handle) {
  const Client::connection_ptr connection = client_.get_con_from_hdl(handle);
  LOG_ERROR << "Connection closed : " << websocketpp::close::status::get_string(connection->get_remote_close_code());
  LOG_ERROR << "close reason : " << connection->get_remote_close_reason();
  {
    const std::lock_guard<std::mutex> guard(connection_lock_);
    connecting_ = false;
  }
  connected_ = false;
  CancelWatchdog();
  {
    const std::lock_guard<std::mutex> guard(subscription_lock_);
    subscribed_.clear();
  }
  TellObserver(false);
  ScheduleReconnect();
}

void Endpoint::WebsocketFailHandler(websocketpp::connection_hdl handle) {
  const Client::connection_ptr connection = client_.get_con_from_hdl(handle);
  const auto error = connection->get_ec();
  LOG_ERROR << "Connection failed : " << error.message() << " " << error.value();
  {
    const std::lock_guard<std::mutex> guard(connection_lock_);
    connecting_ = false;
  }
  connected_ = false;
  CancelWatchdog();
  TellObserver(false);
  ScheduleReconnect();
}

void Endpoint::ObserveConnection(std::function<void(bool open)> observer) {
  const std::lock_guard<std::mutex> guard(observer_lock_);
  connection_observer_ = std::move(observer);
}

void Endpoint::TellObserver(bool open) {
  std::function<void(bool)> observer;
  {
    const std::lock_guard<std::mutex> guard(observer_lock_);
    observer = connection_observer_;
  }
  if (observer) observer(open);
}

bool Endpoint::WebsocketPingHandler(websocketpp::connection_hdl, const std::string& payload) {
  NoteFrame();
  LOG_VERBOSE << "PING : " << payload;
  return true;
}

void Endpoint::WebsocketMessageHandler(websocketpp::connection_hdl, const Client::message_ptr& message) {
  NoteFrame();
  if (message->get_opcode() == websocketpp::frame::opcode::text) {
    received_.Push(message->get_payload());
  } else {
    LOG_VERBOSE << message->get_payload();
  }
}

// Called by the library while Connect makes the connection (connection_lock_ held). The
// library itself names the host to the server (SNI) before the handshake. With
// verification on, the peer's chain is checked against the CA file or the system's CA
// store, and its certificate against the host name; a failure ends the handshake and the
// connection fails.
websocketpp::lib::shared_ptr<boost::asio::ssl::context> Endpoint::WebsocketTLSInitHandler(websocketpp::connection_hdl) {
  namespace ssl = boost::asio::ssl;
  auto context = websocketpp::lib::make_shared<ssl::context>(ssl::context::sslv23);
  context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                       ssl::context::single_dh_use);
  if (!settings_.TlsVerify()) return context;
  context->set_verify_mode(ssl::verify_peer);
  const std::string ca_file = settings_.CAFile();
  boost::system::error_code error;
  if (ca_file.empty()) {
    context->set_default_verify_paths(error);
  } else {
    context->load_verify_file(ca_file, error);
  }
  if (error) {
    LOG_ERROR << "TLS trust store not loaded (" << (ca_file.empty() ? "system" : ca_file) << ") : " << error.message();
  }
  context->set_verify_callback(ssl::host_name_verification(tls_host_));
  return context;
}

// Event-loop thread.
void Endpoint::ScheduleReconnect() {
  if (stopping_ || !wanted_ || settings_.AccessToken().empty()) return;
  const auto delay = backoff_;
  backoff_ = std::min(backoff_ * 2, timings_.last_retry);
  const std::uint64_t generation = generation_;
  LOG_INFO << "Reconnecting in " << delay.count() << " ms";
  reconnect_timer_ = client_.set_timer(static_cast<long>(delay.count()),
                                       [this, generation](const websocketpp::lib::error_code& error) {
                                         if (!error) Reconnect(generation);
                                       });
}

void Endpoint::Reconnect(std::uint64_t generation) {
  if (stopping_ || !wanted_ || generation != generation_ || connected_) return;
  if (settings_.AccessToken().empty()) return;
  const std::lock_guard<std::mutex> guard(connection_lock_);
  if (connecting_) return;
  if (!Connect()) ScheduleReconnect();
}

// Event-loop thread.
void Endpoint::ScheduleWatchdog(std::chrono::nanoseconds delay) {
  CancelWatchdog();
  if (stopping_) return;
  const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(delay).count();
  watchdog_timer_ =
      client_.set_timer(static_cast<long>(milliseconds), [this](const websocketpp::lib::error_code& error) {
        if (error || stopping_) return;
        CheckSilence();
      });
}

void Endpoint::CancelWatchdog() {
  if (watchdog_timer_) watchdog_timer_->cancel();
  watchdog_timer_.reset();
}

// A connection that has carried no frame for `dead_after` is dead: it is ended at once
// (no closing handshake with a peer that does not answer), and the close handler
// schedules the next one. Otherwise the watchdog wakes again when it would be.
void Endpoint::CheckSilence() {
  if (!connected_) return;
  const auto silence = std::chrono::nanoseconds(SteadyNow() - last_frame_);
  if (silence < timings_.dead_after) {
    ScheduleWatchdog(timings_.dead_after - silence);
    return;
  }
  LOG_WARN << "No frame for " << std::chrono::duration_cast<std::chrono::milliseconds>(silence).count()
           << " ms: closing the connection";
  websocketpp::connection_hdl handle;
  {
    const std::lock_guard<std::mutex> guard(connection_lock_);
    handle = connection_;
  }
  websocketpp::lib::error_code error;
  const Client::connection_ptr connection = client_.get_con_from_hdl(handle, error);
  if (!error) connection->terminate(websocketpp::error::make_error_code(websocketpp::error::general));
}

}  // namespace websocket
