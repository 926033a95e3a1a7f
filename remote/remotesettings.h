// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/serialtypes.h"

#include <QHostAddress>
#include <QString>

#include <optional>

// How the station is reached from elsewhere, and which devices a station
// without a window opens by itself. Kept in remote.cfg beside store.cfg, one
// "key: 'value'" line each; anything missing or unreadable takes its default.
struct RemoteSettings {
    static constexpr quint16 defaultPort = 8473;

    // "localhost" unless the operator names an address of this machine, a
    // host name for some of them, or "any"; anything but the loopback needs the token.
    QString listenAddress = QStringLiteral("localhost");
    quint16 listenPort = defaultPort;
    // Raw lines to a port from a remote client: off unless switched on here.
    bool manualTerminal = false;
    // The devices the service opens: a serial device, or (for a port the
    // network.cfg puts on a daemon) the daemon's address there. Clients pick
    // among these and the serial ports the machine lists; never a path of their own.
    QString portADevice;
    QString portBDevice;
    bool ft847 = false;
    BaudRateType portABaudRate = BAUD9600;  // 8 data bits, no parity, 1 stop bit, no flow control
    BaudRateType portBBaudRate = BAUD9600;
    // Auto (tracking) or Manual, as a client last left each port.
    bool autoA = true;
    bool autoB = true;
    // The tracking data file another program writes; empty: none, or the
    // built-in sky when source.cfg chooses it.
    QString dataFile;
    // Opened at start: what was open when a client last opened or closed it.
    bool openAAtStart = false;
    bool openBAtStart = false;
    // Another listed serial port a client opened, kept beside the configured
    // device rather than over it; empty: the configured one.
    QString portAChosen;
    QString portBChosen;
    // What a client last chose, kept over a restart.
    QString target = QStringLiteral("moon");  // moon, sun or source
    bool trackFrequency = false;  // engaged again once the radio's frequency is read
    bool dxShift = false;         // "Track frequency" follows the DX shift
    QString device(bool portA) const
    {
        const QString &chosen = portA ? portAChosen : portBChosen;
        return chosen.isEmpty() ? (portA ? portADevice : portBDevice) : chosen;
    }

    bool operator==(const RemoteSettings &other) const;

    // The address written, or null for a host name (which asks for the token).
    QHostAddress address() const;
    bool loopbackOnly() const { return address().isLoopback(); }

    static QString defaultPath() { return QStringLiteral("remote.cfg"); }
    static RemoteSettings read(const QString &path = defaultPath());
    bool write(const QString &path = defaultPath()) const;
};

// The token a client off this machine must give: made at first need, kept in
// a file only its user can read. Empty when it can be neither read nor made.
struct RemoteToken {
    QString value;
    bool created = false;  // made now: the only time it is shown
    bool othersMayRead = false;  // the file's group or anyone else may read it
};
RemoteToken remoteToken(const QString &path = QStringLiteral("remote.token"));
