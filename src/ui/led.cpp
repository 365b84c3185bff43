#include "ui/led.h"

#include <chrono>
#include <system_error>

#include "log/log.h"

namespace ui {

LED::LED(const std::string& chip0_path, const std::string& chip1_path) {
  try {
    lines_ = std::make_unique<GpioLedLines>(chip0_path, chip1_path);
  } catch (const std::system_error& error) {
    LOG_ERROR << "System error thrown as expected: " << error.what();
  }
}

LED::LED(std::unique_ptr<LedLines> lines, double time_scale)
    : lines_(std::move(lines)), time_scale_(time_scale) {}

LED::~LED() {
  const std::lock_guard<std::mutex> guard(blink_thread_lock_);
  StopBlinkThread();
}

void LED::StopBlinking() {
  if (!lines_) return;
  const std::lock_guard<std::mutex> guard(blink_thread_lock_);
  StopBlinkThread();
  lines_->SetValue(LedColour::red, 0);
  lines_->SetValue(LedColour::green, 0);
  lines_->SetValue(LedColour::blue, 0);
}

void LED::Red0p5On1p5Off() { StartPattern(patterns::Red0p5On1p5Off()); }

void LED::Red1p0On1p0Off() { StartPattern(patterns::Red1p0On1p0Off()); }

void LED::Green0p05On0p05Off0p05On2p0Off() {
  StartPattern(patterns::Green0p05On0p05Off0p05On2p0Off());
}

void LED::RGBBlinking() { StartPattern(patterns::RGBBlinking()); }

void LED::SetValue(LedColour colour, int value) {
  if (lines_) lines_->SetValue(colour, value);
}

void LED::StartPattern(const BlinkPattern& pattern) {
  if (!lines_) return;
  const std::lock_guard<std::mutex> guard(blink_thread_lock_);
  StopBlinkThread();
  // Set before the thread starts, so a stop right after this start finds and joins it.
  blinking_ = true;
  // The thread keeps its own copy: at process exit it may still run while the static
  // patterns are destroyed.
  blink_thread_ = std::thread([this, pattern] { Blink(pattern); });
}

void LED::StopBlinkThread() {
  if (!blink_thread_.joinable()) return;
  blinking_ = false;
  blink_thread_.join();
}

// The flag is checked once per pass, so a stop lets the current pass finish.
void LED::Blink(const BlinkPattern& pattern) {
  while (blinking_) {
    for (const BlinkStep& step : pattern) {
      for (const BlinkStep::Write& write : step.writes) lines_->SetValue(write.colour, write.value);
      std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(step.wait_ms * time_scale_));
    }
  }
}

}  // namespace ui
