// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The station with its remote view on a free port of the loopback, over the
// simulated devices on pseudo-terminals, and a WebSocket client to it.

#include "fixedsource.h"
#include "remote/remoteserver.h"
#include "sim/simrotator.h"
#include "sim/simtransceiver.h"
#include "station/trackingcontrol.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtTest>

#include <memory>

#include <sys/resource.h>

namespace remotetesting {

// Some hundred connections and their server ends live in one test process.
inline void raiseDescriptorLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

constexpr int settleMs = 10000;  // generous: the machine is shared

struct RemoteStation {
    explicit RemoteStation(RemoteSettings settings = {}, const QString &token = {})
    {
        QDir::setCurrent(dir.path());
        radio.setFrequency(432065000);
        record.azimuth = 100;
        record.elevation = 10;
        record.dopplerHome = 500;
        station = std::make_unique<TrackingControl>();
        station->setTrackingSource(std::make_unique<FixedSource>(&record));
        station->setTimes(1, 100);
        // Both ports in Auto, as the service starts them.
        station->setAuto(StationPort::A, true);
        station->setAuto(StationPort::B, true);
        settings.listenPort = 0;
        settings.portADevice = rotator.slavePath();
        settings.portBDevice = radio.slavePath();
        server = std::make_unique<RemoteServer>(*station, settings);
        server->setToken(token);
        listening = server->listen(nullptr);
    }
    ~RemoteStation()
    {
        server.reset();
        station->closeAll();
    }
    QUrl url(const QString &path = QStringLiteral("/api")) const
    {
        return QUrl(QStringLiteral("ws://127.0.0.1:%1%2").arg(server->port()).arg(path));
    }

    QTemporaryDir dir;
    SimRotator rotator;
    SimTransceiver radio;
    TrackingRecord record;
    std::unique_ptr<TrackingControl> station;
    std::unique_ptr<RemoteServer> server;
    bool listening = false;
};

class Client : public QObject
{
public:
    explicit Client(const QUrl &url)
    {
        connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message.value(QLatin1String("type")) == QLatin1String("state"))
                state = message;
            messages << message;
        });
        connect(&socket, &QWebSocket::disconnected, this, [this] {
            closed = true;
            closeReason = socket.closeReason();
        });
        socket.open(url);
    }
    ~Client() override { socket.abort(); }  // Qt 6.4 leaks the reason of a socket destroyed while open
    bool waitForState(int ms = settleMs)
    {
        return QTest::qWaitFor([this] { return !state.isEmpty() || closed; }, ms) && !state.isEmpty();
    }
    // The command's reply, or an empty object when none came (or the line closed).
    QJsonObject send(QJsonObject command, int ms = settleMs)
    {
        if (!QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState || closed; }, ms))
            return {};
        const int id = ++m_id;
        command.insert(QStringLiteral("id"), id);
        socket.sendTextMessage(QString::fromUtf8(QJsonDocument(command).toJson(QJsonDocument::Compact)));
        QJsonObject reply;
        [[maybe_unused]] const bool done = QTest::qWaitFor(
            [&] {
                for (const QJsonObject &message : std::as_const(messages))
                    if (message.value(QLatin1String("type")) == QLatin1String("reply")
                        && message.value(QLatin1String("id")).toInt() == id)
                        reply = message;
                return !reply.isEmpty() || closed;
            },
            ms);
        return reply;
    }
    QWebSocket socket;
    QList<QJsonObject> messages;
    QJsonObject state;
    bool closed = false;
    QString closeReason;

private:
    int m_id = 0;
};

// A WebSocket client written out by hand, for what QWebSocket will not do:
// come from another loopback address (127.0.0.2 is another host to the
// server), send its frames unmasked, or send them with the request.
class RawWebSocket : public QObject
{
public:
    static QByteArray request(quint16 port, const QByteArray &extraHeaders = {})
    {
        return "GET /api HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port)
            + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
              "Sec-WebSocket-Version: 13\r\n"
            + extraHeaders + "\r\n";
    }
    // A client's text frame (masked unless told otherwise).
    static QByteArray frame(const QByteArray &payload, bool masked = true, int opcode = 0x1)
    {
        QByteArray bytes(1, char(0x80 | opcode));
        const char mask = masked ? char(0x80) : char(0);
        if (payload.size() < 126) {
            bytes += char(mask | char(payload.size()));
        } else {
            bytes += char(mask | 126);
            bytes += char(payload.size() >> 8);
            bytes += char(payload.size() & 0xff);
        }
        if (!masked)
            return bytes + payload;
        const QByteArray key("\x12\x34\x56\x78", 4);
        bytes += key;
        for (qsizetype i = 0; i < payload.size(); ++i)
            bytes += char(payload[i] ^ key[i % 4]);
        return bytes;
    }

    RawWebSocket(quint16 port, const QHostAddress &from, const QByteArray &firstBytes = {})
    {
        connect(&tcp, &QTcpSocket::readyRead, this, [this] {
            in += tcp.readAll();
            read();
        });
        connect(&tcp, &QTcpSocket::disconnected, this, [this] { closed = true; });
        connect(&tcp, &QTcpSocket::errorOccurred, this, [this] { closed = true; });
        tcp.bind(from);
        tcp.connectToHost(QHostAddress::LocalHost, port);
        tcp.write(firstBytes.isEmpty() ? request(port) : firstBytes);
    }
    ~RawWebSocket() override { tcp.abort(); }
    bool waitAnswered(int ms = settleMs)
    {
        return QTest::qWaitFor([this] { return !status.isEmpty() || closed; }, ms) && !status.isEmpty();
    }
    bool upgraded() const { return status == "101"; }
    void send(const QByteArray &bytes) { tcp.write(bytes); }
    void sendText(const QByteArray &text, bool masked = true) { send(frame(text, masked)); }
    // The first message of this type, or an empty object.
    QJsonObject message(const QString &type) const
    {
        for (const QJsonObject &message : messages)
            if (message.value(QLatin1String("type")).toString() == type)
                return message;
        return {};
    }

    QTcpSocket tcp;
    QByteArray status;  // of the answer to the request: "101", "403"...
    QByteArray head;
    QList<QJsonObject> messages;
    int closeCode = -1;  // from the server's close frame
    QByteArray closeReason;
    bool closed = false;

private:
    void read()
    {
        if (status.isEmpty()) {
            const qsizetype end = in.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            head = in.left(end + 4);
            status = head.mid(9, 3);
            in.remove(0, end + 4);
        }
        // The server's frames: unmasked, a short or 16-bit length.
        while (in.size() >= 2) {
            const int opcode = in[0] & 0x0f;
            qsizetype length = in[1] & 0x7f;
            qsizetype at = 2;
            if (length == 126) {
                if (in.size() < 4)
                    return;
                length = (uchar(in[2]) << 8) | uchar(in[3]);
                at = 4;
            }
            if (in.size() < at + length)
                return;
            const QByteArray payload = in.mid(at, length);
            in.remove(0, at + length);
            if (opcode == 0x1) {
                messages << QJsonDocument::fromJson(payload).object();
            } else if (opcode == 0x8) {
                closeCode = payload.size() >= 2 ? (uchar(payload[0]) << 8) | uchar(payload[1]) : 1005;
                closeReason = payload.mid(2);
                // Answered at once, so that the server need not wait for it.
                send(frame(payload.left(2), true, 0x8));
                tcp.disconnectFromHost();
            }
        }
    }

    QByteArray in;
};

inline QJsonObject command(const char *json)
{
    return QJsonDocument::fromJson(json).object();
}

// The value at a dotted path ("ports.A.open") of a state.
inline QJsonValue at(const QJsonObject &state, const QString &path)
{
    QJsonValue value = state;
    for (const QString &key : path.split(QLatin1Char('.')))
        value = value.toObject().value(key);
    return value;
}

} // namespace remotetesting
