// A configuration reply from the mesh daemon: opcode split, then the status body of the opcode.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "packet/config/model_resp_opcode.h"
#include "packet/config/status.h"
#include "packet/serialization.h"
#include "packet_fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::StartSilentLogger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace packet::config;
  const std::vector<unsigned char> message(data, data + size);
  ModelRespOPCode reply(static_cast<std::uint32_t>(message.size()));
  if (!packet::Deserialization(reply, message)) return 0;
  fuzz_support::Require(reply.Parameters.size() < message.size(), "parameters longer than the message");
  switch (reply.OPCode) {
    case DefaultTTLStatus::kOpcode:
      packet::Deserialization<DefaultTTLStatus>(reply.Parameters);
      break;
    case ModelAppStatus::kOpcode:
      packet::Deserialization<ModelAppStatus>(reply.Parameters);
      break;
    case ModelSubscriptionStatus::kOpcode:
      packet::Deserialization<ModelSubscriptionStatus>(reply.Parameters);
      break;
    default:
      break;
  }
  return 0;
}
