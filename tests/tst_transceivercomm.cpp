// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/serialport.h"
#include "sim/simtransceiver.h"
#include "transceiver/catframes.h"
#include "transceiver/transceivercomm.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QtTest>

#include <memory>

namespace {

// What the main window would see of a link: every message in order of
// arrival on the GUI thread, and the decoded values. Connected like the main
// window (automatic connection), so the worker's messages arrive queued.
class LinkLog : public QObject
{
public:
    explicit LinkLog(TransceiverComm *link)
    {
        connect(link, &TransceiverComm::debugMessage, this, [this](const QString &m) { lines << m; });
        connect(link, &TransceiverComm::executionMessage, this, [this](const QString &m) {
            lines << m;
            errors << m;
        });
        connect(link, &TransceiverComm::frequencyReceived, this, [this](qreal f) { frequencies << f; });
        connect(link, &TransceiverComm::statusReceived, this, [this](bool t) { statuses << t; });
    }

    int receivedChunks() const
    {
        return int(std::count_if(lines.cbegin(), lines.cend(),
                                 [](const QString &line) { return line.startsWith("--received"); }));
    }

    QStringList lines;
    QStringList errors;
    QList<double> frequencies;
    QList<bool> statuses;
};

QByteArray bytes(const char *hexText)
{
    return QByteArray::fromHex(hexText);
}

// To the 10 Hz the radio resolves; the decoded sums are not exact binary fractions.
QStringList mhz(const QList<double> &frequencies)
{
    QStringList texts;
    for (double f : frequencies)
        texts << QString::number(f, 'f', 5);
    return texts;
}

} // namespace

class TestTransceiverComm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readoutTickOrder();
    void repliesInPieces_data();
    void repliesInPieces();
    void frequencyReplyAssembly_data();
    void frequencyReplyAssembly();
    void wrongStatusKeepsQueryOpen();
    void bytesAfterSetFrequencyAreUnexpected();
    void tracingOffKeepsValuesAndFaults();
    void setFrequencyRefusesWhatTheFrameCannotCarry();
    void overflowDiscardsQueueAndStartsAfresh();
    void overflowKeepsTheKeyAsLastAsked_data();
    void overflowKeepsTheKeyAsLastAsked();
    void pausesBetweenFrames();
    void destructionWritesEverythingQueued();
    void destructionDoesNotWaitForReply();
    void closeSequenceSendsCatOffLast();

private:
    // Feeds one chunk to the link and waits until its parser has taken it.
    void deliver(const QByteArray &chunk);

    std::unique_ptr<SimTransceiver> m_radio;
    std::unique_ptr<SerialPort> m_port;
    std::unique_ptr<TransceiverComm> m_link;
    std::unique_ptr<LinkLog> m_log;
};

void TestTransceiverComm::init()
{
    m_radio = std::make_unique<SimTransceiver>();
    QVERIFY(m_radio->isOpen());
    m_port = std::make_unique<SerialPort>(m_radio->slavePath());
    QVERIFY(m_port->open(QIODevice::ReadWrite));
    m_link = std::make_unique<TransceiverComm>(m_port.get());
    m_log = std::make_unique<LinkLog>(m_link.get());
}

void TestTransceiverComm::cleanup()
{
    m_log.reset();
    m_link.reset();
    m_port.reset();
    m_radio.reset();
}

void TestTransceiverComm::deliver(const QByteArray &chunk)
{
    const int before = m_log->receivedChunks();
    m_radio->send(chunk);
    QVERIFY(QTest::qWaitFor([&] { return m_log->receivedChunks() > before; }));
    QCOMPARE(m_log->receivedChunks(), before + 1);
}

void TestTransceiverComm::readoutTickOrder()
{
    m_radio->setFrequency(432'065'000);
    m_radio->setReplyDelay(5);  // as a radio does; the trace is written right after the write

    m_link->requestTxStatus();
    m_link->requestFrequency();
    QTRY_COMPARE(m_log->frequencies.size(), 1);

    const QStringList expected {
        "--thread sending: 00000000f7",
        "--received from transceiver (request state = 2): 80",
        "--thread sending: 0000000003",
        "--received from transceiver (request state = 1): 4320650001",
    };
    QCOMPARE(m_log->lines, expected);
    QCOMPARE(m_log->statuses, QList<bool> {false});
    QCOMPARE(m_log->frequencies.first(), 432.065);

    m_radio->setTransmitting(true);
    m_link->requestTxStatus();
    QTRY_COMPARE(m_log->statuses.size(), 2);
    QCOMPARE(m_log->statuses.last(), true);
    QCOMPARE(m_log->lines.last(), QString("--received from transceiver (request state = 2): 00"));
}

void TestTransceiverComm::repliesInPieces_data()
{
    QTest::addColumn<QList<int>>("pieces");
    QTest::addColumn<bool>("lineTiming");

    QTest::newRow("2 + 3") << QList<int> {2, 3} << false;
    QTest::newRow("4 + 1") << QList<int> {4, 1} << false;
    QTest::newRow("byte by byte at 9600 baud") << QList<int> {} << true;
}

// Replies that come in pieces are put together, and each complete reply
// releases the worker for the next query.
void TestTransceiverComm::repliesInPieces()
{
    QFETCH(QList<int>, pieces);
    QFETCH(bool, lineTiming);
    m_radio->setSplitReply(pieces, 40);
    m_radio->setLineTiming(lineTiming);
    m_radio->setFrequency(144'300'010);

    m_link->requestFrequency();
    m_link->requestTxStatus();
    m_link->requestFrequency();
    QTRY_COMPARE(m_log->frequencies.size(), 2);
    QCOMPARE(mhz(m_log->frequencies), (QStringList {"144.30001", "144.30001"}));
    QCOMPARE(m_log->statuses, QList<bool> {false});
    QCOMPARE(m_log->errors, QStringList());
    QCOMPARE(m_radio->frames().size(), 3);
}

void TestTransceiverComm::frequencyReplyAssembly_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<QStringList>("frequencies");

    // The second 3 bytes are the start of the next reply.
    QTest::newRow("3 + 3 + 2") << QList<QByteArray> {bytes("432065"), bytes("144300"), bytes("0101")}
                               << QStringList {"Wrong frequency message: 432065144300"}
                               << QStringList {"144.30001"};
    QTest::newRow("5 while 3 are held") << QList<QByteArray> {bytes("432065"), bytes("1443000101")}
                                        << QStringList() << QStringList {"144.30001"};
    QTest::newRow("7 while 3 are held, then 3 + 2")
        << QList<QByteArray> {bytes("432065"), bytes("14430001010000"), bytes("432065"), bytes("0001")}
        << QStringList {"Wrong frequency message: 43206514430001010000"} << QStringList {"432.06500"};
    QTest::newRow("7 alone, then 5") << QList<QByteArray> {bytes("14430001010000"), bytes("4320650001")}
                                     << QStringList {"Wrong frequency message: 14430001010000"}
                                     << QStringList {"432.06500"};
    QTest::newRow("4 + 2 + 3") << QList<QByteArray> {bytes("43206500"), bytes("1443"), bytes("000101")}
                               << QStringList {"Wrong frequency message: 432065001443"}
                               << QStringList {"144.30001"};
}

void TestTransceiverComm::frequencyReplyAssembly()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QStringList, errors);
    QFETCH(QStringList, frequencies);
    m_radio->setSilent(true);

    m_link->requestFrequency();
    QTRY_COMPARE(m_radio->frames().size(), 1);
    for (const QByteArray &chunk : chunks)
        deliver(chunk);
    QCOMPARE(m_log->errors, errors);
    QCOMPARE(mhz(m_log->frequencies), frequencies);
}

void TestTransceiverComm::wrongStatusKeepsQueryOpen()
{
    m_radio->setSilent(true);
    m_link->requestTxStatus();
    m_link->requestFrequency();
    QTRY_COMPARE(m_radio->frames().size(), 1);

    deliver(bytes("8080"));
    QCOMPARE(m_log->errors, QStringList {"Wrong status message: 8080"});
    QVERIFY(m_log->statuses.isEmpty());

    // Long after a released worker would have written the next query.
    int framesBeforeGoodReply = -1;
    QTimer::singleShot(80, m_radio.get(), [this, &framesBeforeGoodReply] {
        framesBeforeGoodReply = m_radio->frames().size();
        m_radio->send(bytes("00"));
    });
    QTRY_COMPARE(m_log->statuses, QList<bool> {true});
    QCOMPARE(framesBeforeGoodReply, 1);
    QTRY_COMPARE(m_radio->frames().size(), 2);
    QCOMPARE(m_radio->frames().last(), cat::requestFrequencyFrame());
}

void TestTransceiverComm::bytesAfterSetFrequencyAreUnexpected()
{
    m_link->setFrequency(144'300'000);
    QTRY_COMPARE(m_radio->frames().size(), 1);
    QCOMPARE(m_radio->frequency(), 144'300'000u);

    deliver(bytes("1234"));
    QCOMPARE(m_log->lines.last(), QString("Unexpected message: 1234"));
    QVERIFY(m_log->lines.contains("--received from transceiver (request state = 0): 1234"));
    QCOMPARE(m_log->errors.size(), 1);
}

// Without the trace the link still reads, decodes and reports faults; it
// only stops formatting traffic lines.
void TestTransceiverComm::tracingOffKeepsValuesAndFaults()
{
    QVERIFY(m_link->isTracing());
    m_link->setTracing(false);
    m_radio->setFrequency(144'300'010);
    m_link->requestTxStatus();
    m_link->requestFrequency();
    QTRY_COMPARE(m_log->frequencies.size(), 1);
    QCOMPARE(mhz(m_log->frequencies), QStringList {"144.30001"});
    QCOMPARE(m_log->statuses, QList<bool> {false});

    m_link->setFrequency(432'065'000);
    QTRY_COMPARE(m_radio->frames().size(), 3);
    m_radio->send(bytes("1234"));
    QTRY_COMPARE(m_log->errors, QStringList {"Unexpected message: 1234"});
    QCOMPARE(m_log->lines, QStringList {"Unexpected message: 1234"});

    // On again, the next frame and its reply are traced.
    m_link->setTracing(true);
    m_link->requestTxStatus();
    QTRY_COMPARE(m_log->statuses.size(), 2);
    QTRY_COMPARE(m_log->lines.size(), 3);
    QCOMPARE(m_log->lines.mid(1), (QStringList {"--thread sending: 00000000f7",
                                                 "--received from transceiver (request state = 2): 80"}));
}

void TestTransceiverComm::setFrequencyRefusesWhatTheFrameCannotCarry()
{
    m_radio->setSilent(true);
    m_link->requestFrequency();  // unanswered: holds the queue still
    QTRY_COMPARE(m_radio->frames().size(), 1);

    m_link->setFrequency(999'999'995);
    m_link->setFrequency(1'000'000'000);
    m_link->setFrequency(4'294'967'295u);  // +5 would wrap to 0 Hz in 32 bits
    m_link->setFrequency(999'999'994);
    QCOMPARE(m_link->queuedFrames(), (QList<QByteArray> {cat::requestFrequencyFrame(), bytes("9999999901")}));
}

void TestTransceiverComm::overflowDiscardsQueueAndStartsAfresh()
{
    m_radio->setSilent(true);
    m_link->requestFrequency();
    QTRY_COMPARE(m_radio->frames().size(), 1);
    deliver(bytes("432065"));  // held: must not complete a later reply

    for (int i = 0; i < 5; ++i) {
        m_link->requestTxStatus();
        m_link->setFrequency(7'050'000);
    }
    QCOMPARE(m_link->queuedFrames().size(), 11);
    QVERIFY(!m_log->lines.contains("--command queue overflowed"));

    m_link->requestFrequency();
    QCOMPARE(m_link->queuedFrames(), QList<QByteArray> {cat::requestFrequencyFrame()});
    QCOMPARE(m_log->lines.count("--command queue overflowed"), 1);

    QTRY_COMPARE(m_radio->frames().size(), 2);
    QCOMPARE(m_radio->frames().last(), cat::requestFrequencyFrame());
    deliver(bytes("1443"));
    QVERIFY(m_log->frequencies.isEmpty());
    deliver(bytes("000101"));
    QCOMPARE(mhz(m_log->frequencies), QStringList {"144.30001"});
    QCOMPARE(m_log->errors, QStringList());
    QTRY_VERIFY(m_link->queuedFrames().isEmpty());
    QCOMPARE(m_radio->frames().size(), 2);
}

// A silent radio fills the queue; the overflow must not drop the unkey
// queued behind it, or the radio stays keyed while the station says receive.
void TestTransceiverComm::overflowKeepsTheKeyAsLastAsked_data()
{
    QTest::addColumn<QList<int>>("keying");  // 1 key, 0 unkey, in the order queued
    QTest::addColumn<QList<QByteArray>>("left");
    const QByteArray query = cat::requestFrequencyFrame();
    QTest::newRow("unkey waiting") << QList<int> {0} << QList<QByteArray> {cat::pttFrame(false), query};
    QTest::newRow("key waiting") << QList<int> {1} << QList<QByteArray> {cat::pttFrame(true), query};
    QTest::newRow("key, then unkey") << QList<int> {1, 0} << QList<QByteArray> {cat::pttFrame(false), query};
    QTest::newRow("no key asked") << QList<int> {} << QList<QByteArray> {query};
}

void TestTransceiverComm::overflowKeepsTheKeyAsLastAsked()
{
    QFETCH(QList<int>, keying);
    QFETCH(QList<QByteArray>, left);
    m_radio->setSilent(true);
    m_link->requestFrequency();  // written, and its reply never comes
    QTRY_COMPARE(m_radio->frames().size(), 1);
    for (int on : keying)
        m_link->setPtt(on == 1);
    while (m_link->queuedFrames().size() < TransceiverComm::maxQueuedCommands)
        m_link->requestTxStatus();
    m_link->requestFrequency();
    QCOMPARE(m_link->queuedFrames(), left);
    QCOMPARE(m_log->lines.count("--command queue overflowed"), 1);
}

void TestTransceiverComm::pausesBetweenFrames()
{
    m_link->setFrequency(144'300'000);
    m_link->setFrequency(144'300'010);
    m_link->requestFrequency();
    m_link->catOn();
    QTRY_COMPARE(m_radio->frames().size(), 4);

    const QList<qint64> t = m_radio->frameTimes();
    // Nominal: 20 + 20 ms after a set, the reply then 20 ms after a query.
    // Lower bounds only, with room for the scheduler.
    QVERIFY2(t[1] - t[0] >= 30, qPrintable(QString::number(t[1] - t[0])));
    QVERIFY2(t[2] - t[1] >= 30, qPrintable(QString::number(t[2] - t[1])));
    QVERIFY2(t[3] - t[2] >= 15, qPrintable(QString::number(t[3] - t[2])));
    QCOMPARE(m_radio->frequency(), 144'300'010u);
}

void TestTransceiverComm::destructionWritesEverythingQueued()
{
    m_radio->setModel(SimTransceiver::FT847);
    m_link->setFrequency(432'065'000);
    m_link->setFrequency(432'065'250);
    m_link->catOff();
    m_link.reset();

    // The traces of frames written while the link went down are not lost.
    QCOMPARE(m_log->lines.filter("--thread sending: ").size(), 3);
    QCOMPARE(m_log->lines.last(), QString("--thread sending: 0000000080"));
    // Out on the line already; the radio only has to read it.
    QTRY_COMPARE_WITH_TIMEOUT(m_radio->frames().size(), 3, 200);
    QCOMPARE(m_radio->frames(),
             (QList<QByteArray> {bytes("4320650001"), bytes("4320652501"), cat::catOffFrame()}));
    QCOMPARE(m_radio->catOffCount(), 1);
}

void TestTransceiverComm::destructionDoesNotWaitForReply()
{
    m_radio->setSilent(true);
    m_link->requestFrequency();
    m_link->requestTxStatus();
    QTRY_COMPARE(m_radio->frames().size(), 1);

    QElapsedTimer clock;
    clock.start();
    m_link.reset();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(m_radio->frames().size(), 2, 200);
    QCOMPARE(m_radio->frames().last(), cat::requestTxStatusFrame());
}

// What the main window does when it closes an FT-847's port.
void TestTransceiverComm::closeSequenceSendsCatOffLast()
{
    m_radio->setModel(SimTransceiver::FT847);
    m_radio->setSilent(true);
    m_link->catOn();
    m_link->requestFrequency();
    m_link->requestTxStatus();
    QTRY_COMPARE(m_radio->frames().size(), 2);

    QElapsedTimer clock;
    clock.start();
    {
        QMutexLocker lock(&m_link->queueMutex);
        m_link->clearQueue();
        m_link->catOff();
    }
    m_link.reset();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(m_radio->frames().size(), 3, 200);
    QCOMPARE(m_radio->frames(),
             (QList<QByteArray> {cat::catOnFrame(), cat::requestFrequencyFrame(), cat::catOffFrame()}));
}

QTEST_GUILESS_MAIN(TestTransceiverComm)
#include "tst_transceivercomm.moc"
