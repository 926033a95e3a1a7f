// The web page in a real headless Chromium, driven through its DevTools
// protocol: it shows the station's state as it changes, its Park button
// turns the simulated rotator, and it fits a phone's screen.

#include "browsertesting.h"
#include "remotetesting.h"

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
    }
};

QTEST_GUILESS_MAIN(tst_RemotePage)
#include "tst_remotepage.moc"
