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
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtTest>

#include <memory>

namespace remotetesting {

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
