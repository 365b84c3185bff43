#pragma once

#include <stdexcept>

namespace packet {

// Raised while reading a message that ends before one of its fields.
class ShortInput : public std::runtime_error {
 public:
  ShortInput() : std::runtime_error("input stream error: message ends before its fields") {}
};

// Raised while writing a message that would exceed the size its transport accepts.
class OversizedOutput : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised for a message whose fields are present but whose sizes or values are unusable.
class MalformedMessage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace packet
