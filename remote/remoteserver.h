// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "log/loghistory.h"
#include "remote/accessguard.h"
#include "remote/maskedframes.h"
#include "remote/remotecommands.h"
#include "remote/remotesettings.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <memory>

class Calibrator;
#include <optional>

class QTcpServer;
class QTcpSocket;
class QTimer;
class QWebSocket;
class QWebSocketServer;
class TrackingControl;

// The station's remote view: one TCP port that serves the web page and, on
// the same address, the WebSocket API (docs/api.md). State goes to every
// client on each change and at least twice a second; commands go through
// CommandHandler. A client that sends what is not a command, or the wrong
// token, loses its own connection and nothing else; connections without the
// token cannot crowd out the clients that give it.
class RemoteServer : public QObject
{
    Q_OBJECT

public:
    // Connections after which, once their leftovers are all gone, the heap's
    // free pages are handed back to the system.
    static constexpr int trimAfterConnections = 1000;
    // Bounds that keep one client from starving the station.
    static constexpr int maxClients = 64;
    // Slots only a client past its token may take: those still without it share the rest.
    static constexpr int reservedForAuthenticated = 16;
    static constexpr int maxPendingHttp = 128;  // HTTP connections not yet answered and closed
    // Where a token is asked, per address: HTTP connections still open, and
    // WebSocket connections still without their token.
    static constexpr int pendingHttpPerAddress = 8;
    static constexpr int waitingForTokenPerAddress = 8;
    static constexpr int tokenGraceMs = 2000;
    static constexpr qint64 maxFrameBytes = 16 * 1024;
    static constexpr int maxRequestBytes = 8 * 1024;
    static constexpr int requestTimeoutMs = 5000;
    static constexpr int commandsPerSecond = 20;
    static constexpr int commandBurst = 40;
    static constexpr int stationCommandsPerSecond = 50;
    static constexpr int stationCommandBurst = 100;
    // Once the station's budget is spent, each client that commands it may
    // still go at its share of the station's rate: the busy ones wait, not
    // the quiet one. A client counts as commanding for a while after its last.
    static constexpr int fairShareBurst = 10;
    static constexpr int commandingForMs = 5000;
    static constexpr int heartbeatMs = 400;
    static constexpr qint64 maxUnwrittenBytes = 1024 * 1024;

    RemoteServer(TrackingControl &station, const RemoteSettings &settings, QObject *parent = nullptr);
    ~RemoteServer() override;

    // The token clients must give; empty: none asked (the loopback only).
    void setToken(const QString &token) { m_token = token; }
    // Binds remote.cfg's address (not a host name) and port (0: any free one, for tests).
    bool listen(QString *error);
    // Binds each of these, all on one port.
    bool listen(const QList<QHostAddress> &addresses, QString *error);
    quint16 port() const;
    int clientCount() const { return int(m_clients.size()); }
    // What connections gone or going still hold here: none some seconds after the last.
    int leftovers() const
    {
        return int(m_pending.size() + m_upgrades.size() + m_waiting.size() + m_handshakes.size() + m_closing.size());
    }
    const RemoteSettings &settings() const { return m_settings; }
    // The station's calibrations, shown in the state and run by commands; not owned.
    void setCalibrator(Calibrator *calibrator);

    // The state as sent now, for tests and the benchmark.
    // made: the state already made for this push, so it is made once.
    QByteArray stateMessage(std::optional<QJsonObject> made = std::nullopt);

signals:
    // After each push of the state to the clients.
    void statePushed();

private:
    // A connection handed to the WebSocket server, followed byte by byte
    // (before Qt reads them) for unmasked frames.
    struct Upgrade {
        QPointer<QTcpSocket> tcp;
        QString address;
        qint64 headBytes = 0;  // the request, until the WebSocket server has taken it
        qint64 seen = 0;       // bytes at the end of the socket's buffer already followed
        bool upgraded = false;
        bool lost = false;  // the count went astray: no more checks rather than a wrong close
        bool unmasked = false;
        bool waiting = false;  // counted in m_waiting
        remote::MaskedFrames frames;
    };
    struct Client {
        bool authenticated = false;
        double allowance = commandBurst;  // token bucket
        double share = fairShareBurst;    // another, at its share of the station's rate
        QElapsedTimer lastCommand;
        int refusedInARow = 0;
        QTimer *authTimer = nullptr;
        qint64 unwritten = 0;  // sent but not yet taken by the network
        QString address;
        quint64 order = 0;  // of arrival
        std::shared_ptr<Upgrade> upgrade;
    };
    struct Pending {
        QString address;
        quint64 order = 0;
        QTimer *timeout = nullptr;  // the socket's child
    };

    void httpConnection(QTcpServer *listener);
    void makeRoomForRequest(const QString &address);
    void httpRequest(QTcpSocket *socket);
    void handOver(QTcpSocket *socket, qint64 headBytes);
    void followFrames(Upgrade &upgrade);
    void webSocketConnection();
    bool makeRoomForClient();
    bool withinBudget(Client &client, qint64 sinceLastMs);
    void textMessage(QWebSocket *socket, const QString &text);
    void tokenGiven(QWebSocket *socket, Client &client, const QJsonValue &id, const QString &token);
    void releaseWaiting(Upgrade &upgrade);
    void handshakeOver(QTcpSocket *socket, const std::shared_ptr<Upgrade> &upgrade);
    void closeLater(QWebSocket *socket);
    void sweep();
    bool forget(QWebSocket *socket);
    void drop(QWebSocket *socket, int code, const QString &reason);
    void send(QWebSocket *socket, const QString &text);
    void reply(QWebSocket *socket, const QJsonValue &id, bool ok, const QString &error);
    void logLine();
    static QString logMessage(const LogHistory::Entry &entry);
    void sendHistory(QWebSocket *socket);
    void say(const QString &line);
    bool anyoneListening() const;
    void schedulePush();
    void broadcast(const QString &message);
    void push(std::optional<QJsonObject> state = std::nullopt);
    bool hostAllowed(const QByteArray &head) const;

    QJsonObject state() const;

    TrackingControl &m_station;
    QPointer<Calibrator> m_calibrator;
    RemoteSettings m_settings;
    remote::CommandHandler m_commands;
    QString m_token;
    QList<QTcpServer *> m_listeners;
    QWebSocketServer *m_webSockets;
    QHash<QWebSocket *, Client> m_clients;
    QHash<QTcpSocket *, Pending> m_pending;
    QHash<QTcpSocket *, std::shared_ptr<Upgrade>> m_upgrades;  // until the WebSocket server is done
    QHash<QString, int> m_waiting;  // per address: connections yet to give the token
    // What a connection leaves behind is ended by its deadline, kept in the
    // order they come (each list has one delay), by one timer for them all: a
    // timer each, at hundreds of connections a second, cost the event loop
    // more than the connections did.
    struct Handshake {
        QTcpSocket *socket;  // a key only, never followed
        std::shared_ptr<Upgrade> upgrade;
        qint64 due;
    };
    std::deque<Handshake> m_handshakes;
    std::deque<std::pair<QPointer<QWebSocket>, qint64>> m_closing;  // closed, deleted by then at the latest
    QElapsedTimer m_clock;
    QTimer *m_sweep;
    int m_connectionsSinceTrim = 0;
    QPointer<QWebSocket> m_commander;  // the client whose command the next push shows
    QHash<QByteArray, QByteArray> m_pages;  // "GET /app.js" and the like: the answers made so far
    remote::AccessGuard m_guard;
    quint64 m_order = 0;
    QTimer *m_pushTimer;
    QJsonObject m_lastPushed;  // the state last sent, without its sequence number
    double m_stationAllowance = stationCommandBurst;
    QElapsedTimer m_lastStationCommand;
    QTimer *m_heartbeat;
    QTimer *m_summary;
    qint64 m_sequence = 0;
};
