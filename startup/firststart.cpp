// SPDX-License-Identifier: GPL-3.0-or-later
#include "startup/firststart.h"

#include "calibration/calibrationrun.h"
#include "settings/networksettings.h"
#include "settings/settingsfile.h"
#include "settings/sourcesettings.h"

QString startup::whereKept(const QString &settingsFolder, const QString &logPath)
{
    return QStringLiteral("Settings are kept in %1 (%2, %3, %4), calibrations in %5, the log in %6.")
        .arg(settingsFolder, SettingsFile::defaultPath(), NetworkSettings::defaultPath(), SourceSettings::defaultPath(),
             CalibrationRun::defaultPath(), logPath);
}

QString startup::firstStartNote(const SettingsFile &store, const QString &logPath)
{
    if (store.existedAtStart())
        return {};
    return QStringLiteral("First start in this folder. Next: choose the rotator's port (A) and the transceiver's "
                          "port (B), on a serial line, through Hamlib's daemons or with Hamlib linked in, and open "
                          "them, then open the tracking data file (File > Open data file); \"Calibrate...\" on "
                          "the station panel then finds the antenna's pointing offsets on the Sun. Or try "
                          "\"vestrel --demo\" on a simulated station first. ")
        + whereKept(store.folder(), logPath);
}
