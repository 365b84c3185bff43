#pragma once

#include <atomic>
#include <memory>

#include "mailbox/depesche.h"
#include "queue/thread_safe_queue.h"
#include "timer/timer_queue.h"

// The daemon's centre: owns the components, and is the single destination of the
// messages they post. Messages are handled one at a time, in posting order.
class App : public mailbox::DepescheSender,
            public mailbox::DepescheDestination,
            public std::enable_shared_from_this<App> {
 public:
  App();
  ~App() override;
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  void OnMessage(const mailbox::Depesche& message) override;

  // Brings the components up; the object must already be owned by a shared pointer.
  void Init();
  // Dispatches messages until Shutdown.
  void Run();
  // Handles every queued message, each on a fresh thread, one after the other.
  void DispatchMessages();
  // Queues a message for dispatch; callable from any thread.
  void Post(const mailbox::Depesche& message);
  // The orderly teardown on a termination signal: ends the run loop.
  void Shutdown();

  timer::TimerQueue& Timers() { return *timers_; }

 private:
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_requested_{false};  // a Shutdown that came before Run
  queue::ThreadSafeQueue<mailbox::Depesche> inbox_;
  std::unique_ptr<timer::TimerQueue> timers_;
};
