#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ui/blink_pattern.h"
#include "ui/gpio_led_lines.h"
#include "ui/led_lines.h"

namespace ui {

// The gateway's status LED (red, green, blue) and amber indicator, with at most one blink
// thread running a pattern. Used as a process-wide singleton (Singleton<ui::LED>).
//
// When the lines cannot be set up, the object still exists and every operation does nothing.
class LED {
 public:
  // Production: the lines on the board's GPIO chips. A missing chip or line is logged.
  explicit LED(const std::string& chip0_path = GpioLedLines::kChip0Path,
               const std::string& chip1_path = GpioLedLines::kChip1Path);
  // Any lines (tests record them); every blink wait is multiplied by time_scale.
  explicit LED(std::unique_ptr<LedLines> lines, double time_scale = 1.0);
  virtual ~LED();

  LED(const LED&) = delete;
  LED& operator=(const LED&) = delete;

  // Ends the blink pattern, if any, after its current pass; then red, green and blue off.
  // Amber is left as it is.
  void StopBlinking();

  // Each starts its pattern on the blink thread, stopping a running pattern first.
  void Red0p5On1p5Off();
  void Red1p0On1p0Off();
  void Green0p05On0p05Off0p05On2p0Off();
  void RGBBlinking();

  // Sets one line: 1 lights the colour, 0 turns it off.
  void SetValue(LedColour colour, int value);

  // True while a blink thread runs its loop.
  bool IsBlinking() const { return blinking_; }

 private:
  void StartPattern(const BlinkPattern& pattern);
  void StopBlinkThread();
  void Blink(const BlinkPattern& pattern);

  std::unique_ptr<LedLines> lines_;  // null when the lines could not be set up
  double time_scale_ = 1.0;
  std::atomic<bool> blinking_{false};
  std::mutex blink_thread_lock_;  // serialises starting and stopping the blink thread
  std::thread blink_thread_;
};

}  // namespace ui
