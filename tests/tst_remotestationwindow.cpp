// SPDX-License-Identifier: GPL-3.0-or-later
// vestrel --attach: the window on a station served by RemoteServer over the
// simulated devices, through the real API; and what the client does with a
// station that refuses it or says what it should not.

#include "remote/remoteclient.h"
#include "remotetesting.h"
#include "ui/remotestationwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWebSocketServer>

using namespace remotetesting;

namespace {

QString connectedTitle(const QUrl &url)
{
    return QStringLiteral("Vestrel – attached to %1:%2").arg(url.host()).arg(url.port());
}

QString labelText(const QWidget &window, const QString &name)
{
    const auto *label = window.findChild<QLabel *>(name);
    return label ? label->text() : QString();
}

// A station that says one thing on connecting: a hello, or whatever a test
// wants to see refused.
class FakeStation : public QObject
{
public:
    explicit FakeStation(QList<QPair<QByteArray, bool>> frames)  // bytes, binary
        : m_frames(std::move(frames))
    {
        connect(&m_server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket *socket = m_server.nextPendingConnection()) {
                m_sockets.emplace_back(socket);
                ++connections;
                for (const auto &[bytes, binary] : std::as_const(m_frames))
                    binary ? socket->sendBinaryMessage(bytes) : socket->sendTextMessage(QString::fromUtf8(bytes));
            }
        });
        m_server.listen(QHostAddress::LocalHost, 0);
    }
    ~FakeStation() override
    {
        for (const auto &socket : m_sockets)
            socket->abort();  // Qt 6.4 leaks the close reason otherwise
    }
    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1/api").arg(m_server.serverPort())); }
    int connections = 0;

private:
    QWebSocketServer m_server {QStringLiteral("fake"), QWebSocketServer::NonSecureMode};
    QList<QPair<QByteArray, bool>> m_frames;
    std::vector<std::unique_ptr<QWebSocket>> m_sockets;
};

} // namespace

class tst_RemoteStationWindow : public QObject
{
    Q_OBJECT

private slots:
    // Each control is its API command: the station's next state, shown in
    // the window, says it was done.
    void controls_data()
    {
        QTest::addColumn<QString>("spin");  // set before the click, when named
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("expected");
        QTest::newRow("open A") << "" << 0.0 << "buttonOpenA" << "labelPortA" << "open on /dev/pts/";
        QTest::newRow("open B") << "" << 0.0 << "buttonOpenB" << "labelRadio" << "Radio R 432.06500 MHz";
        QTest::newRow("manual A") << "" << 0.0 << "checkAutoA" << "labelPortA" << "closed, Manual";
        QTest::newRow("manual B") << "" << 0.0 << "checkAutoB" << "labelPortB" << "closed, Manual";
        QTest::newRow("sun") << "" << 0.0 << "buttonSun" << "labelTarget" << "Sun:";
        QTest::newRow("offsets") << "spinOffsetAz" << 1.5 << "buttonOffsets" << "labelOffsets"
                                 << "Offsets: az 1.50, el 0.00";
    }
    void controls()
    {
        QFETCH(QString, spin);
        QFETCH(double, value);
        QFETCH(QString, control);
        QFETCH(QString, label);
        QFETCH(QString, expected);
        RemoteStation s;
        QVERIFY(s.listening);
        RemoteClient client;
        RemoteStationWindow window(client);
        window.show();
        client.open(s.url());
        QTRY_COMPARE_WITH_TIMEOUT(window.windowTitle(), connectedTitle(s.url()), settleMs);
        QVERIFY(!labelText(window, label).contains(expected));
        if (!spin.isEmpty())
            window.findChild<QDoubleSpinBox *>(spin)->setValue(value);
        auto *button = window.findChild<QAbstractButton *>(control);
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY2_WITH_TIMEOUT(labelText(window, label).contains(expected), qPrintable(labelText(window, label)),
                                  settleMs);
        QVERIFY(labelText(window, QStringLiteral("labelRefused")).isEmpty());
    }

    // The window follows the station, its log included, and its Park button
    // turns the simulated rotator.
    void followsAndParks()
    {
        RemoteStation s;
        RemoteClient client;
        RemoteStationWindow window(client);
        client.open(s.url());
        QTRY_VERIFY_WITH_TIMEOUT(client.isConnected(), settleMs);
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("buttonOpenA")), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(s.rotator.azimuth(), std::optional<double>(100), settleMs);
        const auto *log = window.findChild<QPlainTextEdit *>(QStringLiteral("plainTextLog"));
        QTRY_VERIFY_WITH_TIMEOUT(log->toPlainText().contains("connected to " + s.rotator.slavePath()), settleMs);
        s.record.azimuth = 120;
        QTRY_VERIFY_WITH_TIMEOUT(labelText(window, "labelTarget").startsWith("Moon: az 120.00, el 10.00"), settleMs);
        QTRY_COMPARE_WITH_TIMEOUT(labelText(window, "labelCommanded"), "Commanded: az 120.00, el 10.00", settleMs);
        // What the station takes from other programs shows too.
        QCOMPARE(s.station->aimExternal(200, 30), 0);
        QTRY_VERIFY_WITH_TIMEOUT(labelText(window, "labelCommanded").endsWith(", aimed by a rotctl client"), settleMs);
        QVERIFY(s.station->setFollowWsjtx(true));
        QTRY_COMPARE_WITH_TIMEOUT(labelText(window, "labelWsjtx"), "WSJT-X: nothing heard yet on 127.0.0.1:2237",
                                  settleMs);

        const double parkAz = at(client.state(), "parking.az").toDouble();
        const double parkEl = at(client.state(), "parking.el").toDouble();
        QVERIFY(parkAz != 120 || parkEl != 10);
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("buttonPark")), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(s.rotator.azimuth(), std::optional<double>(parkAz), settleMs);
        QTRY_COMPARE_WITH_TIMEOUT(s.rotator.elevation(), std::optional<double>(parkEl), settleMs);
    }

    // A service that goes away shows as lost; the window finds it again
    // once it is back on the same port.
    void reconnects()
    {
        RemoteStation s;
        s.station->say("said before the window came");
        RemoteClient client;
        RemoteStationWindow window(client);
        const QUrl url = s.url();
        client.open(url);
        QTRY_COMPARE_WITH_TIMEOUT(window.windowTitle(), connectedTitle(url), settleMs);
        const auto timesSaid = [&] {
            return client.log().filter(QRegularExpression("Z said before the window came$")).size();
        };
        QTRY_COMPARE_WITH_TIMEOUT(timesSaid(), 1, settleMs);
        s.server.reset();
        QTRY_COMPARE_WITH_TIMEOUT(window.windowTitle(), connectedTitle(url) + " (connection lost, retrying)",
                                  settleMs);
        QVERIFY(labelText(window, "labelConnection").startsWith("Connection lost, retrying: the station went away"));
        QVERIFY(!window.findChild<QWidget *>(QStringLiteral("groupControls"))->isEnabled());
        QVERIFY(client.retryPending());

        RemoteSettings settings;
        settings.listenPort = quint16(url.port());
        s.server = std::make_unique<RemoteServer>(*s.station, settings);
        QVERIFY(s.server->listen(nullptr));
        QTRY_COMPARE_WITH_TIMEOUT(window.windowTitle(), connectedTitle(url), settleMs);
        QVERIFY(window.findChild<QWidget *>(QStringLiteral("groupControls"))->isEnabled());
        QVERIFY(!client.retryPending());
        // The lines sent again on reconnecting are not shown twice.
        s.station->say("said after it came back");
        QTRY_VERIFY_WITH_TIMEOUT(client.log().last().endsWith("said after it came back"), settleMs);
        QCOMPARE(timesSaid(), 1);
    }

    // The token: the right one lets the window in; a wrong or missing one is
    // said once, and not tried again, since the answer would not change.
    void token_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("shown");
        QTest::newRow("right") << "0123456789abcdef" << true << "Connected to ws://127.0.0.1:";
        QTest::newRow("wrong") << "0123456789abcdeX" << false << "Not connected: the station refused the token";
        QTest::newRow("none") << "" << false << "Not connected: the station asks for its token";
    }
    void token()
    {
        QFETCH(QString, given);
        QFETCH(bool, connected);
        QFETCH(QString, shown);
        RemoteStation s({}, QStringLiteral("0123456789abcdef"));
        RemoteClient client;
        RemoteStationWindow window(client);
        client.open(s.url(), given);
        QTRY_VERIFY_WITH_TIMEOUT(client.status() == RemoteClient::Status::Connected
                                     || client.status() == RemoteClient::Status::Refused,
                                 settleMs);
        QCOMPARE(client.isConnected(), connected);
        const QString said = labelText(window, "labelConnection");
        QVERIFY2(said.startsWith(shown), qPrintable(said));
        QVERIFY(!client.retryPending());
        QCOMPARE(window.windowTitle().endsWith(" (not connected)"), !connected);
    }

    // A station that makes this address wait after another program's wrong
    // tokens is tried again, not given up: the right token gets in once the wait is over.
    void addressMadeToWait()
    {
        const QString token = QStringLiteral("0123456789abcdef");
        RemoteStation s({}, token);
        for (int i = 0; i <= remote::AccessGuard::freeWrongTokens; ++i) {
            remotetesting::Client guesser(s.url());
            QVERIFY(guesser.send(QJsonObject {{"cmd", "hello"}, {"token", "0123456789abcdeX"}}).isEmpty());
            QVERIFY(guesser.closed);
        }
        RemoteClient client;
        client.open(s.url(), token);
        QTRY_VERIFY_WITH_TIMEOUT(client.status() != RemoteClient::Status::Connecting, settleMs);
        QCOMPARE(client.status(), RemoteClient::Status::Lost);
        QTRY_VERIFY_WITH_TIMEOUT(client.isConnected(), settleMs);
    }

    // What a station must not send: another major version is refused for
    // good; a malformed or oversized message costs the connection, which is
    // tried again later.
    void received_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<bool>("binary");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("problem");
        const auto refused = int(RemoteClient::Status::Refused), lost = int(RemoteClient::Status::Lost),
                   connected = int(RemoteClient::Status::Connected);
        QTest::newRow("version 2") << QByteArray(R"({"type":"hello","version":2,"token":false})") << false << refused
                                   << "the station speaks protocol version 2; this program speaks version 1";
        QTest::newRow("version 0") << QByteArray(R"({"type":"hello","version":0,"token":false})") << false << refused
                                   << "protocol version 0";
        QTest::newRow("no version") << QByteArray(R"({"type":"hello","token":false})") << false << refused
                                    << "protocol version (none)";
        QTest::newRow("version as text") << QByteArray(R"({"type":"hello","version":"1","token":false})") << false
                                         << refused << "protocol version (none)";
        QTest::newRow("a state of version 2") << QByteArray(R"({"type":"state","version":2})") << false << refused
                                              << "protocol version 2";
        QTest::newRow("version 1.1") << QByteArray(R"({"type":"state","version":1.1})") << false << connected << "";
        QTest::newRow("a JSON array") << QByteArray("[1,2]") << false << lost << "not a JSON object";
        QTest::newRow("not JSON") << QByteArray("{\"type\":") << false << lost << "not a JSON object";
        QTest::newRow("a binary frame") << QByteArray("\x01\x02", 2) << true << lost << "a binary message";
        QTest::newRow("a 20 kB message") << QByteArray(R"({"type":"log","text":")") + QByteArray(20000, 'x') + "\"}"
                                         << false << lost << "the connection broke";
    }
    void received()
    {
        QFETCH(QByteArray, first);
        QFETCH(bool, binary);
        QFETCH(int, status);
        QFETCH(QString, problem);
        FakeStation station({{first, binary}});
        RemoteClient client;
        client.open(station.url());
        QTRY_VERIFY_WITH_TIMEOUT(client.status() != RemoteClient::Status::Connecting, settleMs);
        QCOMPARE(int(client.status()), status);
        QVERIFY2(client.problem().contains(problem), qPrintable(client.problem()));
        QCOMPARE(client.retryPending(), status == int(RemoteClient::Status::Lost));
        QCOMPARE(station.connections, 1);
    }

    // Each loss waits longer before the next attempt, up to half a minute.
    void backsOff()
    {
        FakeStation station({{"[]", false}});
        RemoteClient client;
        client.open(station.url());
        QTRY_VERIFY_WITH_TIMEOUT(client.retryPending(), settleMs);
        QCOMPARE(client.retryDelayMs(), RemoteClient::firstRetryMs);
        QTRY_COMPARE_WITH_TIMEOUT(station.connections, 2, settleMs);
        QTRY_VERIFY_WITH_TIMEOUT(client.retryPending(), settleMs);
        QCOMPARE(client.retryDelayMs(), 2 * RemoteClient::firstRetryMs);
    }
};

QTEST_MAIN(tst_RemoteStationWindow)
#include "tst_remotestationwindow.moc"
