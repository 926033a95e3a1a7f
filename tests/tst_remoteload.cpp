// SPDX-License-Identifier: GPL-3.0-or-later
// The remote view under load from other clients: those that send many
// commands take the station's budget from each other, not from the operator
// who sends a few, and a flood of connections without the token neither
// closes the operator's nor keeps what it cost. Real WebSocket clients at
// the rates that were seen to crowd the operator out.

#include "remotetesting.h"

#include <QElapsedTimer>
#include <QTimer>

using namespace remotetesting;

namespace {

const QString token(40, QLatin1Char('t'));

// A client past its token that sends pings at a steady rate, within its
// own limit, and counts how they are answered.
class Pinger : public QObject
{
public:
    Pinger(const QUrl &url, int perSecond)
    {
        connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message.value(QLatin1String("type")) == QLatin1String("state"))
                stated = true;
            if (message.value(QLatin1String("type")) != QLatin1String("reply") || !message.contains(QLatin1String("id")))
                return;
            if (message.value(QLatin1String("ok")).toBool())
                ++answered;
            else
                refusals << message.value(QLatin1String("error")).toString();
        });
        connect(&socket, &QWebSocket::disconnected, this, [this] { closed = true; });
        // Precise: a coarse timer may fire early and take the client over its own limit.
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(1000 / perSecond);
        connect(&timer, &QTimer::timeout, this, [this] {
            socket.sendTextMessage(QStringLiteral(R"({"cmd":"ping","id":%1})").arg(++sent));
        });
        socket.open(url);
    }
    ~Pinger() override { socket.abort(); }
    QWebSocket socket;
    QTimer timer;
    bool stated = false;
    bool closed = false;
    int sent = 0;
    int answered = 0;
    QStringList refusals;
};

QHostAddress host(int n)
{
    return QHostAddress(QStringLiteral("127.0.0.%1").arg(n));
}

// Hosts without the token that each keep as many WebSockets open as they
// may, opening one again as soon as one is closed: the slots of those yet
// to give their token change hands without pause.
class Churner : public QObject
{
public:
    Churner(quint16 port, int hosts, int each)
    {
        for (int h = 0; h < hosts; ++h)
            for (int i = 0; i < each; ++i)
                m_slots.push_back({host(2 + h), nullptr});
        connect(&m_timer, &QTimer::timeout, this, [this, port] {
            for (Slot &slot : m_slots) {
                if (slot.socket && !slot.socket->closed)
                    continue;
                slot.socket = std::make_unique<RawWebSocket>(port, slot.from);
                ++opened;
            }
        });
        m_timer.start(10);
    }
    int opened = 0;

private:
    struct Slot {
        QHostAddress from;
        std::unique_ptr<RawWebSocket> socket;
    };
    std::vector<Slot> m_slots;
    QTimer m_timer;
};

} // namespace

class tst_RemoteLoad : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { raiseDescriptorLimit(); }

    // Ten clients at 19 pings a second each (within their own 20) ask the
    // station for more than it takes; the operator's target command once a
    // second is never the one refused, theirs are.
    void fairShare_data()
    {
        QTest::addColumn<int>("busy");
        QTest::addColumn<int>("perSecond");
        QTest::newRow("ten clients at 19 a second") << 10 << 19;
        QTest::newRow("thirty clients at 19 a second") << 30 << 19;
    }
    void fairShare()
    {
        QFETCH(int, busy);
        QFETCH(int, perSecond);
        RemoteStation s;
        s.station->setTimes(2, 200);  // the operator's repetition and readout
        std::vector<std::unique_ptr<Pinger>> others;
        for (int i = 0; i < busy; ++i)
            others.push_back(std::make_unique<Pinger>(s.url(), perSecond));
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(others.cbegin(), others.cend(), [](const auto &p) { return p->stated; }),
                                 settleMs);
        Client operatorClient(s.url());
        QVERIFY(operatorClient.waitForState());
        for (const auto &other : others)
            other->timer.start();

        constexpr int commands = 20;
        QStringList refused;
        QElapsedTimer paced;
        paced.start();
        for (int i = 0; i < commands; ++i) {
            const QJsonObject reply = operatorClient.send(
                QJsonObject {{"cmd", "target"}, {"target", i % 2 ? "moon" : "sun"}});
            if (!reply.value("ok").toBool())
                refused << QString::number(i) + QStringLiteral(": ") + reply.value("error").toString(QStringLiteral("no reply"));
            QTest::qWait(int(qMax<qint64>(0, (i + 1) * 1000 - paced.elapsed())));
        }
        for (const auto &other : others)
            other->timer.stop();
        QVERIFY2(refused.isEmpty(), qPrintable(refused.join('\n')));

        int sent = 0;
        int answered = 0;
        int busyRefusals = 0;
        for (const auto &other : others) {
            QVERIFY(!other->closed);
            sent += other->sent;
            answered += other->answered;
            for (const QString &refusal : std::as_const(other->refusals))
                QCOMPARE(refusal, QStringLiteral("the station is busy with other clients' commands; wait"));
            busyRefusals += int(other->refusals.size());
        }
        QVERIFY2(busyRefusals > 0, qPrintable(QStringLiteral("%1 pings sent, %2 answered").arg(sent).arg(answered)));
        // What was let through stays near the station's rate, the operator's
        // share included: its burst and each client's first few beyond it.
        const double seconds = paced.elapsed() / 1000.0;
        const double bursts = RemoteServer::stationCommandBurst + RemoteServer::fairShareBurst * (busy + 1);
        QVERIFY2(answered + commands <= (RemoteServer::stationCommandsPerSecond * seconds + bursts) * 1.1,
                 qPrintable(QStringLiteral("%1 answered in %2 s").arg(answered).arg(seconds)));
    }

    // The page's answers, made once and given to each request after: the
    // same bytes every time, the file's own as the source tree holds it, a
    // HEAD without them, and what is not the page still not found.
    void pageAnswers_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("file");  // in the source tree; empty: not found
        QTest::newRow("the page") << QByteArray("GET") << QByteArray("/") << "index.html";
        QTest::newRow("the page by name") << QByteArray("GET") << QByteArray("/index.html") << "index.html";
        QTest::newRow("the script") << QByteArray("GET") << QByteArray("/app.js?v=2") << "app.js";
        QTest::newRow("the style") << QByteArray("GET") << QByteArray("/style.css") << "style.css";
        QTest::newRow("the script's head") << QByteArray("HEAD") << QByteArray("/app.js") << "app.js";
        QTest::newRow("elsewhere") << QByteArray("GET") << QByteArray("/store.cfg") << QString();
    }
    void pageAnswers()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(QString, file);
        RemoteStation s;
        const auto ask = [&](const QByteArray &what) {
            QTcpSocket http;
            http.connectToHost(QHostAddress::LocalHost, s.server->port());
            http.write(what + ' ' + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
            QByteArray answer;
            [[maybe_unused]] const bool closed = QTest::qWaitFor(
                [&] { return (answer += http.readAll(), http.state() == QAbstractSocket::UnconnectedState); },
                settleMs);
            return answer;
        };
        // The other method first, so that its answer is the one already made.
        const QByteArray other = ask(method == "GET" ? "HEAD" : "GET");
        const QByteArray first = ask(method);
        const QByteArray second = ask(method);
        QCOMPARE(second, first);
        QVERIFY(!other.isEmpty());
        if (file.isEmpty()) {
            QVERIFY2(first.startsWith("HTTP/1.1 404 "), first.left(60).constData());
            return;
        }
        QVERIFY2(first.startsWith("HTTP/1.1 200 "), first.left(60).constData());
        QFile source(QFINDTESTDATA(QStringLiteral("../remote/web/") + file));
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QByteArray body = first.mid(first.indexOf("\r\n\r\n") + 4);
        QCOMPARE(body, method == "HEAD" ? QByteArray() : source.readAll());
    }

    // While twenty other hosts churn connections without the token, the
    // operator's connection waits for its token, however late it comes
    // within the time given, and is let in every time.
    void operatorAmidChurn_data()
    {
        QTest::addColumn<int>("tokenAfterMs");
        QTest::addColumn<int>("tries");
        QTest::newRow("the token at once") << 0 << 30;
        // Half the time given, the rest left to a machine loaded by sanitizers.
        QTest::newRow("the token half a second later") << 500 << 10;
    }
    void operatorAmidChurn()
    {
        QFETCH(int, tokenAfterMs);
        QFETCH(int, tries);
        RemoteStation s(RemoteSettings(), token);
        s.station->setTimes(2, 200);  // the operator's repetition and readout
        const quint16 port = s.server->port();
        auto churn = std::make_unique<Churner>(port, 20, RemoteServer::waitingForTokenPerAddress);
        QTRY_VERIFY_WITH_TIMEOUT(churn->opened > 20 * RemoteServer::waitingForTokenPerAddress, settleMs);
        QStringList lost;
        for (int i = 0; i < tries; ++i) {
            RawWebSocket operatorClient(port, QHostAddress::LocalHost);
            if (!operatorClient.waitAnswered() || !operatorClient.upgraded()) {
                lost << QStringLiteral("%1: answered %2").arg(i).arg(QString::fromLatin1(operatorClient.status));
                continue;
            }
            [[maybe_unused]] const bool greeted = QTest::qWaitFor(
                [&] { return !operatorClient.message("hello").isEmpty() || operatorClient.closed; }, settleMs);
            if (tokenAfterMs > 0)
                QTest::qWait(tokenAfterMs);
            operatorClient.sendText(QStringLiteral(R"({"cmd":"hello","token":"%1"})").arg(token).toLatin1());
            [[maybe_unused]] const bool answered = QTest::qWaitFor(
                [&] { return !operatorClient.message("state").isEmpty() || operatorClient.closed; }, settleMs);
            if (operatorClient.message("state").isEmpty())
                lost << QStringLiteral("%1: closed (%2) %3")
                            .arg(i)
                            .arg(operatorClient.closeCode)
                            .arg(QString::fromUtf8(operatorClient.closeReason));
        }
        QVERIFY2(lost.isEmpty(), qPrintable(lost.join('\n')));
        QVERIFY2(churn->opened > 2 * 20 * RemoteServer::waitingForTokenPerAddress,
                 qPrintable(QString::number(churn->opened)));
        // Once the churn ends, nothing of it stays: each connection's traces go with it or by their time-outs.
        churn.reset();
        QTRY_COMPARE_WITH_TIMEOUT(s.server->clientCount(), 0, settleMs);
        QTRY_COMPARE_WITH_TIMEOUT(s.server->leftovers(), 0, 3 * RemoteServer::requestTimeoutMs);
    }
};

QTEST_GUILESS_MAIN(tst_RemoteLoad)
#include "tst_remoteload.moc"
