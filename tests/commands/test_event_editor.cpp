// The event editor: the header's text fields as stored and read back, the
// window's checks, and that a save writes the 1656 header bytes only.
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "commands/event_editor.h"
#include "tests/commands/commands_fixture.h"
#include "tests/mainwindow/form1_pane_fixture.h"

namespace {

using commands::EventTexts;
using editortest::EditorTest;
namespace ib = imagebuilder;

std::vector<uint8_t> HeaderImage() {
  ib::RecHeader h;
  h.ServiceName = "Channel";
  h.EventName = "News";
  h.EventText = "Text";
  const std::string bytes = ib::RecHeaderBytes(h);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::vector<uint8_t> Range(const std::vector<uint8_t>& v, size_t from, size_t n) {
  return std::vector<uint8_t>(v.begin() + long(from), v.begin() + long(from + n));
}

// Bytes outside [28, 52), 72..75, 85, [87, 216), 362..363 and [368, 1392).
void ExpectOtherBytesKept(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
  ASSERT_EQ(before.size(), after.size());
  for (size_t i = 0; i < before.size(); ++i) {
    const bool field = (i >= 28 && i < 52) || (i >= 72 && i < 76) || i == 85 ||
                       (i >= 87 && i < 216) || i == 362 || i == 363 || (i >= 368 && i < 1392);
    if (!field) {
      EXPECT_EQ(before[i], after[i]) << "byte " << i;
    }
  }
}

TEST(EventTexts, ShortDescriptionIsStoredTwiceWithItsLength) {
  std::vector<uint8_t> image = HeaderImage();
  const std::vector<uint8_t> before = image;
  EventTexts t = commands::ReadEventTexts(image);
  EXPECT_EQ(t.ServiceName, "Channel");
  EXPECT_EQ(t.ShortDescription, "News");
  t.ShortDescription = "abc";
  commands::StoreEventTexts(image, t);
  EXPECT_EQ(image[85], 4);
  std::vector<uint8_t> expected(129, 0);
  const uint8_t copy[] = {5, 'a', 'b', 'c', 5, 'a', 'b', 'c', 0};
  std::copy(std::begin(copy), std::end(copy), expected.begin());
  EXPECT_EQ(Range(image, 87, 129), expected);
  EXPECT_EQ(commands::ReadEventTexts(image).ShortDescription, "abc");
  ExpectOtherBytesKept(before, image);
}

TEST(EventTexts, LongestShortDescriptionFillsTheFieldExactly) {
  std::vector<uint8_t> image = HeaderImage();
  EventTexts t = commands::ReadEventTexts(image);
  t.ShortDescription = std::string(63, 'x');
  commands::StoreEventTexts(image, t);
  EXPECT_EQ(image[85], 64);
  EXPECT_EQ(image[87], 5);
  EXPECT_EQ(image[87 + 64], 5);
  EXPECT_EQ(image[87 + 128], 0);
  EXPECT_EQ(commands::ReadEventTexts(image).ShortDescription, t.ShortDescription);
}

TEST(EventTexts, ServiceNameKeepsATerminatingZero) {
  std::vector<uint8_t> image = HeaderImage();
  EventTexts t = commands::ReadEventTexts(image);
  t.ServiceName = std::string(23, 'S');
  EXPECT_EQ(commands::EventTextLengthMessage(t), "");
  commands::StoreEventTexts(image, t);
  EXPECT_EQ(image[28 + 22], 'S');
  EXPECT_EQ(image[28 + 23], 0);
  // Even a text the window would refuse never reaches the next field.
  t.ServiceName = std::string(40, 'T');
  image[52] = 0x77;
  commands::StoreEventTexts(image, t);
  EXPECT_EQ(image[28 + 23], 0);
  EXPECT_EQ(image[52], 0x77);
}

TEST(EventTexts, LengthMessageNamesWhatIsTooLong) {
  EventTexts t;
  t.ServiceName = std::string(24, 'a');
  EXPECT_EQ(commands::EventTextLengthMessage(t),
            "The service name is too long. Please remove at least 1 characters.\r\n");
  t.ShortDescription = std::string(70, 'b');
  t.LongDescription = std::string(1024, 'c');
  EXPECT_EQ(commands::EventTextLengthMessage(t),
            "The service name is too long. Please remove at least 1 characters.\r\n"
            "The short event description is too long. Please remove at least 7 characters.\r\n"
            "The long event description is too long. Please remove at least 1 characters.\r\n");
}

TEST(EventTexts, EmptyingBothDescriptionsClearsFieldsAndFlag) {
  std::vector<uint8_t> image = HeaderImage();
  image[75] = 1;   // the event-text flag
  const std::vector<uint8_t> before = image;
  EventTexts t = commands::ReadEventTexts(image);
  t.ShortDescription.clear();
  t.LongDescription.clear();
  commands::StoreEventTexts(image, t);
  EXPECT_EQ(image[85], 0);
  EXPECT_EQ(image[362], 0);
  EXPECT_EQ(image[363], 0);
  EXPECT_EQ(Range(image, 87, 129), std::vector<uint8_t>(129, 0));
  EXPECT_EQ(Range(image, 368, 1024), std::vector<uint8_t>(1024, 0));
  EXPECT_EQ(Range(image, 72, 4), std::vector<uint8_t>(4, 0));
  ExpectOtherBytesKept(before, image);
  // A text again sets the flag.
  t.LongDescription = "x";
  commands::StoreEventTexts(image, t);
  EXPECT_EQ(Range(image, 72, 4), (std::vector<uint8_t>{0, 0, 0, 1}));
}

TEST(EventTexts, LongDescriptionLinesAndLength) {
  std::vector<uint8_t> image = HeaderImage();
  EventTexts t = commands::ReadEventTexts(image);
  t.LongDescription = "a\r\nb";
  commands::StoreEventTexts(image, t);
  EXPECT_EQ(Range(image, 362, 2), (std::vector<uint8_t>{0, 6}));
  EXPECT_EQ(Range(image, 368, 7), (std::vector<uint8_t>{5, 'a', 0x8D, 0x8A, 'b', 0, 0}));
  EXPECT_EQ(commands::ReadEventTexts(image).LongDescription, "a\r\nb");

  // 1023 characters fill the field without a zero; the length reads 1025.
  image[1392] = 0x66;
  t.LongDescription = std::string(1023, 'z');
  commands::StoreEventTexts(image, t);
  EXPECT_EQ(Range(image, 362, 2), (std::vector<uint8_t>{0x04, 0x01}));
  EXPECT_EQ(image[368], 5);
  EXPECT_EQ(image[1391], 'z');
  EXPECT_EQ(image[1392], 0x66);
  EXPECT_EQ(commands::ReadEventTexts(image).LongDescription, t.LongDescription);
}

TEST(EventTexts, ReadingStaysInsideFieldsAndImage) {
  std::vector<uint8_t> image(1656, 'q');
  image[85] = 255;       // a length far beyond the field
  image[362] = 0xFF;     // and another
  image[363] = 0xFF;
  const EventTexts t = commands::ReadEventTexts(image);
  EXPECT_EQ(t.ServiceName.size(), 24u);
  EXPECT_EQ(t.ShortDescription.size(), 129u);
  EXPECT_EQ(t.LongDescription.size(), 1024u);
  // A short image reads as empty.
  EXPECT_EQ(commands::ReadEventTexts(std::vector<uint8_t>(100, 'x')).ServiceName, "");
}

TEST(EventTexts, DisplayTextConversions) {
  // Windows-1252 both ways; line ends as CR LF in the header.
  EXPECT_EQ(commands::EventTextFromDisplay(QString::fromUtf8("Gr\xC3\xBC\xC3\x9F" "e"), false),
            "Gr\xFC\xDF" "e");
  EXPECT_EQ(commands::EventTextFromDisplay("a\nb", true), "a\r\nb");
  EXPECT_EQ(commands::EventTextFromDisplay("a\tb\nc", false), "abc");
  EXPECT_EQ(commands::EventTextToDisplay("a\r\nb"), "a\nb");
  EXPECT_EQ(commands::EventTextToDisplay("\xE9t\xE9"), QString::fromUtf8("\xC3\xA9t\xC3\xA9"));
}

// -------------------------------------------------------- on a recorder disk

class EventEditorTest : public editortest::DataFilesTest {};

TEST_F(EventEditorTest, SavingWritesTheHeaderBytesOnly) {
  commands::Form10 form;
  ASSERT_TRUE(form.SetFileIndexToEdit(0, Index("good.rec")));
  EXPECT_EQ(form.Text1Line[0]->text(), "Test Channel");
  EXPECT_EQ(form.Text1Line[1]->text(), "News");
  EXPECT_EQ(form.Text1Long->toPlainText(), "Line one\nLine two");

  const uint32_t c = FirstCluster("\\DataFiles\\good.rec");
  const std::vector<uint8_t> cluster = ClusterView(c);
  const std::vector<uint8_t> before = Snapshot();
  form.Text1Line[0]->setText("My Channel");
  form.Text1Line[1]->setText("abc");
  form.Text1Long->setPlainText("a\nb");
  form.Command1_Click(0);
  EXPECT_EQ(form.result(), QDialog::Accepted);

  std::set<uint64_t> allowed;
  Allow(allowed, c, 0, 1656);
  ExpectChangedOnly(before, Snapshot(), allowed);
  const std::vector<uint8_t> now = ClusterView(c);
  ExpectOtherBytesKept(Range(cluster, 0, 1656), Range(now, 0, 1656));
  EXPECT_EQ(Range(now, 28, 11), (std::vector<uint8_t>{'M', 'y', ' ', 'C', 'h', 'a', 'n', 'n',
                                                      'e', 'l', 0}));
  EXPECT_EQ(now[85], 4);
  EXPECT_EQ(Range(now, 368, 6), (std::vector<uint8_t>{5, 'a', 0x8D, 0x8A, 'b', 0}));

  // The editor reads the texts back.
  commands::Form10 again;
  ASSERT_TRUE(again.SetFileIndexToEdit(0, Index("good.rec")));
  EXPECT_EQ(again.Text1Line[1]->text(), "abc");
  EXPECT_EQ(again.Text1Long->toPlainText(), "a\nb");
}

TEST_F(EventEditorTest, TooLongTextsKeepTheWindowOpenAndWriteNothing) {
  commands::Form10 form;
  ASSERT_TRUE(form.SetFileIndexToEdit(0, Index("good.rec")));
  form.Text1Line[0]->setText(QString(25, 'x'));
  const std::vector<uint8_t> before = Snapshot();
  script.ExpectMsgBox("The service name is too long. Please remove at least 2 characters.",
                      ui::Answer::OK);
  form.Command1_Click(0);
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_NE(form.result(), QDialog::Accepted);
  EXPECT_EQ(form.Text1Line[0]->text(), QString(25, 'x'));
  EXPECT_EQ(Snapshot(), before);
  // Cancel writes nothing either.
  form.Command1_Click(1);
  EXPECT_EQ(form.result(), QDialog::Rejected);
  EXPECT_EQ(Snapshot(), before);
}

// Characters the header cannot keep as typed are named before anything is
// written, and the texts stay for the user to change.
TEST(EventTexts, CharacterMessageNamesWhatCannotBeStored) {
  struct Case {
    QString Text;
    bool MultiLine;
    std::string Bad;
  };
  const Case cases[] = {
      {QString::fromUtf8("Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC?"), false, ""},   // all in 1252
      {QString::fromUtf8("\xD0\x9C\xD0\xB8\xD1\x80 \xD0\x9C"), false,
       "\"\xD0\x9C\", \"\xD0\xB8\", \"\xD1\x80\""},
      {QString::fromUtf8("a\tb"), false, "U+0009 (a control character)"},
      {QString::fromUtf8("a\nb"), false, "U+000A (a control character)"},
      {QString::fromUtf8("a\nb"), true, ""},
      {QString::fromUtf8("\xC5\xA0koda"), false, ""},   // a line break's code in the long text only
      {QString::fromUtf8("\xC5\xA0koda"), true, "\"\xC5\xA0\""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(commands::UnstorableCharacters(c.Text, c.MultiLine), c.Bad) << c.Text.toStdString();
  EXPECT_EQ(commands::EventTextCharacterMessage("ok", "ok", "ok"), "");
  EXPECT_EQ(commands::EventTextCharacterMessage(QString::fromUtf8("\xE2\x84\x96"), "ok", "ok"),
            "The service name cannot be stored as typed: the recorder cannot keep "
            "\"\xE2\x84\x96\".\r\nPlease change these characters.");
}

TEST_F(EventEditorTest, TextsThatCannotBeStoredAsTypedKeepTheWindowOpen) {
  commands::Form10 form;
  ASSERT_TRUE(form.SetFileIndexToEdit(0, Index("good.rec")));
  form.Text1Line[1]->setText(QString::fromUtf8("\xE2\x84\x96 1"));
  form.Text1Long->setPlainText(QString::fromUtf8("bell\x07"));
  const std::vector<uint8_t> before = Snapshot();
  script.ExpectMsgBox("The short event description cannot be stored as typed", ui::Answer::OK);
  form.Command1_Click(0);
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_NE(script.Prompts().back().Text.find("The long event description cannot be stored as "
                                              "typed: the recorder cannot keep U+0007"),
            std::string::npos);
  EXPECT_NE(form.result(), QDialog::Accepted);
  EXPECT_EQ(form.Text1Line[1]->text(), QString::fromUtf8("\xE2\x84\x96 1"));
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(EventEditorTest, EnterInTheOneLineBoxesInsertsNothing) {
  commands::Form10 form;
  ASSERT_TRUE(form.SetFileIndexToEdit(0, Index("good.rec")));
  int key = 13;
  form.Text1_KeyPress(0, key);
  EXPECT_EQ(key, 0);
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
  QApplication::sendEvent(form.Text1Line[0], &enter);
  EXPECT_EQ(form.Text1Line[0]->text(), "Test Channel");
  EXPECT_NE(form.result(), QDialog::Accepted);
  // In the long description Enter is a line break.
  key = 13;
  form.Text1_KeyPress(2, key);
  EXPECT_EQ(key, 13);
}

TEST_F(EventEditorTest, AFirstClusterWithoutHeaderIsNotEdited) {
  Rec("\\DataFiles\\bare.rec").HasRecHeader = true;   // an out-of-date list
  commands::Form10 form;
  script.ExpectMsgBox("does not begin with a recording header", ui::Answer::OK);
  EXPECT_FALSE(form.SetFileIndexToEdit(0, Index("bare.rec")));
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_FALSE(form.WriteDataToFile());
}

TEST_F(EventEditorTest, AHeaderGoneBeforeTheSaveIsNotWritten) {
  commands::Form10 form;
  ASSERT_TRUE(form.SetFileIndexToEdit(0, Index("good.rec")));
  // The first cluster changes under the editor: no header any more.
  const uint32_t c = FirstCluster("\\DataFiles\\good.rec");
  std::vector<uint8_t> cluster = ClusterView(c);
  cluster[0] = 'X';
  Image().WriteClusterView(c, cluster);
  core::InvalidateSideCache(0);
  const std::vector<uint8_t> before = Snapshot();
  script.ExpectMsgBox("Nothing was written", ui::Answer::OK);
  form.Command1_Click(0);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_NE(form.result(), QDialog::Accepted);
}

// --------------------------------------------------------------- a PC copy

TEST_F(EventEditorTest, APcCopyChangesOnlyItsFirst1656Bytes) {
  const std::string path = Folder() + "/copy.rec";
  std::vector<uint8_t> header = HeaderImage();
  std::string file(header.begin(), header.end());
  for (int i = 0; i < 5000; ++i) file += char(i * 7);
  ib::WriteWholeFile(path, file);
  core::DiskId[1] = 1;
  core::Disk[1].Files.resize(1);
  core::Disk[1].Files[0].Name = path;
  core::Disk[1].Files[0].HasRecHeader = true;
  core::Disk[1].FileCount = 1;

  commands::Form10 form;
  ASSERT_TRUE(form.SetFileIndexToEdit(1, 0));
  EXPECT_EQ(form.Text1Line[0]->text(), "Channel");
  form.Text1Line[1]->setText("abc");
  form.Command1_Click(0);
  const std::string now = ib::ReadWholeFile(path);
  ASSERT_EQ(now.size(), file.size());
  EXPECT_EQ(now.substr(1656), file.substr(1656));
  EXPECT_EQ(uint8_t(now[85]), 4);
  EXPECT_EQ(now.substr(87, 9), std::string("\x05" "abc" "\x05" "abc", 8) + '\0');
}

TEST_F(EventEditorTest, AShortPcFileIsNotEdited) {
  const std::string path = Folder() + "/short.rec";
  const std::vector<uint8_t> header = HeaderImage();
  ib::WriteWholeFile(path, std::string(header.begin(), header.begin() + 1000));
  core::DiskId[1] = 1;
  core::Disk[1].Files.resize(1);
  core::Disk[1].Files[0].Name = path;
  core::Disk[1].FileCount = 1;
  commands::Form10 form;
  script.ExpectMsgBox("Could not read", ui::Answer::OK);
  EXPECT_FALSE(form.SetFileIndexToEdit(1, 0));
  EXPECT_EQ(ib::ReadWholeFile(path).size(), 1000u);
}

// ---------------------------------------------------------- the menu command

class EventMenuTest : public form1test::PaneTest {};

TEST_F(EventMenuTest, TheMenuOpensTheEditorForTheSelectedRecording) {
  StandardPanes();
  form->SelectDirectory(0, "\\DataFiles\\");
  form->LV1[0]->SetSelectedKey(KeyOf(0, "good.rec"));
  mainwindow::ActiveSide = 0;
  script.ExpectModal("Form10", 0);
  form->Menu_LVContext_EditEventDescriptions_Click();
  EXPECT_TRUE(script.AllAnswered());
  // A folder opens nothing.
  form->LV1[0]->SetSelectedKey(KeyOf(0, "Sub"));
  form->Menu_LVContext_EditEventDescriptions_Click();
  EXPECT_EQ(script.Prompts().size(), 1u);
}

}  // namespace
