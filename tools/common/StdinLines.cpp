#include "tools/common/StdinLines.h"

#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>

namespace simtools {

struct StdinLines::State {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> lines;
  bool ended = false;
  bool interrupted = false;
};

StdinLines::StdinLines() : state_(std::make_shared<State>()) {
  std::thread([state = state_]() {
    std::string line;
    for (;;) {
      bool more = false;
      try {
        more = static_cast<bool>(std::getline(std::cin, line));
      } catch (...) {
        more = false;
      }
      std::lock_guard<std::mutex> guard(state->mutex);
      if (!more || state->interrupted) {
        state->ended = true;
        state->changed.notify_all();
        return;
      }
      state->lines.push_back(line);
      state->changed.notify_all();
    }
  }).detach();
}

bool StdinLines::Next(std::string* line) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->changed.wait(
      lock, [&] { return state_->interrupted || !state_->lines.empty() || state_->ended; });
  if (state_->interrupted || state_->lines.empty()) return false;
  *line = std::move(state_->lines.front());
  state_->lines.pop_front();
  return true;
}

void StdinLines::Interrupt() {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->interrupted = true;
  state_->changed.notify_all();
}

}  // namespace simtools
