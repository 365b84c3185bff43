#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/app_state_machine.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using testing_support::WaitUntil;

namespace {

// A destination that records each message and the thread it was handled on, and can
// post a follow-up or throw while handling.
class Recorder : public mailbox::DepescheDestination {
 public:
  explicit Recorder(App& app) : app_(app) {}

  void OnMessage(const mailbox::Depesche& message) override {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      ids_.push_back(message.id);
      threads_.push_back(std::this_thread::get_id());
      busy_ = true;
    }
    if (message.id == kPostsFollowUp) app_.Post(Message(kFollowUp));
    if (message.id == kThrows) throw std::runtime_error("handler failed");
    const std::lock_guard<std::mutex> guard(lock_);
    busy_ = false;
  }

  mailbox::Depesche Message(std::uint32_t id) { return {nullptr, this, id, nullptr}; }

  std::vector<std::uint32_t> Ids() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return ids_;
  }
  std::vector<std::thread::id> Threads() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return threads_;
  }

  static constexpr std::uint32_t kPostsFollowUp = 0x10;
  static constexpr std::uint32_t kFollowUp = 0x11;
  static constexpr std::uint32_t kThrows = 0x12;

 private:
  App& app_;
  mutable std::mutex lock_;
  std::vector<std::uint32_t> ids_;
  std::vector<std::thread::id> threads_;
  bool busy_ = false;
};

}  // namespace

TEST(AppDispatch, HandlesInOrderEachOnAFreshThreadIncludingMessagesPostedMeanwhile) {
  const auto app = std::make_shared<App>();
  Recorder recorder(*app);
  app->Post(recorder.Message(1));
  app->Post(recorder.Message(Recorder::kPostsFollowUp));
  app->Post(recorder.Message(2));
  app->Post({nullptr, nullptr, 3, nullptr});  // no destination: dropped
  app->DispatchMessages();

  EXPECT_EQ(recorder.Ids(), (std::vector<std::uint32_t>{1, Recorder::kPostsFollowUp, 2, Recorder::kFollowUp}));
  const auto threads = recorder.Threads();
  for (const auto& thread : threads) EXPECT_NE(thread, std::this_thread::get_id());
}

TEST(AppDispatch, AnExceptionEndsOnlyThatMessage) {
  const auto app = std::make_shared<App>();
  Recorder recorder(*app);
  app->Post(recorder.Message(Recorder::kThrows));
  app->Post(recorder.Message(5));
  app->DispatchMessages();
  EXPECT_EQ(recorder.Ids(), (std::vector<std::uint32_t>{Recorder::kThrows, 5}));
}

TEST(AppDispatch, RunLoopHandlesPostsFromOtherThreadsAndEndsOnShutdown) {
  const auto app = std::make_shared<App>();
  Recorder recorder(*app);
  std::thread loop([&app] { app->Run(); });

  std::vector<std::thread> posters;
  for (std::uint32_t t = 0; t < 4; ++t) {
    posters.emplace_back([&, t] {
      for (std::uint32_t i = 0; i < 25; ++i) app->Post(recorder.Message(1000 + 100 * t + i));
    });
  }
  for (auto& poster : posters) poster.join();
  EXPECT_TRUE(WaitUntil([&] { return recorder.Ids().size() == 100; }));

  // Messages of one poster keep their order.
  std::vector<std::vector<std::uint32_t>> by_poster(4);
  for (const auto id : recorder.Ids()) by_poster[(id - 1000) / 100].push_back(id % 100);
  for (const auto& sequence : by_poster) {
    ASSERT_EQ(sequence.size(), 25u);
    for (std::uint32_t i = 0; i < 25; ++i) EXPECT_EQ(sequence[i], i);
  }

  app->Shutdown();
  loop.join();
}

namespace {

// How often a thread of this process has gone to sleep and been woken since it started.
long VoluntarySwitches(pid_t thread) {
  std::ifstream status("/proc/self/task/" + std::to_string(thread) + "/status");
  const std::string field = "voluntary_ctxt_switches:";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
  }
  return -1;
}

}  // namespace

// An idle daemon sleeps: the run loop wakes for a post or for Shutdown, never on a period.
TEST(AppDispatch, AnIdleRunLoopSleepsUntilAPostOrShutdown) {
  const auto app = std::make_shared<App>();
  Recorder recorder(*app);
  std::atomic<pid_t> loop_thread{0};
  std::thread loop([&] {
    loop_thread = static_cast<pid_t>(::syscall(SYS_gettid));
    app->Run();
  });
  app->Post(recorder.Message(1));
  ASSERT_TRUE(WaitUntil([&] { return recorder.Ids().size() == 1; }));

  // An observation window: a loop that woke every 100 ms would sleep about ten times in it.
  const long before = VoluntarySwitches(loop_thread);
  ASSERT_GE(before, 0);
  std::this_thread::sleep_for(1s);
  EXPECT_LE(VoluntarySwitches(loop_thread) - before, 3);

  app->Post(recorder.Message(2));
  EXPECT_TRUE(WaitUntil([&] { return recorder.Ids().size() == 2; }));
  app->Shutdown();
  loop.join();
}

TEST(AppDispatch, ShutdownBeforeRunIsNotLost) {
  const auto app = std::make_shared<App>();
  app->Shutdown();
  app->Run();  // returns at once instead of running for ever
}

TEST(AppDispatch, ConstructorStartsTheStateMachineInAppInit) {
  const auto first = std::make_shared<App>();
  AppStateMachine::Dispatch(NetworkConnected{});
  ASSERT_TRUE(AppStateMachine::IsInState<AppOAuthRequest>());
  const auto second = std::make_shared<App>();
  EXPECT_TRUE(AppStateMachine::IsInState<AppInit>());
}
