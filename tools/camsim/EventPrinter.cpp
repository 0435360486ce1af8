#include "tools/camsim/EventPrinter.h"

#include <iostream>

namespace camsim {

void EventPrinter::Event(const std::string& line) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::cout << line << '\n' << std::flush;
}

void EventPrinter::Error(const std::string& line) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::cerr << "vestrel-camsim: " << line << '\n' << std::flush;
}

}  // namespace camsim
