// The simulator's voice: event lines on standard output, errors on standard error, each
// written whole and flushed at once so a reader sees it immediately. Any thread; mutex_
// keeps lines from interleaving.
#pragma once

#include <mutex>
#include <string>

namespace camsim {

class EventPrinter {
 public:
  EventPrinter() = default;
  EventPrinter(const EventPrinter&) = delete;
  EventPrinter& operator=(const EventPrinter&) = delete;

  void Event(const std::string& line);
  void Error(const std::string& line);

 private:
  std::mutex mutex_;
};

}  // namespace camsim
