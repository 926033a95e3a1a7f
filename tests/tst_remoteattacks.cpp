// The remote view as a host on the LAN without the token finds it, at the
// bounds the service runs with: it gets nothing from another site's page.

#include "remotetesting.h"

using namespace remotetesting;

class tst_RemoteAttacks : public QObject
{
    Q_OBJECT

private slots:
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
};

QTEST_GUILESS_MAIN(tst_RemoteAttacks)
#include "tst_remoteattacks.moc"
