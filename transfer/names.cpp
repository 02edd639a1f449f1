#include "transfer/names.h"

#include <sys/stat.h>

#include <cerrno>

#include "core/pc_helpers.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace transfer {

std::string RecorderComponentFromPc(const std::string& utf8Name) {
  std::string name = platform::Utf8ToCp1252(utf8Name);
  for (char& ch : name) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || c == '\\') ch = '_';
  }
  if (name == ".") name = "_";
  if (name == "..") name = "__";
  return name;
}

bool HasParentComponent(const std::string& pcPath) {
  size_t start = 0;
  while (start <= pcPath.size()) {
    size_t end = pcPath.find('/', start);
    if (end == std::string::npos) end = pcPath.size();
    if (pcPath.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

std::string KindOfFile(unsigned mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

std::string PcFailureText(int error) {
  const std::string text = platform::PcFileErrorText(error);
  return error == ENOSPC || error == EDQUOT ? "the disk is full (" + text + ")" : text;
}

void Tell(const std::string& text) {
  ui::Current().MsgBox(text, ui::Buttons::OK, ui::Icon::Exclamation);
}

std::string Shown(const std::string& recorderName) { return platform::Cp1252ToUtf8(recorderName); }

}  // namespace transfer
