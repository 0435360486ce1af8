// Event files that could not be written (the folder is not writable, the disk is full, a
// network mount is gone) wait here instead of being lost. A retry thread writes them in order,
// with a delay that grows from 1 s to 60 s while writing keeps failing; once one is written
// the rest follow at once. The backlog is bounded (10,000 events or 256 MiB); an event beyond
// that is named in an ERROR line. At stop every event is tried once more and whatever still
// cannot be written is named in one ERROR line each.
// Keep, Size and Stop are safe from any thread; mutex_ guards the queue and the state below
// it; the write function runs on the retry thread (or on Stop's thread) without the lock.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Thread.h"

// How long the backlog waits between attempts, and how much it holds.
struct EventBacklogLimits {
  static constexpr std::size_t kMaxEvents = 10000;
  static constexpr std::size_t kMaxBytes = 256u * 1024 * 1024;
  static constexpr int kFirstDelayMs = 1000;
  static constexpr int kMaxDelayMs = 60000;

  int firstDelayMs = kFirstDelayMs;
  int maxDelayMs = kMaxDelayMs;
  std::size_t maxEvents = kMaxEvents;
  std::size_t maxBytes = kMaxBytes;
};

class EventFileBacklog {
 public:
  using Limits = EventBacklogLimits;

  // Writes one event file; false with a reason when it cannot.
  using WriteFunction =
      std::function<bool(const std::string& path, const std::string& bytes, std::string* error)>;

  explicit EventFileBacklog(WriteFunction write, Limits limits = Limits());
  ~EventFileBacklog();  // stops
  EventFileBacklog(const EventFileBacklog&) = delete;
  EventFileBacklog& operator=(const EventFileBacklog&) = delete;

  // Keeps the event to write later, behind every event kept before it. reason says why the
  // direct write failed (empty when it was not tried, because older events wait). False when
  // the bound is reached or the backlog has stopped: the event is then named in an ERROR line.
  bool Keep(const std::string& path, std::string bytes, const std::string& reason);
  std::size_t Size();
  // True while events wait: a new event must queue behind them to keep the order.
  bool Waiting() { return Size() > 0; }

  // Tries every kept event once more, names those that still fail, and ends the thread.
  void Stop();

 private:
  struct Event {
    std::string path;
    std::string bytes;
  };
  static unsigned RetryEntry(void* backlog);
  void RetryLoop();
  // Writes kept events from the head while that works; false at the first failure.
  bool WriteFromHead(std::string* error);

  const WriteFunction write_;
  const Limits limits_;
  std::unique_ptr<platform::Thread> retryThread_;  // started by the first Keep

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Event> events_;  // guarded by mutex_
  std::size_t bytes_ = 0;     // guarded by mutex_
  bool stopping_ = false;     // guarded by mutex_
  bool failing_ = false;      // guarded by mutex_: the "cannot write" line was logged
};
