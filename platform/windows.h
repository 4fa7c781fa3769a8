// Hidden windows with a window procedure, posted messages, registered window messages and
// window timers, on top of Qt's event loop. Messages are dispatched on the application thread
// whenever it processes events; PostMessage is safe from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

using HWND = uintptr_t;  // 0 is no window
using UINT = unsigned;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_USER = 0x0400;
constexpr WPARAM SC_MINIMIZE = 0xF020;

// A window procedure must not throw: an exception cannot cross the event dispatch. Procedures
// that can fail store the error and let the waiting caller raise it.
using TWndProc = std::function<LRESULT(HWND window, UINT message, WPARAM wParam, LPARAM lParam)>;

// Creates a hidden window of the given class name (for FindWindow) served by proc.
HWND AllocateHWnd(TWndProc proc, const std::string& className = "");
void DeallocateHWnd(HWND window);
bool IsWindow(HWND window);

// Queues a message for the window; false when there is no such window. Any thread.
bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Calls the window procedure at once (application thread only); 0 when there is no window.
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The same name (case-insensitive) always gives the same number, from 0xC000 up.
UINT RegisterWindowMessage(const std::string& name);

// WM_TIMER with wParam = id every ms milliseconds while events are dispatched.
uintptr_t SetTimer(HWND window, uintptr_t id, UINT ms);
bool KillTimer(HWND window, uintptr_t id);

// The first window of that class, or 0.
HWND FindWindow(const std::string& className);

inline uint16_t LoWord(uintptr_t v) { return static_cast<uint16_t>(v & 0xFFFF); }
inline uint16_t HiWord(uintptr_t v) { return static_cast<uint16_t>((v >> 16) & 0xFFFF); }
inline LPARAM MakeLParam(uint16_t low, uint16_t high) {
  return static_cast<LPARAM>((static_cast<uint32_t>(high) << 16) | low);
}
