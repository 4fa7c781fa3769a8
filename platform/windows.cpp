#include "platform/windows.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimerEvent>

#include <cstdio>
#include <exception>
#include <map>
#include <mutex>

#include "toolkit/strutils.h"

namespace {

const QEvent::Type kMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class MessageEvent : public QEvent {
 public:
  MessageEvent(UINT m, WPARAM w, LPARAM l) : QEvent(kMessageEvent), message(m), wParam(w), lParam(l) {}
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

class HiddenWindow : public QObject {
 public:
  HiddenWindow(HWND h, TWndProc p, std::string cls) : handle(h), proc(std::move(p)), className(std::move(cls)) {}

  // A procedure may pump events, and a handler run from that pump may deallocate this very
  // window: the window (and the procedure with everything it captured) then lives on until
  // the outermost call has returned.
  LRESULT Call(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    ++depth;
    try {
      result = proc(handle, message, wParam, lParam);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "mailcart: window procedure failed: %s\n", e.what());
    }
    if (--depth == 0 && closed) delete this;  // Qt allows deleting the receiver in event()
    return result;
  }

  // Deletes the window now, or marks it closed while one of its calls is still running.
  void Close() {
    for (const auto& [id, qtId] : timers) killTimer(qtId);
    timers.clear();
    closed = true;
    if (depth == 0) delete this;
  }

  bool event(QEvent* e) override {
    if (e->type() == kMessageEvent) {
      auto* m = static_cast<MessageEvent*>(e);
      if (!closed) Call(m->message, m->wParam, m->lParam);  // a closed window drops its queue
      return true;
    }
    return QObject::event(e);
  }

  void timerEvent(QTimerEvent* e) override {
    for (const auto& [id, qtId] : timers)
      if (qtId == e->timerId()) {
        Call(WM_TIMER, id, 0);
        return;
      }
  }

  HWND handle;
  TWndProc proc;
  std::string className;
  std::map<uintptr_t, int> timers;  // user id -> Qt timer id
  int depth = 0;                    // calls of proc currently on the stack
  bool closed = false;
};

struct Windows {
  std::mutex mutex;
  std::map<HWND, HiddenWindow*> byHandle;
  HWND next = 0x100;
  std::map<std::string, UINT> registered;
};

Windows& windows() {
  static Windows w;
  return w;
}

HiddenWindow* Find(HWND window) {
  Windows& w = windows();
  std::lock_guard lock(w.mutex);
  auto it = w.byHandle.find(window);
  return it == w.byHandle.end() ? nullptr : it->second;
}

}  // namespace

HWND AllocateHWnd(TWndProc proc, const std::string& className) {
  Windows& w = windows();
  std::lock_guard lock(w.mutex);
  const HWND h = w.next++;
  w.byHandle[h] = new HiddenWindow(h, std::move(proc), className);
  return h;
}

void DeallocateHWnd(HWND window) {
  HiddenWindow* hw = nullptr;
  {
    Windows& w = windows();
    std::lock_guard lock(w.mutex);
    auto it = w.byHandle.find(window);
    if (it == w.byHandle.end()) return;
    hw = it->second;
    w.byHandle.erase(it);
  }
  hw->Close();  // Qt drops the events still queued for it once it is deleted
}

bool IsWindow(HWND window) { return Find(window) != nullptr; }

bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Windows& w = windows();
  std::lock_guard lock(w.mutex);  // held so that the window cannot go away mid-post
  auto it = w.byHandle.find(window);
  if (it == w.byHandle.end()) return false;
  QCoreApplication::postEvent(it->second, new MessageEvent(message, wParam, lParam));
  return true;
}

LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  HiddenWindow* hw = Find(window);
  return hw == nullptr ? 0 : hw->Call(message, wParam, lParam);
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

UINT RegisterWindowMessage(const std::string& name) {
  Windows& w = windows();
  std::lock_guard lock(w.mutex);
  const std::string key = LowerCase(name);
  auto it = w.registered.find(key);
  if (it != w.registered.end()) return it->second;
  const UINT number = 0xC000 + static_cast<UINT>(w.registered.size());
  w.registered.emplace(key, number);
  return number;
}

uintptr_t SetTimer(HWND window, uintptr_t id, UINT ms) {
  HiddenWindow* hw = Find(window);
  if (hw == nullptr) return 0;
  auto it = hw->timers.find(id);
  if (it != hw->timers.end()) hw->killTimer(it->second);
  hw->timers[id] = hw->startTimer(static_cast<int>(ms));
  return id;
}

bool KillTimer(HWND window, uintptr_t id) {
  HiddenWindow* hw = Find(window);
  if (hw == nullptr) return false;
  auto it = hw->timers.find(id);
  if (it == hw->timers.end()) return false;
  hw->killTimer(it->second);
  hw->timers.erase(it);
  return true;
}

HWND FindWindow(const std::string& className) {
  Windows& w = windows();
  std::lock_guard lock(w.mutex);
  for (const auto& [h, hw] : w.byHandle)
    if (hw->className == className) return h;
  return 0;
}
