// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/serialport.h"
#include "sim/simtransceiver.h"
#include "transceiver/catframes.h"

#include <QElapsedTimer>
#include <QtTest>

// The simulated radio's timing as a port sees it: a 9600-baud line both ways,
// the radio's turnaround, and how its replies reach the port.
class TestSimTransceiver : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void lineTimingBothWays_data();
    void lineTimingBothWays();
    void framesQueueOnTheLine();
    void wholeRepliesComeInOnePiece();

private:
    // Writes a frame and waits for a reply of the given length; the time it took in ms.
    double roundTrip(const QByteArray &frame, int replySize);

    QList<QByteArray> m_reads;
    std::unique_ptr<SimTransceiver> m_radio;
    std::unique_ptr<SerialPort> m_port;
};

void TestSimTransceiver::init()
{
    m_reads.clear();
    m_radio = std::make_unique<SimTransceiver>();
    QVERIFY(m_radio->isOpen());
    m_radio->setLineTiming(true);
    m_port = std::make_unique<SerialPort>(m_radio->slavePath());
    QVERIFY(m_port->open(QIODevice::ReadWrite));
    connect(m_port.get(), &SerialPort::readyRead, this, [this] {
        const QByteArray bytes = m_port->readAll();
        if (!bytes.isEmpty())
            m_reads << bytes;
    });
}

void TestSimTransceiver::cleanup()
{
    m_port.reset();
    m_radio.reset();
}

double TestSimTransceiver::roundTrip(const QByteArray &frame, int replySize)
{
    m_reads.clear();
    QElapsedTimer timer;
    timer.start();
    m_port->write(frame);
    if (!QTest::qWaitFor([&] { return m_reads.join().size() >= replySize; }, 5000))
        return -1;
    return double(timer.nsecsElapsed()) / 1e6;
}

void TestSimTransceiver::lineTimingBothWays_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("replySize");
    QTest::addColumn<int>("turnaround");

    QTest::newRow("status, no turnaround") << cat::requestTxStatusFrame() << 1 << 0;
    QTest::newRow("frequency, no turnaround") << cat::requestFrequencyFrame() << 5 << 0;
    QTest::newRow("frequency, 15 ms turnaround") << cat::requestFrequencyFrame() << 5 << 15;
}

// A reply can be complete no sooner than the query's 5 bytes, the turnaround
// and its own bytes take on the line: never early, however fast the machine.
void TestSimTransceiver::lineTimingBothWays()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, replySize);
    QFETCH(int, turnaround);
    m_radio->setReplyDelay(turnaround);

    const double byteMs = double(SimTransceiver::byteTimeNs) / 1e6;
    const double took = roundTrip(frame, replySize);
    QVERIFY(took >= 0);
    QVERIFY2(took >= (5 + replySize) * byteMs + turnaround,
             qPrintable(QStringLiteral("reply after %1 ms").arg(took)));
    QCOMPARE(m_reads.join().size(), replySize);
}

// Two frames written at once reach the radio one line-time apart, and it
// acts on each only then.
void TestSimTransceiver::framesQueueOnTheLine()
{
    m_port->write(cat::setFrequencyFrame(144'300'000) + cat::setFrequencyFrame(432'065'000));
    QTRY_COMPARE(m_radio->frames().size(), 2);
    const QList<qint64> at = m_radio->frameTimes();
    // Whole milliseconds, truncated: 5.2 ms apart shows as at least 4.
    QVERIFY2(at.at(1) - at.at(0) >= 4, qPrintable(QStringLiteral("%1 ms apart").arg(at.at(1) - at.at(0))));
    QCOMPARE(m_radio->frequency(), 432'065'000u);
}

void TestSimTransceiver::wholeRepliesComeInOnePiece()
{
    m_radio->setWholeReplies(true);
    m_radio->setFrequency(144'300'010);
    const double took = roundTrip(cat::requestFrequencyFrame(), 5);
    QVERIFY(took >= 10 * double(SimTransceiver::byteTimeNs) / 1e6);
    QCOMPARE(m_reads, QList<QByteArray> {SimTransceiver::frequencyReply(144'300'010, m_radio->mode())});
}

QTEST_MAIN(TestSimTransceiver)
#include "tst_simtransceiver.moc"
