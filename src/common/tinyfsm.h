#pragma once

#include <atomic>
#include <new>
#include <utility>

// A minimal finite-state-machine template. A machine is a class F deriving from Fsm<F>
// that declares one virtual React per event type and a virtual Entry; each state is a
// class deriving from F. States carry no data: every state class has exactly one
// process-wide instance, created on first use and never destroyed.
namespace tinyfsm {

namespace detail {

// Storage for an object that lives until the process ends, with no destructor run at exit
// (a blink thread or a late event may still reach a state while statics are torn down).
template <typename T>
class NeverDestroyed {
 public:
  NeverDestroyed() { ::new (static_cast<void*>(storage_)) T(); }
  T& Get() noexcept { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace detail

template <typename F>
class Fsm {
 public:
  // The single instance of state S.
  template <typename S>
  static S& State() {
    static detail::NeverDestroyed<S> instance;
    return instance.Get();
  }

  template <typename S>
  static bool IsInState() {
    return current_state_.load() == &State<S>();
  }

  static F* Current() { return current_state_.load(); }

  // Sets the machine's initial state (F::SetInitialState), without calling its entry action.
  static void Reset() { F::SetInitialState(); }
  static void Enter() { current_state_.load()->Entry(); }
  static void Start() {
    Reset();
    Enter();
  }

  template <typename Event>
  static void Dispatch(const Event& event) {
    current_state_.load()->React(event);
  }

 protected:
  // Called from inside a reaction: exit the current state, enter S.
  template <typename S>
  void Transit() {
    current_state_.load()->Exit();
    current_state_ = &State<S>();
    current_state_.load()->Entry();
  }

  template <typename S>
  static void SetCurrent() {
    current_state_ = &State<S>();
  }

  void Exit() {}

 private:
  // Atomic so that a query from another thread (a test, a status report) is well defined;
  // dispatching itself is serialised by the machine's users.
  static inline std::atomic<F*> current_state_{nullptr};
};

// Starts several machines together: every machine's initial state is set first, then
// every entry action runs, in the order given.
template <typename... Machines>
struct FsmList {
  static void Start() {
    (Machines::Reset(), ...);
    (Machines::Enter(), ...);
  }
};

}  // namespace tinyfsm
