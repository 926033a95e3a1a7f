// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class SettingsFile;

namespace startup {

// Where the operator's files are kept, in one sentence: the settings in
// settingsFolder (store.cfg, and network.cfg and source.cfg once they
// differ from the defaults), the log at logPath.
QString whereKept(const QString &settingsFolder, const QString &logPath);

// The line a first start logs (no store.cfg in the working folder when the
// store was opened): what to do next, and whereKept(). Empty otherwise.
QString firstStartNote(const SettingsFile &store, const QString &logPath);

} // namespace startup
