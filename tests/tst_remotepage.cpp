// SPDX-License-Identifier: GPL-3.0-or-later
// The web page in a real headless Chromium, driven through its DevTools
// protocol: it shows the station's state as it changes, its Park button
// turns the simulated rotator, it fits a phone's screen, and it says what it
// knows (the log from before it came) and what it no longer knows; its
// calibration section starts and stops a cross-scan. A link that falls
// silent is said, each port's part in tracking is shown, and every control
// keeps its text whole at a desktop's and a phone's width.

#include "browsertesting.h"
#include "calibration/calibrator.h"
#include "remotetesting.h"
#include "sim/simreceiver.h"

#include <QTcpServer>
#include <QTcpSocket>

using namespace browsertesting;
using namespace remotetesting;

namespace {

// Between the browser and the station: passes bytes both ways until told to
// stall, then holds them (and new connections) as a stopped station or a
// stalled phone link would, until it is told to go on.
class Relay : public QObject
{
public:
    explicit Relay(quint16 stationPort) : m_stationPort(stationPort)
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *browser = m_server.nextPendingConnection()) {
                auto *station = new QTcpSocket(browser);
                m_pairs.append({QPointer<QTcpSocket>(browser), QPointer<QTcpSocket>(station)});
                connect(browser, &QTcpSocket::readyRead, this, &Relay::pass);
                connect(station, &QTcpSocket::readyRead, this, &Relay::pass);
                connect(station, &QTcpSocket::connected, this, &Relay::pass);
                connect(station, &QTcpSocket::disconnected, browser, &QTcpSocket::disconnectFromHost);
                connect(browser, &QTcpSocket::disconnected, station, &QTcpSocket::disconnectFromHost);
                station->connectToHost(QHostAddress::LocalHost, m_stationPort);
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    void stall() { m_stalled = true; }
    void goOn()
    {
        m_stalled = false;
        pass();
    }

private:
    void pass()
    {
        if (m_stalled)
            return;
        for (const auto &[browser, station] : std::as_const(m_pairs)) {
            if (!browser || !station || station->state() != QAbstractSocket::ConnectedState)
                continue;
            station->write(browser->readAll());
            browser->write(station->readAll());
        }
    }
    QTcpServer m_server;
    quint16 m_stationPort;
    bool m_stalled = false;
    QList<std::pair<QPointer<QTcpSocket>, QPointer<QTcpSocket>>> m_pairs;
};

// Every visible control whose text does not fit its box (a list's longest
// choice included), and every two controls that overlap: empty when the
// page is laid out whole.
const char *const layoutFaults = R"(
(() => {
  const measure = document.createElement('canvas').getContext('2d');
  const shown = (e) => e.offsetParent !== null && e.getClientRects().length > 0;
  const controls = [...document.querySelectorAll('button, select, input, progress, .label, .unit')].filter(shown);
  const name = (e) => e.id || e.textContent.trim() || e.getAttribute('aria-label');
  const faults = [];
  for (const e of controls) {
    if (e.tagName === 'SELECT') {
      const style = getComputedStyle(e);
      measure.font = style.font;
      const room = e.clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight) - 20;
      for (const o of e.options)
        if (measure.measureText(o.text).width > room) faults.push(name(e) + ' cuts "' + o.text + '"');
    } else if (e.scrollWidth > e.clientWidth + 1) {
      faults.push(name(e) + ' cut');
    }
  }
  for (let i = 0; i < controls.length; ++i)
    for (let j = i + 1; j < controls.length; ++j) {
      const a = controls[i].getBoundingClientRect(), b = controls[j].getBoundingClientRect();
      if (a.left < b.right - 0.5 && b.left < a.right - 0.5 && a.top < b.bottom - 0.5 && b.top < a.bottom - 0.5)
        faults.push(name(controls[i]) + ' overlaps ' + name(controls[j]));
    }
  if (document.documentElement.scrollWidth > window.innerWidth) faults.push('page wider than the screen');
  return faults.join('; ');
})()
)";

} // namespace

class tst_RemotePage : public QObject
{
    Q_OBJECT

private slots:
    void pageFollowsAndParks()
    {
        if (Browser::program().isEmpty())
            QSKIP("chromium is not installed (scripts/deps.sh installs it)");
        RemoteStation s;
        QVERIFY(s.listening);
        QVERIFY(s.station->open(StationPort::A, s.rotator.slavePath(), {}, false));
        QTRY_COMPARE_WITH_TIMEOUT(s.rotator.azimuth(), std::optional<double>(100), settleMs);

        BrowserPage browser(s.server->port());
        QVERIFY2(browser.isOpen(), browser.error());
        DevTools &page = browser.page();

        // The state as it is, then as it changes.
        QTRY_COMPARE_WITH_TIMEOUT(page.text("connection"), QString("connected"), settleMs);
        QTRY_VERIFY_WITH_TIMEOUT(page.text("portA").startsWith("open"), settleMs);
        QTRY_COMPARE_WITH_TIMEOUT(page.text("openA"), QString("Close"), settleMs);
        s.record.azimuth = 140;
        s.station->repetition();
        QTRY_VERIFY_WITH_TIMEOUT(page.text("commanded").startsWith(QString::fromUtf8("az 140.0\u00b0")), settleMs);

        // Park, with port A in Manual first (so that tracking leaves the
        // antenna there) and the position typed on the page.
        QCOMPARE(page.evaluate("document.getElementById('autoA').click(); true"), QJsonValue(true));
        QTRY_VERIFY_WITH_TIMEOUT(page.text("portA").endsWith("Manual"), settleMs);
        QCOMPARE(page.evaluate("document.getElementById('parkAz').value = '123';"
                               "document.getElementById('parkEl').value = '33';"
                               "document.getElementById('park').click(); true"),
                 QJsonValue(true));
        QTRY_COMPARE_WITH_TIMEOUT(s.rotator.elevation(), std::optional<double>(33), settleMs);
        QCOMPARE(s.rotator.azimuth(), std::optional<double>(123));
        QTRY_VERIFY_WITH_TIMEOUT(page.text("commanded").contains(QString::fromUtf8("el 33.0\u00b0")), settleMs);

        // A phone: one column, nothing wider than the screen.
        page.call("Emulation.setDeviceMetricsOverride",
                  {{"width", 375}, {"height", 740}, {"deviceScaleFactor", 2}, {"mobile", true}});
        QTRY_COMPARE_WITH_TIMEOUT(page.evaluate("document.documentElement.scrollWidth <= window.innerWidth"),
                                  QJsonValue(true), settleMs);
        QCOMPARE(page.evaluate("getComputedStyle(document.querySelector('main'))"
                               ".gridTemplateColumns.split(' ').length"),
                 QJsonValue(1));
        // Each port's row on one line, its Auto button beside its list.
        QCOMPARE(page.evaluate("['A', 'B'].every((p) => document.getElementById('auto' + p).offsetTop"
                               " === document.getElementById('device' + p).offsetTop)"),
                 QJsonValue(true));
    }

    // The station's level source offered, Start as the window's dialog
    // starts a cross-scan on the Sun, its status followed, and Stop gives
    // the antenna and the operator's target back.
    void pageStartsAndStopsACalibration()
    {
        if (Browser::program().isEmpty())
            QSKIP("chromium is not installed (scripts/deps.sh installs it)");
        RemoteStation s;
        SimRotator &rotator = s.rotator;
        SimReceiver receiver(
            [&rotator] { return std::optional<Direction>({rotator.presentAzimuth(), rotator.presentElevation()}); },
            [&s] { return std::optional<Direction>({s.record.azimuth, s.record.elevation}); }, SimReceiver::Sky());
        Calibrator calibrator(*s.station);
        calibrator.addLevelSource(&receiver);
        s.server->setCalibrator(&calibrator);
        QVERIFY(s.station->open(StationPort::A, s.rotator.slavePath(), {}, false));
        QTRY_VERIFY_WITH_TIMEOUT(s.station->pointing().commandedAzimuth.has_value(), settleMs);

        BrowserPage browser(s.server->port());
        QVERIFY2(browser.isOpen(), browser.error());
        DevTools &page = browser.page();
        QTRY_COMPARE_WITH_TIMEOUT(page.evaluate("document.getElementById('calibration').hidden"), QJsonValue(false),
                                  settleMs);
        QTRY_COMPARE_WITH_TIMEOUT(page.evaluate("document.getElementById('calSource').value"),
                                  QJsonValue("simulated receiver"), settleMs);
        QCOMPARE(page.evaluate("document.getElementById('calStop').disabled"), QJsonValue(true));
        QCOMPARE(page.evaluate("document.getElementById('calStart').click(); true"), QJsonValue(true));
        QTRY_VERIFY2_WITH_TIMEOUT(calibrator.isRunning(),
                                  qPrintable(page.text("answer") + QLatin1Char('/') + page.text("calStatus")), settleMs);
        QCOMPARE(s.station->target(), TrackingTarget::Sun);
        QCOMPARE(calibrator.run()->settings().kind, CalibrationRun::Kind::CrossScan);
        QTRY_VERIFY_WITH_TIMEOUT(!page.text("calStatus").isEmpty(), settleMs);
        QTRY_COMPARE_WITH_TIMEOUT(page.evaluate("document.getElementById('calStop').disabled"), QJsonValue(false),
                                  settleMs);
        QCOMPARE(page.evaluate("document.getElementById('calStop').click(); true"), QJsonValue(true));
        QTRY_COMPARE_WITH_TIMEOUT(page.text("calStatus"), QString("ended: stopped by the operator"), settleMs);
        QCOMPARE(page.evaluate("document.getElementById('calApply').disabled"), QJsonValue(true));
        QCOMPARE(s.station->target(), TrackingTarget::Moon);
        QCOMPARE(s.station->scanOffset().azimuth, 0.0);
    }

    // The system temperature typed on the page is the one the Y expected
    // is worked out with (it was always 100 K), and the page says the band
    // it is for.
    void pageSendsTheSystemTemperature_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<double>("kelvin");
        QTest::newRow("60 K typed") << "60" << 60.0;
        QTest::newRow("left as it comes") << "" << 100.0;
    }
    void pageSendsTheSystemTemperature()
    {
        QFETCH(QString, typed);
        QFETCH(double, kelvin);
        if (Browser::program().isEmpty())
            QSKIP("chromium is not installed (scripts/deps.sh installs it)");
        RemoteStation s;
        s.station->setTimes(2, 200);  // store.cfg's
        SimReceiver receiver([] { return std::optional<Direction>(); }, [] { return std::optional<Direction>(); },
                             SimReceiver::Sky());
        Calibrator calibrator(*s.station);
        calibrator.addLevelSource(&receiver);
        s.server->setCalibrator(&calibrator);
        QVERIFY(s.station->open(StationPort::A, s.rotator.slavePath(), {}, false));
        QTRY_VERIFY_WITH_TIMEOUT(s.station->pointing().commandedAzimuth.has_value(), settleMs);

        BrowserPage browser(s.server->port());
        QVERIFY2(browser.isOpen(), browser.error());
        DevTools &page = browser.page();
        QTRY_COMPARE_WITH_TIMEOUT(page.evaluate("document.getElementById('calSource').value"),
                                  QJsonValue("simulated receiver"), settleMs);
        QTRY_COMPARE_WITH_TIMEOUT(page.text("calFrequency"), QString("The Y expected at 432.065 MHz, Tracking source...'s"),
                                  settleMs);
        if (!typed.isEmpty())
            QCOMPARE(page.evaluate(QStringLiteral("document.getElementById('calTsys').value = '%1'; true").arg(typed)),
                     QJsonValue(true));
        QCOMPARE(page.evaluate("document.getElementById('calKind').value = 'sunNoise';"
                               "document.getElementById('calStart').click(); true"),
                 QJsonValue(true));
        QTRY_VERIFY2_WITH_TIMEOUT(calibrator.isRunning(), qPrintable(page.text("answer")), settleMs);
        QCOMPARE(calibrator.run()->settings().station.systemKelvin, kelvin);
        calibrator.abort();
    }

    void pageSaysWhatItKnows()
    {
        if (Browser::program().isEmpty())
            QSKIP("chromium is not installed (scripts/deps.sh installs it)");
        RemoteStation s;
        QVERIFY(s.listening);
        QDateTime clock = QDateTime(QDate(2026, 12, 9), QTime(21, 30), Qt::UTC);
        s.station->setClock([&clock] { return clock; });
        s.record.dopplerDx = -250;
        s.station->enterAzimuthOffset("0.5");
        s.station->enterElevationOffset("-0.25");
        s.station->say("said before the page came");
        s.station->repetition();

        const quint16 port = s.server->port();
        BrowserPage browser(port);
        QVERIFY2(browser.isOpen(), browser.error());
        DevTools &page = browser.page();
        QTRY_COMPARE_WITH_TIMEOUT(page.text("connection"), QString("connected"), settleMs);
        const QString timesSaid = "[...document.querySelectorAll('#log li')]"
                                  ".filter((li) => li.textContent.endsWith('said before the page came')).length";
        QTRY_COMPARE_WITH_TIMEOUT(page.evaluate(timesSaid), QJsonValue(1), settleMs);
        QCOMPARE(page.evaluate("getComputedStyle(document.getElementById('login')).display"), QJsonValue("none"));
        QCOMPARE(page.text("shifts"), QString::fromUtf8("home +500 Hz, DX \u2212250 Hz"));
        QCOMPARE(page.text("offsets"), QString::fromUtf8("az +0.50\u00b0, el \u22120.25\u00b0"));
        QCOMPARE(page.text("dataAge"), QString("0 s old"));
        clock = clock.addSecs(7);
        QTRY_COMPARE_WITH_TIMEOUT(page.text("dataAge"), QString("7 s old"), settleMs);
        QVERIFY2(page.text("doppler").startsWith("Track the radio's frequency"), qPrintable(page.text("doppler")));

        QCOMPARE(page.evaluate("document.getElementById('targetSource').click(); true"), QJsonValue(true));
        QTRY_COMPARE_WITH_TIMEOUT(s.station->target(), TrackingTarget::Source, settleMs);

        // The service stops: the readouts stay, greyed, and the page says since when.
        s.server.reset();
        QTRY_COMPARE_WITH_TIMEOUT(page.text("connection"), QString("disconnected since 21:30:07 UTC"), settleMs);
        QCOMPARE(page.evaluate("getComputedStyle(document.querySelector('main')).opacity"), QJsonValue("0.5"));
        QVERIFY(page.text("shifts").startsWith("home +500 Hz"));

        // Back on the same port: the last lines come again, each shown once.
        RemoteSettings settings;
        settings.listenPort = port;
        s.server = std::make_unique<RemoteServer>(*s.station, settings);
        QVERIFY(s.server->listen(nullptr));
        QTRY_COMPARE_WITH_TIMEOUT(page.text("connection"), QString("connected"), settleMs);
        QCOMPARE(page.evaluate("getComputedStyle(document.querySelector('main')).opacity"), QJsonValue("1"));
        s.station->say("said after it came back");
        QTRY_VERIFY_WITH_TIMEOUT(page.evaluate("document.getElementById('log').textContent").toString().contains(
                                     "said after it came back"),
                                 settleMs);
        QCOMPARE(page.evaluate(timesSaid), QJsonValue(1));
    }

    // The station stops answering without closing anything (stopped, or a
    // phone's link stalled): within a few missed heartbeats the page says
    // so, greys what it shows and takes no click for a station that would
    // not hear it; once the station speaks again the page is live again.
    void pageSaysTheStationIsSilent()
    {
        if (Browser::program().isEmpty())
            QSKIP("chromium is not installed (scripts/deps.sh installs it)");
        RemoteStation s;
        s.station->setTimes(2, 200);  // store.cfg's
        QVERIFY(s.listening);
        Relay relay(s.server->port());
        BrowserPage browser(relay.port());
        QVERIFY2(browser.isOpen(), browser.error());
        DevTools &page = browser.page();
        QTRY_COMPARE_WITH_TIMEOUT(page.text("connection"), QString("connected"), settleMs);

        relay.stall();
        QTRY_VERIFY2_WITH_TIMEOUT(page.text("connection").startsWith("no word from the station for "),
                                  qPrintable(page.text("connection")), settleMs);
        QCOMPARE(page.evaluate("getComputedStyle(document.querySelector('main')).opacity"), QJsonValue("0.5"));
        QCOMPARE(page.evaluate("document.getElementById('targetSun').click(); true"), QJsonValue(true));
        QVERIFY2(page.text("answer").startsWith("not sent: no word from the station"), qPrintable(page.text("answer")));
        // Long enough for the page to have tried a new connection through the stall.
        QTRY_VERIFY_WITH_TIMEOUT(page.text("connection").contains(QRegularExpression(" 9 s$| 1\\d s$")), settleMs);

        relay.goOn();
        QTRY_COMPARE_WITH_TIMEOUT(page.text("connection"), QString("connected"), settleMs);
        QCOMPARE(page.evaluate("getComputedStyle(document.querySelector('main')).opacity"), QJsonValue("1"));
        QCOMPARE(page.evaluate("document.getElementById('targetSun').click(); true"), QJsonValue(true));
        QTRY_COMPARE_WITH_TIMEOUT(s.station->target(), TrackingTarget::Sun, settleMs);
    }

    // What each port does is shown, and the tracking button does what it
    // says in one click: after Park (port A Manual, B in Auto) it starts
    // the antenna again rather than stopping the radio too.
    void trackingButtonDoesWhatItSays_data()
    {
        QTest::addColumn<bool>("autoA");
        QTest::addColumn<bool>("autoB");
        QTest::addColumn<bool>("parked");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("autoAfter");
        const QString held = "antenna left where it is (port A Manual); ";
        QTest::newRow("both in Auto") << true << true << false
                                      << "antenna tracking the Moon; radio read (Track frequency off)"
                                      << "Stop tracking" << false;
        QTest::newRow("parked, radio in Auto") << true << true << true << held + "radio read (Track frequency off)"
                                               << "Start tracking" << true;
        QTest::newRow("both in Manual") << false << false << false << held + "radio not read (port B Manual)"
                                        << "Start tracking" << true;
    }
    void trackingButtonDoesWhatItSays()
    {
        QFETCH(bool, autoA);
        QFETCH(bool, autoB);
        QFETCH(bool, parked);
        QFETCH(QString, shown);
        QFETCH(QString, button);
        QFETCH(bool, autoAfter);
        if (Browser::program().isEmpty())
            QSKIP("chromium is not installed (scripts/deps.sh installs it)");
        RemoteStation s;
        s.station->setTimes(2, 200);  // store.cfg's
        s.station->setAuto(StationPort::A, autoA);
        s.station->setAuto(StationPort::B, autoB);
        QVERIFY(s.station->open(StationPort::A, s.rotator.slavePath(), {}, false));
        QVERIFY(s.station->open(StationPort::B, s.radio.slavePath(), {}, false));
        BrowserPage browser(s.server->port());
        QVERIFY2(browser.isOpen(), browser.error());
        DevTools &page = browser.page();
        QTRY_VERIFY_WITH_TIMEOUT(page.text("portB").startsWith("open"), settleMs);
        if (parked)
            QCOMPARE(page.evaluate("document.getElementById('parkAz').value = '123';"
                                   "document.getElementById('parkEl').value = '33';"
                                   "document.getElementById('park').click(); true"),
                     QJsonValue(true));
        QTRY_COMPARE_WITH_TIMEOUT(page.text("tracking"), shown, settleMs);
        QTRY_COMPARE_WITH_TIMEOUT(page.text("trackingButton"), button, settleMs);
        QCOMPARE(page.evaluate("document.getElementById('trackingButton').click(); true"), QJsonValue(true));
        QTRY_COMPARE_WITH_TIMEOUT(s.station->portSession(StationPort::A).automatic, autoAfter, settleMs);
        QCOMPARE(s.station->portSession(StationPort::B).automatic, autoAfter);
        QTRY_COMPARE_WITH_TIMEOUT(page.text("trackingButton"),
                                  QString(autoAfter ? "Stop tracking" : "Start tracking"), settleMs);
    }

    // The PTT option beside "Track frequency", as the window's tick box.
    void pttButtonTicksPtt()
    {
        if (Browser::program().isEmpty())
            QSKIP("chromium is not installed (scripts/deps.sh installs it)");
        RemoteStation s;
        BrowserPage browser(s.server->port());
        QVERIFY2(browser.isOpen(), browser.error());
        DevTools &page = browser.page();
        QTRY_COMPARE_WITH_TIMEOUT(page.text("connection"), QString("connected"), settleMs);
        const bool before = s.station->doppler().ptt;
        QCOMPARE(page.evaluate("document.getElementById('ptt').click(); true"), QJsonValue(true));
        QTRY_COMPARE_WITH_TIMEOUT(s.station->doppler().ptt, !before, settleMs);
        QTRY_COMPARE_WITH_TIMEOUT(page.evaluate("document.getElementById('ptt').classList.contains('on')"),
                                  QJsonValue(!before), settleMs);
    }

    // Every control's text whole and no two controls on each other, on a
    // desktop and on a phone, with the calibration section shown.
    void pageLayoutFits_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("mobile");
        QTest::newRow("1280x800") << 1280 << 800 << false;
        QTest::newRow("phone 375x812") << 375 << 812 << true;
    }
    void pageLayoutFits()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, mobile);
        if (Browser::program().isEmpty())
            QSKIP("chromium is not installed (scripts/deps.sh installs it)");
        RemoteStation s;
        SimReceiver receiver([] { return std::optional<Direction>(); }, [] { return std::optional<Direction>(); },
                             SimReceiver::Sky());
        Calibrator calibrator(*s.station);
        calibrator.addLevelSource(&receiver);
        s.server->setCalibrator(&calibrator);
        BrowserPage browser(s.server->port());
        QVERIFY2(browser.isOpen(), browser.error());
        DevTools &page = browser.page();
        page.call("Emulation.setDeviceMetricsOverride",
                  {{"width", width}, {"height", height}, {"deviceScaleFactor", mobile ? 2 : 1}, {"mobile", mobile}});
        QTRY_COMPARE_WITH_TIMEOUT(page.text("connection"), QString("connected"), settleMs);
        QTRY_COMPARE_WITH_TIMEOUT(page.evaluate("document.getElementById('calibration').hidden"), QJsonValue(false),
                                  settleMs);
        // The commands' positions as they come, each axis as it is first sent.
        page.evaluate("window.commandedShown = [];"
                      "new MutationObserver(() => window.commandedShown.push("
                      "document.getElementById('commanded').textContent))"
                      ".observe(document.getElementById('commanded'), {childList: true}); true");
        QVERIFY(s.station->open(StationPort::A, s.rotator.slavePath(), {}, false));
        QTRY_VERIFY_WITH_TIMEOUT(page.text("commanded").contains("el 10.0"), settleMs);
        QTRY_COMPARE_WITH_TIMEOUT(page.evaluate(layoutFaults), QJsonValue(""), settleMs);
        QCOMPARE(page.evaluate("window.commandedShown.filter((t) => t.includes('-\\u00b0')).join(', ')"),
                 QJsonValue(""));
    }

    // A position as the state gives it: an axis the station has not sent
    // yet (after a restart, the azimuth goes a repetition before the
    // elevation) is a bare dash, not a dash in degrees.
    void pageShowsPositions_data()
    {
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("shown");
        QTest::newRow("both axes") << "{az: 123.4, el: 33}" << QString::fromUtf8("az 123.4\u00b0  el 33.0\u00b0");
        QTest::newRow("azimuth only") << "{az: 123.4, el: null}" << QString::fromUtf8("az 123.4\u00b0  el -");
        QTest::newRow("elevation only") << "{az: null, el: 12}" << QString::fromUtf8("az -  el 12.0\u00b0");
        QTest::newRow("none") << "null" << "-";
    }
    void pageShowsPositions()
    {
        QFETCH(QString, sent);
        QFETCH(QString, shown);
        if (Browser::program().isEmpty())
            QSKIP("chromium is not installed (scripts/deps.sh installs it)");
        RemoteStation s;
        BrowserPage browser(s.server->port());
        QVERIFY2(browser.isOpen(), browser.error());
        DevTools &page = browser.page();
        QTRY_COMPARE_WITH_TIMEOUT(page.text("connection"), QString("connected"), settleMs);
        QCOMPARE(page.evaluate(QStringLiteral("position(%1)").arg(sent)), QJsonValue(shown));
    }

    // Before the token the page asks for it rather than saying it is
    // disconnected, and a click says it went nowhere.
    void pageWaitsForTheToken()
    {
        if (Browser::program().isEmpty())
            QSKIP("chromium is not installed (scripts/deps.sh installs it)");
        RemoteStation s({}, QStringLiteral("secret-token-1234567890"));
        BrowserPage browser(s.server->port());
        QVERIFY2(browser.isOpen(), browser.error());
        DevTools &page = browser.page();
        QTRY_COMPARE_WITH_TIMEOUT(page.evaluate("getComputedStyle(document.getElementById('login')).display"),
                                  QJsonValue("flex"), settleMs);
        QCOMPARE(page.text("connection"), QString("waiting for the token"));
        QCOMPARE(page.evaluate("document.getElementById('targetSun').click(); true"), QJsonValue(true));
        QCOMPARE(page.text("answer"), QString("not sent: not connected to the station"));
    }
};

QTEST_GUILESS_MAIN(tst_RemotePage)
#include "tst_remotepage.moc"
