// SPDX-License-Identifier: GPL-3.0-or-later
// vestrel --attach: the window on a station served by RemoteServer over the
// simulated devices, through the real API; and what the client does with a
// station that refuses it or says what it should not.

#include "calibration/calibrator.h"
#include "movingsky.h"
#include "remote/remoteclient.h"
#include "remotetesting.h"
#include "sim/simreceiver.h"
#include "ui/remotestationwindow.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTimer>
#include <QWebSocketServer>

#include <csignal>

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

// JSON written with single quotes, which a test's text holds more readably.
QByteArray json(QByteArray text)
{
    return text.replace('\'', '"');
}

// A station that beats as the service does: the hello, then its state
// every 400 ms, until the test stops it as SIGSTOP would (no state, and new
// connections wait unanswered) and lets it go on. Keeps the commands it got.
class BeatingStation : public QObject
{
public:
    explicit BeatingStation(QJsonObject initial)
        : state(std::move(initial))
    {
        connect(&m_server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket *socket = m_server.nextPendingConnection()) {
                m_sockets.emplace_back(socket);
                ++connections;
                connect(socket, &QWebSocket::textMessageReceived, this,
                        [this](const QString &text) { commands << QJsonDocument::fromJson(text.toUtf8()).object(); });
                socket->sendTextMessage(
                    QString::fromUtf8(json("{'type': 'hello', 'version': 1, 'token': false, 'run': 'r1'}")));
                socket->sendTextMessage(stateText());
            }
        });
        connect(&m_beat, &QTimer::timeout, this, &BeatingStation::push);
        m_server.listen(QHostAddress::LocalHost, 0);
        m_beat.start(400);
    }
    ~BeatingStation() override
    {
        for (const auto &socket : m_sockets)
            socket->abort();  // Qt 6.4 leaks the close reason otherwise
    }
    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1/api").arg(m_server.serverPort())); }
    void push()
    {
        for (const auto &socket : m_sockets)
            socket->sendTextMessage(stateText());
    }
    void stop()
    {
        m_beat.stop();
        m_server.pauseAccepting();
    }
    void goOn()
    {
        m_server.resumeAccepting();
        m_beat.start(400);
        push();
    }
    QStringList commandNames() const
    {
        QStringList names;
        for (const QJsonObject &command : commands)
            names << command.value(QLatin1String("cmd")).toString();
        return names;
    }

    QJsonObject state;
    QList<QJsonObject> commands;
    int connections = 0;

private:
    QString stateText() const
    {
        QJsonObject message = state;
        message.insert(QStringLiteral("type"), QStringLiteral("state"));
        message.insert(QStringLiteral("version"), 1);
        return QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
    }

    QWebSocketServer m_server {QStringLiteral("beating"), QWebSocketServer::NonSecureMode};
    QTimer m_beat;
    std::vector<std::unique_ptr<QWebSocket>> m_sockets;
};

// A station's state as the service sends it, its clock fixed.
QJsonObject stationState()
{
    return QJsonDocument::fromJson(json(
        "{'time': '2026-12-07T20:31:05Z', 'target': 'moon', 'tracking': true,"
        " 'record': {'az': 120, 'el': 10, 'dopplerHome': 500, 'dopplerDx': 0},"
        " 'commanded': {'az': 120, 'el': 10}, 'actual': {'az': 119.5, 'el': 10},"
        " 'offsets': {'az': 0, 'el': 0}, 'parking': {'az': 180, 'el': 0, 'active': false},"
        " 'ports': {'A': {'open': true, 'auto': true, 'device': '/dev/ttyUSB0', 'trouble': ''},"
        "           'B': {'open': true, 'auto': true, 'device': '/dev/ttyUSB1', 'trouble': ''}},"
        " 'available': ['/dev/ttyUSB0', '/dev/ttyUSB1'],"
        " 'radio': {'mhz': 432.065, 'transmitting': false, 'known': true, 'dopplerRunning': true,"
        "           'frequencyTracking': true, 'workingMHz': 432.065, 'shift': 'home', 'ptt': false,"
        "           'method': 'specified', 'skedMHz': 432.065, 'split': false, 'receiveHz': null,"
        "           'transmitHz': null},"
        " 'alarms': [], 'wsjtx': {'follow': false, 'listening': false, 'line': ''},"
        " 'calibration': {'sources': ['simulated receiver', 'sound card'], 'running': false,"
        "                 'canApply': false, 'result': '', 'history': [],"
        "                 'frequency': {'mhz': 432.065, 'from': 'the sked frequency'}}}"))
        .object();
}

// Picks an entry of a list as the operator does: a click opens it, a
// click on the entry chooses it.
bool pick(QComboBox *combo, const QString &text)
{
    const int index = combo->findText(text);
    if (index < 0)
        return false;
    QTest::mouseClick(combo, Qt::LeftButton);
    QAbstractItemView *view = combo->view();
    if (!QTest::qWaitFor([view] { return view->isVisible(); }, settleMs))
        return false;
    // Its middle row, across the middle of the list (an entry may be drawn wider).
    const QPoint entry(view->viewport()->width() / 2, view->visualRect(combo->model()->index(index, 0)).center().y());
    QTest::mouseMove(view->viewport(), entry);  // the entry under the pointer is the one a release takes
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, entry);
    // Not the entry shown after: the station's next state may say otherwise.
    return QTest::qWaitFor([view] { return !view->isVisible(); }, settleMs);
}

} // namespace

class tst_RemoteStationWindow : public QObject
{
    Q_OBJECT

private slots:
    // Each control is its API command: the station's next state, shown in
    // the window, says it was done.
    void controls_data()
    {
        QTest::addColumn<QString>("spin");  // a field set before the click, when named
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("item");  // picked from the list named in control
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("expected");
        QTest::newRow("open A") << "" << 0.0 << "buttonOpenA" << "" << "labelPortA" << "open on /dev/pts/";
        QTest::newRow("open B") << "" << 0.0 << "buttonOpenB" << "" << "labelRadio" << "Radio R 432.06500 MHz";
        QTest::newRow("manual A") << "" << 0.0 << "checkAutoA" << "" << "labelPortA" << "closed, Manual";
        QTest::newRow("manual B") << "" << 0.0 << "checkAutoB" << "" << "labelPortB" << "closed, Manual";
        QTest::newRow("sun") << "" << 0.0 << "buttonSun" << "" << "labelTarget" << "Sun:";
        QTest::newRow("source") << "" << 0.0 << "buttonSource" << "" << "labelTarget" << "Source:";
        QTest::newRow("offsets") << "spinOffsetAz" << 1.5 << "buttonOffsets" << "" << "labelOffsets"
                                 << "Offsets: az 1.50, el 0.00";
        QTest::newRow("park at a place") << "lineParkAz" << 200.0 << "buttonPark" << "" << "labelOffsets"
                                         << "parking az 200.00, el ";
        QTest::newRow("park out of range") << "lineParkAz" << 600.0 << "buttonPark" << "" << "labelRefused"
                                           << "park not sent: azimuth 600 is not from -180 to 540";
        QTest::newRow("Doppler method") << "" << 0.0 << "comboMethod" << "Own echo" << "labelMethod"
                                        << "Doppler method: own echo,";
        QTest::newRow("sked") << "spinSkedMHz" << 432.1 << "buttonSked" << "" << "labelMethod"
                              << "sked 432.100000 MHz";
        QTest::newRow("DX shift") << "" << 0.0 << "comboShift" << "DX" << "labelMethod" << "DX shift";
        QTest::newRow("follow WSJT-X") << "" << 0.0 << "checkFollowWsjtx" << "" << "labelWsjtx"
                                       << "WSJT-X: nothing heard yet on 127.0.0.1:2237";
    }
    void controls()
    {
        QFETCH(QString, spin);
        QFETCH(double, value);
        QFETCH(QString, control);
        QFETCH(QString, item);
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
        if (auto *field = window.findChild<QDoubleSpinBox *>(spin))
            field->setValue(value);
        else if (auto *line = window.findChild<QLineEdit *>(spin))
            QTest::keyClicks(line, QString::number(value));
        if (item.isEmpty()) {
            auto *button = window.findChild<QAbstractButton *>(control);
            QVERIFY(button);
            QTest::mouseClick(button, Qt::LeftButton);
        } else {
            QVERIFY(pick(window.findChild<QComboBox *>(control), item));
        }
        QTRY_VERIFY2_WITH_TIMEOUT(labelText(window, label).contains(expected), qPrintable(labelText(window, label)),
                                  settleMs);
        if (label != QLatin1String("labelRefused"))
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
        QVERIFY(!window.findChild<QWidget *>(QStringLiteral("labelTarget"))->isEnabled());
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

    // A station that stops answering (stopped, or swamped) while its
    // connection stays open: after a few of its 400 ms beats the window says
    // so and greys what it shows, readouts and controls alike, as on a closed
    // connection; the same connection serves again once the station goes on.
    void silenceSaid()
    {
        BeatingStation station(stationState());
        RemoteClient client;
        RemoteStationWindow window(client);
        window.show();
        const QUrl url = station.url();
        client.open(url);
        QTRY_COMPARE_WITH_TIMEOUT(window.windowTitle(), connectedTitle(url), settleMs);
        QTRY_VERIFY_WITH_TIMEOUT(labelText(window, "labelTarget").startsWith("Moon: az 120.00"), settleMs);
        QStringList said;
        connect(&client, &RemoteClient::connectionChanged, this,
                [&] { said << labelText(window, QStringLiteral("labelConnection")); });
        station.stop();
        const QString notice = QStringLiteral("Connected to %1, but no word from the station for %2 s; shown as "
                                              "the station was at 20:31:05 UTC")
                                   .arg(url.toDisplayString());
        QTRY_VERIFY_WITH_TIMEOUT(!said.isEmpty(), settleMs);
        QCOMPARE(said.first(), notice.arg(3));
        QCOMPARE(window.windowTitle(), connectedTitle(url) + " (no word from the station)");
        for (const char *name : {"labelTarget", "labelPortA", "labelRadio", "labelAlarms", "skyPlot",
                                 "labelCalibrationStatus", "buttonPark", "comboMethod", "buttonCalibrationStart"})
            QVERIFY2(!window.findChild<QWidget *>(QLatin1String(name))->isEnabled(), name);
        QVERIFY(window.findChild<QWidget *>(QStringLiteral("labelConnection"))->isEnabled());
        // The seconds go on being counted.
        QTRY_VERIFY_WITH_TIMEOUT(said.contains(notice.arg(4)), settleMs);

        station.goOn();
        QTRY_COMPARE_WITH_TIMEOUT(window.windowTitle(), connectedTitle(url), settleMs);
        QCOMPARE(labelText(window, "labelConnection"), "Connected to " + url.toDisplayString());
        QVERIFY(window.findChild<QWidget *>(QStringLiteral("labelTarget"))->isEnabled());
        QVERIFY(window.findChild<QWidget *>(QStringLiteral("buttonPark"))->isEnabled());
        QCOMPARE(station.connections, 1);
    }

    // The service itself stopped (SIGSTOP) past the time the client gives one
    // connection, then let go on (SIGCONT): the window says so after a few
    // beats, tries a fresh connection once the old one has said nothing for
    // 10 s, and has the station's state again once it runs.
    void stoppedService()
    {
        QTemporaryDir folder;
        RemoteSettings settings;
        settings.listenPort = 0;
        QVERIFY(settings.write(folder.filePath("remote.cfg")));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        QProcess service;
        service.setProcessEnvironment(environment);
        service.setWorkingDirectory(folder.path());
        service.start(QStringLiteral(VESTREL_PROGRAM), {QStringLiteral("--headless")});
        QVERIFY(service.waitForStarted(60000));
        const auto end = qScopeGuard([&] {
            ::kill(pid_t(service.processId()), SIGCONT);
            service.terminate();
            service.waitForFinished(20000);
        });
        QString said;
        QRegularExpressionMatch address;
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += QString::fromLocal8Bit(service.readAllStandardError()),
             address = QRegularExpression("API on http://localhost:(\\d+)/").match(said), address.hasMatch()),
            20000);
        const QUrl url(QStringLiteral("ws://127.0.0.1:%1/api").arg(address.captured(1)));

        RemoteClient client;
        RemoteStationWindow window(client);
        window.show();
        client.open(url);
        QTRY_COMPARE_WITH_TIMEOUT(window.windowTitle(), connectedTitle(url), settleMs);
        QStringList shown;
        connect(&client, &RemoteClient::connectionChanged, this,
                [&] { shown << labelText(window, QStringLiteral("labelConnection")); });
        QCOMPARE(::kill(pid_t(service.processId()), SIGSTOP), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), settleMs);
        QVERIFY2(shown.first().startsWith(QStringLiteral("Connected to %1, but no word from the station for 3 s; "
                                                         "shown as the station was at ")
                                              .arg(url.toDisplayString())),
                 qPrintable(shown.first()));
        QVERIFY(!window.findChild<QWidget *>(QStringLiteral("labelTarget"))->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(client.status(), RemoteClient::Status::Lost, 2 * settleMs);
        QVERIFY2(shown.last().startsWith("Connection lost, retrying: no word from the station for 10 s; shown as"),
                 qPrintable(shown.last()));

        QCOMPARE(::kill(pid_t(service.processId()), SIGCONT), 0);
        QTRY_COMPARE_WITH_TIMEOUT(window.windowTitle(), connectedTitle(url), 3 * settleMs);
        QVERIFY(window.findChild<QWidget *>(QStringLiteral("labelTarget"))->isEnabled());
        QVERIFY(window.findChild<QWidget *>(QStringLiteral("buttonPark"))->isEnabled());
    }

    // What the station says, however long, leaves the controls where they
    // are: nothing of changing height stands above them, and no name from
    // the station widens the window. At the window's first size and its
    // narrowest, where the lines wrap.
    void controlsStayPut_data()
    {
        QTest::addColumn<QByteArray>("longer");  // fields of the state, made long
        const QByteArray words = QByteArray("a reason said at length, ").repeated(8);
        QTest::newRow("target line")
            << json("{'record': {'az': 359.99, 'el': 89.99, 'dopplerHome': -1234567, 'dopplerDx': -7654321}}");
        QTest::newRow("alarms") << json("{'alarms': [{'alarm': 'rotatorSilent', 'why': '" + words
                                        + "'}, {'alarm': 'radioSilent', 'why': '" + words + "'}]}");
        QTest::newRow("a port in trouble") << json("{'ports': {'A': {'open': true, 'device': '/dev/" + words
                                                   + "', 'trouble': 'not answering', 'hamlib': 'Yaesu FT-817'},"
                                                     " 'B': {}}}");
        QTest::newRow("a long device name")
            << json("{'available': ['/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KXYZQ-if00-port0']}");
        QTest::newRow("WSJT-X line") << json("{'wsjtx': {'follow': true, 'line': 'WSJT-X: K1JT FN20 · Q65-60A · "
                                             "1296.065 MHz · transmitting · 4 s ago · K1JT FN20 · Q65-60A'}}");
        QTest::newRow("calibration") << json("{'calibration': {'sources': ['simulated receiver'], 'running': true,"
                                             " 'canApply': false, 'status': '" + words + "', 'result': '" + words
                                             + "', 'history': ['" + words + "', '" + words
                                             + "'], 'frequency': {'mhz': 1296.065, 'from': '" + words + "'}}}");
    }
    void controlsStayPut()
    {
        QFETCH(QByteArray, longer);
        const QJsonObject fields = QJsonDocument::fromJson(longer).object();
        QVERIFY(!fields.isEmpty());
        BeatingStation station(stationState());
        RemoteClient client;
        RemoteStationWindow window(client);
        window.show();
        client.open(station.url());
        QTRY_VERIFY_WITH_TIMEOUT(labelText(window, "labelTarget").startsWith("Moon: az 120.00"), settleMs);
        const auto places = [&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            QMap<QString, QRect> places;
            for (QWidget *widget : window.findChildren<QWidget *>())
                if (!widget->objectName().isEmpty()
                    && (qobject_cast<QAbstractButton *>(widget) || qobject_cast<QComboBox *>(widget)
                        || qobject_cast<QAbstractSpinBox *>(widget)))
                    places.insert(widget->objectName(), QRect(widget->mapTo(&window, QPoint()), widget->size()));
            return places;
        };
        const auto received = [&] {
            for (auto field = station.state.begin(); field != station.state.end(); ++field)
                if (client.state().value(field.key()) != field.value())
                    return false;
            return true;
        };
        const QSize first = window.size();
        for (const QSize size : {first, window.minimumSizeHint()}) {
            station.state = stationState();
            station.push();
            window.resize(size);
            QTRY_VERIFY_WITH_TIMEOUT(received(), settleMs);
            const QSize before = window.size();
            const QMap<QString, QRect> shortSaid = places();
            for (auto field = fields.begin(); field != fields.end(); ++field)
                station.state.insert(field.key(), field.value());
            station.push();
            QTRY_VERIFY_WITH_TIMEOUT(received(), settleMs);
            const QMap<QString, QRect> longSaid = places();
            QCOMPARE(window.size(), before);
            for (auto place = shortSaid.begin(); place != shortSaid.end(); ++place)
                QVERIFY2(longSaid.value(place.key()) == place.value(),
                         qPrintable(QStringLiteral("%1 moved at %2x%3")
                                        .arg(place.key())
                                        .arg(size.width())
                                        .arg(size.height())));
        }
    }

    // A device list opened is listed again at the station, as the page does.
    void devicesListedAgain()
    {
        BeatingStation station(stationState());
        RemoteClient client;
        RemoteStationWindow window(client);
        window.show();
        client.open(station.url());
        QTRY_VERIFY_WITH_TIMEOUT(client.isConnected(), settleMs);
        QVERIFY(!station.commandNames().contains("enumerate"));
        QTest::mouseClick(window.findChild<QComboBox *>("comboDeviceB"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(station.commandNames().contains("enumerate"), settleMs);
    }

    // Calibration as the page offers it: Start with the operator's choices,
    // Stop while a run goes, Apply only once the operator says yes to the
    // offsets found; what the station says of its runs is shown.
    void calibration_data()
    {
        QTest::addColumn<QByteArray>("calibration");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("answer");  // to the question Apply asks
        QTest::addColumn<QByteArray>("sent");  // the command, its id aside; empty: none
        const QByteArray idle = json("{'sources': ['simulated receiver', 'sound card'], 'running': false,"
                                     " 'canApply': false, 'result': '',"
                                     " 'history': ['2026-12-07 20:00 Sun noise: Y 12.3 dB'],"
                                     " 'frequency': {'mhz': 432.065, 'from': 'the sked frequency'}}");
        const QByteArray running = json("{'sources': ['simulated receiver'], 'running': true, 'canApply': false,"
                                        " 'result': '', 'history': [],"
                                        " 'frequency': {'mhz': 432.065, 'from': 'the sked frequency'},"
                                        " 'kind': 'crossScan', 'target': 'sun',"
                                        " 'status': 'cut 2 of 3 (elevation), point 7 of 26, listening',"
                                        " 'progress': 0.4, 'points': [[0, -1.0, 3.0], [0, 0.0, 9.0], [1, -1.0, 2.5]]}");
        const QByteArray found = json("{'sources': ['simulated receiver'], 'running': false, 'canApply': true,"
                                      " 'result': 'offsets found', 'history': [],"
                                      " 'frequency': {'mhz': 432.065, 'from': 'the sked frequency'},"
                                      " 'kind': 'crossScan', 'target': 'sun', 'status': 'ended', 'progress': 1,"
                                      " 'points': [], 'found': {'az': -1.19, 'el': 0.5}}");
        QTest::newRow("start") << idle << "buttonCalibrationStart" << ""
                               << json("{'cmd': 'calibrate', 'target': 'moon', 'kind': 'sunNoise',"
                                       " 'source': 'sound card', 'beamwidth': 3.5, 'systemKelvin': 150, 'flux': 120}");
        QTest::newRow("stop") << running << "buttonCalibrationStop" << "" << json("{'cmd': 'calibrationStop'}");
        QTest::newRow("apply, yes") << found << "buttonCalibrationApply" << "Yes"
                                    << json("{'cmd': 'calibrationApply'}");
        QTest::newRow("apply, no") << found << "buttonCalibrationApply" << "No" << QByteArray();
        QTest::newRow("start while one runs") << running << "buttonCalibrationStart" << "" << QByteArray();
        QTest::newRow("apply with none found") << idle << "buttonCalibrationApply" << "" << QByteArray();
    }
    void calibration()
    {
        QFETCH(QByteArray, calibration);
        QFETCH(QString, button);
        QFETCH(QString, answer);
        QFETCH(QByteArray, sent);
        QJsonObject state = stationState();
        state.insert("calibration", QJsonDocument::fromJson(calibration).object());
        QVERIFY(state.value("calibration").isObject());
        BeatingStation station(state);
        RemoteClient client;
        RemoteStationWindow window(client);
        window.show();
        client.open(station.url());
        QTRY_VERIFY_WITH_TIMEOUT(client.isConnected(), settleMs);
        QTRY_VERIFY_WITH_TIMEOUT(window.findChild<QWidget *>("groupCalibration")->isVisible(), settleMs);
        const QJsonObject c = state.value("calibration").toObject();
        QCOMPARE(labelText(window, "labelCalibrationFrequency"), "The Y expected at 432.065 MHz, the sked frequency");
        QCOMPARE(labelText(window, "labelCalibrationResult"), c.value("result").toString());
        QCOMPARE(labelText(window, "labelCalibrationStatus"), c.value("status").toString());
        QCOMPARE(window.findChild<QListWidget *>("listCalibrationHistory")->count(),
                 c.value("history").toArray().size());

        if (c.value("sources").toArray().size() > 1)
            QVERIFY(pick(window.findChild<QComboBox *>("comboCalibrationSource"), "sound card"));
        QVERIFY(pick(window.findChild<QComboBox *>("comboCalibrationTarget"), "Moon"));
        QVERIFY(pick(window.findChild<QComboBox *>("comboCalibrationKind"), "Sun noise"));
        window.findChild<QDoubleSpinBox *>("spinCalibrationBeamwidth")->setValue(3.5);
        window.findChild<QDoubleSpinBox *>("spinCalibrationKelvin")->setValue(150);
        window.findChild<QDoubleSpinBox *>("spinCalibrationFlux")->setValue(120);
        QTest::mouseClick(window.findChild<QPushButton *>(button), Qt::LeftButton);
        if (!answer.isEmpty()) {
            QMessageBox *question = nullptr;
            QTRY_VERIFY_WITH_TIMEOUT((question = window.findChild<QMessageBox *>("messageApply")), settleMs);
            QCOMPARE(question->text(), "Add −1.19° to the azimuth offset and +0.50° to the elevation offset? "
                                       "They are kept in store.cfg.");
            QTest::mouseClick(question->button(answer == "Yes" ? QMessageBox::Yes : QMessageBox::No), Qt::LeftButton);
        }
        // A ping after the click: whatever the click sent is there before its reply.
        QVERIFY(client.send("ping"));
        QTRY_VERIFY_WITH_TIMEOUT(station.commandNames().endsWith(QStringLiteral("ping")), settleMs);
        QJsonObject command = station.commands.size() > 1 ? station.commands.at(station.commands.size() - 2)
                                                          : QJsonObject();
        command.remove("id");
        QCOMPARE(command, QJsonDocument::fromJson(sent).object());
    }

    // Start and Stop on a station that calibrates, at store.cfg's defaults
    // (a repetition every 2 s, a readout every 200 ms) and its clock fixed:
    // what the window sends is what the station takes, or refuses with the
    // reason, which the window shows.
    void calibrationOnTheStation_data()
    {
        QTest::addColumn<double>("sunElevation");
        QTest::addColumn<bool>("stop");  // once the run goes
        QTest::addColumn<QString>("refused");
        QTest::addColumn<QString>("status");
        QTest::newRow("the Sun down") << -1.2 << false
                                      << "calibrate refused: the Sun is below the horizon: elevation -1.20°"
                                      << "not started: the Sun is below the horizon: elevation -1.20°";
        QTest::newRow("the Sun up, stopped") << 40.0 << true << "" << "ended: stopped by the operator";
    }
    void calibrationOnTheStation()
    {
        QFETCH(double, sunElevation);
        QFETCH(bool, stop);
        QFETCH(QString, refused);
        QFETCH(QString, status);
        RemoteStation s;
        const QDateTime hour(QDate(2026, 12, 7), QTime(16, 30), Qt::UTC);
        s.station->setTimes(2, 200);
        s.station->setClock([hour] { return hour; });
        auto sky = std::make_unique<MovingSky>(hour, false, 1296.0);
        sky->place(TrackingTarget::Moon, {{200, 30}, 0});
        sky->place(TrackingTarget::Sun, {{235, sunElevation}, 0});
        s.station->setTrackingSource(std::move(sky));
        SimReceiver receiver {[] { return std::optional<Direction>(); }, [] { return std::optional<Direction>(); },
                              SimReceiver::Sky()};
        Calibrator calibrator {*s.station};
        calibrator.addLevelSource(&receiver);
        s.server->setCalibrator(&calibrator);

        RemoteClient client;
        RemoteStationWindow window(client);
        window.show();
        client.open(s.url());
        QTRY_VERIFY_WITH_TIMEOUT(client.isConnected(), settleMs);
        QTest::mouseClick(window.findChild<QPushButton *>("buttonOpenA"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(s.rotator.elevation(), std::optional<double>(30), settleMs);
        auto *start = window.findChild<QPushButton *>("buttonCalibrationStart");
        QTRY_VERIFY_WITH_TIMEOUT(start->isVisible() && start->isEnabled(), settleMs);
        QTest::mouseClick(start, Qt::LeftButton);
        if (stop) {
            auto *stopButton = window.findChild<QPushButton *>("buttonCalibrationStop");
            QTRY_VERIFY_WITH_TIMEOUT(stopButton->isEnabled(), settleMs);
            QVERIFY(calibrator.isRunning());
            QTest::mouseClick(stopButton, Qt::LeftButton);
        }
        QTRY_COMPARE_WITH_TIMEOUT(labelText(window, "labelCalibrationStatus"), status, settleMs);
        QCOMPARE(labelText(window, "labelRefused"), refused);
        QVERIFY(!calibrator.isRunning());
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
