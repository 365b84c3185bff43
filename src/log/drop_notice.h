#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace logging {

// Counts what a bounded buffer or queue dropped and says so in the log at most once a period:
// one error line, `text` followed by the number dropped since the previous line. Drops that
// come within the period are told on the first Add or Flush after it. Any thread.
class DropNotice {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  explicit DropNotice(std::string text, std::chrono::milliseconds period = std::chrono::minutes(1),
                      Clock clock = [] { return std::chrono::steady_clock::now(); });

  // Counts `dropped` (nothing when zero) and logs when a line is due.
  void Add(std::uint64_t dropped);
  // Logs the drops not yet told, when a line is due.
  void Flush();
  std::uint64_t Total() const;

 private:
  void LogIfDue();  // under lock_

  const std::string text_;
  const std::chrono::milliseconds period_;
  const Clock clock_;
  mutable std::mutex lock_;
  std::uint64_t total_ = 0;
  std::uint64_t told_ = 0;
  std::optional<std::chrono::steady_clock::time_point> last_line_;
};

}  // namespace logging
