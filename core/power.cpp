#include "core/power.h"

#include "core/error_handler.h"
#include "platform/platform.h"

namespace core {

namespace {
WindowOnTopHook& OnTopHook() {
  static WindowOnTopHook hook;
  return hook;
}
ProgressColorHook& ColorHook() {
  static ProgressColorHook hook;
  return hook;
}
}  // namespace

void AdjustToken() {
  ProcScope scope("AdjustToken");
  // Nothing to enable: whether the PC may be powered off is decided by the
  // power service the platform asks.
}

void Hibernate(bool force, bool disableWakeEvents) {
  ProcScope scope("Hibernate");
  (void)force;
  (void)disableWakeEvents;
  AdjustToken();
  platform::Power(platform::PowerAction::Hibernate);
}

void Shutdown(bool force) {
  ProcScope scope("Shutdown");
  AdjustToken();
  platform::Power(force ? platform::PowerAction::ForcedShutdown
                        : platform::PowerAction::Shutdown);
}

void ProcessPrioritySetOwn(int32_t level) {
  ProcScope scope("ProcessPrioritySetOwn");
  switch (level) {
    case 0: platform::SetOwnPriority(0); break;   // idle
    case 1: platform::SetOwnPriority(2); break;   // normal
    case 2: platform::SetOwnPriority(5); break;   // high
    default: break;
  }
}

WindowOnTopHook SetWindowOnTopHook(WindowOnTopHook hook) {
  WindowOnTopHook previous = std::move(OnTopHook());
  OnTopHook() = std::move(hook);
  return previous;
}

ProgressColorHook SetProgressColorHook(ProgressColorHook hook) {
  ProgressColorHook previous = std::move(ColorHook());
  ColorHook() = std::move(hook);
  return previous;
}

void WindowOnTop(WindowHandle window, bool onTop) {
  ProcScope scope("WindowOnTop");
  if (OnTopHook()) OnTopHook()(window, onTop);
}

void SetProgressBarColor(WindowHandle progressBar, int32_t barColor, int32_t backColor) {
  ProcScope scope("SetProgressBarColor");
  if (!ColorHook()) return;
  if (backColor >= 0) ColorHook()(progressBar, true, backColor);
  if (barColor >= 0) ColorHook()(progressBar, false, barColor);
}

}  // namespace core
