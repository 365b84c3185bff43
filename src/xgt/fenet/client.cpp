#include "xgt/fenet/client.h"

#include <cstdio>
#include <exception>
#include <stdexcept>

#include "log/log.h"
#include "xgt/fenet/read_request_packet.h"
#include "xgt/fenet/reading_document.h"
#include "xgt/fenet/variable_name.h"

namespace xgt::fenet {

namespace {

// The block size a PLC answers for one variable of `type`.
std::uint16_t BlockSizeOf(DataType type) {
  switch (type) {
    case DataType::kBit:
    case DataType::kByte:
      return 1;
    case DataType::kWord:
      return 2;
    case DataType::kDoubleWord:
      return 4;
    case DataType::kLongWord:
      return 8;
    case DataType::kContinuous:
      break;
  }
  return 0;
}

std::string Hex16(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

std::string Reason(const TCPClient& tcp) { return tcp.TimedOut() ? "timed out" : tcp.Error().message(); }

// Whether a decoded answer is the read response to `count` variables of `type`: one block per
// variable, each of the type's size.
bool Matches(const ResponsePacket& response, DataType type, std::size_t count) {
  if (response.Command != ResponsePacket::kReadResponse ||
      response.DataTypeCode != static_cast<std::uint16_t>(type) || response.Blocks.size() != count) {
    return false;
  }
  for (const auto& block : response.Blocks) {
    if (block.Size != BlockSizeOf(type)) return false;
  }
  return true;
}

}  // namespace

Client::Client(std::string host, std::uint8_t base, std::uint8_t slot, ClientOptions options)
    : options_(std::move(options)), host_(std::move(host)), base_(base), slot_(slot) {}

void Client::AddMemoryAddress(const std::string& id, const MemoryAddress& address) {
  const std::lock_guard<std::mutex> guard(params_lock_);
  addresses_[id] = address;
}

void Client::KeepMemoryAddresses(const std::unordered_set<std::string>& ids) {
  const std::lock_guard<std::mutex> guard(params_lock_);
  for (auto entry = addresses_.begin(); entry != addresses_.end();) {
    entry = ids.count(entry->first) != 0 ? std::next(entry) : addresses_.erase(entry);
  }
}

std::optional<MemoryAddress> Client::FindMemoryAddress(const std::string& id) const {
  const std::lock_guard<std::mutex> guard(params_lock_);
  const auto found = addresses_.find(id);
  if (found == addresses_.end()) return std::nullopt;
  return found->second;
}

void Client::SetParams(std::uint8_t base, std::uint8_t slot, const std::string& host) {
  const std::lock_guard<std::mutex> guard(params_lock_);
  base_ = base;
  slot_ = slot;
  host_ = host;
}

std::string Client::Host() const {
  const std::lock_guard<std::mutex> guard(params_lock_);
  return host_;
}

Client::Target Client::CurrentTarget() const {
  const std::lock_guard<std::mutex> guard(params_lock_);
  return Target{host_, base_, slot_};
}

ReadOutcome Client::Read(const std::vector<MemoryAddress>& addresses) {
  if (addresses.empty()) throw std::invalid_argument("a PLC read of no address");
  const std::lock_guard<std::mutex> exchange(exchange_lock_);
  const Target target = CurrentTarget();
  ReadRequestPacket request(target.base, target.slot);
  for (const auto& address : addresses) {
    if (!request.AddVariable(address.device, address.type, address.address, address.bit)) {
      throw std::invalid_argument("PLC addresses that one request cannot carry");
    }
  }
  ReadOutcome outcome;
  std::vector<unsigned char> frame;
  outcome.reason = Exchange(target.host, request.Encode(), frame);
  if (outcome.reason.empty()) outcome = Interpret(target.host, addresses, frame);
  // Whatever went wrong, the next request starts on a new connection.
  if (outcome.status != ReadOutcome::Status::kRead) tcp_.Close();
  return outcome;
}

Client::Result Client::ReadMemory(const MemoryAddress& address) {
  const ReadOutcome outcome = Read({address});
  if (outcome.status != ReadOutcome::Status::kRead) {
    LOG_ERROR << outcome.reason;
    return {false, nullptr};
  }
  return {true, nlohmann::json{{"address", MemoryAddressText(address.device, address.type, address.address,
                                                             address.bit)},
                               {"value", outcome.values.front()}}};
}

Client::Result Client::ReadMemory(const std::string& id) {
  const auto address = FindMemoryAddress(id);
  if (!address) {
    LOG_ERROR << "No PLC memory address for " << id;
    return {false, nullptr};
  }
  const auto [ok, read] = ReadMemory(*address);
  if (!ok) return {false, nullptr};
  return {true, ReadingDocument(id, address->key, Now(), read.at("value").get<std::uint64_t>())};
}

std::string Client::Connect(const std::string& host) {
  connected_host_ = host;
  if (tcp_.Connect(host, options_.port, TCPClient::Clock::now() + options_.connect_timeout)) return "";
  return "Cannot connect PLC [" + host + "] (" + Reason(tcp_) + ")";
}

std::string Client::Exchange(const std::string& host, const std::vector<unsigned char>& request,
                             std::vector<unsigned char>& frame) {
  if (tcp_.IsOpen() && (connected_host_ != host || !tcp_.IsReusable())) tcp_.Close();
  const bool reused = tcp_.IsOpen();
  std::string failure = reused ? "" : Connect(host);
  if (!failure.empty()) return failure;
  bool untouched = false;
  failure = SendAndReceive(host, request, frame, untouched);
  if (!failure.empty() && reused && untouched) {
    // The PLC closed the kept connection as the request went out: once more on a new one.
    failure = Connect(host);
    if (failure.empty()) failure = SendAndReceive(host, request, frame, untouched);
  }
  return failure;
}

std::string Client::SendAndReceive(const std::string& host, const std::vector<unsigned char>& request,
                                   std::vector<unsigned char>& frame, bool& untouched) {
  const auto deadline = TCPClient::Clock::now() + options_.answer_timeout;
  std::size_t received = 0;
  untouched = false;
  if (!tcp_.Write(request, deadline)) {
    untouched = tcp_.PeerClosed();
    return "PLC [" + host + "]: request not sent (" + Reason(tcp_) + ")";
  }
  if (!tcp_.Read(frame, Header::kSize, deadline, received)) {
    untouched = received == 0 && tcp_.PeerClosed();
    return "PLC [" + host + "] did not answer (" + Reason(tcp_) + ")";
  }
  // The header's length field (offset 16, little-endian) counts the bytes that follow it.
  const std::size_t length = frame[16] | (static_cast<std::size_t>(frame[17]) << 8);
  if (length > kMaxResponseBody) {
    return "PLC [" + host + "] announced a frame of " + std::to_string(length) + " bytes after the header; at most " +
           std::to_string(kMaxResponseBody) + " are accepted";
  }
  std::vector<unsigned char> body;
  if (!tcp_.Read(body, length, deadline, received)) {
    return "PLC [" + host + "] sent " + std::to_string(Header::kSize) + " header bytes but not the " +
           std::to_string(length) + " that follow (" + Reason(tcp_) + ")";
  }
  frame.insert(frame.end(), body.begin(), body.end());
  return "";
}

ReadOutcome Client::Interpret(const std::string& host, const std::vector<MemoryAddress>& addresses,
                              const std::vector<unsigned char>& frame) {
  ReadOutcome outcome;
  ResponsePacket response;
  try {
    packet::ByteReader reader(frame);
    response.Decode(reader);
  } catch (const std::exception& error) {
    outcome.reason = "PLC [" + host + "] sent a frame that cannot be read: " + error.what();
    return outcome;
  }
  const MemoryAddress& first = addresses.front();
  const std::string names = VariableName(first.device, first.type, first.address, first.bit) +
                            (addresses.size() > 1 ? " and " + std::to_string(addresses.size() - 1) + " more" : "");
  if (response.ErrorState != 0) {
    outcome.status = ReadOutcome::Status::kRefused;
    outcome.reason = "PLC [" + host + "] refused the read of " + names + ": error state " + Hex16(response.ErrorState) +
                     ", code " + Hex16(response.ErrorCode);
    return outcome;
  }
  if (!Matches(response, first.type, addresses.size())) {
    outcome.reason = "PLC [" + host + "] answered a frame that does not match the read of " + names + ": command " +
                     Hex16(response.Command) + ", data type " + Hex16(response.DataTypeCode) + ", " +
                     std::to_string(response.Blocks.size()) + " block(s)" +
                     (response.Blocks.empty() ? "" : ", first of " + std::to_string(response.Blocks.front().Size) +
                                                         " byte(s)");
    return outcome;
  }
  outcome.status = ReadOutcome::Status::kRead;
  for (const auto& block : response.Blocks) outcome.values.push_back(block.Value());
  return outcome;
}

}  // namespace xgt::fenet
