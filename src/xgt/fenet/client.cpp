#include "xgt/fenet/client.h"

#include <cstdio>

#include "log/log.h"
#include "xgt/fenet/read_request_packet.h"
#include "xgt/fenet/value_text.h"
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

Client::Result Client::ReadMemory(const MemoryAddress& address) {
  const std::lock_guard<std::mutex> exchange(exchange_lock_);
  const Target target = CurrentTarget();
  const ReadRequestPacket request(target.base, target.slot, address.device, address.type, address.address,
                                  address.bit);
  ResponsePacket response;
  if (!Exchange(target.host, request.Encode(), response)) return {false, nullptr};
  if (response.ErrorState != 0) {
    LOG_ERROR << "PLC [" << target.host << "] refused the read of "
              << VariableName(address.device, address.type, address.address, address.bit) << ": error state "
              << Hex16(response.ErrorState) << ", code " << Hex16(response.ErrorCode);
    return {false, nullptr};
  }
  const auto expected_type = static_cast<std::uint16_t>(address.type);
  if (response.Command != ResponsePacket::kReadResponse || response.DataTypeCode != expected_type ||
      response.Blocks.size() != 1 || response.Blocks.front().Size != BlockSizeOf(address.type)) {
    LOG_ERROR << "PLC [" << target.host << "] answered a frame that does not match the read: command "
              << Hex16(response.Command) << ", data type " << Hex16(response.DataTypeCode) << ", "
              << response.Blocks.size() << " block(s)"
              << (response.Blocks.empty() ? "" : ", first of " + std::to_string(response.Blocks.front().Size) +
                                                     " byte(s)");
    return {false, nullptr};
  }
  return {true, nlohmann::json{{"address", MemoryAddressText(address.device, address.type, address.address,
                                                             address.bit)},
                               {"value", response.Blocks.front().Value()}}};
}

Client::Result Client::ReadMemory(const std::string& id) {
  const auto address = FindMemoryAddress(id);
  if (!address) {
    LOG_ERROR << "No PLC memory address for " << id;
    return {false, nullptr};
  }
  const auto [ok, read] = ReadMemory(*address);
  if (!ok) return {false, nullptr};
  const nlohmann::json value{{"k", address->key},
                             {"ts", options_.clock()},
                             {"v", ValueText(address->key, read.at("value").get<std::uint64_t>())}};
  return {true, nlohmann::json{{"nodes", nlohmann::json::array({{{"id", id}, {"vs", nlohmann::json::array({value})}}})}}};
}

bool Client::Exchange(const std::string& host, const std::vector<unsigned char>& request, ResponsePacket& response) {
  if (!tcp_.Connect(host, options_.port, options_.connect_timeout)) {
    LOG_ERROR << "Cannot connect PLC [" << host << "] (" << Reason(tcp_) << ")";
    return false;
  }
  std::vector<unsigned char> frame;
  bool received = false;
  if (!tcp_.Write(request, options_.write_timeout)) {
    LOG_ERROR << "PLC [" << host << "]: request not sent (" << Reason(tcp_) << ")";
  } else {
    received = ReceiveFrame(host, frame);
  }
  tcp_.Close();
  return received && response.Decode(frame);
}

bool Client::ReceiveFrame(const std::string& host, std::vector<unsigned char>& frame) {
  if (!tcp_.Read(frame, Header::kSize, options_.read_timeout)) {
    LOG_ERROR << "PLC [" << host << "] did not answer (" << Reason(tcp_) << ")";
    return false;
  }
  // The header's length field (offset 16, little-endian) counts the bytes that follow it.
  const std::size_t length = frame[16] | (static_cast<std::size_t>(frame[17]) << 8);
  if (length > kMaxResponseBody) {
    LOG_ERROR << "PLC [" << host << "] announced a frame of " << length << " bytes after the header; at most "
              << kMaxResponseBody << " are accepted";
    return false;
  }
  std::vector<unsigned char> body;
  if (!tcp_.Read(body, length, options_.read_timeout)) {
    LOG_ERROR << "PLC [" << host << "] sent " << Header::kSize << " header bytes but not the " << length
              << " that follow (" << Reason(tcp_) << ")";
    return false;
  }
  frame.insert(frame.end(), body.begin(), body.end());
  return true;
}

}  // namespace xgt::fenet
