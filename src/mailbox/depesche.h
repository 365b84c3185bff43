#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "mailbox/depesche_destination.h"
#include "mailbox/depesche_sender.h"

namespace mailbox {

// A message posted to the application. The payload is shared by every copy and freed
// with the last one by the deleter it was created with.
struct Depesche {
  DepescheSender* sender = nullptr;            // informational; never dereferenced
  DepescheDestination* destination = nullptr;  // null: dropped by the dispatcher
  std::uint32_t id = 0;
  std::shared_ptr<void> data;
};

// A payload holding a copy of `value`, deleted as a T.
template <typename T>
std::shared_ptr<void> MakePayload(T value) {
  return std::make_shared<T>(std::move(value));
}

// The payload of `message` as a T; the caller knows the type from the message id.
template <typename T>
const T& PayloadAs(const Depesche& message) {
  return *static_cast<const T*>(message.data.get());
}

}  // namespace mailbox
