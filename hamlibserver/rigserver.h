// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/serversettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

class QTcpServer;
class QTcpSocket;
class TrackingControl;

// A server speaking rigctld's protocol (short and long commands, default and
// extended responses), so that WSJT-X's "Hamlib NET rigctl" or rigctl -m 2
// works the radio through the station while the station keeps it on the
// Doppler-corrected frequency. A client's frequency is the dial (the sked):
// "F" sets it and "f" answers it, never the corrected frequency on the
// radio, so that the client does not chase the station's own corrections.
class RigServer : public QObject
{
    Q_OBJECT

public:
    // A line longer than any command, or more unread answers than any client
    // leaves, closes that client alone.
    static constexpr int longestLine = 256;
    static constexpr qint64 mostUnread = 64 * 1024;
    static constexpr int mostLinesPerSecond = 200;
    // More at once are refused at connect: a station has a few such
    // programs, and each connection holds a descriptor.
    static constexpr int mostClients = 8;

    explicit RigServer(TrackingControl &station, QObject *parent = nullptr);

    // Listens as the settings say, or stops; false with the reason logged
    // when the address cannot be had.
    bool apply(const ServerSettings &settings);
    const ServerSettings &settings() const { return m_settings; }
    bool isListening() const;
    quint16 port() const;
    int clients() const;

    // One command line's whole answer, as a client would get it.
    QByteArray answer(const QByteArray &line);

signals:
    void message(const QString &text);

private:
    void accept();
    void readClient(QTcpSocket *socket);
    QByteArray dumpState() const;
    double dialHz() const;
    std::optional<double> radioDialHz() const;
    int setDial(double hz);

    TrackingControl &m_station;
    QTcpServer *m_server = nullptr;
    ServerSettings m_settings;
    std::optional<double> m_dialHz;      // what a client set last
    std::optional<double> m_radioHzAtDial;  // the radio's frequency as it was then
    std::optional<double> m_transmitHz;  // a client's "I", read back by "i"
    bool m_refusing = false;  // said once while clients are refused
    QByteArray m_mode = "USB";
    QByteArray m_passband = "2400";
};
