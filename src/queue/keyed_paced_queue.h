#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "queue/paced_worker.h"

namespace queue {

// What a bounded queue does with a record that finds it full.
enum class Overflow {
  kRefuseNewest,  // the pushed record is dropped; the queued ones keep their turns
  kDropOldest,    // the record that waited longest is dropped to make room
};

// How many records a queue holds at most (0: no bound), and what a full one drops.
struct QueueBound {
  std::size_t capacity = 0;
  Overflow overflow = Overflow::kRefuseNewest;
};

// What became of a queue's records, counted since it was made.
struct QueueCounters {
  std::size_t waiting = 0;     // queued now
  std::size_t peak = 0;        // the most queued at once
  std::uint64_t dropped = 0;   // lost at the bound
  std::uint64_t replaced = 0;  // waiting ones replaced in place by a newer record of their key
  std::uint64_t skipped = 0;   // handed over at their turn and not used
};

// What Push did with a record.
enum class Pushed {
  kAppended,       // queued at the back
  kReplaced,       // took the place of the waiting record of its key
  kDroppedOldest,  // queued at the back; the oldest record was dropped for it
  kRefused,        // dropped: the queue is full
};

// A first-in-first-out queue drained by its own paced worker, one record per pass (see
// PacedWorker), with a bound and keys. A record pushed under the key of one still waiting
// replaces that one in place: the newer record takes the older one's turn, so a key has at
// most one record waiting. At its turn each record is handed to `handle`, which returns
// whether it used it; a record it did not use (found stale at its turn) costs no pace.
// Pushing is callable from any thread.
//
// Thread: the worker's, started by the constructor; `handle` runs on it, unlocked.
// Ownership: the records until handed over.
template <typename T, typename Key = std::string>
class KeyedPacedQueue {
 public:
  using Handle = std::function<bool(T)>;

  KeyedPacedQueue(std::chrono::milliseconds pace, QueueBound bound, Handle handle)
      : handle_(std::move(handle)),
        bound_(bound),
        worker_(
            pace, [this] { return !Empty(); }, [this] { return HandOverOne(); }) {}
  KeyedPacedQueue(const KeyedPacedQueue&) = delete;
  KeyedPacedQueue& operator=(const KeyedPacedQueue&) = delete;

  Pushed Push(T item, std::optional<Key> key = std::nullopt) {
    Pushed pushed = Pushed::kAppended;
    {
      const std::lock_guard<std::mutex> guard(lock_);
      if (key) {
        const auto waiting = by_key_.find(*key);
        if (waiting != by_key_.end()) {
          waiting->second->item = std::move(item);
          ++counters_.replaced;
          return Pushed::kReplaced;  // the worker already knows of it
        }
      }
      if (bound_.capacity > 0 && records_.size() >= bound_.capacity) {
        ++counters_.dropped;
        if (bound_.overflow == Overflow::kRefuseNewest) return Pushed::kRefused;
        PopFront();
        pushed = Pushed::kDroppedOldest;
      }
      records_.push_back(Record{key, std::move(item)});
      if (key) by_key_.emplace(*key, std::prev(records_.end()));
      counters_.peak = std::max(counters_.peak, records_.size());
    }
    worker_.Wake();
    return pushed;
  }

  bool Empty() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return records_.empty();
  }

  QueueCounters Counters() const {
    const std::lock_guard<std::mutex> guard(lock_);
    QueueCounters counters = counters_;
    counters.waiting = records_.size();
    return counters;
  }

  // Ends the worker (see PacedWorker::Stop); records still queued stay unsent.
  void Stop() { worker_.Stop(); }

 private:
  struct Record {
    std::optional<Key> key;
    T item;
  };

  // One pass of the worker: the front record to `handle`; true when it was used.
  bool HandOverOne() {
    std::optional<T> item;
    {
      const std::lock_guard<std::mutex> guard(lock_);
      if (records_.empty()) return false;
      item = std::move(records_.front().item);
      PopFront();
    }
    if (handle_(std::move(*item))) return true;
    const std::lock_guard<std::mutex> guard(lock_);
    ++counters_.skipped;
    return false;
  }

  void PopFront() {  // with lock_ held
    if (records_.front().key) by_key_.erase(*records_.front().key);
    records_.pop_front();
  }

  const Handle handle_;
  const QueueBound bound_;
  mutable std::mutex lock_;  // the records, their index and the counters
  std::list<Record> records_;
  std::unordered_map<Key, typename std::list<Record>::iterator> by_key_;  // the waiting records with a key
  QueueCounters counters_;
  PacedWorker worker_;  // last: its thread starts once the queue exists, and ends first
};

}  // namespace queue
