// The icon sets of the windows, keyed by name ("Folder", "KeyY", "SortAsc").
//
// One process-wide registry: a window registers the pictures of its image
// lists once at start-up, and the list and tree views look each item's icon
// key up here. A key nobody registered shows no picture; the key itself is
// kept with the item either way.
#pragma once

#include <QIcon>
#include <QString>

namespace mainwindow {

// Registers (or replaces) the picture for `key`.
void RegisterIcon(const QString& key, const QIcon& icon);
// The picture for `key`; a null icon when the key is empty or unknown.
QIcon IconFor(const QString& key);

}  // namespace mainwindow
