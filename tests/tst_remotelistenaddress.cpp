// SPDX-License-Identifier: GPL-3.0-or-later
// remote.cfg's listen address made into the addresses the server binds: a
// host name kept to this machine's own, or refused with the reason.

#include "remote/listenaddress.h"

#include <QtTest>

using remote::ListenAddresses;

namespace {

QList<QHostAddress> addresses(const QStringList &texts)
{
    QList<QHostAddress> list;
    for (const QString &text : texts)
        list << QHostAddress(text);
    return list;
}

// This machine as the tests imagine it: the loopback and one LAN card.
bool isOwn(const QHostAddress &address)
{
    return address.isLoopback() || addresses({"192.168.1.20", "2001:db8::20"}).contains(address);
}

} // namespace

class tst_RemoteListenAddress : public QObject
{
    Q_OBJECT

private slots:
    void hostNames_data()
    {
        QTest::addColumn<QStringList>("resolved");
        QTest::addColumn<QStringList>("bound");
        QTest::addColumn<QString>("refusal");  // a part of the error
        QTest::newRow("the LAN address") << QStringList {"192.168.1.20"} << QStringList {"192.168.1.20"} << QString();
        QTest::newRow("both its addresses") << QStringList {"192.168.1.20", "2001:db8::20"}
                                            << QStringList {"192.168.1.20", "2001:db8::20"} << QString();
        QTest::newRow("another machine's") << QStringList {"192.168.1.30"} << QStringList()
                                           << "is 192.168.1.30, not an address of this machine";
        QTest::newRow("ours and another's") << QStringList {"192.168.1.30", "192.168.1.20"}
                                            << QStringList {"192.168.1.20"} << QString();
        // Debian's /etc/hosts gives the machine's own name this address.
        QTest::newRow("only the loopback") << QStringList {"127.0.1.1"} << QStringList()
                                           << "is only this machine's loopback here (127.0.1.1)";
        QTest::newRow("the loopback and the LAN") << QStringList {"127.0.1.1", "192.168.1.20"}
                                                  << QStringList {"127.0.1.1", "192.168.1.20"} << QString();
        QTest::newRow("twice the same") << QStringList {"192.168.1.20", "192.168.1.20"}
                                        << QStringList {"192.168.1.20"} << QString();
        QTest::newRow("nothing") << QStringList() << QStringList() << "gave none (no such host)";
    }
    void hostNames()
    {
        QFETCH(QStringList, resolved);
        QFETCH(QStringList, bound);
        QFETCH(QString, refusal);
        const ListenAddresses chosen = remote::chooseListenAddresses(QStringLiteral("shack"), addresses(resolved), isOwn,
                                                                     QStringLiteral("no such host"));
        QCOMPARE(chosen.addresses, addresses(bound));
        QVERIFY2(refusal.isEmpty() ? chosen.error.isEmpty() : chosen.error.contains(refusal),
                 qPrintable(chosen.error));
        if (!refusal.isEmpty()) {
            QVERIFY(chosen.error.startsWith(QStringLiteral("listen address 'shack' ")));
            QVERIFY(chosen.error.contains(QStringLiteral("'any'")));  // says what to write instead
        }
        // Whatever a name binds reaches beyond this machine, so the token is asked.
        QVERIFY(!chosen.loopbackOnly());
    }

    // What needs no look-up, and a name that never resolves anywhere (RFC 6761).
    void written_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("bound");
        QTest::addColumn<bool>("loopback");
        QTest::newRow("localhost") << "localhost" << QStringList {"127.0.0.1"} << true;
        QTest::newRow("LocalHost") << " LocalHost " << QStringList {"127.0.0.1"} << true;
        QTest::newRow("an address") << "192.0.2.7" << QStringList {"192.0.2.7"} << false;
        QTest::newRow("the IPv6 loopback") << "::1" << QStringList {"::1"} << true;
        QTest::newRow("a name that is nowhere") << "vestrel-test.invalid" << QStringList() << false;
    }
    void written()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, bound);
        QFETCH(bool, loopback);
        const ListenAddresses chosen = remote::resolveListenAddress(text);
        QCOMPARE(chosen.addresses, addresses(bound));
        QCOMPARE(chosen.loopbackOnly(), loopback);
        QCOMPARE(chosen.error.isEmpty(), !bound.isEmpty());
    }

    // Asked of the network stack, which has the whole of 127/8 for this machine.
    void ownAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("127.0.0.1") << "127.0.0.1";
        QTest::newRow("Debian's own name's") << "127.0.1.1";
    }
    void ownAddress()
    {
        QFETCH(QString, address);
        QVERIFY(remote::isOwnAddress(QHostAddress(address)));
    }

    void any()
    {
        const ListenAddresses chosen = remote::resolveListenAddress(QStringLiteral("any"));
        QCOMPARE(chosen.addresses, QList<QHostAddress> {QHostAddress(QHostAddress::Any)});
        QVERIFY(!chosen.loopbackOnly());
    }
};

QTEST_GUILESS_MAIN(tst_RemoteListenAddress)
#include "tst_remotelistenaddress.moc"
