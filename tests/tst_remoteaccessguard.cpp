// SPDX-License-Identifier: GPL-3.0-or-later
// What the remote view remembers of each address off the station: the wait
// wrong tokens earn, and a flood said in a few lines. On a clock of the
// test's own, so that minutes pass at once.

#include "remote/accessguard.h"

#include <QtTest>

using remote::AccessGuard;

namespace {

const QString attacker = QStringLiteral("192.168.1.66");

// Gives wrong tokens as fast as the guard takes them: each one once the
// wait before it is over, as a patient guesser would.
void guess(AccessGuard &guard, qint64 &clock, int count)
{
    for (int i = 0; i < count; ++i) {
        clock += guard.waitLeftMs(attacker);
        QVERIFY(guard.mayTryToken(attacker));
        guard.tokenRefused(attacker, true);
    }
}

} // namespace

class tst_RemoteAccessGuard : public QObject
{
    Q_OBJECT

private slots:
    void waits_data()
    {
        QTest::addColumn<int>("wrong");
        QTest::addColumn<qint64>("wait");
        QTest::newRow("one") << 1 << qint64(0);
        QTest::newRow("the five free ones") << 5 << qint64(0);
        QTest::newRow("the sixth waits a second") << 6 << qint64(1000);
        QTest::newRow("the seventh two") << 7 << qint64(2000);
        QTest::newRow("the tenth sixteen") << 10 << qint64(16000);
        QTest::newRow("never more than a minute") << 40 << qint64(60000);
    }
    void waits()
    {
        QFETCH(int, wrong);
        QFETCH(qint64, wait);
        qint64 clock = 0;
        AccessGuard guard([&] { return clock; });
        guess(guard, clock, wrong);
        QCOMPARE(guard.waitLeftMs(attacker), wait);
        QCOMPARE(guard.mayTryToken(attacker), wait == 0);
        // Another address is not held up by this one.
        QVERIFY(guard.mayTryToken(QStringLiteral("192.168.1.20")));
        clock += wait;
        QVERIFY(guard.mayTryToken(attacker));
    }

    // How fast a guesser gets on, over an hour of trying without pause.
    void guessesInAnHour()
    {
        qint64 clock = 0;
        AccessGuard guard([&] { return clock; });
        int guesses = 0;
        while (clock < 3600 * 1000) {
            guess(guard, clock, 1);
            ++guesses;
        }
        // The free ones, seven while the wait doubles to its longest, then one a minute.
        const int most = AccessGuard::freeWrongTokens + 7 + int(3600 * 1000 / AccessGuard::longestWaitMs);
        QVERIFY2(guesses <= most, qPrintable(QString::number(guesses)));
    }

    // Tokens sent while the address waits are not compared, and add no wait.
    void tokensWhileWaiting()
    {
        qint64 clock = 0;
        AccessGuard guard([&] { return clock; });
        guess(guard, clock, 6);
        for (int i = 0; i < 100; ++i)
            guard.tokenRefused(attacker, false);
        QCOMPARE(guard.waitLeftMs(attacker), qint64(1000));
    }

    void forgiven_data()
    {
        QTest::addColumn<bool>("right");
        QTest::addColumn<qint64>("quietMs");
        QTest::addColumn<qint64>("wait");  // after one more wrong token
        QTest::newRow("the right token") << true << qint64(1000) << qint64(0);
        QTest::newRow("a quiet quarter of an hour") << false << qint64(15 * 60000) << qint64(0);
        QTest::newRow("a quiet minute is not enough") << false << qint64(60000) << qint64(2000);
    }
    void forgiven()
    {
        QFETCH(bool, right);
        QFETCH(qint64, quietMs);
        QFETCH(qint64, wait);
        qint64 clock = 0;
        AccessGuard guard([&] { return clock; });
        guess(guard, clock, 6);
        clock += quietMs;
        if (right)
            guard.rightToken(attacker);
        guard.summary();  // as the server's minute does meanwhile
        guess(guard, clock, 1);
        QCOMPARE(guard.waitLeftMs(attacker), wait);
    }

    // The first refusal is said at once, the rest once a minute in one line
    // per kind, and a quiet minute ends the flood.
    void log_data()
    {
        QTest::addColumn<QStringList>("events");  // "t ADDRESS" a token, "c ADDRESS" a connection, "minute"
        QTest::addColumn<QStringList>("said");
        const QString a = attacker;
        const QString first = "wrong token from " + a + "; further refused tokens are summed up once a minute";
        QTest::newRow("one wrong token") << QStringList {"t " + a, "minute", "minute"} << QStringList {first};
        QStringList flood(1000, "t " + a);
        QTest::newRow("a thousand") << (flood + QStringList {"minute"})
                                    << QStringList {first, "999 tokens refused from " + a + " in the last minute"};
        QTest::newRow("a flood over two minutes")
            << (flood + QStringList {"minute"} + flood + QStringList {"minute", "minute", "t " + a})
            << QStringList {first, "999 tokens refused from " + a + " in the last minute",
                            "1000 tokens refused from " + a + " in the last minute", first};
        QTest::newRow("the first just before the minute")
            << QStringList {"t " + a, "minute", "t " + a, "t " + a, "minute"}
            << QStringList {first, "2 tokens refused from " + a + " in the last minute"};
        QTest::newRow("from many addresses")
            << QStringList {"t 10.0.0.1", "t 10.0.0.1", "t 10.0.0.2", "t 10.0.0.2", "t 10.0.0.2", "t 10.0.0.3",
                            "t 10.0.0.4", "t 10.0.0.5", "t 10.0.0.4", "minute"}
            << QStringList {"wrong token from 10.0.0.1; further refused tokens are summed up once a minute",
                            "8 tokens refused in the last minute: 3 from 10.0.0.2, 2 from 10.0.0.4, 1 from 10.0.0.1 "
                            "and 2 other addresses"};
        QTest::newRow("connections and tokens apart")
            << QStringList {"c " + a, "c " + a, "t " + a, "t " + a, "minute"}
            << QStringList {"connection from " + a + " refused: a reason; further refusals are summed up once a minute",
                            first, "1 connection refused from " + a + " in the last minute",
                            "1 token refused from " + a + " in the last minute"};
    }
    void log()
    {
        QFETCH(QStringList, events);
        QFETCH(QStringList, said);
        qint64 clock = 0;
        AccessGuard guard([&] { return clock; });
        QStringList lines;
        for (const QString &event : std::as_const(events)) {
            clock += 10;
            if (event == QLatin1String("minute")) {
                clock += AccessGuard::summaryEveryMs;
                lines += guard.summary();
                continue;
            }
            const QString key = event.mid(2);
            const QString line = event.startsWith('t') ? guard.tokenRefused(key, guard.mayTryToken(key))
                                                       : guard.connectionRefused(key, QStringLiteral("a reason"));
            if (!line.isEmpty())
                lines << line;
        }
        QCOMPARE(lines, said);
    }

    // A flood from ever new addresses does not grow the table without end.
    void manyAddresses()
    {
        qint64 clock = 0;
        AccessGuard guard([&] { return clock; });
        for (int i = 0; i < 3 * AccessGuard::maxAddresses; ++i) {
            ++clock;
            guard.connectionRefused(QHostAddress(quint32(0x0a000000 + i)).toString(), QStringLiteral("a reason"));
        }
        QVERIFY(guard.addressCount() <= AccessGuard::maxAddresses);
        const QStringList lines = guard.summary();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().endsWith(" other addresses"), qPrintable(lines.first()));
    }

    void addressKey_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("key");
        QTest::newRow("IPv4") << "192.168.1.20" << "192.168.1.20";
        QTest::newRow("IPv4 over IPv6") << "::ffff:192.168.1.20" << "192.168.1.20";
        QTest::newRow("IPv6") << "2001:db8::20" << "2001:db8::20";
        QTest::newRow("a neighbour in the same /64") << "2001:db8::21" << "2001:db8::21";
        QTest::newRow("link-local") << "fe80::1%2" << "fe80::1";
        QTest::newRow("the loopback") << "::1" << "::1";
    }
    void addressKey()
    {
        QFETCH(QString, address);
        QFETCH(QString, key);
        QCOMPARE(AccessGuard::addressKey(QHostAddress(address)), key);
    }
};

QTEST_GUILESS_MAIN(tst_RemoteAccessGuard)
#include "tst_remoteaccessguard.moc"
