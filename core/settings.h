// Settings files and the program folder.
//
// The main program keeps Quenbrix.ini in its program folder (AppDir); the
// check-and-repair program reads the file of the same name in the current
// folder (SetSettingsInCurrentFolder(true)). Boolean settings are on only for
// the exact text "1"; numeric settings are the numeric value of the text,
// an empty text giving 0.
#pragma once

#include <cstdint>
#include <string>

namespace core {

// The value of key in section of file; "" when the file, section or key is
// missing. Values are cut at 511 characters. Keys are passed as they stand
// (some end with a blank: "LCol01Width ").
std::string INIGetString(const std::string& file, const std::string& section,
                         const std::string& key);
// Writes value under key in section of file, creating file, section or key.
// A write that cannot be done leaves the file as it was; nothing is reported.
void INISetString(const std::string& file, const std::string& section,
                  const std::string& key, const std::string& value);

// The program folder, always with a trailing "/". Default: the folder of the
// running executable; the environment variable QUENBRIX_APPDIR overrides it,
// and SetAppDir overrides both (tests point it at a temp folder).
const std::string& AppDir();
// Sets AppDir ("" goes back to the default); a missing trailing "/" is added.
void SetAppDir(const std::string& folder);

// Where Quenbrix.ini is read and written: AppDir + "Quenbrix.ini", or
// "Quenbrix.ini" in the current folder when chosen; such a file is used
// only when core::IgnoredConfigFile lets it (else it reads as absent).
void SetSettingsInCurrentFolder(bool currentFolder);
std::string SettingsFile();

// A boolean setting: on only for the exact text "1".
bool SettingOn(const std::string& text);
// The numeric value of a text, read as far as it is a number: leading blanks
// skipped, optional sign, digits, "." and decimals, exponent; "&H1F" hex.
// "" and non-numbers give 0; "12abc" gives 12.
double NumericValue(const std::string& text);
// NumericValue rounded to the nearest whole number when that lies in
// [low, high]; `fallback` for anything else (a value no whole number of that
// range holds, such as 1e12 in a hand-edited file).
int32_t WholeValueInRange(const std::string& text, int32_t low, int32_t high, int32_t fallback);

// Shortcuts on SettingsFile().
std::string GetSetting(const std::string& section, const std::string& key);
void SetSetting(const std::string& section, const std::string& key, const std::string& value);
bool GetSettingOn(const std::string& section, const std::string& key);

}  // namespace core
