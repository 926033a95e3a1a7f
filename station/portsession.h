// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/devicelink.h"
#include "serial/serialtypes.h"
#include "station/stationcontext.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QFileSystemWatcher;
class QTimer;

// One port's whole life: its link (a serial line or a Hamlib daemon), the
// open and close, the wait for a lost device and the backoff, and the alarm
// for a daemon that cannot be reached or kept. What the link does for the
// rotator or the radio is the station's; this says what happened by signals.
//
// Views read the fields; only the session writes them.
class PortSession : public QObject
{
    Q_OBJECT

public:
    PortSession(StationPort port, StationContext &context, QObject *parent = nullptr);

    QString name;                 // "Port A", "Port B"
    bool open = false;
    bool connecting = false;      // a daemon link is being connected
    bool network = false;         // the device is reached through a Hamlib daemon
    bool linked = false;          // Hamlib linked into the program drives the device
    bool automatic = false;       // Auto rather than Manual
    DeviceLink *link = nullptr;   // from a successful open (or the start of a connection) to the close
    QString target() const { return link ? link->target() : QString(); }
    // How it was opened last, so that it can be opened again the same way.
    QString openedName;
    QString openedDevice;  // the device file the name led to then
    QString openedLink;    // the link's own identity then, when the name is a link
    SerialParameters parameters;
    bool ft847 = false;

    // Opens at once on a serial line; on a daemon starts the connection,
    // and opened() follows when it answers. quiet: a reconnection attempt,
    // which says only when it succeeds.
    bool openDevice(const QString &nameOrAddress, const SerialParameters &parameters, bool ft847, bool quiet);
    // A link made elsewhere (tests, other transports).
    void openWith(DeviceLink *link, const QString &shownName);
    // The link closed and dropped, "Port A disconnected" said; false when
    // nothing was open (a connection under way is cancelled instead).
    bool closeLink();
    void send(const QByteArray &bytes);

    // Waiting for a lost device.
    void planReconnect();
    void cancelReconnect();
    bool isReconnecting() const { return m_reconnect.wanted; }
    // Seconds to the next attempt; a serial device is also taken the moment it appears.
    int secondsToRetry() const;
    // The open that came of the wait: the backoff is kept for a device
    // that is lost again soon.
    void reconnected();
    // The operator closed it: no wait, no alarm.
    void forget();
    // A connection kept a minute after short ones ends their alarm; true when that showed.
    bool checkStable();
    Alarm unreachableAlarm() const { return m_port == StationPort::A ? Alarm::RotatorUnreachable : Alarm::RadioUnreachable; }

signals:
    // Open and wired: the station takes the link over.
    void opened();
    // The device went away while open.
    void lost();
    // A daemon's address given to open: kept in network.cfg.
    void daemonAddress(const QString &address);
    void changed();

private:
    void dropLink();
    void wire();
    void tryReconnect();

    StationPort m_port;
    StationContext &m_context;
    struct Reconnect {
        bool wanted = false;
        int backoffSeconds = 1;
        QElapsedTimer since;  // the last return; a device lost soon after waits longer
        int shortLives = 0;  // connections in a row lost soon after they were made
    };
    Reconnect m_reconnect;
    QTimer *m_reconnectTimer;
    QFileSystemWatcher *m_watcher = nullptr;
};
