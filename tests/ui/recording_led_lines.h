#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "ui/led_lines.h"

namespace ui_test {

// One value written to an LED line: when, which line, what, and by which thread.
struct LineWrite {
  std::chrono::steady_clock::time_point time;
  ui::LedColour colour;
  int value;
  std::thread::id thread;
};

// LED lines that record every write, so tests can read back what the LED showed.
class RecordingLedLines : public ui::LedLines {
 public:
  void SetValue(ui::LedColour colour, int value) override {
    const std::lock_guard<std::mutex> guard(lock_);
    writes_.push_back({std::chrono::steady_clock::now(), colour, value, std::this_thread::get_id()});
  }

  std::vector<LineWrite> Writes(std::size_t from = 0) const {
    const std::lock_guard<std::mutex> guard(lock_);
    if (from >= writes_.size()) return {};
    return {writes_.begin() + static_cast<std::ptrdiff_t>(from), writes_.end()};
  }

  std::size_t Count() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return writes_.size();
  }

  // The line's current value; every line starts at 0.
  int Value(ui::LedColour colour) const {
    const std::lock_guard<std::mutex> guard(lock_);
    for (auto write = writes_.rbegin(); write != writes_.rend(); ++write) {
      if (write->colour == colour) return write->value;
    }
    return 0;
  }

 private:
  mutable std::mutex lock_;
  std::vector<LineWrite> writes_;
};

}  // namespace ui_test
