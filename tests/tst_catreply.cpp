// SPDX-License-Identifier: GPL-3.0-or-later
#include "transceiver/catreply.h"

#include <QtTest>

using Kind = cat::ReplyEvent::Kind;
Q_DECLARE_METATYPE(Kind)

class CatReplyTest : public QObject
{
    Q_OBJECT

private slots:
    void chunks_data();
    void chunks();
};

void CatReplyTest::chunks_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<Kind>>("kinds");
    QTest::addColumn<QByteArray>("lastShown");
    QTest::addColumn<int>("heldAfter");

    using E = cat::ReplyEvent;
    const QByteArray reply = QByteArray::fromHex("4320650001");
    QTest::newRow("whole reply") << 1 << QList<QByteArray> {reply} << QList<Kind> {E::Frequency} << QByteArray() << 0;
    QTest::newRow("2 + 3") << 1 << QList<QByteArray> {reply.left(2), reply.mid(2)}
                           << QList<Kind> {E::Incomplete, E::Frequency} << QByteArray() << 0;
    QTest::newRow("3 + 3") << 1 << QList<QByteArray> {reply.left(3), reply.left(3)}
                           << QList<Kind> {E::Incomplete, E::WrongFrequency} << reply.left(3) + reply.left(3) << 3;
    QTest::newRow("5 after 3 held") << 1 << QList<QByteArray> {reply.left(3), reply}
                                    << QList<Kind> {E::Incomplete, E::Frequency} << QByteArray() << 0;
    QTest::newRow("too long a chunk") << 1 << QList<QByteArray> {reply.left(2), reply + "x"}
                                      << QList<Kind> {E::Incomplete, E::WrongFrequency} << reply.left(2) + reply + "x"
                                      << 0;
    QTest::newRow("status") << 2 << QList<QByteArray> {"\x80"} << QList<Kind> {E::Status} << QByteArray() << 0;
    QTest::newRow("status of two bytes") << 2 << QList<QByteArray> {"ab"} << QList<Kind> {E::WrongStatus}
                                         << QByteArray("ab") << 0;
    QTest::newRow("unexpected") << 0 << QList<QByteArray> {"\x01\x02"} << QList<Kind> {E::Unexpected}
                                << QByteArray("\x01\x02") << 0;
}

void CatReplyTest::chunks()
{
    QFETCH(int, state);
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<Kind>, kinds);
    QFETCH(QByteArray, lastShown);
    QFETCH(int, heldAfter);
    cat::ReplyAssembler assembler;
    cat::ReplyEvent event;
    QList<Kind> got;
    for (const QByteArray &chunk : chunks) {
        event = assembler.take(qint8(state), chunk);
        got << event.kind;
    }
    QCOMPARE(got, kinds);
    QCOMPARE(event.shown, lastShown);
    QCOMPARE(assembler.held(), heldAfter);
    if (event.kind == Kind::Frequency)
        QCOMPARE(event.mhz, 432.065);
    if (event.kind == Kind::Status)
        QVERIFY(!event.transmitting);
}

QTEST_APPLESS_MAIN(CatReplyTest)
#include "tst_catreply.moc"
