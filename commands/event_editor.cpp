// The event editor (Form10) and the header text fields it edits.
#include "commands/event_editor.h"

#include <unistd.h>

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "commands/rec_header.h"
#include "core/cluster_io.h"
#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace commands {

namespace {

constexpr uint8_t kTextMark = 0x05;     // character-table mark before a text
constexpr uint8_t kStoredCR = 0x8D;
constexpr uint8_t kStoredLF = 0x8A;

// Bytes of image[start .. start + length) up to the first zero byte and
// never beyond the image; bytes below 32 are left out.
std::string ReadRange(const std::vector<uint8_t>& image, size_t start, size_t length) {
  std::string out;
  const size_t end = std::min(image.size(), start + length);
  for (size_t i = start; i < end; ++i) {
    const uint8_t b = image[i];
    if (b == 0) break;
    if (b < 32) continue;
    out += char(b);
  }
  return out;
}

// Stores `bytes` into image[start .. start + field), zero-padded; never more
// than `field` bytes.
void StoreField(std::vector<uint8_t>& image, size_t start, size_t field, const std::string& bytes) {
  const size_t n = std::min(bytes.size(), field);
  std::fill(image.begin() + long(start), image.begin() + long(start + field), uint8_t(0));
  std::memcpy(image.data() + start, bytes.data(), n);
}

std::string LengthLine(const char* what, size_t length, size_t limit) {
  return std::string("The ") + what + " is too long. Please remove at least " +
         std::to_string(length - limit) + " characters.\r\n";
}

const core::FileRec* Record(int side, int index) {
  core::CheckSideIndex(side);
  const core::DiskRec& d = core::Disk[side];
  if (index < 0 || index >= d.FileCount || size_t(index) >= d.Files.size()) return nullptr;
  return &d.Files[size_t(index)];
}

std::string Shown(int side, const core::FileRec& f) {
  return core::IsPCSide(side) ? f.Name : platform::Cp1252ToUtf8(f.Name);
}

void Warn(const std::string& text) {
  ui::Current().MsgBox(text, ui::Buttons::OK, ui::Icon::Exclamation);
}

// Reads exactly `length` bytes at offset 0 of an open file.
}  // namespace

EventTexts ReadEventTexts(const std::vector<uint8_t>& image) {
  EventTexts t;
  if (image.size() < size_t(kEventImageBytes)) return t;
  t.ServiceName = ReadRange(image, core::kRhServiceName, core::kRhServiceNameLength);
  const size_t shortLength =
      std::min<size_t>(image[size_t(core::kRhEventNameLength)], core::kRhEventNameField);
  t.ShortDescription = ReadRange(image, core::kRhEventName, shortLength);
  const size_t longLength = std::min<size_t>(
      core::GetBE16(image.data() + core::kRhEventTextLength), core::kRhEventTextField);
  std::string text = ReadRange(image, core::kRhEventText, longLength);
  for (char& c : text) {
    if (uint8_t(c) == kStoredCR) c = '\r';
    else if (uint8_t(c) == kStoredLF) c = '\n';
  }
  t.LongDescription = std::move(text);
  return t;
}

std::string EventTextLengthMessage(const EventTexts& texts) {
  std::string message;
  if (texts.ServiceName.size() > size_t(kMaxServiceName))
    message += LengthLine("service name", texts.ServiceName.size(), kMaxServiceName);
  if (texts.ShortDescription.size() > size_t(kMaxShortDescription))
    message += LengthLine("short event description", texts.ShortDescription.size(),
                          kMaxShortDescription);
  if (texts.LongDescription.size() > size_t(kMaxLongDescription))
    message += LengthLine("long event description", texts.LongDescription.size(),
                          kMaxLongDescription);
  return message;
}

void StoreEventTexts(std::vector<uint8_t>& image, const EventTexts& texts) {
  if (image.size() < size_t(kEventImageBytes)) return;
  // Service name: at most 23 characters, so that a zero byte follows.
  StoreField(image, core::kRhServiceName, core::kRhServiceNameLength,
             texts.ServiceName.substr(0, kMaxServiceName));

  // Short description: the length of one copy, then the copy twice and a zero.
  std::string s;
  if (!texts.ShortDescription.empty())
    s = char(kTextMark) + texts.ShortDescription.substr(0, kMaxShortDescription);
  image[size_t(core::kRhEventNameLength)] = uint8_t(s.size());
  std::string twice = s + s;
  twice += '\0';
  StoreField(image, core::kRhEventName, core::kRhEventNameField, twice);

  // Long description: the mark, the text and a zero, line ends recoded.
  std::string l;
  if (!texts.LongDescription.empty()) {
    l = char(kTextMark) + texts.LongDescription.substr(0, kMaxLongDescription);
    l += '\0';
    for (char& c : l) {
      if (c == '\r') c = char(kStoredCR);
      else if (c == '\n') c = char(kStoredLF);
    }
  }
  core::PutBE16(image.data() + core::kRhEventTextLength, uint16_t(l.size()));
  StoreField(image, core::kRhEventText, core::kRhEventTextField, l);

  // Event-text flag.
  const bool anyText = !texts.ShortDescription.empty() || !texts.LongDescription.empty();
  const uint32_t flag = core::GetBE32(image.data() + core::kRhEventPresent);
  if (flag == 0 && anyText) core::PutBE32(image.data() + core::kRhEventPresent, 1);
  else if (flag != 0 && !anyText) core::PutBE32(image.data() + core::kRhEventPresent, 0);
}

bool LoadEventImage(int side, int index, std::vector<uint8_t>& image) {
  core::ProcScope scope("LoadEventImage");
  const core::FileRec* f = Record(side, index);
  if (!f || f->IsDir) return false;
  image.assign(size_t(kEventImageBytes), 0);
  if (!core::IsPCSide(side)) {
    if (!OwnFirstCluster(side, index) || !core::ReadTopfCluster(side, f->StartCluster + 1) ||
        core::ClusterBuffer.size() < size_t(kEventImageBytes)) {
      Warn("Could not read the first cluster of " + Shown(side, *f) + ".");
      return false;
    }
    std::copy_n(core::ClusterBuffer.begin(), kEventImageBytes, image.begin());
  } else {
    const int fd = platform::PcFileOpen(f->Name, false);
    const bool ok = fd >= 0 && platform::ReadAt(fd, 0, image.data(), image.size());
    int error = platform::LastError();
    platform::FileState state;
    if (!ok && fd >= 0 && platform::HandleState(fd, state) && state.Size < int64_t(image.size()))
      error = 0;
    if (fd >= 0) ::close(fd);
    if (!ok) {
      Warn("Could not read the recording header of " + Shown(side, *f) + " (" +
           (error != 0 ? platform::PcFileErrorText(error) : "the file is too short") + ").");
      return false;
    }
  }
  if (!core::IsRecHeader(image.data())) {
    Warn(Shown(side, *f) + " does not begin with a recording header.");
    return false;
  }
  return true;
}

bool StoreEventImage(int side, int index, const std::vector<uint8_t>& image) {
  core::ProcScope scope("StoreEventImage");
  const core::FileRec* f = Record(side, index);
  if (!f || f->IsDir || image.size() != size_t(kEventImageBytes) ||
      !core::IsRecHeader(image.data()))
    return false;
  if (core::IsPCSide(side)) {
    // The recording is changed in place (its header only), opened so that
    // nothing but a regular file is written and the open cannot wait.
    const int fd = platform::PcFileOpen(f->Name, true);
    std::vector<uint8_t> now(image.size());
    bool ok = fd >= 0 && platform::ReadAt(fd, 0, now.data(), now.size()) &&
              core::IsRecHeader(now.data());
    if (ok) ok = platform::WriteAt(fd, 0, image.data(), image.size());
    int error = ok ? 0 : platform::LastError();
    if (fd >= 0 && !platform::PcFileClose(fd) && ok) {
      ok = false;
      error = platform::LastError();
    }
    if (!ok)
      Warn("Could not write the recording header of " + Shown(side, *f) + " (" +
           (error != 0 ? platform::PcFileErrorText(error) : "it no longer begins with a header") +
           ").");
    return ok;
  }
  // The first cluster is read afresh; one that cannot be read, or that no
  // longer begins with a header, is not written.
  const int32_t cluster = f->StartCluster + 1;
  if (!OwnFirstCluster(side, index) || !core::ReadTopfCluster(side, cluster) ||
      core::ClusterBuffer.size() < image.size() || !core::IsRecHeader(core::ClusterBuffer.data())) {
    Warn("Could not read the first cluster of " + Shown(side, *f) + ". Nothing was written.");
    return false;
  }
  std::copy(image.begin(), image.end(), core::ClusterBuffer.begin());
  if (!core::WriteTopfCluster(side, cluster, false)) {
    Warn("Could not write the first cluster of " + Shown(side, *f) + ".");
    return false;
  }
  return true;
}

std::string EventTextFromDisplay(const QString& text, bool multiLine) {
  const std::string bytes = platform::Utf8ToCp1252(text.toStdString());
  std::string out;
  out.reserve(bytes.size() + 16);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (multiLine && (c == '\n' || c == '\r')) {
      // Every line end becomes CR LF, as in a Windows text box.
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      out += "\r\n";
      continue;
    }
    if (uint8_t(c) < 32) continue;   // no control characters in the header texts
    out += c;
  }
  return out;
}

QString EventTextToDisplay(const std::string& bytes) {
  std::string s;
  s.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r') {
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      s += '\n';
    } else {
      s += bytes[i];
    }
  }
  return QString::fromStdString(platform::Cp1252ToUtf8(s));
}

std::string UnstorableCharacters(const QString& text, bool multiLine) {
  std::string out;
  std::vector<char32_t> listed;
  for (const char32_t cp : text.toStdU32String()) {
    if (multiLine && (cp == U'\n' || cp == U'\r')) continue;
    bool bad = cp < 32 || (cp >= 0x80 && cp <= 0x9F);   // control characters
    if (!bad) {
      const std::u32string one(1, cp);
      const std::string utf8 = QString::fromStdU32String(one).toStdString();
      const std::string code = platform::Utf8ToCp1252(utf8);
      bad = code.size() != 1 || (code[0] == '?' && cp != U'?');
      // In the long description these codes stand for CR and LF.
      if (!bad && multiLine && (uint8_t(code[0]) == kStoredCR || uint8_t(code[0]) == kStoredLF))
        bad = true;
    }
    if (!bad || std::find(listed.begin(), listed.end(), cp) != listed.end()) continue;
    listed.push_back(cp);
    if (!out.empty()) out += ", ";
    if (cp < 32 || (cp >= 0x7F && cp <= 0x9F)) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", unsigned(cp));
      out += std::string(code) + " (a control character)";
    } else {
      out += "\"" + QString::fromStdU32String(std::u32string(1, cp)).toStdString() + "\"";
    }
  }
  return out;
}

std::string EventTextCharacterMessage(const QString& serviceName, const QString& shortText,
                                      const QString& longText) {
  std::string message;
  const struct {
    const char* what;
    const QString& text;
    bool multiLine;
  } boxes[3] = {{"service name", serviceName, false},
                {"short event description", shortText, false},
                {"long event description", longText, true}};
  for (const auto& box : boxes) {
    const std::string bad = UnstorableCharacters(box.text, box.multiLine);
    if (!bad.empty())
      message += std::string("The ") + box.what +
                 " cannot be stored as typed: the recorder cannot keep " + bad + ".\r\n";
  }
  if (!message.empty()) message += "Please change these characters.";
  return message;
}

// ------------------------------------------------------------------ Form10

Form10::Form10(QWidget* parent) : QDialog(parent) {
  setObjectName("Form10");
  setWindowTitle(kForm10Caption);
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  const char* captions[3] = {"Service Name (max. 23 char.)",
                             "Short Event Description (max. 63 char.)",
                             "Long Event Description (max. 1023 char.)"};
  for (int i = 0; i < 3; ++i) {
    Label1[i] = new QLabel(captions[i], this);
    Label1[i]->setObjectName(QString("Label1_%1").arg(i));
    layout->addWidget(Label1[i]);
    QWidget* box;
    if (i < 2) {
      Text1Line[i] = new QLineEdit(this);
      box = Text1Line[i];
    } else {
      Text1Long = new QPlainTextEdit(this);
      Text1Long->setTabChangesFocus(true);
      Text1Long->setMinimumHeight(160);
      box = Text1Long;
    }
    box->setObjectName(QString("Text1_%1").arg(i));
    box->installEventFilter(this);
    layout->addWidget(box);
  }
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  const char* names[2] = {"OK", "Cancel"};
  for (int i = 0; i < 2; ++i) {
    Command1[i] = new QPushButton(names[i], this);
    Command1[i]->setObjectName(QString("Command1_%1").arg(i));
    // Enter in the boxes moves on; it must not press a button.
    Command1[i]->setAutoDefault(false);
    Command1[i]->setDefault(false);
    connect(Command1[i], &QPushButton::clicked, this, [this, i] {
      core::TrapProcedure("Command1_Click", [&] { Command1_Click(i); });
    });
    buttons->addWidget(Command1[i]);
  }
  layout->addLayout(buttons);
  resize(480, 400);
}

bool Form10::eventFilter(QObject* watched, QEvent* event) {
  for (int i = 0; i < 3; ++i) {
    QWidget* box = i < 2 ? static_cast<QWidget*>(Text1Line[i]) : Text1Long;
    if (watched != box) continue;
    if (event->type() == QEvent::FocusIn) {
      Text1_GotFocus(i);
    } else if (event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        int code = 13;
        Text1_KeyPress(i, code);
        if (code == 0) return true;
      }
    }
    break;
  }
  return QDialog::eventFilter(watched, event);
}

bool Form10::SetFileIndexToEdit(int side, int index) {
  core::ProcScope scope("SetFileIndexToEdit");
  side_ = side;
  index_ = index;
  if (!LoadEventImage(side, index, image_)) {
    image_.clear();
    return false;
  }
  const EventTexts t = ReadEventTexts(image_);
  Text1Line[0]->setText(EventTextToDisplay(t.ServiceName));
  Text1Line[1]->setText(EventTextToDisplay(t.ShortDescription));
  Text1Long->setPlainText(EventTextToDisplay(t.LongDescription));
  return true;
}

EventTexts Form10::BoxTexts() const {
  EventTexts t;
  t.ServiceName = EventTextFromDisplay(Text1Line[0]->text(), false);
  t.ShortDescription = EventTextFromDisplay(Text1Line[1]->text(), false);
  t.LongDescription = EventTextFromDisplay(Text1Long->toPlainText(), true);
  return t;
}

bool Form10::WriteDataToFile() {
  core::ProcScope scope("WriteDataToFile");
  if (image_.size() != size_t(kEventImageBytes)) return false;
  std::vector<uint8_t> image = image_;
  StoreEventTexts(image, BoxTexts());
  if (!StoreEventImage(side_, index_, image)) return false;
  image_ = std::move(image);
  return true;
}

void Form10::Command1_Click(int index) {
  if (index == 1) {
    reject();
    return;
  }
  const std::string message = EventTextLengthMessage(BoxTexts());
  if (!message.empty()) {
    ui::Current().MsgBox(message, ui::Buttons::OK, ui::Icon::Information);
    return;
  }
  // Nothing is stored other than as typed: no "?" for a character the
  // recorder has no code for, no control character dropped unsaid.
  const std::string characters = EventTextCharacterMessage(
      Text1Line[0]->text(), Text1Line[1]->text(), Text1Long->toPlainText());
  if (!characters.empty()) {
    ui::Current().MsgBox(characters, ui::Buttons::OK, ui::Icon::Exclamation);
    return;
  }
  // A header that could not be written keeps the window open, so that the
  // texts are not lost.
  if (WriteDataToFile()) accept();
}

void Form10::Text1_KeyPress(int index, int& keyCode) {
  if (keyCode != 13 || index >= 2) return;
  keyCode = 0;
  if (index == 0) Text1Line[1]->setFocus();
  else Text1Long->setFocus();
}

void Form10::Text1_GotFocus(int index) {
  if (index < 2) Text1Line[index]->selectAll();
  else Text1Long->selectAll();
}

void RunEventEditor(int side, int index, QWidget* parent) {
  core::ProcScope scope("RunEventEditor");
  Form10 form(parent);
  if (!form.SetFileIndexToEdit(side, index)) return;
  ui::Current().RunModal("Form10", [&form] { return form.exec(); });
}

}  // namespace commands
