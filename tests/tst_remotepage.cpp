// SPDX-License-Identifier: GPL-3.0-or-later
// The web page in a real headless Chromium, driven through its DevTools
// protocol: it shows the station's state as it changes, its Park button
// turns the simulated rotator, it fits a phone's screen, and it says what it
// knows (the log from before it came) and what it no longer knows; its
// calibration section starts and stops a cross-scan.

#include "browsertesting.h"
#include "calibration/calibrator.h"
#include "remotetesting.h"
#include "sim/simreceiver.h"

using namespace browsertesting;
using namespace remotetesting;

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

        Browser browser;
        const QUrl pageUrl = browser.start(QStringLiteral("http://127.0.0.1:%1/").arg(s.server->port()));
        QVERIFY2(pageUrl.isValid() && !pageUrl.isEmpty(), browser.error().constData());
        DevTools page(pageUrl);
        QVERIFY(page.waitConnected());

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

        Browser browser;
        const QUrl pageUrl = browser.start(QStringLiteral("http://127.0.0.1:%1/").arg(s.server->port()));
        QVERIFY2(pageUrl.isValid() && !pageUrl.isEmpty(), browser.error().constData());
        DevTools page(pageUrl);
        QVERIFY(page.waitConnected());
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

        Browser browser;
        const QUrl pageUrl = browser.start(QStringLiteral("http://127.0.0.1:%1/").arg(s.server->port()));
        QVERIFY2(pageUrl.isValid() && !pageUrl.isEmpty(), browser.error().constData());
        DevTools page(pageUrl);
        QVERIFY(page.waitConnected());
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

        Browser browser;
        const quint16 port = s.server->port();
        const QUrl pageUrl = browser.start(QStringLiteral("http://127.0.0.1:%1/").arg(port));
        QVERIFY2(pageUrl.isValid() && !pageUrl.isEmpty(), browser.error().constData());
        DevTools page(pageUrl);
        QVERIFY(page.waitConnected());
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
};

QTEST_GUILESS_MAIN(tst_RemotePage)
#include "tst_remotepage.moc"
