#include "app/signal_handler.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <boost/stacktrace.hpp>
#include <cerrno>
#include <csignal>
#include <string>
#include <thread>

#include "log/log.h"

namespace {

constexpr int kWakeRead = 0;
constexpr int kWakeWrite = 1;
constexpr int kFatalShutdownWaitMs = 10000;

std::array<int, 2> wake_pipe{-1, -1};  // signal handler -> watcher thread: signal numbers
std::array<int, 2> done_pipe{-1, -1};  // watcher thread -> crashed thread: shutdown has run
std::atomic<bool> fatal_in_progress{false};
std::atomic<std::size_t> trace_bytes{0};
alignas(boost::stacktrace::frame) unsigned char trace_dump[64 * 1024];
std::function<void()> shutdown_action;

bool IsFatal(int signal) { return signal == SIGSEGV || signal == SIGABRT; }

void EndByDefaultAction(int signal) {
  std::signal(signal, SIG_DFL);
  std::raise(signal);  // pending until the handler returns; a real fault re-faults on return
}

void WaitForShutdown() {
  pollfd done{done_pipe[kWakeRead], POLLIN, 0};
  while (::poll(&done, 1, kFatalShutdownWaitMs) < 0 && errno == EINTR) {
  }
}

// Runs in the asynchronous signal context: only async-signal-safe work here.
extern "C" void OnSignal(int signal) {
  const int saved_errno = errno;
  const auto number = static_cast<unsigned char>(signal);
  if (IsFatal(signal)) {
    if (fatal_in_progress.exchange(true)) EndByDefaultAction(signal);  // crashed again meanwhile
    const std::size_t frames = boost::stacktrace::safe_dump_to(1, trace_dump, sizeof trace_dump);
    trace_bytes = frames * sizeof(boost::stacktrace::frame);
    [[maybe_unused]] const auto written = ::write(wake_pipe[kWakeWrite], &number, 1);
    WaitForShutdown();
    EndByDefaultAction(signal);
  } else {
    [[maybe_unused]] const auto written = ::write(wake_pipe[kWakeWrite], &number, 1);
  }
  errno = saved_errno;
}

std::string CapturedTrace() {
  auto text = boost::stacktrace::to_string(boost::stacktrace::stacktrace::from_dump(trace_dump, trace_bytes));
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

void Watch() {
  for (;;) {
    unsigned char signal = 0;
    const auto got = ::read(wake_pipe[kWakeRead], &signal, 1);
    if (got == 1) {
      SignalHandler(signal);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      return;
    }
  }
}

void BlockTerminationSignals() {
  sigset_t blocked;
  sigemptyset(&blocked);
  for (const int signal : {SIGTERM, SIGINT, SIGABRT, SIGSEGV}) sigaddset(&blocked, signal);
  pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
}

}  // namespace

void SignalHandler(int signal) {
  LOG_ERROR << "Signal Catch : " << signal;
  LOG_ERROR << "Terminate program..";
  if (IsFatal(signal)) LOG_ERROR << CapturedTrace();
  if (shutdown_action) shutdown_action();
  if (IsFatal(signal)) {
    const unsigned char done = 1;
    [[maybe_unused]] const auto written = ::write(done_pipe[kWakeWrite], &done, 1);
  }
}

namespace signals {

void InstallHandlers(std::function<void()> shutdown) {
  shutdown_action = std::move(shutdown);
  if (::pipe2(wake_pipe.data(), O_CLOEXEC) != 0 || ::pipe2(done_pipe.data(), O_CLOEXEC) != 0) {
    throw std::system_error(errno, std::generic_category(), "signal pipes");
  }
  // The watcher must never take the signals itself: a crash signal handled on the watcher
  // would wait for its own shutdown.
  std::thread([] {
    BlockTerminationSignals();
    Watch();
  }).detach();
  for (const int signal : {SIGTERM, SIGINT, SIGABRT, SIGSEGV}) std::signal(signal, OnSignal);
}

void AwaitFatalSignal() {
  while (fatal_in_progress) std::this_thread::sleep_for(std::chrono::seconds(1));
}

}  // namespace signals
