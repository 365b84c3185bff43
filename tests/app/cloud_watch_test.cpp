// The cloud watch: out of reach while deliveries fail and the channel is closed; told once the
// grace has passed in that state, and back at the next delivery.

#include "app/cloud_watch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <memory>
#include <mutex>
#include <vector>

#include "mailbox/message_id.h"
#include "support/wait.h"
#include "timer/timer_queue.h"

using namespace std::chrono_literals;
using testing_support::WaitUntil;

namespace {

constexpr auto kGrace = 200ms;
constexpr auto kLost = mailbox::SYS_EVT_SERVER_DISCONNECTED;
constexpr auto kBack = mailbox::SYS_EVT_SERVER_CONNECTED;

class CloudWatchTest : public ::testing::Test {
 protected:
  struct Post {
    std::uint32_t id;
    std::chrono::steady_clock::time_point at;
  };

  std::vector<std::uint32_t> Posted() const {
    const std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::uint32_t> ids;
    for (const auto& post : posts_) ids.push_back(post.id);
    return ids;
  }
  std::chrono::steady_clock::time_point PostedAt(std::size_t index) const {
    const std::lock_guard<std::mutex> guard(lock_);
    return posts_.at(index).at;
  }
  // The watch has told the outage (its message is the last one posted).
  bool WaitForLost() {
    return WaitUntil([&] { return watch_->Lost() && !Posted().empty() && Posted().back() == kLost; }, 5s);
  }

  timer::TimerQueue timers_;
  mutable std::mutex lock_;
  std::vector<Post> posts_;
  std::shared_ptr<CloudWatch> watch_ = std::make_shared<CloudWatch>(
      timers_,
      [this](std::uint32_t id) {
        const std::lock_guard<std::mutex> guard(lock_);
        posts_.push_back({id, std::chrono::steady_clock::now()});
      },
      kGrace);
};

TEST_F(CloudWatchTest, FailingDeliveriesWithTheChannelClosedAreToldAfterTheGraceAndEndedByADelivery) {
  const auto start = std::chrono::steady_clock::now();
  watch_->OnDelivery(false);
  ASSERT_TRUE(WaitForLost());
  EXPECT_GE(PostedAt(0) - start, kGrace);
  watch_->OnDelivery(false);
  watch_->OnChannel(true);
  watch_->OnChannel(false);
  EXPECT_EQ(Posted(), std::vector<std::uint32_t>{kLost}) << "told once; an opened channel is no delivery";

  watch_->OnDelivery(true);
  EXPECT_EQ(Posted(), (std::vector<std::uint32_t>{kLost, kBack}));
  EXPECT_FALSE(watch_->Lost());
  watch_->OnDelivery(true);
  EXPECT_EQ(Posted().size(), 2u) << "a delivery tells nothing while the cloud is in reach";
}

// The grace runs from the moment both hold: a delivery or an open channel within it starts it
// anew. Each case ends in an outage, told once, no sooner than a grace after its last step.
TEST_F(CloudWatchTest, TheGraceRunsFromTheMomentTheCloudIsOutOfReach) {
  struct Step {
    bool delivery;  // else the channel
    bool ok;
  };
  const struct {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"reports fail while the channel is open, then it closes", {{false, true}, {true, false}, {false, false}}},
      {"a delivery within the grace", {{true, false}, {true, true}, {true, false}}},
      {"the channel opens within the grace and closes again", {{true, false}, {false, true}, {false, false}}},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.name);
    const std::size_t before = Posted().size();
    for (std::size_t index = 0; index < entry.steps.size(); ++index) {
      if (index > 0) std::this_thread::sleep_for(kGrace / 2);  // part of a grace passes between steps
      const Step& step = entry.steps[index];
      step.delivery ? watch_->OnDelivery(step.ok) : watch_->OnChannel(step.ok);
    }
    const auto last_step = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitForLost());
    ASSERT_EQ(Posted().size(), before + 1) << "one message per outage";
    EXPECT_GE(PostedAt(before) - last_step, kGrace - 10ms);
    watch_->OnDelivery(true);
    ASSERT_EQ(Posted().back(), kBack);
  }
}

TEST_F(CloudWatchTest, AWatchThatIsGoneTellsNothing) {
  watch_->OnDelivery(false);
  watch_.reset();
  // Timers run in deadline order: once this one has run, so has the watch's.
  std::atomic<bool> later_ran{false};
  timers_.Add(kGrace * 2, [&](bool) { later_ran = true; });
  ASSERT_TRUE(WaitUntil([&] { return later_ran.load(); }, 5s));
  EXPECT_TRUE(Posted().empty());
}

}  // namespace
