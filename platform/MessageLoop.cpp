// Posted messages wait in a queue under State::mutex; the loop thread takes one out under
// the lock and dispatches it after releasing it, so a handler may post, set timers or pump.
// Timers are not queued: when no posted message waits, the due timer with the earliest
// deadline yields one kMsgTimer and is re-armed one period from then, so a slow handler
// never finds a backlog of ticks.
#include "platform/MessageLoop.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Like the host's timers, shorter periods are raised to this.
constexpr unsigned kMinimumPeriodMs = 10;

struct Message {
  MessageId id;
  WParam wParam;
  LParam lParam;
};

struct Timer {
  std::chrono::milliseconds period;
  Clock::time_point due;
};

std::mutex g_mainMutex;  // guards g_main
MessageLoop* g_main = nullptr;

}  // namespace

struct MessageLoop::State {
  // Guarded by mutex.
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Message> queue;
  std::map<unsigned, Timer> timers;
  bool endPending = false;  // a quit or close was reached outside RunModal's own dispatch
  int endCode = 0;

  // Loop thread only.
  MessageHandler* handler = nullptr;  // of the current or last modal run
  int modalDepth = 0;                 // RunModal calls in progress

  // Takes the next message: a posted one first, else a due timer. With wait set, blocks
  // until there is one or an end is pending; returns false when there is none.
  bool Next(bool wait, Message* out) {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      if (!queue.empty()) {
        *out = queue.front();
        queue.pop_front();
        return true;
      }
      const Clock::time_point now = Clock::now();
      auto earliest = timers.end();
      for (auto it = timers.begin(); it != timers.end(); ++it) {
        if (earliest == timers.end() || it->second.due < earliest->second.due) earliest = it;
      }
      if (earliest != timers.end() && earliest->second.due <= now) {
        earliest->second.due = now + earliest->second.period;
        *out = Message{kMsgTimer, earliest->first, 0};
        return true;
      }
      if (!wait || endPending) return false;
      if (earliest == timers.end()) {
        changed.wait(lock);
      } else {
        changed.wait_until(lock, earliest->second.due);
      }
    }
  }

  // A quit or close found by PumpOne ends the modal run in progress once it regains control;
  // outside a modal run there is nothing to end.
  void RequestEnd(int code) {
    if (modalDepth == 0) return;
    std::lock_guard<std::mutex> guard(mutex);
    if (!endPending) {
      endPending = true;
      endCode = code;
    }
  }

  bool TakeEnd(int* code) {
    std::lock_guard<std::mutex> guard(mutex);
    if (!endPending) return false;
    endPending = false;
    *code = endCode;
    return true;
  }
};

MessageLoop::MessageLoop() : state_(std::make_unique<State>()) {}

MessageLoop::~MessageLoop() {
  std::lock_guard<std::mutex> guard(g_mainMutex);
  if (g_main == this) g_main = nullptr;
}

MessageLoop* MessageLoop::Main() {
  std::lock_guard<std::mutex> guard(g_mainMutex);
  return g_main;
}

void MessageLoop::SetMain(MessageLoop* loop) {
  std::lock_guard<std::mutex> guard(g_mainMutex);
  g_main = loop;
}

bool MessageLoop::PostToMain(MessageId message, WParam wParam, LParam lParam) {
  std::lock_guard<std::mutex> guard(g_mainMutex);
  if (g_main == nullptr) return false;
  g_main->Post(message, wParam, lParam);
  return true;
}

void MessageLoop::Post(MessageId message, WParam wParam, LParam lParam) {
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->queue.push_back(Message{message, wParam, lParam});
  }
  state_->changed.notify_all();
}

void MessageLoop::PostQuit(int exitCode) {
  Post(kMsgQuit, static_cast<WParam>(static_cast<LParam>(exitCode)), 0);
}

void MessageLoop::SetTimer(unsigned id, unsigned periodMs) {
  const std::chrono::milliseconds period(periodMs < kMinimumPeriodMs ? kMinimumPeriodMs : periodMs);
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->timers[id] = Timer{period, Clock::now() + period};
  }
  state_->changed.notify_all();
}

void MessageLoop::KillTimer(unsigned id) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->timers.erase(id);
}

int MessageLoop::RunModal(MessageHandler& handler) {
  MessageHandler* const outer = state_->handler;
  state_->handler = &handler;
  ++state_->modalDepth;
  int code = 0;
  for (;;) {
    if (state_->TakeEnd(&code)) break;
    Message m;
    if (!state_->Next(true, &m)) continue;  // an end became pending
    if (m.id == kMsgQuit) {
      code = static_cast<int>(static_cast<LParam>(m.wParam));
      break;
    }
    handler.HandleMessage(m.id, m.wParam, m.lParam);
    if (m.id == kMsgClose) {
      code = 0;
      break;
    }
  }
  --state_->modalDepth;
  if (outer != nullptr) state_->handler = outer;
  return code;
}

bool MessageLoop::PumpOne() {
  MessageHandler* const handler = state_->handler;
  if (handler == nullptr) return false;  // nobody to deliver to; leave the queue alone
  Message m;
  if (!state_->Next(false, &m)) return false;
  if (m.id == kMsgQuit) {
    // Quit is no window message: it only ends the modal run.
    state_->RequestEnd(static_cast<int>(static_cast<LParam>(m.wParam)));
    return true;
  }
  handler->HandleMessage(m.id, m.wParam, m.lParam);
  if (m.id == kMsgClose) state_->RequestEnd(0);
  return true;
}

}  // namespace platform
