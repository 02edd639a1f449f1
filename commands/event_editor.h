// The event editor: the service name, the short and the long event
// description kept in a recording's 1656-byte header, on a recorder disk
// (the first cluster) or in a PC copy of a recording (the file's first
// 1656 bytes). Texts are Windows-1252 bytes in the header; the window works
// with display text (UTF-8 / QString).
//
// Window protocol: SetFileIndexToEdit(side, index) loads the header and
// fills the boxes; the window is then shown modally. OK checks the lengths
// and saves (WriteDataToFile); Cancel only hides.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;

namespace commands {

constexpr int32_t kEventImageBytes = 1656;
constexpr int kMaxServiceName = 23;
constexpr int kMaxShortDescription = 63;
constexpr int kMaxLongDescription = 1023;

// The three texts as Windows-1252 bytes; the long one with CR LF line ends.
struct EventTexts {
  std::string ServiceName;
  std::string ShortDescription;
  std::string LongDescription;
};

// Reads the three texts out of a header image (kEventImageBytes bytes).
// Each range is read up to its first zero byte, its length (bounded by the
// field) or the end of the image; bytes below 32 are skipped; in the long
// description 0x8D becomes CR and 0x8A LF.
EventTexts ReadEventTexts(const std::vector<uint8_t>& image);

// The message the OK button shows for texts that are too long ("" when all
// fit). Lengths are those of the Windows-1252 texts (CR LF counts two).
std::string EventTextLengthMessage(const EventTexts& texts);

// Stores the texts into the image: the service name (zero-padded 24 bytes),
// the short description (length byte, two copies, a zero, zero-padded to
// 129 bytes), the long description (16-bit length, CR -> 0x8D, LF -> 0x8A,
// zero-padded, at most 1024 bytes) and the event-text flag. Texts longer
// than their fields are cut so that nothing reaches beyond a field; the
// window refuses such texts before.
void StoreEventTexts(std::vector<uint8_t>& image, const EventTexts& texts);

// Loads the header image of entry `index` of the side: from the first
// cluster on a recorder disk, from the PC file on a PC side. False (with a
// message shown) when it cannot be read or holds no recording header.
bool LoadEventImage(int side, int index, std::vector<uint8_t>& image);

// Writes the image back: over the first 1656 bytes of the PC file, or over
// the first 1656 bytes of the recording's first cluster, read afresh (a
// cluster that cannot be read, or no longer begins with a header, is not
// written). False (with a message) when nothing was written.
bool StoreEventImage(int side, int index, const std::vector<uint8_t>& image);

// Display text <-> header text (Windows-1252; line ends "\n" <-> CR LF).
std::string EventTextFromDisplay(const QString& text, bool multiLine);
QString EventTextToDisplay(const std::string& bytes);

// The characters of a box text that the header cannot keep as typed: those
// outside Windows-1252, control characters (line breaks are fine in the long
// description), and in the long description the characters whose code means
// a line break there (0x8A, 0x8D). Each listed once, in order of appearance,
// as the text shows them ("\u20AC"-style for control characters).
std::string UnstorableCharacters(const QString& text, bool multiLine);

// The message the OK button shows for texts that cannot be stored as typed,
// one line per box ("" when all can): "The service name cannot be stored as
// typed: the recorder has no code for ...".
std::string EventTextCharacterMessage(const QString& serviceName, const QString& shortText,
                                      const QString& longText);

class Form10 : public QDialog {
  Q_OBJECT

 public:
  explicit Form10(QWidget* parent = nullptr);

  // Remembers side and index, loads the header image and fills the boxes.
  // False when the header could not be loaded (the window should not open).
  bool SetFileIndexToEdit(int side, int index);
  // Writes the boxes into the image and the image back to the recording.
  bool WriteDataToFile();

  void Command1_Click(int index);
  // keyCode 13 (Enter) in box 0 or 1 moves on to the next box and is
  // consumed (set to 0).
  void Text1_KeyPress(int index, int& keyCode);
  void Text1_GotFocus(int index);

  // Box 0 service name, 1 short description (one line each), 2 long
  // description (several lines).
  QLineEdit* Text1Line[2] = {};
  QPlainTextEdit* Text1Long = nullptr;
  QLabel* Label1[3] = {};
  QPushButton* Command1[2] = {};

  // The texts of the boxes as header text.
  EventTexts BoxTexts() const;
  const std::vector<uint8_t>& Image() const { return image_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int side_ = 0;
  int index_ = -1;
  std::vector<uint8_t> image_;
};

constexpr const char* kForm10Caption = "Topfield Zyphonel - Event Editor";

// Opens the editor for entry `index` of the side modally through the
// current Ui (window name "Form10") and unloads it afterwards.
void RunEventEditor(int side, int index, QWidget* parent = nullptr);

}  // namespace commands
