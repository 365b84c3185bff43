// Bus messages as they arrive from the broker: framing, message attributes, and the
// blobmsg data inside them, converted to JSON as the daemon's handlers receive it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ipc/blobmsg_json.h"
#include "ipc/message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size >= ipc::kHeadAndBodyHead) ipc::AnnouncedBodySize(data);
  std::string error;
  const auto message = ipc::Decode(data, size, error);
  if (message) {
    for (const auto id : {ipc::AttributeId::kData, ipc::AttributeId::kSignature}) {
      const auto* payload = message->Raw(id);
      if (payload == nullptr) continue;
      ipc::blobmsg::Members members;
      if (!ipc::blobmsg::Decode(payload->data(), payload->size(), members, error)) continue;
      const std::string json = ipc::blobmsg::ToJson(members);
      ipc::blobmsg::ToIndentedJson(members);
      // A decoded list encodes to a list that decodes to the same text.
      const auto bytes = ipc::blobmsg::Encode(members);
      ipc::blobmsg::Members again;
      if (!ipc::blobmsg::Decode(bytes.data(), bytes.size(), again, error) || ipc::blobmsg::ToJson(again) != json) {
        std::abort();
      }
    }
    message->String(ipc::AttributeId::kMethod);
    message->U32(ipc::AttributeId::kObjId);
  }
  // The same bytes as JSON text from a command line or a caller.
  ipc::blobmsg::FromJson(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
