// The web page in a real headless Chromium, driven through its DevTools
// protocol: it shows the station's state as it changes, its Park button
// turns the simulated rotator, and it fits a phone's screen.

#include "remotetesting.h"

#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

using namespace remotetesting;

namespace {

// One page of the browser, reached over its DevTools WebSocket.
class DevTools : public QObject
{
public:
    explicit DevTools(const QUrl &url)
    {
        connect(&m_socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message.contains("id"))
                m_replies.insert(message.value("id").toInt(), message);
        });
        m_socket.open(url);
    }
    ~DevTools() override { m_socket.abort(); }  // Qt 6.4 leaks the reason of a socket destroyed while open
    bool waitConnected()
    {
        return QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, settleMs);
    }
    QJsonObject call(const QString &method, const QJsonObject &params = {})
    {
        const int id = ++m_id;
        m_socket.sendTextMessage(QString::fromUtf8(
            QJsonDocument(QJsonObject {{"id", id}, {"method", method}, {"params", params}}).toJson()));
        if (!QTest::qWaitFor([&] { return m_replies.contains(id); }, settleMs))
            return {};
        return m_replies.take(id);
    }
    // The expression's value in the page.
    QJsonValue evaluate(const QString &expression)
    {
        const QJsonObject reply
            = call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}});
        return reply.value("result").toObject().value("result").toObject().value("value");
    }
    QString text(const char *id)
    {
        return evaluate(QStringLiteral("(document.getElementById('%1') || {}).textContent").arg(id)).toString();
    }

private:
    QWebSocket m_socket;
    QHash<int, QJsonObject> m_replies;
    int m_id = 0;
};

} // namespace

class tst_RemotePage : public QObject
{
    Q_OBJECT

private slots:
    void pageFollowsAndParks()
    {
        const QString chromium = QStandardPaths::findExecutable("chromium");
        if (chromium.isEmpty())
            QSKIP("chromium is not installed (scripts/deps.sh installs it)");
        RemoteStation s;
        QVERIFY(s.listening);
        QVERIFY(s.station->open(StationPort::A, s.rotator.slavePath(), {}, false));
        QTRY_COMPARE_WITH_TIMEOUT(s.rotator.azimuth(), std::optional<double>(100), settleMs);

        QTemporaryDir profile;
        QProcess browser;
        browser.setProcessChannelMode(QProcess::SeparateChannels);
        browser.start(chromium, {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                                 "--disable-extensions", "--user-data-dir=" + profile.path(),
                                 "--remote-debugging-address=127.0.0.1", "--remote-debugging-port=0",
                                 "--window-size=1200,900",
                                 QStringLiteral("http://127.0.0.1:%1/").arg(s.server->port())});
        QVERIFY(browser.waitForStarted());
        const auto stop = qScopeGuard([&] {
            browser.terminate();
            if (!browser.waitForFinished(5000))
                browser.kill();
            browser.waitForFinished(5000);
        });
        // "DevTools listening on ws://127.0.0.1:PORT/devtools/browser/ID"
        QByteArray said;
        QRegularExpressionMatch listening;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         said += browser.readAllStandardError();
                         listening = QRegularExpression("DevTools listening on ws://127.0.0.1:(\\d+)/")
                                         .match(QString::fromUtf8(said));
                         return listening.hasMatch() || browser.state() == QProcess::NotRunning;
                     },
                     20000)
                     && listening.hasMatch(),
                 said.right(2000).constData());
        const QString devtools = QStringLiteral("http://127.0.0.1:%1/json/list").arg(listening.captured(1));

        // The page's own DevTools endpoint, once the page is there.
        QNetworkAccessManager network;
        QUrl pageUrl;
        QVERIFY(QTest::qWaitFor(
            [&] {
                std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(QUrl(devtools))));
                if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 5000))
                    return false;
                for (const QJsonValue target : QJsonDocument::fromJson(reply->readAll()).array())
                    if (target["type"] == "page")
                        pageUrl = QUrl(target["webSocketDebuggerUrl"].toString());
                return pageUrl.isValid() && !pageUrl.isEmpty();
            },
            settleMs));
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
