#include "app/cloud_watch.h"

#include <utility>

#include "log/log.h"
#include "mailbox/message_id.h"

CloudWatch::CloudWatch(timer::TimerQueue& timers, Post post, std::chrono::milliseconds grace)
    : timers_(timers), post_(std::move(post)), grace_(grace) {}

// Messages are posted with the lock held (posting only queues), so a lost and a regained
// cloud reach the application in the order they happened.
void CloudWatch::OnDelivery(bool delivered) {
  const std::lock_guard<std::mutex> guard(lock_);
  const bool was_out_of_reach = OutOfReach();
  failing_ = !delivered;
  FollowReach(was_out_of_reach);
  if (delivered && lost_) {
    lost_ = false;
    LOG_INFO << "Cloud reachable again: a delivery went through";
    post_(mailbox::SYS_EVT_SERVER_CONNECTED);
  }
}

void CloudWatch::OnChannel(bool open) {
  const std::lock_guard<std::mutex> guard(lock_);
  const bool was_out_of_reach = OutOfReach();
  channel_open_ = open;
  FollowReach(was_out_of_reach);
}

bool CloudWatch::Lost() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return lost_;
}

void CloudWatch::FollowReach(bool was_out_of_reach) {
  const bool out_of_reach = OutOfReach();
  if (out_of_reach == was_out_of_reach) return;
  ++generation_;
  if (out_of_reach) {
    grace_timer_ = timers_.Add(grace_, [self = weak_from_this(), generation = generation_](bool cancelled) {
      if (cancelled) return;
      if (const auto watch = self.lock()) watch->OnGraceEnded(generation);
    });
  } else if (grace_timer_ != 0) {
    timers_.Cancel(grace_timer_);
    grace_timer_ = 0;
  }
}

void CloudWatch::OnGraceEnded(std::uint64_t generation) {
  const std::lock_guard<std::mutex> guard(lock_);
  if (generation != generation_ || lost_ || !OutOfReach()) return;
  grace_timer_ = 0;
  lost_ = true;
  LOG_WARN << "Cloud unreachable for " << std::chrono::duration_cast<std::chrono::seconds>(grace_).count()
           << " s: deliveries fail and the channel is closed";
  post_(mailbox::SYS_EVT_SERVER_DISCONNECTED);
}
