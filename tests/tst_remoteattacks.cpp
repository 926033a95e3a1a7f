// SPDX-License-Identifier: GPL-3.0-or-later
// The remote view as a host on the LAN without the token finds it, at the
// bounds the service runs with: it cannot crowd out the operator, guesses the
// token slowly and said once in the log, gets nothing from another site's
// page, and loses its connection over an unmasked frame. Other loopback
// addresses (127.0.0.2...) stand for other hosts.

#include "remotetesting.h"

#include <QElapsedTimer>
#include <QTcpSocket>

using namespace remotetesting;

namespace {

const QString token(40, QLatin1Char('t'));

QHostAddress host(int n)
{
    return QHostAddress(QStringLiteral("127.0.0.%1").arg(n));
}

// The station's log as it is said.
struct Log {
    explicit Log(TrackingControl &station)
    {
        QObject::connect(&station, &TrackingControl::message, &station, [this](const QString &line) { lines << line; });
    }
    int count(const QString &part) const
    {
        return int(std::count_if(lines.cbegin(), lines.cend(), [&](const QString &l) { return l.contains(part); }));
    }
    QStringList lines;
};

// Connections from one host that never give the token (or never finish
// their request), each opened again a tenth of a second after it is lost,
// as the attacker who held every slot did.
class Holder : public QObject
{
public:
    Holder(quint16 port, const QHostAddress &from, int count, bool webSockets)
        : m_port(port)
        , m_from(from)
        , m_webSockets(webSockets)
    {
        m_slots.resize(size_t(count));
        for (Slot &slot : m_slots)
            open(slot);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (Slot &slot : m_slots) {
                if (slot.lost() && slot.since.elapsed() >= 100)
                    open(slot);
                else if (!slot.lost())
                    slot.since.start();
            }
        });
        m_timer.start(20);
    }
    int opened = 0;

private:
    struct Slot {
        std::unique_ptr<RawWebSocket> webSocket;
        std::unique_ptr<QTcpSocket> http;
        QElapsedTimer since;
        bool lost() const
        {
            return webSocket ? webSocket->closed : http->state() == QAbstractSocket::UnconnectedState;
        }
    };
    void open(Slot &slot)
    {
        ++opened;
        slot.since.start();
        if (m_webSockets) {
            slot.webSocket = std::make_unique<RawWebSocket>(m_port, m_from);
            return;
        }
        slot.http = std::make_unique<QTcpSocket>();
        slot.http->bind(m_from);
        slot.http->connectToHost(QHostAddress::LocalHost, m_port);
        slot.http->write("GET / HTTP/1.1\r\nHost: shack\r\n");  // and never the end of it
    }

    quint16 m_port;
    QHostAddress m_from;
    bool m_webSockets;
    std::vector<Slot> m_slots;
    QTimer m_timer;
};

// The operator's page load: the answer's status line.
QByteArray pageLoad(quint16 port)
{
    QTcpSocket http;
    http.connectToHost(QHostAddress::LocalHost, port);
    // Waiting in the event loop, not in the socket: the server is in this
    // process, and a blocked loop would leave its accept queue full.
    if (!QTest::qWaitFor([&] { return http.state() == QAbstractSocket::ConnectedState; }, settleMs))
        return {};
    http.write("GET / HTTP/1.1\r\nHost: shack:8473\r\n\r\n");
    QByteArray answer;
    [[maybe_unused]] const bool answered
        = QTest::qWaitFor([&] { return (answer += http.readAll()).contains("\r\n"); }, settleMs);
    return answer.left(answer.indexOf("\r\n"));
}

} // namespace

class tst_RemoteAttacks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { raiseDescriptorLimit(); }

    // Hosts without the token hold every connection they may, opening each
    // again as it is lost; the operator with the token gets in every time,
    // and the log says the flood once.
    void lockOut_data()
    {
        QTest::addColumn<bool>("webSockets");  // else page requests never finished
        QTest::addColumn<int>("hosts");
        QTest::addColumn<int>("each");
        QTest::newRow("one host holds WebSockets") << true << 1 << RemoteServer::maxClients;
        QTest::newRow("eight hosts fill the slots without the token") << true << 8 << 8;
        QTest::newRow("one host holds requests") << false << 1 << RemoteServer::maxPendingHttp;
        QTest::newRow("seventeen hosts hold requests") << false << 17 << 8;
    }
    void lockOut()
    {
        QFETCH(bool, webSockets);
        QFETCH(int, hosts);
        QFETCH(int, each);
        RemoteStation s(RemoteSettings(), token);
        const Log log(*s.station);
        std::vector<std::unique_ptr<Holder>> attackers;
        for (int i = 0; i < hosts; ++i)
            attackers.push_back(std::make_unique<Holder>(s.server->port(), host(2 + i), each, webSockets));
        // Once the bounds are reached, something of the attackers is refused.
        QTRY_VERIFY_WITH_TIMEOUT(log.count(QStringLiteral(" refused: ")) > 0, settleMs);

        constexpr int attempts = 22;  // as many as the operator made when locked out
        int inside = 0;
        for (int i = 0; i < attempts; ++i) {
            if (webSockets) {
                Client operatorClient(s.url());
                const QJsonObject reply = operatorClient.send(QJsonObject {{"cmd", "hello"}, {"token", token}});
                inside += reply.value("ok").toBool() && operatorClient.waitForState();
            } else {
                inside += pageLoad(s.server->port()) == "HTTP/1.1 200 OK";
            }
        }
        QCOMPARE(inside, attempts);
        QVERIFY(s.server->clientCount() <= RemoteServer::maxClients);
        int opened = 0;
        for (const auto &attacker : attackers)
            opened += attacker->opened;
        QVERIFY2(opened > hosts * each, "the attackers never had to open a connection again");
        // The first refusal said, the rest left to the minute's summary.
        QVERIFY2(log.count(QStringLiteral("connection from 127.0.0.")) == 1, qPrintable(log.lines.join('\n')));
        QVERIFY2(log.count(QStringLiteral("refused")) <= 2, qPrintable(log.lines.join('\n')));
    }

    // However a connection ends before its token, its place is given back:
    // a host whose connections ended so many times over still gets in.
    void placesGivenBack_data()
    {
        QTest::addColumn<QString>("end");
        QTest::newRow("a command before the token") << "command";
        QTest::newRow("the client closes") << "close";
        QTest::newRow("an unmasked frame") << "unmasked";
        QTest::newRow("no token in time") << "silence";
        QTest::newRow("a handshake that fails") << "bad handshake";
    }
    void placesGivenBack()
    {
        QFETCH(QString, end);
        RemoteStation s(RemoteSettings(), token);
        const quint16 port = s.server->port();
        for (int round = 0; round < 3; ++round) {
            std::vector<std::unique_ptr<RawWebSocket>> connections;
            for (int i = 0; i < RemoteServer::waitingForTokenPerAddress; ++i) {
                const QByteArray request = end == "bad handshake"
                    ? QByteArray("GET /api HTTP/1.1\r\nHost: shack\r\nUpgrade: websocket\r\n\r\n")
                    : RawWebSocket::request(port);
                connections.push_back(std::make_unique<RawWebSocket>(port, host(2), request));
            }
            for (const auto &raw : connections) {
                if (end == "bad handshake") {
                    QTRY_VERIFY_WITH_TIMEOUT(raw->closed, settleMs);
                    continue;
                }
                QVERIFY(raw->waitAnswered());
                QCOMPARE(raw->status, QByteArray("101"));
                if (end == "command")
                    raw->sendText(R"({"cmd":"park"})");
                else if (end == "close")
                    raw->tcp.disconnectFromHost();
                else if (end == "unmasked")
                    raw->sendText(R"({"cmd":"ping"})", false);
                QTRY_VERIFY_WITH_TIMEOUT(raw->closed, settleMs);
            }
        }
        RawWebSocket operatorClient(port, host(2));
        QVERIFY(operatorClient.waitAnswered());
        QCOMPARE(operatorClient.status, QByteArray("101"));
        QTRY_VERIFY_WITH_TIMEOUT(!operatorClient.message("hello").isEmpty(), settleMs);
        operatorClient.sendText(QStringLiteral(R"({"cmd":"hello","token":"%1"})").arg(token).toLatin1());
        QTRY_VERIFY_WITH_TIMEOUT(!operatorClient.message("state").isEmpty(), settleMs);
    }

    // Wrong tokens, each on a connection of its own (a wrong one costs it),
    // as fast as the server answers, for three seconds: a few are compared,
    // the rest refused unread; the log names the address once and never a
    // token; the operator elsewhere still gets in.
    void tokenGuessing_data()
    {
        QTest::addColumn<int>("connections");  // the guesser's, at once
        QTest::newRow("one after another") << 1;
        QTest::newRow("eight at once") << 8;
    }
    void tokenGuessing()
    {
        QFETCH(int, connections);
        RemoteStation s(RemoteSettings(), token);
        const Log log(*s.station);
        std::vector<std::unique_ptr<RawWebSocket>> guessers;
        guessers.resize(size_t(connections));
        int guess = 0;
        int compared = 0;
        int unchecked = 0;
        int refused = 0;
        QElapsedTimer time;
        time.start();
        while (time.elapsed() < 3000) {
            for (auto &guesser : guessers) {
                if (guesser && !guesser->closed)
                    continue;
                if (guesser) {
                    compared += guesser->closeReason == "wrong token";
                    unchecked += guesser->closeReason == "too many wrong tokens; wait";
                    refused += guesser->status == "429";
                }
                guesser = std::make_unique<RawWebSocket>(s.server->port(), host(2));
                RawWebSocket *raw = guesser.get();
                connect(&raw->tcp, &QTcpSocket::readyRead, raw, [raw, n = ++guess] {
                    if (raw->upgraded() && !raw->message("hello").isEmpty() && !raw->property("sent").toBool()) {
                        raw->setProperty("sent", true);
                        raw->sendText(QStringLiteral(R"({"cmd":"hello","token":"guess-%1-%2"})")
                                          .arg(n)
                                          .arg(QString(36, 'u'))
                                          .toLatin1());
                    }
                });
            }
            // Until one is answered, or a while: the loop goes on to the time.
            [[maybe_unused]] const bool answered = QTest::qWaitFor(
                [&] { return std::any_of(guessers.cbegin(), guessers.cend(), [](const auto &g) { return g->closed; }); },
                200);
        }
        QVERIFY2(compared >= remote::AccessGuard::freeWrongTokens, qPrintable(QString::number(compared)));
        // The free ones, then one after the first second's wait and one after the next two.
        QVERIFY2(compared <= remote::AccessGuard::freeWrongTokens + 3, qPrintable(QString::number(compared)));
        QVERIFY(unchecked + refused > 0);

        // Even the right token is not taken from there while it waits.
        RawWebSocket same(s.server->port(), host(2));
        if (same.waitAnswered() && same.upgraded()) {
            QTRY_VERIFY_WITH_TIMEOUT(!same.message("hello").isEmpty(), settleMs);
            same.sendText(QStringLiteral(R"({"cmd":"hello","token":"%1"})").arg(token).toLatin1());
            QTRY_VERIFY_WITH_TIMEOUT(same.closed, settleMs);
            QCOMPARE(same.closeReason, QByteArray("too many wrong tokens; wait"));
        } else {
            QCOMPARE(same.status, QByteArray("429"));
        }
        QVERIFY(same.message("state").isEmpty());
        Client operatorClient(s.url());
        QCOMPARE(operatorClient.send(QJsonObject {{"cmd", "hello"}, {"token", token}}).value("ok"), true);
        QVERIFY(operatorClient.waitForState());

        QVERIFY2(log.count(QStringLiteral("wrong token from 127.0.0.2")) == 1, qPrintable(log.lines.join('\n')));
        QCOMPARE(log.count(QStringLiteral("guess-")), 0);
        QCOMPARE(log.count(token), 0);
    }

    // A WebSocket from another site's page is refused before the upgrade,
    // with nothing said of why or of what answers.
    void origin_data()
    {
        QTest::addColumn<QByteArray>("origin");
        QTest::addColumn<QByteArray>("status");
        QTest::newRow("none (a program)") << QByteArray() << QByteArray("101");
        QTest::newRow("the page's own") << QByteArray("http://127.0.0.1:PORT") << QByteArray("101");
        QTest::newRow("another site") << QByteArray("http://evil.example") << QByteArray("403");
        QTest::newRow("the same host, another port") << QByteArray("http://127.0.0.1:1") << QByteArray("403");
        QTest::newRow("a sandboxed page") << QByteArray("null") << QByteArray("403");
    }
    void origin()
    {
        QFETCH(QByteArray, origin);
        QFETCH(QByteArray, status);
        RemoteStation s;
        const QByteArray port = QByteArray::number(s.server->port());
        const QByteArray header = origin.isEmpty() ? QByteArray() : "Origin: " + origin.replace("PORT", port) + "\r\n";
        RawWebSocket raw(s.server->port(), QHostAddress::LocalHost, RawWebSocket::request(s.server->port(), header));
        QVERIFY(raw.waitAnswered());
        QCOMPARE(raw.status, status);
        if (status == "101") {
            QTRY_VERIFY_WITH_TIMEOUT(!raw.message("state").isEmpty(), settleMs);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(raw.closed, settleMs);
        QVERIFY2(raw.head.contains("\r\nContent-Length: 0\r\n"), raw.head.constData());
        QVERIFY(raw.messages.isEmpty());
        QVERIFY2(!raw.head.toLower().contains("vestrel") && !raw.head.toLower().contains("origin"), raw.head.constData());
    }

    // A client's frame without a mask closes its connection before the
    // server acts on it, wherever it comes; masked ones in any pieces do not.
    void unmaskedFrames_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("closes");
        QTest::newRow("a command after the token") << "after token" << true;
        QTest::newRow("the token") << "token" << true;
        QTest::newRow("with the request") << "with request" << true;
        QTest::newRow("after a long masked one") << "after long" << true;
        QTest::newRow("masked, a byte at a time") << "bytes" << false;
        QTest::newRow("masked with the request, then masked") << "masked with request" << false;
        QTest::newRow("masked with the request, then unmasked") << "masked with request, then unmasked" << true;
    }
    void unmaskedFrames()
    {
        QFETCH(QString, kind);
        QFETCH(bool, closes);
        RemoteStation s(RemoteSettings(), token);
        const quint16 port = s.server->port();
        const QByteArray hello = QStringLiteral(R"({"cmd":"hello","token":"%1","id":1})").arg(token).toLatin1();
        const QByteArray park = R"({"cmd":"park","az":10,"el":10,"id":2})";
        // Long enough for a 16-bit length.
        const QByteArray ping = QJsonDocument(QJsonObject {{"cmd", "ping"}, {"id", 3}, {"pad", QString(300, 'p')}})
                                    .toJson(QJsonDocument::Compact);
        QByteArray first = RawWebSocket::request(port);
        if (kind == "with request")
            first += RawWebSocket::frame(hello, false);
        else if (kind.startsWith("masked with request"))
            first += RawWebSocket::frame(ping);
        RawWebSocket raw(port, QHostAddress::LocalHost, first);
        raw.tcp.setSocketOption(QAbstractSocket::LowDelayOption, 1);  // each piece on its own
        QVERIFY(raw.waitAnswered());
        QCOMPARE(raw.status, QByteArray("101"));
        const auto signIn = [&] {
            raw.sendText(hello);
            return QTest::qWaitFor([&] { return !raw.message("state").isEmpty() || raw.closed; }, settleMs)
                && !raw.closed;
        };
        if (kind == "after token") {
            QVERIFY(signIn());
            raw.sendText(park, false);
        } else if (kind == "token") {
            raw.sendText(hello, false);
        } else if (kind == "after long") {
            QVERIFY(signIn());
            raw.send(RawWebSocket::frame(ping) + RawWebSocket::frame(park, false));
        } else if (kind == "bytes") {
            // Each byte let in before the next, so that the server reads them one by one.
            for (const char byte : RawWebSocket::frame(hello)) {
                raw.send(QByteArray(1, byte));
                raw.tcp.flush();
                QCoreApplication::processEvents();
            }
        } else if (kind == "masked with request") {
            QVERIFY(signIn());
        } else if (kind == "masked with request, then unmasked") {
            QVERIFY(signIn());
            raw.sendText(park, false);
        }
        if (closes) {
            QTRY_VERIFY_WITH_TIMEOUT(raw.closed || raw.closeCode >= 0, settleMs);
            QCOMPARE(raw.closeCode, int(QWebSocketProtocol::CloseCodeProtocolError));
            QCOMPARE(s.station->steering().parkingActive(), false);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!raw.message("state").isEmpty() || raw.closed, settleMs);
            QVERIFY(!raw.closed);
            QVERIFY(raw.closeCode < 0);
        }
    }
};

QTEST_GUILESS_MAIN(tst_RemoteAttacks)
#include "tst_remoteattacks.moc"
