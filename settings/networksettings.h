// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A radio or rotator that Hamlib, linked into the program, drives itself.
struct HamlibDevice {
    int model = 0;      // Hamlib's model number; 0 until one is chosen
    int baudRate = 0;   // 0: the model's own
    QString config;     // the model's settings as Hamlib names them: "name=value,name=value"
    bool operator==(const HamlibDevice &other) const
    {
        return model == other.model && baudRate == other.baudRate && config == other.config;
    }
};

// Which devices go through a Hamlib daemon, and where the daemons listen.
// Kept in a file of its own beside store.cfg (which keeps its nine lines for
// other programs): one "key: 'value'" line each, any order, unknown lines
// ignored. A station that never uses the network never gets the file.
struct NetworkSettings {
    bool rigctld = false;
    QString rigctldAddress = QStringLiteral("localhost:4532");
    bool rotctld = false;
    QString rotctldAddress = QStringLiteral("localhost:4533");
    // Hamlib linked in instead: the device on the port is then the serial
    // port (or network address) Hamlib opens for the model.
    bool rigLinked = false;
    HamlibDevice hamlibRadio;
    bool rotLinked = false;
    HamlibDevice hamlibRotator;
    bool reconnect = true;  // a device that went away is opened again when it is back

    // The window's ports, target and "Track frequency" as they were left,
    // taken up again at the next start while resumeAtStart is on.
    struct Resume {
        bool openA = false;
        bool autoA = false;
        QString deviceA;  // the serial device or the daemon's address
        bool openB = false;
        bool autoB = false;
        QString deviceB;
        QString target = QStringLiteral("moon");  // moon, sun or source
        bool trackFrequency = false;
        QString dataFile;  // the tracking data file the window had open; empty: none
        bool operator==(const Resume &other) const;
    };
    bool resumeAtStart = true;
    Resume resume;

    bool operator==(const NetworkSettings &other) const;
    bool operator!=(const NetworkSettings &other) const { return !(*this == other); }

    static QString defaultPath() { return QStringLiteral("network.cfg"); }
    // Defaults for anything missing or unreadable; never reports.
    static NetworkSettings read(const QString &path = defaultPath());
    // Through a save file, so a crash never leaves half a file. Skipped
    // (true) when there is no file yet and nothing differs from the defaults.
    bool write(const QString &path = defaultPath()) const;
};
