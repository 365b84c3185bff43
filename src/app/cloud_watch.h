#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "timer/timer_queue.h"

// Tells the application when the cloud has been out of reach for a while, and when it is
// back. The cloud is out of reach while deliveries to it fail and the channel to it is
// closed. Once that has lasted the grace period, the watch posts
// SYS_EVT_SERVER_DISCONNECTED (once); the next delivery after that posts
// SYS_EVT_SERVER_CONNECTED. A channel that opens ends the outage without a message: only a
// delivery says the reports flow again.
//
// Thread-safe: deliveries are told on the cloud client's worker, the channel on its event
// loop, the grace ends on the timer worker; none of them waits on another.
class CloudWatch : public std::enable_shared_from_this<CloudWatch> {
 public:
  using Post = std::function<void(std::uint32_t message_id)>;

  // Made through a shared pointer: its timer and the observers hold weak references, so a
  // watch that is gone has nothing more to tell. `timers` outlives the watch.
  CloudWatch(timer::TimerQueue& timers, Post post, std::chrono::milliseconds grace);
  ~CloudWatch() = default;
  CloudWatch(const CloudWatch&) = delete;
  CloudWatch& operator=(const CloudWatch&) = delete;

  // A heartbeat or report request ended: `delivered` when the server answered it for good
  // (took it, or refused it), false when it must go again (no answer, 401, 5xx, 429).
  void OnDelivery(bool delivered);
  // The channel opened (true) or closed or failed to open (false).
  void OnChannel(bool open);

  // Whether the outage has been told and not yet ended by a delivery.
  bool Lost() const;

 private:
  bool OutOfReach() const { return failing_ && !channel_open_; }  // lock held
  // Arms the grace timer when the cloud has just gone out of reach, cancels it when it is
  // back in reach. Lock held.
  void FollowReach(bool was_out_of_reach);
  void OnGraceEnded(std::uint64_t generation);

  timer::TimerQueue& timers_;
  const Post post_;
  const std::chrono::milliseconds grace_;
  mutable std::mutex lock_;
  bool failing_ = false;
  bool channel_open_ = false;
  bool lost_ = false;              // SYS_EVT_SERVER_DISCONNECTED posted, no delivery since
  std::uint64_t grace_timer_ = 0;  // 0: none pending
  std::uint64_t generation_ = 0;   // of the grace period running; an older one's end is void
};
