// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The station's own rigctld- and rotctld-compatible servers, through which
// another Hamlib program works the radio (WSJT-X's "Hamlib NET rigctl",
// rigctl -m 2) while the station keeps it on frequency, or aims the antenna
// (rotctl -m 2, Gpredict). Off by default, and on this machine only unless
// the file names another address: the protocols have no password.
// Kept in a file of its own beside store.cfg.
struct ServerSettings {
    bool rigServer = false;
    QString rigAddress = QStringLiteral("127.0.0.1");
    quint16 rigPort = 4532;
    bool rotServer = false;
    QString rotAddress = QStringLiteral("127.0.0.1");
    quint16 rotPort = 4533;

    bool operator==(const ServerSettings &other) const;
    bool operator!=(const ServerSettings &other) const { return !(*this == other); }

    static QString defaultPath() { return QStringLiteral("servers.cfg"); }
    static ServerSettings read(const QString &path = defaultPath());
    bool write(const QString &path = defaultPath()) const;
};
