// SPDX-License-Identifier: GPL-3.0-or-later
// The Hamlib network client against a scripted daemon on a local port: one
// command on the wire at a time, line assembly, bad lines, a daemon that
// never answers, one that goes away, and hosts that refuse or never answer.

#include "hamlibtesting.h"

#include "hamlib/hamlibclient.h"

#include <QSignalSpy>
#include <QtTest>

using namespace hamlibtesting;
using Answer = HamlibClient::Answer;

namespace {

// A request whose answer is the given number of lines; every line is kept.
HamlibClient::Request request(const QByteArray &command, int lines, QByteArrayList *kept, int timeoutMs = 0)
{
    HamlibClient::Request r;
    r.command = command + '\n';
    r.answerTimeoutMs = timeoutMs;
    auto count = std::make_shared<int>(0);
    r.onLine = [kept, lines, count](const QByteArray &line) {
        if (line == "garbage")
            return Answer::Bad;
        if (kept)
            *kept << line;
        return ++*count == lines ? Answer::Done : Answer::More;
    };
    return r;
}

} // namespace

class tst_HamlibClient : public QObject
{
    Q_OBJECT

private:
    // A client connected to the daemon.
    void connectTo(HamlibClient &client, FakeDaemon &daemon)
    {
        QSignalSpy connected(&client, &HamlibClient::connected);
        client.connectToDaemon({QStringLiteral("127.0.0.1"), daemon.port()});
        QVERIFY(connected.wait(5000));
        QVERIFY(client.isConnected());
    }

private slots:
    void oneCommandOnTheWireAtATime()
    {
        FakeDaemon daemon;
        HamlibClient client;
        connectTo(client, daemon);
        QByteArrayList kept;
        client.send(request("f", 1, &kept));
        client.send(request("t", 1, &kept));
        QTRY_COMPARE(daemon.lines, (QByteArrayList {"f"}));
        QTest::qWait(100);
        QCOMPARE(daemon.lines, (QByteArrayList {"f"}));  // t waits for f's answer
        daemon.send("145000000\n");
        QTRY_COMPARE(daemon.lines, (QByteArrayList {"f", "t"}));
        daemon.send("1\n");
        QTRY_COMPARE(kept, (QByteArrayList {"145000000", "1"}));
    }

    void linesInPiecesAndCrLf()
    {
        FakeDaemon daemon;
        HamlibClient client;
        connectTo(client, daemon);
        QByteArrayList kept;
        client.send(request("p", 2, &kept));
        QTRY_COMPARE(daemon.lines.size(), 1);
        daemon.send("12");
        QTest::qWait(30);
        daemon.send("3.5\r\n4");
        QTest::qWait(30);
        daemon.send("5.0\n");
        QTRY_COMPARE(kept, (QByteArrayList {"123.5", "45.0"}));
    }

    void badAndUnexpectedLinesAreReportedNotTaken()
    {
        FakeDaemon daemon;
        HamlibClient client;
        connectTo(client, daemon);
        QSignalSpy bad(&client, &HamlibClient::badLine);
        QSignalSpy unexpected(&client, &HamlibClient::unexpectedLine);

        daemon.send("hello\n");  // nothing asked
        QTRY_COMPARE(unexpected.size(), 1);
        QCOMPARE(unexpected.at(0).at(0).toByteArray(), QByteArray("hello"));

        // An answer that cannot be f's ends f at once; t goes once the line is quiet.
        QByteArrayList kept;
        bool failed = false;
        HamlibClient::Request f = request("f", 1, &kept);
        f.onFailed = [&failed] { failed = true; };
        client.send(f);
        client.send(request("t", 1, &kept));
        QTRY_COMPARE(daemon.lines.size(), 1);
        QElapsedTimer clock;
        clock.start();
        daemon.send("garbage\n");
        QTRY_COMPARE(bad.size(), 1);
        QVERIFY(failed);
        QTRY_COMPARE(daemon.lines, (QByteArrayList {"f", "t"}));
        QVERIFY(clock.elapsed() >= HamlibClient::settleMs);
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QStringLiteral("t went %1 ms after the bad line").arg(clock.elapsed())));
        daemon.send("1\n");
        QTRY_COMPARE(kept, (QByteArrayList {"1"}));

        // A line that never ends is cut; the answer after its break is read.
        client.send(request("p", 1, &kept));
        QTRY_COMPARE(daemon.lines.size(), 3);
        daemon.send(QByteArray(5000, 'x'));
        QTRY_COMPARE(bad.size(), 2);
        QCOMPARE(bad.at(1).at(0).toByteArray(), QByteArray(hamlib::LineReader::maxLineLength, 'x'));
        client.send(request("q", 1, &kept));
        daemon.send(QByteArray(5000, 'x') + "\n");
        QTRY_COMPARE(daemon.lines.size(), 4);
        daemon.send("0\n");
        QTRY_COMPARE(kept, (QByteArrayList {"1", "0"}));
    }

    void silentDaemonGivesUpAndGoesOn()
    {
        FakeDaemon daemon;  // never answers
        HamlibClient client;
        connectTo(client, daemon);
        QSignalSpy missing(&client, &HamlibClient::answerMissing);
        bool expired = false;
        HamlibClient::Request first = request("P 1.00 2.00", 1, nullptr, 300);
        first.onFailed = [&expired] { expired = true; };
        client.send(first);
        client.send(request("p", 2, nullptr, 300));
        QTRY_VERIFY(expired);
        QCOMPARE(missing.size(), 1);
        QCOMPARE(missing.at(0).at(0).toByteArray(), QByteArray("P 1.00 2.00"));
        QTRY_COMPARE(daemon.lines, (QByteArrayList {"P 1.00 2.00", "p"}));
        QTRY_COMPARE(missing.size(), 2);
    }

    void newestQueuedValueWins()
    {
        FakeDaemon daemon;
        HamlibClient client;
        connectTo(client, daemon);
        client.send(request("f", 1, nullptr));
        for (const char *command : {"F 432065000", "F 432065100", "F 432065200"}) {
            HamlibClient::Request r = request(command, 1, nullptr);
            r.key = QStringLiteral("F");
            client.send(r);
        }
        QVERIFY(client.hasPending(QStringLiteral("F")));
        QTRY_COMPARE(daemon.lines.size(), 1);
        daemon.answer = [](const QByteArray &) { return QByteArray("RPRT 0\n"); };
        daemon.send("145000000\n");
        QTRY_COMPARE(daemon.lines, (QByteArrayList {"f", "F 432065200"}));
        QTRY_VERIFY(!client.hasPending(QStringLiteral("F")));
    }

    void lapsedRequestsAreDroppedNotSentLate()
    {
        FakeDaemon daemon;  // answers nothing until told
        HamlibClient client;
        client.setCommandLifetime(200);
        client.setAnswerTimeout(5000);
        connectTo(client, daemon);
        client.send(request("p", 1, nullptr));
        int dropped = 0;
        for (const char *command : {"P 1.00 2.00", "P 3.00 4.00"}) {
            HamlibClient::Request r = request(command, 1, nullptr);
            r.key = QStringLiteral("P");
            r.lapses = true;
            r.onFailed = [&dropped] { ++dropped; };
            client.send(r);
        }
        QTRY_COMPARE(daemon.lines, (QByteArrayList {"p"}));
        QTest::qWait(300);  // the newest position is now older than its lifetime
        daemon.send("0\n");
        QTRY_COMPARE(dropped, 1);
        HamlibClient::Request now = request("P 5.00 6.00", 1, nullptr);
        now.lapses = true;
        client.send(now);
        QTRY_COMPARE(daemon.lines, (QByteArrayList {"p", "P 5.00 6.00"}));
    }

    void queueIsBounded()
    {
        FakeDaemon daemon;  // never answers
        HamlibClient client;
        connectTo(client, daemon);
        QSignalSpy traffic(&client, &HamlibClient::traffic);
        for (int i = 0; i < HamlibClient::maxQueued + 5; ++i)
            client.send(request("_" + QByteArray::number(i), 1, nullptr, 100));
        int overflows = 0;
        for (const QList<QVariant> &args : traffic)
            overflows += args.at(0).toString() == QLatin1String("--command queue overflowed");
        QCOMPARE(overflows, 4);  // the first is on the wire; 16 wait; four older ones gave way
        QTRY_COMPARE_WITH_TIMEOUT(daemon.lines.size(), HamlibClient::maxQueued + 1, 10000);
        QCOMPARE(daemon.lines.last(), QByteArray("_20"));
    }

    void daemonGoingAwayIsReportedOnce()
    {
        FakeDaemon daemon;
        HamlibClient client;
        connectTo(client, daemon);
        QSignalSpy lost(&client, &HamlibClient::connectionLost);
        client.send(request("f", 1, nullptr));
        QTRY_COMPARE(daemon.lines.size(), 1);
        daemon.dropClient();
        QTRY_COMPARE(lost.size(), 1);
        QVERIFY(!client.isConnected());
        client.send(request("t", 1, nullptr));  // dropped: nothing to send it on
        QTest::qWait(100);
        QCOMPARE(lost.size(), 1);
    }

    void refusedConnection()
    {
        HamlibClient client;
        QSignalSpy connected(&client, &HamlibClient::connected);
        QSignalSpy failed(&client, &HamlibClient::connectFailed);
        client.connectToDaemon({QStringLiteral("127.0.0.1"), freePort()});
        QVERIFY(failed.wait(5000));
        QVERIFY(!failed.at(0).at(0).toString().isEmpty());
        QCOMPARE(connected.size(), 0);
    }

    void hostThatNeverAnswersTimesOut()
    {
        BlackHole hole;
        HamlibClient client;
        client.setConnectTimeout(300);
        QSignalSpy failed(&client, &HamlibClient::connectFailed);
        client.connectToDaemon({QStringLiteral("127.0.0.1"), hole.port()});
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("no answer within 0.3 s"));
        QVERIFY(!client.isConnected());
    }
};

QTEST_GUILESS_MAIN(tst_HamlibClient)
#include "tst_hamlibclient.moc"
