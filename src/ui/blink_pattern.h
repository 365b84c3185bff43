#pragma once

#include <vector>

#include "ui/led_lines.h"

namespace ui {

// One step of a blink pattern: set these lines, then wait.
struct BlinkStep {
  struct Write {
    LedColour colour;
    int value;
  };
  std::vector<Write> writes;
  int wait_ms;
};

// One loop pass of a pattern; the blink thread repeats it while blinking.
using BlinkPattern = std::vector<BlinkStep>;

// The patterns are built on first use, so they are safe to reach during static
// initialisation (the machines may start before main).
namespace patterns {

// Red 0.5 s on, 1.5 s off.
const BlinkPattern& Red0p5On1p5Off();
// Red 1 s on, 1 s off.
const BlinkPattern& Red1p0On1p0Off();
// Green double flash of 50 ms with 50 ms between, every 2.15 s.
const BlinkPattern& Green0p05On0p05Off0p05On2p0Off();
// Red, green, blue, 50 ms each.
const BlinkPattern& RGBBlinking();

}  // namespace patterns

}  // namespace ui
