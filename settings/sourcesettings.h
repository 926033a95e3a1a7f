// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Where the tracking record comes from: the tracking data file another
// program writes, or the sky computed here from the two stations' locators
// and the frequency, with the radio source it tracks as the Source. Kept in a file of its own beside store.cfg, as
// network.cfg is; a station that never changes it never gets the file.
struct SourceSettings {
    bool builtIn = false;
    QString homeLocator;
    QString dxLocator;  // empty: the DX station is the home station
    double frequencyMHz = 432.065;
    // What the built-in sky gives for the Source target: a catalogue name or
    // J2000 coordinates as radiosource::fromText reads them; empty for none.
    QString radioSource;
    bool refraction = false;  // elevations through the air, not geometric

    bool operator==(const SourceSettings &other) const;
    bool operator!=(const SourceSettings &other) const { return !(*this == other); }

    static QString defaultPath() { return QStringLiteral("source.cfg"); }
    static SourceSettings read(const QString &path = defaultPath());
    bool write(const QString &path = defaultPath()) const;
};
