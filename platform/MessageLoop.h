// The main thread's message queue: the stand-in for a hidden window and its message loop.
// Post and PostQuit are safe from any thread (and from the signal relay). Everything else
// (timers, RunModal, PumpOne) belongs to the thread that runs the loop. Handlers run on
// that thread, never under the queue lock.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

using MessageId = unsigned int;
using WParam = std::uintptr_t;
using LParam = std::intptr_t;

// Message numbers follow the host system so that handlers read as they would there.
constexpr MessageId kMsgDestroy = 0x0002;
constexpr MessageId kMsgClose = 0x0010;
constexpr MessageId kMsgQuit = 0x0012;
constexpr MessageId kMsgTimer = 0x0113;
constexpr MessageId kMsgSysCommand = 0x0112;
constexpr MessageId kMsgUser = 0x0400;

class MessageHandler {
 public:
  virtual ~MessageHandler() = default;
  // Called on the loop thread for every dispatched message, timers included (wParam = id).
  virtual void HandleMessage(MessageId message, WParam wParam, LParam lParam) = 0;
};

class MessageLoop {
 public:
  MessageLoop();
  ~MessageLoop();
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  // The loop that stands for the application's main window, or null when there is none.
  // Messages posted while there is none are lost, as with a missing window.
  static MessageLoop* Main();
  static void SetMain(MessageLoop* loop);
  // Any thread. Posts to the main loop when there is one (false when not). Unlike
  // Main()->Post(...), it cannot race with the main loop's destruction.
  static bool PostToMain(MessageId message, WParam wParam, LParam lParam);

  // Any thread. Messages are dispatched in the order posted.
  void Post(MessageId message, WParam wParam, LParam lParam);
  // Any thread. Ends RunModal with this exit code once the message is reached.
  void PostQuit(int exitCode);

  // Loop thread. A timer posts kMsgTimer with its id every periodMs; setting an id again
  // restarts it with the new period. Like the host's timers, ticks do not pile up.
  void SetTimer(unsigned id, unsigned periodMs);
  void KillTimer(unsigned id);

  // Loop thread. Dispatches to the handler until a quit message (returns its code) or until
  // a close message has been dispatched (returns 0).
  int RunModal(MessageHandler& handler);
  // Loop thread. Dispatches at most one pending message (or due timer) to the handler of the
  // current or last modal run; returns false when nothing was pending. Used by waits that
  // must keep serving messages. A quit it reaches is not dispatched; a quit or a dispatched
  // close ends the modal run in progress, if any, once control returns to it.
  bool PumpOne();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
