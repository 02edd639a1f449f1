// Which entries of the file lists' context menu a pane offers for one of its
// items: decided afresh at each click on an item (and by the keyboard
// shortcuts before they act).
#pragma once

#include <QString>

namespace mainwindow {

class Form1;

struct ContextRules {
  bool Refresh = true;
  bool Copy = false;
  bool Move = false;
  bool Rename = false;
  bool Erase = false;
  bool CreateSubDir = false;
  bool EditFileDate = false;
  bool AutoSetFileDate = false;
  bool CryptSetters = false;          // Set Uncrypted / Partially Crypted / Crypted
  bool ScanStream = false;
  bool EditEventDescriptions = false;
};

// The entries for item `key` of pane `side`: recorder roots first, then the
// writability of this side and of the other one, then the item itself.
ContextRules ComputeContextRules(const Form1& form, int side, const QString& key);

}  // namespace mainwindow
