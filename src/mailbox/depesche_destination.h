#pragma once

namespace mailbox {

struct Depesche;

// An object that handles posted messages.
class DepescheDestination {
 public:
  virtual void OnMessage(const Depesche& message) = 0;
  virtual ~DepescheDestination() = default;
};

}  // namespace mailbox
