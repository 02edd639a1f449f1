#include "core/settings.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "core/error_handler.h"
#include "platform/platform.h"

namespace core {

namespace {
// What a 512-byte buffer takes: at most 511 characters, up to the first
// zero byte.
std::string AsBufferTakes(std::string value) {
  if (value.size() > 511) value.resize(511);
  const size_t zero = value.find('\0');
  if (zero != std::string::npos) value.resize(zero);
  return value;
}
}  // namespace

std::string INIGetString(const std::string& file, const std::string& section,
                         const std::string& key) {
  return AsBufferTakes(platform::IniRead(file, section, key));
}

void INISetString(const std::string& file, const std::string& section, const std::string& key,
                  const std::string& value) {
  platform::IniWrite(file, section, key, value);
}

namespace {
std::string g_appDir;            // explicit setting; "" = default
bool g_settingsInCurrentFolder = false;

std::string WithSlash(std::string folder) {
  if (folder.empty()) return folder;
  if (folder.back() != '/') folder += '/';
  return folder;
}
}  // namespace

const std::string& AppDir() {
  if (g_appDir.empty()) {
    const char* env = std::getenv("QUENBRIX_APPDIR");
    g_appDir = WithSlash(env && *env ? std::string(env) : platform::ExeDir());
    if (g_appDir.empty()) g_appDir = "./";
  }
  return g_appDir;
}

void SetAppDir(const std::string& folder) { g_appDir = WithSlash(folder); }

void SetSettingsInCurrentFolder(bool currentFolder) { g_settingsInCurrentFolder = currentFolder; }

std::string SettingsFile() {
  return g_settingsInCurrentFolder ? std::string("./Quenbrix.ini") : AppDir() + "Quenbrix.ini";
}

bool SettingOn(const std::string& text) { return text == "1"; }

double NumericValue(const std::string& text) {
  size_t i = 0;
  const size_t n = text.size();
  auto skipBlanks = [&] {
    while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n'))
      ++i;
  };
  skipBlanks();
  // &H hexadecimal, &O octal
  if (i + 1 < n && text[i] == '&' && (text[i + 1] == 'H' || text[i + 1] == 'h' ||
                                      text[i + 1] == 'O' || text[i + 1] == 'o')) {
    int base = (text[i + 1] == 'H' || text[i + 1] == 'h') ? 16 : 8;
    i += 2;
    double value = 0;
    for (; i < n; ++i) {
      int c = std::tolower(static_cast<unsigned char>(text[i]));
      int digit = std::isdigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : 99;
      if (digit >= base) break;
      value = value * base + digit;
    }
    return value;
  }
  // Decimal: sign, digits, ".", digits, exponent; read in the C way, whatever
  // the locale.
  std::string number;
  if (i < n && (text[i] == '+' || text[i] == '-')) number.push_back(text[i++]);
  bool digits = false;
  while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) {
    number.push_back(text[i++]);
    digits = true;
  }
  if (i < n && text[i] == '.') {
    number.push_back(text[i++]);
    while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) {
      number.push_back(text[i++]);
      digits = true;
    }
  }
  if (!digits) return 0.0;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    std::string exponent = "e";
    if (j < n && (text[j] == '+' || text[j] == '-')) exponent.push_back(text[j++]);
    bool expDigits = false;
    while (j < n && std::isdigit(static_cast<unsigned char>(text[j]))) {
      exponent.push_back(text[j++]);
      expDigits = true;
    }
    if (expDigits) number += exponent;
  }
  if (number[0] == '+') number.erase(0, 1);
  double value = 0.0;
  std::from_chars(number.data(), number.data() + number.size(), value);
  return value;
}

int32_t WholeValueInRange(const std::string& text, int32_t low, int32_t high, int32_t fallback) {
  const double value = std::nearbyint(NumericValue(text));
  // Compared as a double first: a cast of an out-of-range value is undefined.
  if (!(value >= low && value <= high)) return fallback;
  return static_cast<int32_t>(value);
}

// The settings file in the current folder counts only when nobody but the
// user or root could have put it there or changed it; it is read once, and
// what is judged is what is read.
std::string GetSetting(const std::string& section, const std::string& key) {
  if (!g_settingsInCurrentFolder) return INIGetString(SettingsFile(), section, key);
  std::string text;
  if (!ReadTrustedConfig(SettingsFile(), text)) return std::string();
  return AsBufferTakes(platform::IniValue(text, section, key));
}

void SetSetting(const std::string& section, const std::string& key, const std::string& value) {
  if (!g_settingsInCurrentFolder) {
    INISetString(SettingsFile(), section, key, value);
    return;
  }
  std::string text;
  if (!ReadTrustedConfig(SettingsFile(), text)) return;
  const std::string out = platform::IniEdited(text, section, key, value);
  platform::PcFileReplace(SettingsFile(), out.data(), out.size());
}

bool GetSettingOn(const std::string& section, const std::string& key) {
  return SettingOn(GetSetting(section, key));
}

}  // namespace core
