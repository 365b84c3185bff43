#pragma once

#include <gpiod.hpp>

#include <atomic>
#include <string>

#include "ui/led_lines.h"

namespace ui {

// The LED lines on the board's GPIO character devices: amber on chip 0 line 20, red on
// chip 1 line 1, green on chip 1 line 2, blue on chip 0 line 19, each an active-low
// output starting at 0. The constructor throws when a chip cannot be opened or a line
// cannot be requested: std::system_error, or std::out_of_range for a chip with fewer lines
// than an offset needs (another board).
class GpioLedLines : public LedLines {
 public:
  static constexpr const char* kChip0Path = "/dev/gpiochip0";
  static constexpr const char* kChip1Path = "/dev/gpiochip1";

  explicit GpioLedLines(const std::string& chip0_path = kChip0Path,
                        const std::string& chip1_path = kChip1Path);

  void SetValue(LedColour colour, int value) override;

 private:
  const gpiod::line& Line(LedColour colour) const;

  gpiod::chip chip0_;
  gpiod::chip chip1_;
  gpiod::line amber_;
  gpiod::line red_;
  gpiod::line green_;
  gpiod::line blue_;
  std::atomic<bool> failure_reported_{false};
};

}  // namespace ui
