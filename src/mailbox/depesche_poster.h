#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "mailbox/depesche.h"

namespace mailbox {

// What a component needs of the application: a place to post its messages. The
// application implements it; components hold it as a shared pointer, so they stay below
// the application in the library order and tests can hand them a recorder.
class DepeschePoster {
 public:
  virtual ~DepeschePoster() = default;
  // Queues a message for dispatch; callable from any thread.
  virtual void Post(const Depesche& message) = 0;
  // The object that handles what is posted here: the destination to name in a message.
  virtual DepescheDestination* Destination() = 0;
};

// Posts message `id` from `sender` to the poster's destination.
inline void PostMessage(DepeschePoster& poster, DepescheSender* sender, std::uint32_t id,
                        std::shared_ptr<void> data = nullptr) {
  poster.Post(Depesche{sender, poster.Destination(), id, std::move(data)});
}

}  // namespace mailbox
