#pragma once
// The message-only window that owns a thread's timers and receives its sockets'
// notifications. There is one per thread, shared by everything created there.
#include <memory>
#include <unordered_map>

#include "windows/host/win32.h"

namespace corvane::win {

class MessageTarget {
 public:
  virtual void OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

 protected:
  ~MessageTarget() = default;
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

 private:
  MessageWindow();
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  bool route(UINT number, UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
  std::unordered_map<UINT, MessageTarget*> targets_;
  UINT next_ = WM_APP;
};

}  // namespace corvane::win
