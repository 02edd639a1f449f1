// Name conversions of the file layer (internal).
#pragma once

#include <string>

namespace transfer {

// A PC name component (UTF-8) as a recorder name component (Windows-1252):
// "\" and control characters become "_", "." and ".." become "_" and "__".
std::string RecorderComponentFromPc(const std::string& utf8Name);

// True when one of the "/"-separated components of a PC path is "..".
bool HasParentComponent(const std::string& pcPath);

// What a PC object is, from its st_mode, for messages: "a named pipe", "a
// socket", "a device", "a folder", "a regular file", else "not a regular file".
std::string KindOfFile(unsigned mode);

// The message box of the file layer (exclamation icon, OK).
void Tell(const std::string& text);

// The reason of a failed PC file call (its errno) in the user's words: the
// system's text, a full disk said as such ("the disk is full (No space left
// on device)").
std::string PcFailureText(int error);

// The text of a recorder name for the screen.
std::string Shown(const std::string& recorderName);

}  // namespace transfer
