#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace queue {

// Tells the log of a bounded queue's drops: one line at the first drop, then at most one a
// period, each with the number dropped since the line before. Callable from any thread.
class DropNotice {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `what` names the queue in the line ("Mesh control queue").
  explicit DropNotice(
      std::string what, std::chrono::milliseconds period = std::chrono::minutes(1),
      Clock clock = [] { return std::chrono::steady_clock::now(); });

  // The queue has dropped `total` records since it was made.
  void Dropped(std::uint64_t total);

 private:
  const std::string what_;
  const std::chrono::milliseconds period_;
  const Clock clock_;
  std::mutex lock_;
  std::uint64_t logged_ = 0;  // the total at the last line
  std::optional<std::chrono::steady_clock::time_point> last_line_;
};

}  // namespace queue
