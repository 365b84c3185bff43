#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
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
  // Builds the lines; may throw anything, which leaves the LED without lines.
  using LinesFactory = std::function<std::unique_ptr<LedLines>()>;

  // Production: the lines on the board's GPIO chips. A missing chip or line is logged.
  explicit LED(const std::string& chip0_path = GpioLedLines::kChip0Path,
               const std::string& chip1_path = GpioLedLines::kChip1Path);
  // The lines that `make_lines` builds; a failure to build them is logged.
  explicit LED(const LinesFactory& make_lines, double time_scale = 1.0);
  // Any lines (tests record them); every blink wait is multiplied by time_scale.
  explicit LED(std::unique_ptr<LedLines> lines, double time_scale = 1.0);
  virtual ~LED();

  LED(const LED&) = delete;
  LED& operator=(const LED&) = delete;

  // Ends the blink pattern, if any, at once (the wait in progress is cut short); then red,
  // green and blue off. Amber is left as it is.
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

  // Why the lines could not be set up, or an empty text. The LED is usually built before the
  // logger exists, so start-up repeats this once the log is open.
  const std::string& SetupError() const { return setup_error_; }

 private:
  void StartPattern(const BlinkPattern& pattern);
  void StopBlinkThread();
  void Blink(const BlinkPattern& pattern);
  // Waits one step's time; false when the pattern was stopped meanwhile.
  bool WaitStep(int wait_ms);

  std::unique_ptr<LedLines> lines_;  // null when the lines could not be set up
  std::string setup_error_;
  double time_scale_ = 1.0;
  std::atomic<bool> blinking_{false};  // changed under stop_lock_, so a waiting step sees the stop
  std::mutex stop_lock_;
  std::condition_variable stop_signal_;
  std::mutex blink_thread_lock_;  // serialises starting and stopping the blink thread
  std::thread blink_thread_;
};

}  // namespace ui
