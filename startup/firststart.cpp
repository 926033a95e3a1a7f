// SPDX-License-Identifier: GPL-3.0-or-later
#include "startup/firststart.h"

#include "settings/networksettings.h"
#include "settings/settingsfile.h"
#include "settings/sourcesettings.h"

QString startup::whereKept(const QString &settingsFolder, const QString &logPath)
{
    return QStringLiteral("Settings are kept in %1 (%2, %3, %4), the log in %5.")
        .arg(settingsFolder, SettingsFile::defaultPath(), NetworkSettings::defaultPath(), SourceSettings::defaultPath(),
             logPath);
}

QString startup::firstStartNote(const SettingsFile &store, const QString &logPath)
{
    if (store.existedAtStart())
        return {};
    return QStringLiteral("First start in this folder. Next: choose the rotator's port (A) and the transceiver's "
                          "port (B) and open them, then open the tracking data file (File > Open data file); or "
                          "try \"vestrel --demo\" on a simulated station first. ")
        + whereKept(store.folder(), logPath);
}
