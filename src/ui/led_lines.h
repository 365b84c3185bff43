#pragma once

namespace ui {

// The four LED outputs of the gateway: the three colours of the status LED and the
// separate amber indicator.
enum class LedColour { amber, red, green, blue };

// Where the LED's line values go. Values are logical: 1 lights the colour, 0 turns it off.
// SetValue may be called from the blink thread and another thread at once, for
// different colours.
class LedLines {
 public:
  virtual ~LedLines() = default;
  virtual void SetValue(LedColour colour, int value) = 0;
};

}  // namespace ui
