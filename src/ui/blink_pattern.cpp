#include "ui/blink_pattern.h"

namespace ui::patterns {

namespace {
constexpr auto kRed = LedColour::red;
constexpr auto kGreen = LedColour::green;
constexpr auto kBlue = LedColour::blue;
}  // namespace

const BlinkPattern& Red0p5On1p5Off() {
  static const BlinkPattern pattern = {
      {{{kRed, 1}}, 500},
      {{{kRed, 0}}, 1500},
  };
  return pattern;
}

const BlinkPattern& Red1p0On1p0Off() {
  static const BlinkPattern pattern = {
      {{{kRed, 1}}, 1000},
      {{{kRed, 0}}, 1000},
  };
  return pattern;
}

const BlinkPattern& Green0p05On0p05Off0p05On2p0Off() {
  static const BlinkPattern pattern = {
      {{{kGreen, 1}}, 50},
      {{{kGreen, 0}}, 50},
      {{{kGreen, 1}}, 50},
      {{{kGreen, 0}}, 2000},
  };
  return pattern;
}

const BlinkPattern& RGBBlinking() {
  static const BlinkPattern pattern = {
      {{{kBlue, 0}, {kRed, 1}}, 50},
      {{{kRed, 0}, {kGreen, 1}}, 50},
      {{{kGreen, 0}, {kBlue, 1}}, 50},
  };
  return pattern;
}

}  // namespace ui::patterns
