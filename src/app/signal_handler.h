#pragma once

#include <functional>

// Termination signals: SIGTERM and SIGINT log two lines and run the shutdown action;
// SIGSEGV and SIGABRT log a third line with the stack trace of the interrupted thread,
// run the shutdown action, then end the process by the same signal's default action.
// The logging and the shutdown run on an ordinary thread woken by the signal.
namespace signals {

// Starts the watcher thread, then installs the handlers for 15, 2, 6 and 11, in that order.
void InstallHandlers(std::function<void()> shutdown);

// Returns at once unless a fatal signal is being handled; then waits for the process to
// end by that signal, so that a caller returning from main cannot turn a crash into exit 0.
void AwaitFatalSignal();

}  // namespace signals

// Logs the signal's lines and runs the shutdown action; runs on the watcher thread.
void SignalHandler(int signal);
