#include "pipeline/EventFileBacklog.h"

#include <algorithm>
#include <chrono>

#include "metrics/Metrics.h"
#include "platform/Event.h"
#include "support/LogHelper.h"

EventFileBacklog::EventFileBacklog(WriteFunction write, Limits limits)
    : write_(std::move(write)), limits_(limits) {}

EventFileBacklog::~EventFileBacklog() { Stop(); }

std::size_t EventFileBacklog::Size() {
  std::lock_guard<std::mutex> guard(mutex_);
  return events_.size();
}

bool EventFileBacklog::Keep(const std::string& path, std::string bytes,
                            const std::string& reason) {
  CLogHelper* log = CLogHelper::GetInstance();
  bool startThread = false;
  bool firstFailure = false;
  std::size_t count = 0;
  std::size_t total = 0;
  bool kept = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    count = events_.size();
    total = bytes_;
    if (!stopping_ && count < limits_.maxEvents && total + bytes.size() <= limits_.maxBytes) {
      bytes_ += bytes.size();
      events_.push_back({path, std::move(bytes)});
      metrics::EventBacklog(events_.size(), bytes_);
      kept = true;
      firstFailure = !failing_;
      failing_ = true;
      if (retryThread_ == nullptr) {
        retryThread_ = std::make_unique<platform::Thread>("event-retry",
                                                          &EventFileBacklog::RetryEntry, this);
        startThread = true;
      }
    }
  }
  if (!kept) {
    log->LogErrorF("Event file %s is lost: %zu events (%zu bytes) already wait to be written",
                   path.c_str(), count, total);
    return false;
  }
  if (firstFailure) {
    log->LogErrorF("Event files cannot be written (%s); they are kept and retried",
                   reason.c_str());
  }
  if (startThread) {
    retryThread_->Resume();
  } else {
    wake_.notify_all();
  }
  return true;
}

unsigned EventFileBacklog::RetryEntry(void* backlog) {
  try {
    static_cast<EventFileBacklog*>(backlog)->RetryLoop();
  } catch (...) {
    return 1;
  }
  return 0;
}

void EventFileBacklog::RetryLoop() {
  int delayMs = limits_.firstDelayMs;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || !events_.empty(); });
    if (stopping_) return;
    // Wait out the delay; a stop ends it early, new events do not.
    if (wake_.wait_for(lock, std::chrono::milliseconds(delayMs), [&] { return stopping_; })) {
      return;
    }
    lock.unlock();
    std::string error;
    const bool drained = WriteFromHead(&error);
    lock.lock();
    delayMs = drained ? limits_.firstDelayMs : std::min(delayMs * 2, limits_.maxDelayMs);
  }
}

bool EventFileBacklog::WriteFromHead(std::string* error) {
  std::size_t written = 0;
  for (;;) {
    Event head;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (events_.empty()) {
        const bool recovered = failing_;
        failing_ = false;
        if (!recovered) return true;
        break;
      }
      head = events_.front();  // only this function removes the head, on one thread at a time
    }
    if (!write_(head.path, head.bytes, error)) return false;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      bytes_ -= head.bytes.size();
      events_.pop_front();
      metrics::EventBacklog(events_.size(), bytes_);
    }
    ++written;
    metrics::EventWritten();
  }
  CLogHelper::GetInstance()->LogInfoF(
      "Event files can be written again; %zu kept events were written", written);
  return true;
}

void EventFileBacklog::Stop() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  wake_.notify_all();
  if (retryThread_ != nullptr) retryThread_->Join(platform::kInfinite);
  std::string error;
  if (WriteFromHead(&error)) return;
  std::deque<Event> left;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    left.swap(events_);
    bytes_ = 0;
  }
  CLogHelper* log = CLogHelper::GetInstance();
  for (const Event& event : left) {
    log->LogErrorF("Event file %s could not be written before the stop (%s)", event.path.c_str(),
                   error.c_str());
  }
}
