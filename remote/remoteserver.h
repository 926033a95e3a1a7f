#pragma once

#include "remote/remotecommands.h"
#include "remote/remotesettings.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>

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
// token, loses its own connection and nothing else.
class RemoteServer : public QObject
{
    Q_OBJECT

public:
    // Bounds that keep one client from starving the station.
    static constexpr int maxClients = 64;
    static constexpr int maxPendingHttp = 128;  // requests not yet read whole
    static constexpr qint64 maxFrameBytes = 16 * 1024;
    static constexpr int maxRequestBytes = 8 * 1024;
    static constexpr int requestTimeoutMs = 5000;
    static constexpr int commandsPerSecond = 20;
    static constexpr int commandBurst = 40;
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
    const RemoteSettings &settings() const { return m_settings; }

    // The state as sent now, for tests and the benchmark.
    QByteArray stateMessage();

signals:
    // After each push of the state to the clients.
    void statePushed();

private:
    struct Client {
        bool authenticated = false;
        double allowance = commandBurst;  // token bucket
        QElapsedTimer lastCommand;
        int refusedInARow = 0;
        QTimer *authTimer = nullptr;
        qint64 unwritten = 0;  // sent but not yet taken by the network
    };

    void httpConnection(QTcpServer *listener);
    void httpRequest(QTcpSocket *socket);
    void webSocketConnection();
    void textMessage(QWebSocket *socket, const QString &text);
    void drop(QWebSocket *socket, int code, const QString &reason);
    void send(QWebSocket *socket, const QString &text);
    void reply(QWebSocket *socket, const QJsonValue &id, bool ok, const QString &error);
    void logLine(const QString &text);
    void schedulePush();
    void broadcast(const QString &message);
    void push();
    bool hostAllowed(const QByteArray &head) const;

    TrackingControl &m_station;
    RemoteSettings m_settings;
    remote::CommandHandler m_commands;
    QString m_token;
    QList<QTcpServer *> m_listeners;
    QWebSocketServer *m_webSockets;
    QHash<QWebSocket *, Client> m_clients;
    int m_pendingHttp = 0;
    QTimer *m_pushTimer;
    QTimer *m_heartbeat;
    qint64 m_sequence = 0;
};
