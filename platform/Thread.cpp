// The OS thread is started by Resume, so a thread that is never resumed has no OS thread at
// all: it cannot run, and destroying it needs no join.
// Priority::AboveNormal asks for nice -1 on the new thread (Linux nice values are per
// thread). Without CAP_SYS_NICE that is refused and the thread runs at normal priority,
// which is what the ordinary time-sharing scheduler offers anyway.
#include "platform/Thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/DebugOutput.h"

namespace platform {

struct Thread::State {
  // Constant after construction.
  std::string name;
  Procedure procedure = nullptr;
  void* arg = nullptr;
  Priority priority = Priority::Normal;

  // Guarded by mutex.
  std::mutex mutex;
  std::thread thread;  // stored by Resume under mutex, before the procedure runs; then owner only
  std::condition_variable ended;
  bool finished = false;
  unsigned exitCode = 0;
};

Thread::Thread(std::string name, Procedure procedure, void* arg, Priority priority)
    : state_(std::make_shared<State>()) {
  state_->name = std::move(name);
  state_->procedure = procedure;
  state_->arg = arg;
  state_->priority = priority;
}

Thread::~Thread() {
  if (!state_->thread.joinable()) return;
  if (state_->thread.get_id() == std::this_thread::get_id()) {
    state_->thread.detach();  // destroyed by its own procedure: it ends by itself
  } else {
    state_->thread.join();
  }
}

void Thread::Resume() {
  const std::shared_ptr<State> state = state_;
  // Held until the std::thread is stored, so that a procedure which destroys its own Thread
  // object finds it complete.
  std::unique_lock<std::mutex> lock(state->mutex);
  if (state->thread.joinable() || state->finished) return;  // a thread runs once
  try {
    state->thread = std::thread([state] {
      { std::lock_guard<std::mutex> started(state->mutex); }
      // The kernel keeps 15 characters of a thread name.
      ::pthread_setname_np(::pthread_self(), state->name.substr(0, 15).c_str());
      if (state->priority == Priority::AboveNormal) {
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), -1);  // best effort
      }
      const unsigned code = state->procedure != nullptr ? state->procedure(state->arg) : 0;
      {
        std::lock_guard<std::mutex> guard(state->mutex);
        state->exitCode = code;
        state->finished = true;
      }
      state->ended.notify_all();
    });
  } catch (const std::system_error& e) {
    // A thread that could not start counts as ended, so that waits for it return.
    state->finished = true;
    state->exitCode = static_cast<unsigned>(-1);
    lock.unlock();
    state->ended.notify_all();
    DebugOutput("Thread '" + state->name + "' could not be started: " + e.what());
  }
}

bool Thread::Join(int timeoutMs) {
  {
    std::unique_lock<std::mutex> lock(state_->mutex);
    auto done = [this] { return state_->finished; };
    if (timeoutMs < 0) {
      state_->ended.wait(lock, done);
    } else if (!state_->ended.wait_for(lock, std::chrono::milliseconds(timeoutMs), done)) {
      return false;
    }
  }
  // The procedure has returned; the OS thread is leaving, so this join is short.
  if (state_->thread.joinable()) state_->thread.join();
  return true;
}

unsigned Thread::ExitCode() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->exitCode;
}

void SleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace platform
