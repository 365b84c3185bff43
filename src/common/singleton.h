#pragma once

#include <memory>
#include <mutex>
#include <utility>

// One process-wide instance of T, created on first access and deleted by Destroy().
// Access after Destroy() creates a fresh instance. A T that needs arguments is made by the
// factory handed to Instance(make).
template <typename T>
class Singleton {
 public:
  Singleton() = delete;

  static T& Instance() { return Instance([] { return std::make_unique<T>(); }); }

  // The instance, made by `make` (returning std::unique_ptr<T>) when there is none. `make`
  // runs under this singleton's lock: it may reach other singletons, not this one.
  template <typename Make>
  static T& Instance(Make make) {
    const std::lock_guard<std::mutex> guard(lock_);
    if (!instance_) instance_ = make();
    return *instance_;
  }

  static void Destroy() {
    std::unique_ptr<T> doomed;
    {
      const std::lock_guard<std::mutex> guard(lock_);
      doomed = std::move(instance_);
    }
    // Deleted outside the lock, so a destructor may itself reach other singletons.
  }

  // Puts a ready-made object in place (tests use it to hand over an object built with
  // non-platform parameters); the previous one, if any, is deleted.
  static void Install(std::unique_ptr<T> replacement) {
    std::unique_ptr<T> doomed;
    {
      const std::lock_guard<std::mutex> guard(lock_);
      doomed = std::exchange(instance_, std::move(replacement));
    }
  }

  static bool Exists() {
    const std::lock_guard<std::mutex> guard(lock_);
    return instance_ != nullptr;
  }

 private:
  static inline std::mutex lock_;
  static inline std::unique_ptr<T> instance_;
};
