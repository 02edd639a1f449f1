// The recovery window (Form5, "Topfield Zyphonel - File Recovery"): scans the
// left pane's recorder disk cluster by cluster for MPEG video with time
// stamps, keeps the hits in the found-cluster table, and on "Match" chains
// them and rebuilds them into pending recovered files.
//
// The scan only reads the disk. Its position and state live in
// AppDir + CrcId + "_Search.ini" (section Recovery: NextCluster, State "0"
// not scanned, "1" interrupted, "2" finished); a value there that this disk
// cannot have written is refused with a message. A stopped scan continues
// at the first cluster it did not read.
#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace tools {

struct ScanPass;

constexpr const char* kForm5Caption = "Topfield Zyphonel - File Recovery";

class Form5 : public QWidget {
  Q_OBJECT

 public:
  explicit Form5(QWidget* parent = nullptr);
  ~Form5() override;

  QPushButton* Command1 = nullptr;   // "Scan" / "Continue Scan" / "Cancel" / "Search"
  QPushButton* Command2 = nullptr;   // "Match"
  QCheckBox* Check1 = nullptr;       // "Search on free area only"
  QComboBox* Combo1 = nullptr;       // process priority
  QComboBox* Combo2 = nullptr;       // action after the scan
  QProgressBar* PB1 = nullptr;       // 0 .. 100
  QLabel* Label1[4] = {};            // 0 priority caption, 1 estimate, 2 status, 3 after-scan caption

  bool ScanRunning = false;
  bool MatchRunning = false;   // Match cannot be stopped: nothing else starts or closes meanwhile

  void Form_Load();
  void Command1_Click();
  void Command2_Click();
  void Combo1_Click();

  // Starts a scan, or requests the running one to stop.
  void Scanner();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // Reads NextCluster of the search state file; false (after a message) when
  // it holds something this disk cannot have written.
  bool ReadNextCluster(int32_t& start);
  // The steps of a scan. BeginScan opens side 0 for it and loads the earlier
  // hits (false, the scan ended, when they cannot be trusted); ScanClusters
  // reads from the pass's cluster on, shows the progress every 3 seconds and
  // saves every 30 minutes, and stops at a cancel or an unreadable cluster;
  // StopAtUnreadable and EndScan write where the next scan starts and set
  // the buttons.
  bool BeginScan();
  void ScanClusters(ScanPass& pass);
  void ShowScanProgress(ScanPass& pass, double now);
  void SaveScanPosition(ScanPass& pass, double now);
  void StopAtUnreadable(const ScanPass& pass);
  void EndScan(const ScanPass& pass);
  void FinishScan();
  bool closeAfterScan_ = false;
};

// The open recovery window, or nullptr.
Form5* RecoveryWindow();

// Values of the search state file.
constexpr const char* kRecoverySection = "Recovery";

// The status text at the end of a scan ("Ready: 12 stream clusters found"),
// and the message after a match: found clusters, recordings rebuilt (and
// files continued).
std::string ScanEndText(int32_t clusters);
std::string RebuiltText(int32_t clusters, int32_t created, int32_t grown);

// True when `text` is a NextCluster value this disk may hold: empty (0) or
// decimal digits of a value 0 .. lastCluster + 1.
bool ParseNextCluster(const std::string& text, int32_t lastCluster, int32_t& value);

}  // namespace tools
