// A simulator's voice: event lines on standard output, errors on standard error, each
// written whole and flushed at once so a reader sees it immediately. Any thread; mutex_
// keeps lines from interleaving.
#pragma once

#include <mutex>
#include <string>

namespace simtools {

class EventPrinter {
 public:
  // Error lines begin with "program: ".
  explicit EventPrinter(std::string program) : program_(std::move(program)) {}
  EventPrinter(const EventPrinter&) = delete;
  EventPrinter& operator=(const EventPrinter&) = delete;

  void Event(const std::string& line);
  void Error(const std::string& line);

 private:
  const std::string program_;
  std::mutex mutex_;
};

}  // namespace simtools
