// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Whether the station follows WSJT-X, and where WSJT-X's UDP messages are
// heard: WSJT-X's "UDP Server" (Settings, Reporting) must name the same
// address and port. Kept in a file of its own beside store.cfg; a station
// that never follows WSJT-X never gets the file.
struct WsjtxSettings {
    bool follow = false;
    // 127.0.0.1, WSJT-X's default, or a multicast group (224.0.0.1) so that
    // several programs hear the same messages.
    QString address = QStringLiteral("127.0.0.1");
    quint16 port = 2237;

    bool isMulticast() const;
    bool operator==(const WsjtxSettings &other) const;
    bool operator!=(const WsjtxSettings &other) const { return !(*this == other); }

    static QString defaultPath() { return QStringLiteral("wsjtx.cfg"); }
    static WsjtxSettings read(const QString &path = defaultPath());
    bool write(const QString &path = defaultPath()) const;
};
