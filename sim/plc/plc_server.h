#pragma once

#include <chrono>
#include <cstdint>
#include <list>
#include <set>
#include <memory>
#include <string>
#include <thread>

#include <boost/asio.hpp>
#include <nlohmann/json.hpp>

#include "plc/plc_memory.h"

namespace sim::standin {
class ControlSocket;
}

namespace sim::plc {

namespace net = boost::asio;
using tcp = net::ip::tcp;

struct ServerOptions {
  tcp::endpoint listen{net::ip::make_address("127.0.0.1"), 2004};
  std::uint8_t base = 0;  // where the FEnet module sits; requests must name it
  std::uint8_t slot = 0;
  std::string control_socket;  // empty: none
  nlohmann::json setup = nlohmann::json::object();  // Memory::Apply
  std::chrono::milliseconds tick{1000};
};

// The stand-in PLC: a FEnet module answering reads of 1 to 16 variables from its memory, which
// checks every field of each request and logs what it finds wrong (and answers such a
// request with an error state). Scriptable through Control (in process) or the control
// socket, one JSON object per line, one JSON reply line each:
//   {"cmd":"set","values":{"DW100":1234,"MX10.3":1},"counters":["DW101"]}  memory
//   {"cmd":"mode","mode":M,"error_code":N}  how reads are answered: "normal"; "error" (error
//       state 0xFFFF and the code); "silent" (never answered); "short" (half a frame, then
//       the connection closes); "oversized" (a length field of 60000); "mismatch" (a
//       response of another data type); "split" (the header, then the rest after the delay
//       again)
//   {"cmd":"delay","ms":N}          answers wait N ms
//   {"cmd":"power","on":false}      power off: open connections drop, new ones are refused;
//   {"cmd":"power","on":true}       power on again (the memory is kept, as retentive memory)
//   {"cmd":"restart","off_ms":N}    power off, and on again after N ms
//   {"cmd":"requests"}              {"requests":[{"variable","variables","problems":[...],"answer","frame":hex,
//                                   "mono_ms","value","values"}]}: "variable" the first of "variables",
//                                   "mono_ms" when it came (CLOCK_MONOTONIC), "values" the numbers
//                                   read (answers from memory only), "value" the first of them
//   {"cmd":"clear"}                 forgets the recorded requests
//   {"cmd":"status"}                {"port","power","mode","delay_ms","connections","accepted","requests"}:
//                                   connections open now, accepted since the start, requests received
// A request naming a variable outside the memory is answered with an error state (code 0x04).
// Every command answers {"ok":true,...} or {"ok":false,"error":text}.
class PlcServer {
 public:
  explicit PlcServer(ServerOptions options);
  ~PlcServer();
  PlcServer(const PlcServer&) = delete;
  PlcServer& operator=(const PlcServer&) = delete;

  // Runs the I/O on a thread of its own (in-process use), or on the calling thread until Stop.
  void Start();
  void Run();
  void Stop();

  unsigned short Port() const { return port_; }
  // One control command; safe from any thread once started.
  nlohmann::json Control(const nlohmann::json& command);

 private:
  class Session;
  friend class Session;

  void Open();
  void Accept();
  void PowerOff();
  void Tick();
  nlohmann::json Execute(const nlohmann::json& command);
  // The answer to one request frame (empty: none), and the record of it.
  std::vector<std::uint8_t> Answer(const std::vector<std::uint8_t>& frame, bool& close_after);

  ServerOptions options_;
  net::io_context io_;
  tcp::acceptor acceptor_{io_};
  net::steady_timer tick_timer_{io_};
  net::steady_timer power_timer_{io_};
  std::unique_ptr<sim::standin::ControlSocket> control_;  // empty without a control socket
  std::list<std::weak_ptr<Session>> sessions_;
  std::thread thread_;
  unsigned short port_ = 0;
  Memory memory_;
  bool power_ = true;
  std::string mode_ = "normal";
  std::uint8_t error_code_ = 0x12;
  std::chrono::milliseconds delay_{0};
  nlohmann::json requests_ = nlohmann::json::array();
  std::uint64_t accepted_ = 0;  // connections since the start
  std::uint64_t received_ = 0;  // requests since the start
};

}  // namespace sim::plc
