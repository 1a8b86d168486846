#pragma once
// The message-only window that owns a thread's timers and receives its sockets'
// notifications. There is one per thread, shared by everything created there.
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <unordered_map>
#include <utility>

#include "windows/host/win32.h"

#include <unknwn.h>

namespace corvane::win {

class MessageTarget {
 public:
  virtual void OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
  // OnMessage threw: no exception may unwind through the window system's frames,
  // so the target learns of it here instead. Must not throw.
  virtual void OnException(std::exception_ptr) noexcept {}

 protected:
  // `owner` is the COM object the target works for, if any. The window holds a
  // reference to it for the whole of every message it delivers to the target: an
  // event raised from there may let its handler drop the object's last reference
  // while the object's code, and the target's, still run.
  explicit MessageTarget(IUnknown* owner) noexcept : owner_(owner) {}
  ~MessageTarget() = default;

 private:
  friend class MessageWindow;
  IUnknown* const owner_;
};

class MessageWindow : public std::enable_shared_from_this<MessageWindow> {
 public:
  // The window of the calling thread, created on first use.
  static std::shared_ptr<MessageWindow> forThisThread();
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  HWND handle() const { return hwnd_; }

  // Routes the returned message number, and WM_TIMER with that number as timer
  // id, to `target` until released. Numbers are handed out round-robin over the
  // WM_APP range, so a message still queued for a released number does not reach
  // the next claimant.
  UINT claim(MessageTarget& target);
  void release(UINT number);

  // Work for the owner of `number` that the next pump delivers, as the message
  // `number` with `lParam`, before it looks at the queue. Unlike a posted message
  // this costs no round trip to the window system, and a pump that finds work
  // here does not wait. Only the thread's own calls can hand in work this way.
  void defer(UINT number, LPARAM lParam) { deferred_.emplace_back(number, lParam); }
  bool hasDeferred() const { return !deferred_.empty(); }
  // Delivers work to numbers still claimed, at most as many pieces as there were
  // at the call, so a target that keeps handing in more cannot hold a pump.
  void deliverDeferred();

  // Counts the pumps of the thread's hosts, so a target can tell whether one ran
  // since it last acted.
  void pumpBegins() { ++pumps_; }
  uint64_t pumps() const { return pumps_; }
  // Counts the receipts of data on the thread's sockets: a pump delivers at most
  // one, so the control sees what came before the next is taken.
  void received() { ++receipts_; }
  uint64_t receipts() const { return receipts_; }

 private:
  MessageWindow();
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  bool route(UINT number, UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
  std::unordered_map<UINT, MessageTarget*> targets_;
  std::deque<std::pair<UINT, LPARAM>> deferred_;
  UINT next_ = WM_APP;
  uint64_t pumps_ = 0;
  uint64_t receipts_ = 0;
};

}  // namespace corvane::win
