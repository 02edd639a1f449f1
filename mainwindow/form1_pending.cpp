// The Disk and Expert menu commands and the recording editors of the
// context menu. Their work lives in the command modules; until a module is
// part of the program its command does nothing, so that every menu item is
// wired and can be driven already.
#include "core/error_handler.h"
#include "mainwindow/form1.h"

namespace mainwindow {



}  // namespace mainwindow
