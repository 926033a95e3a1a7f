// SPDX-License-Identifier: GPL-3.0-or-later
#include "transceiver/catframes.h"

#include <QtTest>

class TestCatFrames : public QObject
{
    Q_OBJECT

private slots:
    void encoding_data();
    void encoding();
    void decoding_data();
    void decoding();
    void encodeDecodeRoundTrip();
    void status_data();
    void status();
    void commands_data();
    void commands();
    void range_data();
    void range();
};

void TestCatFrames::encoding_data()
{
    QTest::addColumn<quint32>("hz");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("432.065004 MHz") << 432065004u << QByteArray::fromHex("4320650001");
    QTest::newRow("5 Hz rounds up") << 144300005u << QByteArray::fromHex("1443000101");
    QTest::newRow("4 Hz rounds down") << 144300004u << QByteArray::fromHex("1443000001");
    QTest::newRow("zero") << 0u << QByteArray::fromHex("0000000001");
    QTest::newRow("highest") << 999999994u << QByteArray::fromHex("9999999901");
    QTest::newRow("rounding carries through every digit") << 9999995u << QByteArray::fromHex("0100000001");
    QTest::newRow("every digit distinct") << 123456780u << QByteArray::fromHex("1234567801");
    QTest::newRow("7.05 MHz") << 7050000u << QByteArray::fromHex("0070500001");
}

void TestCatFrames::encoding()
{
    QFETCH(quint32, hz);
    QFETCH(QByteArray, frame);
    QCOMPARE(cat::setFrequencyFrame(hz).toHex(), frame.toHex());
}

void TestCatFrames::decoding_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<double>("mhz");

    QTest::newRow("432.065, mode ignored") << QByteArray::fromHex("43206500ff") << 432.065;
    QTest::newRow("432.065, other mode") << QByteArray::fromHex("4320650001") << 432.065;
    QTest::newRow("10 Hz digit") << QByteArray::fromHex("1443000100") << 144.30001;
    QTest::newRow("every digit") << QByteArray::fromHex("1234567800") << 123.45678;
    QTest::newRow("zero") << QByteArray::fromHex("0000000000") << 0.0;
    QTest::newRow("nibble 0xA in the 10 MHz place") << QByteArray::fromHex("0a00000000") << 100.0;
    QTest::newRow("nibble 0xF in the 100 MHz place") << QByteArray::fromHex("f000000000") << 1500.0;
    QTest::newRow("nibble 0xB in the 10 Hz place") << QByteArray::fromHex("0000000b00") << 0.00011;
}

void TestCatFrames::decoding()
{
    QFETCH(QByteArray, reply);
    QFETCH(double, mhz);
    const auto decoded = cat::decodeFrequency(reply);
    QVERIFY(decoded.has_value());
    QCOMPARE(*decoded, mhz);
}

// Every 10 Hz step comes back as the frequency that was sent, to the last digit
// that the display shows; also refuses replies too short to hold a frequency.
void TestCatFrames::encodeDecodeRoundTrip()
{
    for (quint32 hz : {0u, 10u, 1'000'000u, 50'313'370u, 144'300'000u, 432'065'250u, 999'999'990u}) {
        const QByteArray frame = cat::setFrequencyFrame(hz);
        const auto mhz = cat::decodeFrequency(frame);
        QVERIFY(mhz.has_value());
        QCOMPARE(QString::number(*mhz, 'f', 5), QString::number(hz / 1e6, 'f', 5));
    }
    QVERIFY(!cat::decodeFrequency(QByteArray()).has_value());
    QVERIFY(!cat::decodeFrequency(QByteArray::fromHex("432065")).has_value());
}

void TestCatFrames::status_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<bool>("transmitting");

    QTest::newRow("0x00") << 0x00 << true;
    QTest::newRow("0x7f") << 0x7F << true;
    QTest::newRow("0x80") << 0x80 << false;
    QTest::newRow("0xff") << 0xFF << false;
}

void TestCatFrames::status()
{
    QFETCH(int, byte);
    QFETCH(bool, transmitting);
    QCOMPARE(cat::decodeTransmitting(char(byte)), transmitting);
}

void TestCatFrames::commands_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("opcode");
    QTest::addColumn<bool>("awaitingReply");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("requestState");
    QTest::addColumn<int>("tableOpcode");
    QTest::addColumn<bool>("tableAwaiting");
    QTest::addColumn<int>("tableDelay");
    QTest::addColumn<int>("tableState");

    const auto row = [](const char *name, const QByteArray &frame, int opcode, bool awaiting, int delay,
                        int state, const cat::CommandTraits &traits) {
        QTest::newRow(name) << frame << opcode << awaiting << delay << state << int(traits.opcode)
                            << traits.awaitingReply << traits.delayMs << int(traits.requestState);
    };
    row("CAT ON", cat::catOnFrame(), 0x00, false, 20, 0, cat::catOnCommand);
    row("CAT OFF", cat::catOffFrame(), 0x80, false, 20, 0, cat::catOffCommand);
    row("read frequency", cat::requestFrequencyFrame(), 0x03, true, 0, 1, cat::requestFrequencyCommand);
    row("read status", cat::requestTxStatusFrame(), 0xF7, true, 0, 2, cat::requestTxStatusCommand);
    row("set frequency", cat::setFrequencyFrame(0), 0x01, false, 20, 0, cat::setFrequencyCommand);
}

void TestCatFrames::commands()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, opcode);
    QFETCH(bool, awaitingReply);
    QFETCH(int, delayMs);
    QFETCH(int, requestState);

    QCOMPARE(frame.size(), 5);
    QCOMPARE(frame.left(4), QByteArray(4, '\0'));
    QCOMPARE(int(quint8(frame.at(4))), opcode);
    QTEST(opcode, "tableOpcode");
    QTEST(awaitingReply, "tableAwaiting");
    QTEST(delayMs, "tableDelay");
    QTEST(requestState, "tableState");
}

void TestCatFrames::range_data()
{
    QTest::addColumn<qint64>("hz");
    QTest::addColumn<bool>("carried");

    QTest::newRow("zero") << qint64(0) << true;
    QTest::newRow("highest") << qint64(999'999'994) << true;
    QTest::newRow("rounds to 1000 MHz") << qint64(999'999'995) << false;
    QTest::newRow("1000 MHz") << qint64(1'000'000'000) << false;
    QTest::newRow("would wrap in the +5 of the rounding") << qint64(4'294'967'295) << false;
    QTest::newRow("beyond 32 bits, low bits small") << qint64(4'294'967'296) + 144'300'000 << false;
    QTest::newRow("negative") << qint64(-1) << false;
    QTest::newRow("negative, low 32 bits small") << -qint64(4'294'967'296) + 432'065'000 << false;
}

void TestCatFrames::range()
{
    QFETCH(qint64, hz);
    QFETCH(bool, carried);
    QCOMPARE(cat::frameCanCarry(hz), carried);
}

QTEST_APPLESS_MAIN(TestCatFrames)
#include "tst_catframes.moc"
