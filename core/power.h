// Power, priority and window helpers for long jobs.
//
// Power actions go through platform::Power (tests replace its handler). The
// window helpers reach the widgets through hooks that the window code
// registers (core has no Qt); without a hook they do nothing.
#pragma once

#include <cstdint>
#include <functional>

namespace core {

// Kept for the callers' flow: on Linux the rights are the power service's.
void AdjustToken();
// Puts the PC into hibernation (forced as asked; wake events are the
// system's business).
void Hibernate(bool force, bool disableWakeEvents);
// Shuts the PC down; force closes applications without asking.
void Shutdown(bool force);

// Priority of the own process: 0 idle, 1 normal, 2 high; other levels change
// nothing.
void ProcessPrioritySetOwn(int32_t level);

// A colour as RGB(r, g, b) builds it: 0x00BBGGRR.
constexpr int32_t Rgb(int r, int g, int b) {
  return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16);
}

// A window (QWidget*) as the window code hands it over.
using WindowHandle = void*;
using WindowOnTopHook = std::function<void(WindowHandle window, bool onTop)>;
// `background` tells which colour is set; rgb is 0x00BBGGRR.
using ProgressColorHook =
    std::function<void(WindowHandle progressBar, bool background, int32_t rgb)>;
// Register the hooks (window code, once); return the previous ones.
WindowOnTopHook SetWindowOnTopHook(WindowOnTopHook hook);
ProgressColorHook SetProgressColorHook(ProgressColorHook hook);

// Makes the window stay on top of all others, or not.
void WindowOnTop(WindowHandle window, bool onTop);
// Sets the background colour (when >= 0), then the bar colour (when >= 0);
// a negative colour leaves that colour as it is.
void SetProgressBarColor(WindowHandle progressBar, int32_t barColor, int32_t backColor);

}  // namespace core
