#include "ui/led.h"

#include <chrono>
#include <exception>
#include <system_error>

#include "log/log.h"

namespace ui {

LED::LED(const std::string& chip0_path, const std::string& chip1_path)
    : LED(LinesFactory([chip0_path, chip1_path]() -> std::unique_ptr<LedLines> {
        return std::make_unique<GpioLedLines>(chip0_path, chip1_path);
      })) {}

// Runs during static initialisation (the LED machine starts before main): nothing may
// escape, or the process ends before main without a word.
LED::LED(const LinesFactory& make_lines, double time_scale) : time_scale_(time_scale) {
  try {
    lines_ = make_lines();
  } catch (const std::system_error& error) {
    setup_error_ = error.what();
    LOG_ERROR << "System error thrown as expected: " << error.what();
  } catch (const std::exception& error) {
    setup_error_ = error.what();
    LOG_ERROR << "LED lines unavailable: " << error.what();
  } catch (...) {
    setup_error_ = "unknown error";
    LOG_ERROR << "LED lines unavailable: unknown error";
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
  {
    const std::lock_guard<std::mutex> stop_guard(stop_lock_);
    blinking_ = true;
  }
  // The thread keeps its own copy: at process exit it may still run while the static
  // patterns are destroyed.
  blink_thread_ = std::thread([this, pattern] { Blink(pattern); });
}

// Callers stop blinking under the LED machine's dispatch lock (the bus thread among them),
// so the join must not wait for a step of up to 2 s: the stop wakes the step's wait.
void LED::StopBlinkThread() {
  if (!blink_thread_.joinable()) return;
  {
    const std::lock_guard<std::mutex> stop_guard(stop_lock_);
    blinking_ = false;
  }
  stop_signal_.notify_all();
  blink_thread_.join();
}

void LED::Blink(const BlinkPattern& pattern) {
  while (blinking_) {
    for (const BlinkStep& step : pattern) {
      for (const BlinkStep::Write& write : step.writes) lines_->SetValue(write.colour, write.value);
      if (!WaitStep(step.wait_ms)) return;
    }
  }
}

bool LED::WaitStep(int wait_ms) {
  const auto wait = std::chrono::duration<double, std::milli>(wait_ms * time_scale_);
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(wait);
  std::unique_lock<std::mutex> guard(stop_lock_);
  return !stop_signal_.wait_until(guard, deadline, [this] { return !blinking_; });
}

}  // namespace ui
