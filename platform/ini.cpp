// INI profile files: one value read or written at a time, with the matching
// rules of the classic private-profile functions.
#include "platform/internal.h"
#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

constexpr size_t kMaxValue = 511;

std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

bool SameName(std::string_view a, std::string_view b) {
  a = Trim(a);
  b = Trim(b);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// One line of the file, without its line break.
struct Line {
  size_t begin = 0;      // offset of the line in the text
  size_t end = 0;        // offset of its line break (or the text's end)
  size_t next = 0;       // offset of the following line
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    Line line;
    line.begin = pos;
    if (nl == std::string::npos) {
      line.end = line.next = text.size();
    } else {
      line.end = (nl > pos && text[nl - 1] == '\r') ? nl - 1 : nl;
      line.next = nl + 1;
    }
    lines.push_back(line);
    pos = line.next;
  }
  return lines;
}

// The section name of a header line "[name]", or false.
bool SectionOf(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (line.empty() || line[0] != '[') return false;
  size_t close = line.find(']');
  name = close == std::string_view::npos ? line.substr(1) : line.substr(1, close - 1);
  return true;
}

// Key of a "key=value" line, or false.
bool KeyOf(std::string_view line, std::string_view& key, std::string_view& value) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = line.substr(0, eq);
  value = line.substr(eq + 1);
  return true;
}

struct Position {
  int sectionLine = -1;   // header line of the first matching section
  int keyLine = -1;       // first matching key line in it
  int lastLine = -1;      // last non-blank line of the section (header included)
};

Position Find(const std::string& text, const std::vector<Line>& lines,
              const std::string& section, const std::string& key) {
  Position pos;
  bool inside = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line(text.data() + lines[i].begin, lines[i].end - lines[i].begin);
    std::string_view name;
    if (SectionOf(line, name)) {
      if (inside) break;                     // the first matching section only
      if (SameName(name, section)) {
        inside = true;
        pos.sectionLine = pos.lastLine = static_cast<int>(i);
      }
      continue;
    }
    if (!inside) continue;
    if (!Trim(line).empty()) pos.lastLine = static_cast<int>(i);
    std::string_view k, v;
    if (pos.keyLine < 0 && KeyOf(line, k, v) && SameName(k, key)) pos.keyLine = static_cast<int>(i);
  }
  return pos;
}

// The whole file; a missing file is no failure (exists false). Read through
// PcFileOpen: a pipe or device at the name is refused, never waited on.
bool ReadFile(const std::string& path, std::string& text, bool& exists) {
  exists = false;
  if (PcFileRead(path, text, int64_t(64) << 20)) {
    exists = true;
    return true;
  }
  return LastError() == ENOENT;
}

}  // namespace

std::string IniRead(const std::string& file, const std::string& section,
                    const std::string& key) {
  std::string text;
  bool exists;
  if (!ReadFile(file, text, exists) || !exists) return "";
  return IniValue(text, section, key);
}

std::string IniValue(const std::string& text, const std::string& section,
                     const std::string& key) {
  std::vector<Line> lines = SplitLines(text);
  Position pos = Find(text, lines, section, key);
  if (pos.keyLine < 0) return "";
  const Line& l = lines[pos.keyLine];
  std::string_view line(text.data() + l.begin, l.end - l.begin);
  std::string_view k, value;
  KeyOf(line, k, value);
  value = Trim(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  if (value.size() > kMaxValue) value = value.substr(0, kMaxValue);
  return std::string(value);
}

bool IniWrite(const std::string& file, const std::string& section,
              const std::string& key, const std::string& value) {
  std::string text;
  bool exists;
  if (!ReadFile(file, text, exists)) return false;
  const std::string out = IniEdited(text, section, key, value);
  // A new file beside it renamed over the name: never written through a
  // link someone put there, never half written, its mode kept.
  return PcFileReplace(file, out.data(), out.size());
}

std::string IniEdited(const std::string& text, const std::string& section,
                      const std::string& key, const std::string& value) {
  // A line break inside a name or value would split the entry and could
  // plant other keys or sections in the file: take it as a blank.
  auto oneLine = [](std::string s) {
    for (char& c : s)
      if (c == '\r' || c == '\n') c = ' ';
    return s;
  };
  const std::string sec = oneLine(section), k = oneLine(key), v = oneLine(value);

  const bool crlf = text.find("\r\n") != std::string::npos;
  const std::string eol = crlf ? "\r\n" : "\n";
  const std::string entry = k + "=" + v;

  std::vector<Line> lines = SplitLines(text);
  Position pos = Find(text, lines, sec, k);
  std::string out;
  if (pos.keyLine >= 0) {
    const Line& l = lines[pos.keyLine];
    out = text.substr(0, l.begin) + entry + text.substr(l.end);
  } else if (pos.sectionLine >= 0) {
    const Line& l = lines[pos.lastLine];
    if (l.next == l.end)          // the last line of the file has no line break
      out = text + eol + entry + eol;
    else
      out = text.substr(0, l.next) + entry + eol + text.substr(l.next);
  } else {
    out = text;
    if (!out.empty() && out.back() != '\n') out += eol;
    out += "[" + sec + "]" + eol + entry + eol;
  }
  return out;
}

}  // namespace platform
