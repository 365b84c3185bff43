#include "ui/gpio_led_lines.h"

#include <exception>

#include "log/log.h"

namespace ui {

namespace {

gpiod::line RequestOutput(const gpiod::chip& chip, unsigned int offset, const char* consumer) {
  gpiod::line line = chip.get_line(offset);
  line.request({consumer, gpiod::line_request::DIRECTION_OUTPUT, gpiod::line_request::FLAG_ACTIVE_LOW},
               0);
  return line;
}

}  // namespace

GpioLedLines::GpioLedLines(const std::string& chip0_path, const std::string& chip1_path)
    : chip0_(chip0_path, gpiod::chip::OPEN_LOOKUP),
      chip1_(chip1_path, gpiod::chip::OPEN_LOOKUP),
      amber_(RequestOutput(chip0_, 20, "amber")),
      red_(RequestOutput(chip1_, 1, "red")),
      green_(RequestOutput(chip1_, 2, "green")),
      blue_(RequestOutput(chip0_, 19, "blue")) {}

void GpioLedLines::SetValue(LedColour colour, int value) {
  try {
    Line(colour).set_value(value);
  } catch (const std::exception& error) {
    // A line that stops working would otherwise fail on every blink step; say it once.
    if (!failure_reported_.exchange(true)) LOG_ERROR << "Setting an LED line failed: " << error.what();
  }
}

const gpiod::line& GpioLedLines::Line(LedColour colour) const {
  switch (colour) {
    case LedColour::amber:
      return amber_;
    case LedColour::red:
      return red_;
    case LedColour::green:
      return green_;
    case LedColour::blue:
      break;
  }
  return blue_;
}

}  // namespace ui
