#include "plc/plc_server.h"

#include <ctime>
#include <future>
#include <iostream>

#include "plc/fenet_exchange.h"
#include "standin/control_socket.h"

namespace sim::plc {

namespace {

constexpr std::size_t kMaxRequestBody = 512;

std::uint8_t Position(std::uint8_t base, std::uint8_t slot) {
  return static_cast<std::uint8_t>((base << 4) | (slot & 0x0F));
}

// CLOCK_MONOTONIC in ms, comparable with the other stand-ins' records.
std::int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The number the little-endian bytes of a variable hold.
std::uint64_t LittleEndian(const std::vector<std::uint8_t>& bytes) {
  std::uint64_t value = 0;
  for (auto byte = bytes.rbegin(); byte != bytes.rend(); ++byte) value = (value << 8) | *byte;
  return value;
}

}  // namespace

// One FEnet connection: reads request frames one after another and answers each.
class PlcServer::Session : public std::enable_shared_from_this<PlcServer::Session> {
 public:
  Session(PlcServer& server, tcp::socket socket) : server_(server), socket_(std::move(socket)), timer_(socket_.get_executor()) {}
  void Start() { ReadHeader(); }
  void Close() {
    boost::system::error_code ignored;
    socket_.close(ignored);
    timer_.cancel();
  }

 private:
  void ReadHeader() {
    frame_.assign(kHeaderSize, 0);
    net::async_read(socket_, net::buffer(frame_), [self = shared_from_this()](boost::system::error_code error, std::size_t) {
      if (!error) self->ReadBody();
    });
  }
  void ReadBody() {
    const std::size_t length = BodyLength(frame_);
    if (length > kMaxRequestBody) {
      std::cerr << "sim-plc: request announces " << length << " bytes after the header; connection closed" << std::endl;
      Close();
      return;
    }
    frame_.resize(kHeaderSize + length);
    net::async_read(socket_, net::buffer(frame_.data() + kHeaderSize, length),
                    [self = shared_from_this()](boost::system::error_code error, std::size_t) {
                      if (!error) self->Respond();
                    });
  }
  void Respond() {
    bool close_after = false;
    answer_ = server_.Answer(frame_, close_after);
    if (answer_.empty()) {
      ReadHeader();  // silent: the request stays unanswered
      return;
    }
    const bool split = server_.mode_ == "split" && answer_.size() > kHeaderSize;
    Send(0, split ? kHeaderSize : answer_.size(), close_after);
  }
  // Sends answer_[from, to) after the delay, then the rest (after the delay again), then reads
  // the next request or closes.
  void Send(std::size_t from, std::size_t to, bool close_after) {
    timer_.expires_after(server_.delay_);
    timer_.async_wait([self = shared_from_this(), from, to, close_after](boost::system::error_code error) {
      if (error) return;
      net::async_write(self->socket_, net::buffer(self->answer_.data() + from, to - from),
                       [self, to, close_after](boost::system::error_code failed, std::size_t) {
                         if (failed) return;
                         if (to < self->answer_.size()) {
                           self->Send(to, self->answer_.size(), close_after);
                         } else if (close_after) {
                           self->Close();
                         } else {
                           self->ReadHeader();
                         }
                       });
    });
  }

  PlcServer& server_;
  tcp::socket socket_;
  net::steady_timer timer_;
  std::vector<std::uint8_t> frame_;
  std::vector<std::uint8_t> answer_;
};

PlcServer::PlcServer(ServerOptions options) : options_(std::move(options)) {
  memory_.Apply(options_.setup);
  Open();
  port_ = acceptor_.local_endpoint().port();
  options_.listen.port(port_);  // a restart listens on the same port
  if (!options_.control_socket.empty()) {
    // Commands arrive on the socket's own thread and run on the I/O thread, as Control does.
    control_ = std::make_unique<sim::standin::ControlSocket>(
        options_.control_socket, [this](const nlohmann::json& command) { return Control(command); });
  }
  Tick();
}

PlcServer::~PlcServer() {
  control_.reset();  // first: a command in flight waits for the I/O thread
  Stop();
  if (thread_.joinable()) thread_.join();
}

void PlcServer::Start() {
  thread_ = std::thread([this] { Run(); });
}

void PlcServer::Run() { io_.run(); }

void PlcServer::Stop() { io_.stop(); }

void PlcServer::Open() {
  acceptor_.open(options_.listen.protocol());
  acceptor_.set_option(tcp::acceptor::reuse_address(true));
  acceptor_.bind(options_.listen);
  acceptor_.listen();
  Accept();
}

void PlcServer::Accept() {
  acceptor_.async_accept([this](boost::system::error_code error, tcp::socket socket) {
    if (error) return;  // closed by a power-off
    ++accepted_;
    auto session = std::make_shared<Session>(*this, std::move(socket));
    sessions_.remove_if([](const std::weak_ptr<Session>& entry) { return entry.expired(); });
    sessions_.push_back(session);
    session->Start();
    Accept();
  });
}

void PlcServer::PowerOff() {
  if (!power_) return;
  power_ = false;
  boost::system::error_code ignored;
  acceptor_.close(ignored);
  for (const auto& entry : sessions_) {
    if (const auto session = entry.lock()) session->Close();
  }
  sessions_.clear();
  std::cerr << "sim-plc: power off" << std::endl;
}

void PlcServer::Tick() {
  memory_.Tick();
  tick_timer_.expires_after(options_.tick);
  tick_timer_.async_wait([this](boost::system::error_code error) {
    if (!error) Tick();
  });
}

nlohmann::json PlcServer::Control(const nlohmann::json& command) {
  std::promise<nlohmann::json> reply;
  auto future = reply.get_future();
  net::post(io_, [&] {
    try {
      reply.set_value(Execute(command));
    } catch (const std::exception& failure) {
      reply.set_value({{"ok", false}, {"error", failure.what()}});
    }
  });
  return future.get();
}

nlohmann::json PlcServer::Execute(const nlohmann::json& command) {
  const std::string name = command.at("cmd").get<std::string>();
  nlohmann::json reply{{"ok", true}};
  if (name == "set") {
    memory_.Apply(command);
  } else if (name == "mode") {
    const std::string mode = command.at("mode").get<std::string>();
    static const std::set<std::string> kModes{"normal", "error", "silent", "short", "oversized", "mismatch", "split"};
    if (kModes.count(mode) == 0) throw std::invalid_argument("unknown mode " + mode);
    mode_ = mode;
    if (command.contains("error_code")) error_code_ = command.at("error_code").get<std::uint8_t>();
  } else if (name == "delay") {
    delay_ = std::chrono::milliseconds(command.at("ms").get<long>());
  } else if (name == "power") {
    if (command.at("on").get<bool>()) {
      power_timer_.cancel();
      if (!power_) {
        Open();
        power_ = true;
        std::cerr << "sim-plc: power on" << std::endl;
      }
    } else {
      PowerOff();
    }
  } else if (name == "restart") {
    PowerOff();
    power_timer_.expires_after(std::chrono::milliseconds(command.value("off_ms", 1000)));
    power_timer_.async_wait([this](boost::system::error_code error) {
      if (error || power_) return;
      Open();
      power_ = true;
      std::cerr << "sim-plc: power on" << std::endl;
    });
  } else if (name == "requests") {
    reply["requests"] = requests_;
  } else if (name == "clear") {
    requests_ = nlohmann::json::array();
  } else if (name == "status") {
    sessions_.remove_if([](const std::weak_ptr<Session>& entry) { return entry.expired(); });
    reply.update({{"port", port_}, {"power", power_}, {"mode", mode_}, {"delay_ms", delay_.count()},
                  {"connections", sessions_.size()}, {"accepted", accepted_}, {"requests", received_}});
  } else {
    throw std::invalid_argument("unknown command " + name);
  }
  return reply;
}

std::vector<std::uint8_t> PlcServer::Answer(const std::vector<std::uint8_t>& frame, bool& close_after) {
  const ReadRequest request = CheckReadRequest(frame, Position(options_.base, options_.slot));
  std::string hex;
  for (const auto byte : frame) {
    static const char kDigits[] = "0123456789abcdef";
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  nlohmann::json record{{"variable", request.variable}, {"variables", request.variables},
                        {"problems", request.problems},  {"frame", hex},
                        {"mono_ms", MonotonicMs()}};
  ++received_;
  std::vector<std::uint8_t> answer;
  if (!request.problems.empty()) {
    for (const auto& problem : request.problems) std::cerr << "sim-plc: bad request: " << problem << std::endl;
    record["answer"] = "error";
    answer = ErrorResponse(request, 0x01);
  } else if (mode_ == "silent") {
    record["answer"] = "none";
  } else if (mode_ == "error") {
    record["answer"] = "error";
    answer = ErrorResponse(request, error_code_);
  } else {
    std::vector<std::vector<std::uint8_t>> blocks;
    for (std::size_t index = 0; index < request.refs.size(); ++index) {
      const auto& ref = request.refs[index];
      const auto data = memory_.Read(ref.device, ref.type, ref.address, ref.bit);
      if (!data) {
        std::cerr << "sim-plc: " << request.variables[index] << " lies outside the memory" << std::endl;
        break;
      }
      blocks.push_back(*data);
    }
    if (blocks.size() != request.refs.size()) {
      record["answer"] = "error";
      answer = ErrorResponse(request, 0x04);
    } else {
      answer = ReadResponse(request, blocks);
      record["answer"] = mode_;
      nlohmann::json values = nlohmann::json::array();
      for (const auto& block : blocks) values.push_back(LittleEndian(block));
      record["value"] = values.front();
      record["values"] = std::move(values);
      if (mode_ == "short") {
        answer.resize(answer.size() / 2);
        close_after = true;
      } else if (mode_ == "oversized") {
        answer[16] = 0x60;
        answer[17] = 0xEA;  // 60000
      } else if (mode_ == "mismatch") {
        answer[22] = static_cast<std::uint8_t>(answer[22] == 3 ? 2 : 3);
      }
    }
  }
  requests_.push_back(std::move(record));
  return answer;
}

}  // namespace sim::plc
