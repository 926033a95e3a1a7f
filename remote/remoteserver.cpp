// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/remoteserver.h"

#include "calibration/calibrator.h"
#include "links/showntext.h"
#include "remote/stationstate.h"
#include "station/trackingcontrol.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

struct StaticFile {
    const char *path;
    const char *resource;
    const char *type;
};
// The page and nothing else: a request names one of these or gets 404.
constexpr StaticFile staticFiles[] = {
    {"/", ":/remote/web/index.html", "text/html; charset=utf-8"},
    {"/index.html", ":/remote/web/index.html", "text/html; charset=utf-8"},
    {"/app.js", ":/remote/web/app.js", "text/javascript; charset=utf-8"},
    {"/style.css", ":/remote/web/style.css", "text/css; charset=utf-8"},
};

QByteArray httpResponse(const char *status, const char *type, const QByteArray &body)
{
    return QByteArray("HTTP/1.1 ") + status + "\r\nContent-Type: " + type
        + "\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nX-Frame-Options: DENY"
          "\r\nContent-Security-Policy: default-src 'self'; connect-src 'self' ws: wss:; frame-ancestors 'none'"
          "\r\nConnection: close\r\n\r\n"
        + body;
}

// A refusal that tells a stranger nothing of what is here.
QByteArray plainRefusal(const char *status)
{
    return QByteArray("HTTP/1.1 ") + status + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

// A header's value from a request's head, empty when it has none.
QByteArray headerValue(const QByteArray &head, const QByteArray &lowerCaseName)
{
    const QList<QByteArray> lines = head.left(head.indexOf("\r\n\r\n")).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0 && lines[i].left(colon).trimmed().toLower() == lowerCaseName)
            return lines[i].mid(colon + 1).trimmed();
    }
    return {};
}

// A page elsewhere in the operator's browser must not steer the antenna: a
// browser's request comes from the page this server sent; other clients send no origin.
bool sameOrigin(const QByteArray &head)
{
    const QByteArray origin = headerValue(head, "origin");
    if (origin.isEmpty())
        return true;
    const QUrl from(QString::fromLatin1(origin));
    const QString host = QString::fromLatin1(headerValue(head, "host"));
    const QUrl to(QStringLiteral("http://") + host);
    return from.isValid() && to.isValid() && !host.isEmpty() && from.host() == to.host()
        && from.port(80) == to.port(80);
}

// Constant time, so that a wrong token's answer says nothing of how wrong.
bool sameText(const QString &a, const QString &b)
{
    const QByteArray x = a.toUtf8();
    const QByteArray y = b.toUtf8();
    if (x.size() != y.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < x.size(); ++i)
        difference |= static_cast<unsigned char>(x[i] ^ y[i]);
    return difference == 0;
}

} // namespace

RemoteServer::RemoteServer(TrackingControl &station, const RemoteSettings &settings, QObject *parent)
    : QObject(parent)
    , m_station(station)
    , m_settings(settings)
    , m_commands(station, m_settings)
    , m_webSockets(new QWebSocketServer(QStringLiteral("vestrel"), QWebSocketServer::NonSecureMode, this))
    , m_pushTimer(new QTimer(this))
    , m_heartbeat(new QTimer(this))
    , m_summary(new QTimer(this))
{
    m_clock.start();
    m_sweep = new QTimer(this);
    m_sweep->setInterval(500);
    connect(m_sweep, &QTimer::timeout, this, &RemoteServer::sweep);
    m_webSockets->setHandshakeTimeout(std::chrono::milliseconds(requestTimeoutMs));
    connect(m_webSockets, &QWebSocketServer::newConnection, this, &RemoteServer::webSocketConnection);
    // Refusals past the first are said here, a few lines a minute however many there were.
    connect(m_summary, &QTimer::timeout, this, [this] {
        for (const QString &line : m_guard.summary())
            say(line);
    });
    m_summary->start(int(remote::AccessGuard::summaryEveryMs));
    // Changes that come together (a cycle's command and its Doppler step) go out as one state.
    m_lastStationCommand.start();
    m_pushTimer->setSingleShot(true);
    m_pushTimer->setInterval(0);
    // A change pushes only what changed: a radio readout that shows the same
    // frequency again is no news to fifty clients. The heartbeat always goes.
    connect(m_pushTimer, &QTimer::timeout, this, [this] {
        QJsonObject state = this->state();
        if (state != m_lastPushed)
            push(std::move(state));
    });
    connect(m_heartbeat, &QTimer::timeout, this, [this] { push(); });
    m_heartbeat->setInterval(heartbeatMs);  // beats once a client is let in
    connect(&station, &TrackingControl::changed, this, &RemoteServer::schedulePush);
    connect(&station, &TrackingControl::antennaPosition, this, &RemoteServer::schedulePush);
    connect(&station, &TrackingControl::message, this, &RemoteServer::logLine);
}

RemoteServer::~RemoteServer()
{
    // Dropped rather than closed: Qt 6.4 leaks the reason of a socket
    // destroyed while open, and no one waits for a close handshake here.
    for (QWebSocket *socket : m_clients.keys()) {
        socket->disconnect(this);
        socket->abort();
    }
}

bool RemoteServer::listen(QString *error)
{
    const QHostAddress address = m_settings.address();
    if (address.isNull()) {
        if (error)
            *error = QStringLiteral("'%1' is a host name, to be looked up first").arg(m_settings.listenAddress);
        return false;
    }
    return listen({address}, error);
}

bool RemoteServer::listen(const QList<QHostAddress> &addresses, QString *error)
{
    for (const QHostAddress &address : addresses) {
        auto *listener = new QTcpServer(this);
        // The first may have been given any free port: the rest take the same.
        const quint16 port = m_listeners.isEmpty() ? m_settings.listenPort : this->port();
        if (!listener->listen(address, port)) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(address.toString(), listener->errorString());
            delete listener;
            qDeleteAll(m_listeners);
            m_listeners.clear();
            return false;
        }
        connect(listener, &QTcpServer::newConnection, this, [this, listener] { httpConnection(listener); });
        m_listeners << listener;
    }
    return !m_listeners.isEmpty();
}

quint16 RemoteServer::port() const
{
    return m_listeners.isEmpty() ? 0 : m_listeners.first()->serverPort();
}

void RemoteServer::say(const QString &line)
{
    if (!line.isEmpty())
        m_station.say(line);
}

// ---- HTTP: the page, or the way into the WebSocket API ----------------------

void RemoteServer::httpConnection(QTcpServer *listener)
{
    while (QTcpSocket *socket = listener->nextPendingConnection()) {
        // A command's reply and the state after it go out at once, not after
        // the client's delayed acknowledgement of the reply (Nagle).
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        ++m_connectionsSinceTrim;
        const QString from = remote::AccessGuard::addressKey(socket->peerAddress());
        makeRoomForRequest(from);
        // Counted, and bounded in time, until it is closed or becomes a WebSocket.
        auto *timeout = new QTimer(socket);
        timeout->setSingleShot(true);
        connect(timeout, &QTimer::timeout, socket, &QTcpSocket::abort);
        timeout->start(requestTimeoutMs);
        m_pending.insert(socket, {from, ++m_order, timeout});
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_pending.remove(socket); });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            const QByteArray head = socket->peek(maxRequestBytes + 1);
            if (!head.contains("\r\n\r\n")) {
                if (head.size() > maxRequestBytes)
                    socket->abort();
                return;
            }
            // One request per connection: whatever the client sends after it is not read.
            disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
            httpRequest(socket);
        });
    }
}

// The oldest connection gives way to the newest: a browser's idle spare
// connections and a flood's held ones go first, the page's requests are
// answered long before they are the oldest. Past the overall bound it is the
// oldest of the address that holds the most, so that many flooding hosts
// take their own places rather than the operator's one request.
void RemoteServer::makeRoomForRequest(const QString &address)
{
    const auto oldest = [this](const QString &from) {
        QHash<QString, int> held;
        if (from.isEmpty()) {
            for (const Pending &pending : std::as_const(m_pending))
                ++held[pending.address];
        }
        QTcpSocket *found = nullptr;
        const Pending *chosen = nullptr;
        for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
            if (!from.isEmpty() && it->address != from)
                continue;
            const int most = chosen ? held.value(chosen->address) : 0;
            const int here = held.value(it->address);
            if (!chosen || here > most || (here == most && it->order < chosen->order)) {
                found = it.key();
                chosen = &*it;
            }
        }
        return found;
    };
    const auto giveWay = [this](QTcpSocket *socket, const QString &why) {
        say(m_guard.connectionRefused(m_pending.take(socket).address, why));
        socket->abort();
    };
    // On the loopback every connection is this machine's own: only the overall bound holds.
    if (!m_token.isEmpty()) {
        const auto fromThere = std::count_if(m_pending.cbegin(), m_pending.cend(),
                                             [&](const Pending &pending) { return pending.address == address; });
        if (fromThere >= pendingHttpPerAddress)
            giveWay(oldest(address), QStringLiteral("%1 connections of it were open already, none yet a client")
                                         .arg(pendingHttpPerAddress));
    }
    if (m_pending.size() >= maxPendingHttp)
        giveWay(oldest({}), QStringLiteral("%1 connections were open already, none yet a client").arg(maxPendingHttp));
}

// Without a token only this machine's own names are served: a page from a
// site whose name was made to point here (DNS rebinding) gets nothing.
bool RemoteServer::hostAllowed(const QByteArray &head) const
{
    if (!m_token.isEmpty())
        return true;
    QByteArray host = headerValue(head, "host").toLower();
    if (host.startsWith('['))
        host = host.left(host.indexOf(']') + 1);
    else if (host.contains(':'))
        host = host.left(host.indexOf(':'));
    return host == "localhost" || host == "127.0.0.1" || host == "[::1]";
}

void RemoteServer::httpRequest(QTcpSocket *socket)
{
    const QByteArray head = socket->peek(maxRequestBytes);
    const QList<QByteArray> words = head.left(head.indexOf("\r\n")).split(' ');
    const bool upgrade = head.toLower().contains("\r\nupgrade: websocket");
    if (!hostAllowed(head)) {
        socket->readAll();
        socket->write(httpResponse("403 Forbidden", "text/plain", "this station answers to localhost only\n"));
        socket->disconnectFromHost();
        return;
    }
    if (words.size() == 3 && words[0] == "GET" && upgrade) {
        const QString from = m_pending.value(socket).address;
        const char *refusal = nullptr;
        if (!sameOrigin(head)) {
            refusal = "403 Forbidden";
        } else if (!m_token.isEmpty() && !m_guard.mayTryToken(from)) {
            refusal = "429 Too Many Requests";
            say(m_guard.connectionRefused(from, QStringLiteral("it has to wait %1 s after its wrong tokens")
                                                    .arg((m_guard.waitLeftMs(from) + 999) / 1000)));
        } else if (!m_token.isEmpty() && m_waiting.value(from) >= waitingForTokenPerAddress) {
            refusal = "429 Too Many Requests";
            say(m_guard.connectionRefused(from, QStringLiteral("%1 connections of it were waiting for their token")
                                                    .arg(waitingForTokenPerAddress)));
        }
        if (refusal) {
            socket->readAll();
            socket->write(plainRefusal(refusal));
            socket->disconnectFromHost();
            return;
        }
        handOver(socket, head.indexOf("\r\n\r\n") + 4);
        return;
    }
    QByteArray response;
    if (words.size() != 3 || (words[0] != "GET" && words[0] != "HEAD")) {
        response = httpResponse("405 Method Not Allowed", "text/plain", "GET only\n");
    } else {
        const QByteArray path = words[1].split('?').first();
        // The page's files never change while the station runs: each answer
        // is made once, not again for each of a flood's requests.
        const QByteArray key = words[0] + ' ' + path;
        response = m_pages.value(key);
        for (const StaticFile &file : staticFiles) {
            if (!response.isEmpty() || path != file.path)
                continue;
            QFile resource(QString::fromLatin1(file.resource));
            if (resource.open(QIODevice::ReadOnly)) {
                response = httpResponse("200 OK", file.type, words[0] == "HEAD" ? QByteArray() : resource.readAll());
                m_pages.insert(key, response);
            }
        }
        if (response.isEmpty())
            response = httpResponse("404 Not Found", "text/plain", "not found\n");
    }
    socket->readAll();
    socket->write(response);
    socket->disconnectFromHost();
}

// ---- WebSocket clients -------------------------------------------------------

// The WebSocket server reads the handshake itself; the frames after it are
// looked at first here, as each piece arrives, before Qt reads them.
void RemoteServer::handOver(QTcpSocket *socket, qint64 headBytes)
{
    const Pending pending = m_pending.take(socket);
    delete pending.timeout;  // the handshake and the token have bounds of their own
    auto upgrade = std::make_shared<Upgrade>();
    upgrade->tcp = socket;
    upgrade->address = pending.address;
    upgrade->headBytes = headBytes;
    upgrade->seen = headBytes;
    if (!m_token.isEmpty()) {
        upgrade->waiting = true;
        ++m_waiting[upgrade->address];
    }
    socket->disconnect(this);
    disconnect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    m_upgrades.insert(socket, upgrade);
    // A handshake that fails ends here, whether or not Qt destroys the socket
    // (the WebSocket server has a timeout of its own).
    connect(socket, &QObject::destroyed, this, [this, socket, upgrade] { handshakeOver(socket, upgrade); });
    m_handshakes.push_back({socket, upgrade, m_clock.elapsed() + 2 * requestTimeoutMs});
    m_sweep->start();
    // Connected before the WebSocket's own reader, so called before it.
    connect(socket, &QTcpSocket::readyRead, this, [this, upgrade] { followFrames(*upgrade); });
    followFrames(*upgrade);  // what came with the request
    m_webSockets->handleConnection(socket);
}

// New bytes arrive at the end of the socket's buffer and the WebSocket reads
// from its front, so the bytes not yet followed are those past what was left
// after the WebSocket's last read (and, until the handshake is taken, past the request).
void RemoteServer::followFrames(Upgrade &upgrade)
{
    QTcpSocket *tcp = upgrade.tcp;
    if (!tcp || upgrade.lost)
        return;
    if (upgrade.unmasked) {
        if (upgrade.upgraded)
            tcp->readAll();  // nothing more of it reaches the WebSocket
        return;
    }
    const qint64 available = tcp->bytesAvailable();
    if (available < upgrade.seen && upgrade.headBytes > 0) {
        upgrade.seen -= upgrade.headBytes;
        upgrade.headBytes = 0;
    }
    if (available < upgrade.seen) {
        upgrade.lost = true;
        return;
    }
    if (available == upgrade.seen)
        return;
    const QByteArray bytes = tcp->peek(available).mid(upgrade.seen);
    upgrade.seen = available;
    if (upgrade.frames.take(bytes))
        return;
    upgrade.unmasked = true;
    say(m_guard.connectionRefused(upgrade.address, QStringLiteral("it sent an unmasked frame")));
    // Before the handshake is done the request is still to be read, and the
    // WebSocket is closed as it arrives; what it reads till then reaches no one.
    if (!upgrade.upgraded)
        return;
    tcp->readAll();
    for (auto it = m_clients.begin(); it != m_clients.end(); ++it) {
        if (it->upgrade.get() == &upgrade) {
            drop(it.key(), QWebSocketProtocol::CloseCodeProtocolError, {});
            return;
        }
    }
}

void RemoteServer::handshakeOver(QTcpSocket *socket, const std::shared_ptr<Upgrade> &upgrade)
{
    if (const auto found = m_upgrades.constFind(socket); found != m_upgrades.cend() && *found == upgrade)
        m_upgrades.erase(found);
    if (!upgrade->upgraded)
        releaseWaiting(*upgrade);
}

// A closed client's socket goes once the peer answers the close, or after
// the request's time-out when it never does.
void RemoteServer::closeLater(QWebSocket *socket)
{
    m_closing.emplace_back(socket, m_clock.elapsed() + requestTimeoutMs);
    m_sweep->start();
}

void RemoteServer::sweep()
{
    const qint64 now = m_clock.elapsed();
    while (!m_handshakes.empty() && m_handshakes.front().due <= now) {
        const Handshake over = std::move(m_handshakes.front());
        m_handshakes.pop_front();
        handshakeOver(over.socket, over.upgrade);
    }
    while (!m_closing.empty() && m_closing.front().second <= now) {
        if (m_closing.front().first)
            m_closing.front().first->deleteLater();
        m_closing.pop_front();
    }
    if (!m_handshakes.empty() || !m_closing.empty())
        return;
    m_sweep->stop();
    // A flood's connections came and went in small pieces of the heap, which
    // the allocator keeps for later rather than give back: a service up for
    // months would hold its worst flood's memory ever after.
    if (m_connectionsSinceTrim >= trimAfterConnections) {
        m_connectionsSinceTrim = 0;
#ifdef __GLIBC__
        malloc_trim(0);
#endif
    }
}

void RemoteServer::releaseWaiting(Upgrade &upgrade)
{
    if (!upgrade.waiting)
        return;
    upgrade.waiting = false;
    if (--m_waiting[upgrade.address] <= 0)
        m_waiting.remove(upgrade.address);
}

void RemoteServer::webSocketConnection()
{
    while (QWebSocket *socket = m_webSockets->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            forget(socket);
            socket->deleteLater();
        });
        socket->setMaxAllowedIncomingFrameSize(maxFrameBytes);
        socket->setMaxAllowedIncomingMessageSize(maxFrameBytes);
        // Its TCP socket, found by the peer's address and port (QWebSocket does not give it).
        std::shared_ptr<Upgrade> upgrade;
        for (auto it = m_upgrades.begin(); it != m_upgrades.end();) {
            const QTcpSocket *tcp = it.value()->tcp;
            if (!tcp) {
                it = m_upgrades.erase(it);
            } else if (!upgrade && tcp->peerPort() == socket->peerPort()
                       && tcp->peerAddress() == socket->peerAddress()) {
                upgrade = it.value();
                it = m_upgrades.erase(it);
            } else {
                ++it;
            }
        }
        if (upgrade) {
            // The WebSocket has read what it could: what is left was followed, and
            // from now on this runs after each of its reads.
            QTcpSocket *tcp = upgrade->tcp;
            upgrade->upgraded = true;
            upgrade->headBytes = 0;
            upgrade->seen = tcp->bytesAvailable();
            connect(tcp, &QTcpSocket::readyRead, this, [upgrade] {
                if (upgrade->tcp)
                    upgrade->seen = upgrade->tcp->bytesAvailable();
            });
        }
        const bool roomy = m_token.isEmpty() ? m_clients.size() < maxClients : makeRoomForClient();
        if (!roomy || (upgrade && upgrade->unmasked)) {
            if (upgrade)
                releaseWaiting(*upgrade);
            socket->close(roomy ? QWebSocketProtocol::CloseCodeProtocolError : QWebSocketProtocol::CloseCodeTooMuchData,
                          roomy ? QString() : QStringLiteral("too many clients"));
            closeLater(socket);
            continue;
        }
        Client &client = m_clients[socket];
        client.lastCommand.start();
        client.address = upgrade ? upgrade->address : remote::AccessGuard::addressKey(socket->peerAddress());
        client.order = ++m_order;
        client.upgrade = upgrade;
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, socket](const QString &text) { textMessage(socket, text); });
        connect(socket, &QWebSocket::binaryMessageReceived, this, [this, socket] {
            drop(socket, QWebSocketProtocol::CloseCodeDatatypeNotSupported, QStringLiteral("text only"));
        });
        const QJsonObject hello {{QStringLiteral("type"), QStringLiteral("hello")},
                                 {QStringLiteral("version"), remote::protocolVersion},
                                 {QStringLiteral("token"), !m_token.isEmpty()},
                                 {QStringLiteral("run"), QString::number(m_station.recentLog().run(), 16)}};
        connect(socket, &QWebSocket::bytesWritten, this, [this, socket](qint64 bytes) {
            if (const auto found = m_clients.find(socket); found != m_clients.end())
                found->unwritten = qMax<qint64>(0, found->unwritten - bytes);
        });
        send(socket, QString::fromUtf8(QJsonDocument(hello).toJson(QJsonDocument::Compact)));
        if (m_token.isEmpty()) {
            client.authenticated = true;
            send(socket, QString::fromUtf8(stateMessage()));
            m_heartbeat->start();
            sendHistory(socket);
            continue;
        }
        client.authTimer = new QTimer(socket);
        client.authTimer->setSingleShot(true);
        connect(client.authTimer, &QTimer::timeout, this, [this, socket] {
            say(m_guard.connectionRefused(m_clients.value(socket).address,
                                          QStringLiteral("it gave no token within %1 s").arg(tokenGraceMs / 1000)));
            drop(socket, QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("no token"));
        });
        client.authTimer->start(tokenGraceMs);
    }
}

// Connections still without their token hold at most the slots not
// reserved; past that, or when every slot is taken, one of them gives way
// to the newcomer: the oldest of the address that holds the most, so that a
// flood from a few hosts takes its own places, not the operator's one
// connection whose token is on its way. False: every slot holds a client
// past its token.
bool RemoteServer::makeRoomForClient()
{
    QHash<QString, int> held;
    int waiting = 0;
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it) {
        if (!it->authenticated) {
            ++held[it->address];
            ++waiting;
        }
    }
    if (waiting < maxClients - reservedForAuthenticated && m_clients.size() < maxClients)
        return true;
    QWebSocket *oldest = nullptr;
    const Client *chosen = nullptr;
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it) {
        if (it->authenticated)
            continue;
        const int most = chosen ? held.value(chosen->address) : 0;
        const int here = held.value(it->address);
        if (!chosen || here > most || (here == most && it->order < chosen->order)) {
            oldest = it.key();
            chosen = &*it;
        }
    }
    if (!oldest)
        return false;
    say(m_guard.connectionRefused(m_clients.value(oldest).address,
                                  QStringLiteral("the slots for clients without their token were taken, and its "
                                                 "address held the most of them")));
    drop(oldest, QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("too many clients without a token"));
    return true;
}

// The WebSocket takes its TCP socket's signals with it when it goes, so a
// client's place is given back here rather than when that socket is destroyed.
bool RemoteServer::forget(QWebSocket *socket)
{
    const auto found = m_clients.find(socket);
    if (found == m_clients.end())
        return false;
    if (found->upgrade)
        releaseWaiting(*found->upgrade);
    m_clients.erase(found);
    return true;
}

void RemoteServer::drop(QWebSocket *socket, int code, const QString &reason)
{
    if (!forget(socket))
        return;
    socket->disconnect(this);
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    socket->close(QWebSocketProtocol::CloseCode(code), reason);
    closeLater(socket);  // a peer that never answers the close is not waited for
}

void RemoteServer::reply(QWebSocket *socket, const QJsonValue &id, bool ok, const QString &error)
{
    QJsonObject answer {{QStringLiteral("type"), QStringLiteral("reply")}, {QStringLiteral("ok"), ok}};
    if (!id.isUndefined())
        answer.insert(QStringLiteral("id"), id);
    if (!ok)
        answer.insert(QStringLiteral("error"), error);
    send(socket, QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact)));
}

void RemoteServer::textMessage(QWebSocket *socket, const QString &text)
{
    const auto found = m_clients.find(socket);
    if (found == m_clients.end())
        return;
    Client &client = *found;
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    const QJsonObject command = document.object();
    const QJsonValue id = command.value(QLatin1String("id"));
    const bool goodId = id.isUndefined() || id.isDouble() || (id.isString() && id.toString().size() <= 64);
    const bool named = command.value(QLatin1String("cmd")).isString();
    if (error.error != QJsonParseError::NoError || !document.isObject() || !named || !goodId) {
        drop(socket, QWebSocketProtocol::CloseCodeProtocolError, QStringLiteral("not a command"));
        return;
    }
    const QString name = command.value(QLatin1String("cmd")).toString();
    if (!client.authenticated) {
        if (name != QLatin1String("hello"))
            drop(socket, QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("wrong token"));
        else
            tokenGiven(socket, client, id, command.value(QLatin1String("token")).toString());
        return;
    }

    // A token bucket: a burst for a page's first clicks, a steady rate after.
    const qint64 sinceLastMs = client.lastCommand.restart();
    client.allowance = qMin<double>(commandBurst, client.allowance + sinceLastMs * commandsPerSecond / 1000.0);
    if (client.allowance < 1.0) {
        // A client that keeps on without pausing is not one a person drives.
        if (++client.refusedInARow > commandBurst)
            drop(socket, QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("too many commands"));
        else
            reply(socket, id, false, QStringLiteral("too many commands; wait"));
        return;
    }
    if (!withinBudget(client, sinceLastMs)) {
        reply(socket, id, false, QStringLiteral("the station is busy with other clients' commands; wait"));
        return;
    }
    client.allowance -= 1.0;
    client.refusedInARow = 0;

    if (name == QLatin1String("hello") || name == QLatin1String("ping")) {
        reply(socket, id, true, {});
        return;
    }
    if (name == QLatin1String("state")) {
        reply(socket, id, true, {});
        send(socket, QString::fromUtf8(stateMessage()));
        return;
    }
    const remote::CommandOutcome outcome = m_commands.run(command);
    reply(socket, id, outcome.ok, outcome.error);
    m_commander = socket;
    schedulePush();
}

// Many clients within their own rates still move one rotator and one radio:
// the station has a budget of its own. Spent, it is shared out, each client
// that commands the station at an equal part of its rate, so a client that
// sends a few commands goes on while those that send many are refused. What
// is let through past the budget is owed by it, so the total stays near its rate.
bool RemoteServer::withinBudget(Client &client, qint64 sinceLastMs)
{
    m_stationAllowance = qMin<double>(stationCommandBurst, m_stationAllowance
                                                               + m_lastStationCommand.restart()
                                                                   * stationCommandsPerSecond / 1000.0);
    int commanding = 0;
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it)
        commanding += it->authenticated && it->lastCommand.elapsed() < commandingForMs;
    const double sharePerSecond = double(stationCommandsPerSecond) / qMax(1, commanding);
    client.share = qMin<double>(fairShareBurst, client.share + sinceLastMs * sharePerSecond / 1000.0);
    if (m_stationAllowance < 1.0 && client.share < 1.0)
        return false;
    m_stationAllowance = qMax<double>(-stationCommandBurst, m_stationAllowance - 1.0);
    client.share = qMax(0.0, client.share - 1.0);
    return true;
}

// A wrong token costs its address a wait once it has given a few: while it
// waits, a token from there is not even compared. The log says the first
// and sums up the rest; never the token itself.
void RemoteServer::tokenGiven(QWebSocket *socket, Client &client, const QJsonValue &id, const QString &token)
{
    const QString from = client.address;
    if (!m_guard.mayTryToken(from)) {
        say(m_guard.tokenRefused(from, false));
        drop(socket, QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("too many wrong tokens; wait"));
        return;
    }
    if (!sameText(token, m_token)) {
        say(m_guard.tokenRefused(from, true));
        drop(socket, QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("wrong token"));
        return;
    }
    m_guard.rightToken(from);
    if (client.upgrade)
        releaseWaiting(*client.upgrade);
    client.authenticated = true;
    delete client.authTimer;
    client.authTimer = nullptr;
    reply(socket, id, true, {});
    send(socket, QString::fromUtf8(stateMessage()));
    m_heartbeat->start();
    sendHistory(socket);
}

// A client that stops reading (a phone gone to sleep, a stuck program) would
// have its messages pile up here without end: past the bound it is closed.
void RemoteServer::send(QWebSocket *socket, const QString &text)
{
    const auto found = m_clients.find(socket);
    if (found == m_clients.end())
        return;
    if (found->unwritten > maxUnwrittenBytes) {
        drop(socket, QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("not reading"));
        return;
    }
    found->unwritten += socket->sendTextMessage(text);
}

// The log's lines as the window's log shows them, for a client's log view;
// numbered, so that a client that reconnects keeps each line once.
QString RemoteServer::logMessage(const LogHistory::Entry &entry)
{
    const QJsonObject line {{QStringLiteral("type"), QStringLiteral("log")},
                            {QStringLiteral("time"), entry.time.toString(Qt::ISODate)},
                            {QStringLiteral("n"), double(entry.number)},
                            {QStringLiteral("text"), shownText(entry.text.toUtf8(), 500)}};
    return QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact));
}

void RemoteServer::logLine()
{
    if (!m_station.recentLog().entries().empty())
        broadcast(logMessage(m_station.recentLog().entries().back()));
}

// What was said before the client came, oldest first.
void RemoteServer::sendHistory(QWebSocket *socket)
{
    for (const LogHistory::Entry &entry : m_station.recentLog().entries())
        send(socket, logMessage(entry));
}

// To every client past its token; taken as a list first, since a send may
// close a client that has stopped reading.
void RemoteServer::broadcast(const QString &message)
{
    QList<QWebSocket *> receivers;
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it)
        if (it->authenticated)
            receivers << it.key();
    // The client waiting to see its own command's effect is told first, and
    // its bytes leave now rather than in turn with fifty others' at the next poll.
    if (const qsizetype at = receivers.indexOf(m_commander.data()); at > 0)
        receivers.move(at, 0);
    for (QWebSocket *socket : std::as_const(receivers)) {
        send(socket, message);
        if (socket != m_commander)
            continue;
        const auto found = m_clients.constFind(socket);
        if (found != m_clients.cend() && found->upgrade && found->upgrade->tcp)
            found->upgrade->tcp->flush();
    }
}

// ---- state -------------------------------------------------------------------

QByteArray RemoteServer::stateMessage(std::optional<QJsonObject> made)
{
    QJsonObject state = made ? std::move(*made) : this->state();
    m_lastPushed = state;
    state.insert(QStringLiteral("seq"), double(++m_sequence));
    state.insert(QStringLiteral("clients"), clientCount());
    return QJsonDocument(state).toJson(QJsonDocument::Compact);
}

QJsonObject RemoteServer::state() const
{
    QJsonObject state = remote::stationState(m_station, m_settings.manualTerminal);
    if (m_calibrator)
        state.insert(QStringLiteral("calibration"), remote::calibrationState(*m_calibrator));
    return state;
}

void RemoteServer::setCalibrator(Calibrator *calibrator)
{
    m_calibrator = calibrator;
    m_commands.setCalibrator(calibrator);
    // A run's end comes with a progress too; a level heard is news for the
    // plot. The pushes come together as ever.
    for (auto signal : {&Calibrator::started, &Calibrator::progressed, &Calibrator::historyChanged})
        connect(calibrator, signal, this, &RemoteServer::schedulePush);
    connect(calibrator, &Calibrator::levelHeard, this, &RemoteServer::schedulePush);
}

bool RemoteServer::anyoneListening() const
{
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it) {
        if (it->authenticated)
            return true;
    }
    return false;
}

void RemoteServer::schedulePush()
{
    // With nobody to tell, a change costs neither the state made nor a turn of the loop.
    if (!m_pushTimer->isActive() && anyoneListening())
        m_pushTimer->start();
}

void RemoteServer::push(std::optional<QJsonObject> state)
{
    m_pushTimer->stop();
    if (!anyoneListening()) {
        // A service nobody watches sleeps between the station's own timers;
        // the beat starts again with the first client let in.
        m_heartbeat->stop();
        return;
    }
    m_heartbeat->start();  // the next beat a full interval after any push
    const QString message = QString::fromUtf8(stateMessage(std::move(state)));
    broadcast(message);
    m_commander.clear();
    emit statePushed();
}
