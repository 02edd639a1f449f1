// Power actions (hibernate, shut down) through one replaceable handler.
#include "platform/platform.h"

#include <mutex>

namespace platform {

namespace {

bool DefaultPowerHandler(PowerAction action) {
  switch (action) {
    case PowerAction::Hibernate:
      return StartProgram("systemctl", {"hibernate"});
    case PowerAction::Shutdown:
      return StartProgram("systemctl", {"poweroff"});
    case PowerAction::ForcedShutdown:
      return StartProgram("systemctl", {"poweroff", "-i", "--force"});
  }
  return false;
}

std::mutex& HandlerMutex() {
  static std::mutex m;
  return m;
}

PowerHandler& CurrentHandler() {
  static PowerHandler handler = DefaultPowerHandler;
  return handler;
}

}  // namespace

bool Power(PowerAction action) {
  PowerHandler handler;
  {
    std::lock_guard<std::mutex> lock(HandlerMutex());
    handler = CurrentHandler();
  }
  if (!handler) return false;
  return handler(action);
}

PowerHandler SetPowerHandler(PowerHandler handler) {
  std::lock_guard<std::mutex> lock(HandlerMutex());
  PowerHandler previous = std::move(CurrentHandler());
  CurrentHandler() = handler ? std::move(handler) : PowerHandler(DefaultPowerHandler);
  return previous;
}

}  // namespace platform
