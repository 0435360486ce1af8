#include "tools/common/EventPrinter.h"

#include <iostream>

namespace simtools {

void EventPrinter::Event(const std::string& line) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::cout << line << '\n' << std::flush;
}

void EventPrinter::Error(const std::string& line) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::cerr << program_ << ": " << line << '\n' << std::flush;
}

}  // namespace simtools
