// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace startup {

// The folder of its own that a run started from the desktop menu works in:
// "vestrel" in the user's data folder (~/.local/share/vestrel). Empty when
// the system names no data folder.
QString menuWorkingFolder();

// Makes the working folder current, where store.cfg and the program's other
// files are kept. From the menu that is folder, created when missing; from a
// shell the current folder stays, as it always has. False, with the reason in
// error, when the folder cannot be made or entered; the current folder then
// stays.
bool enterWorkingFolder(bool fromMenu, const QString &folder, QString *error);

} // namespace startup
