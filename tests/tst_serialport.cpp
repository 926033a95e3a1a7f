// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/serialport.h"
#include "sim/ptypeer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <thread>

Q_DECLARE_METATYPE(BaudRateType)
Q_DECLARE_METATYPE(DataBitsType)
Q_DECLARE_METATYPE(ParityType)
Q_DECLARE_METATYPE(StopBitsType)
Q_DECLARE_METATYPE(FlowType)

namespace {

// Reads the port on every readyRead(), at most chunk bytes a call as the
// window's receive slot does, and notes the thread each call ran on.
class Reader : public QObject
{
public:
    Reader(SerialPort &port, int chunk)
    {
        connect(&port, &SerialPort::readyRead, this, [this, &port, chunk] {
            threads << QThread::currentThread();
            QByteArray buffer(chunk, '\0');
            const qint64 n = port.read(buffer.data(), chunk);
            if (n > 0)
                bytes += buffer.left(int(n));
        });
    }

    QByteArray bytes;
    QList<QThread *> threads;
};

double processCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

QByteArray tagged(char writer, int index)
{
    return writer + QByteArray::number(index).rightJustified(5, '0') + ';';
}

// Indices of one writer's tags, in arrival order.
QList<int> indicesOf(const QByteArray &stream, char writer)
{
    QList<int> indices;
    for (const QByteArray &token : stream.split(';'))
        if (token.startsWith(writer))
            indices << token.mid(1).toInt();
    return indices;
}

} // namespace

class TestSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void openAndClose();
    void openMissingPathFails();
    void refusedParameters_data();
    void refusedParameters();
    void parametersReachDevice_data();
    void parametersReachDevice();
    void writesFromTwoThreadsKeepOrder();
    void readyReadOnGuiThread_data();
    void readyReadOnGuiThread();
    void bytesWhileReaderBusyJoinOneNotice();
    void readThresholdJoinsAReply_data();
    void readThresholdJoinsAReply();
    void writeJustBeforeCloseArrives_data();
    void writeJustBeforeCloseArrives();
    void hangUpReportedOnceWithoutBusyLoop();
    void lostPortArmsNothingOnAReusedDescriptor();
    void flushDiscardsUnread();
    void flushesDuringAFloodAreNoHangUp();
};

void TestSerialPort::openAndClose()
{
    PtyPeer peer;
    QVERIFY(peer.isOpen());
    SerialPort port(peer.slavePath());
    QCOMPARE(port.portName(), peer.slavePath());
    QVERIFY(!port.isOpen());
    QCOMPARE(port.write("x"), qint64(-1));

    // No thread of its own: a reply should wake one thread, the owner's.
    const auto threads = [] {
        return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
    };
    const auto threadsBefore = threads();
    for (int round = 0; round < 2; ++round) {
        QVERIFY(port.open(QIODevice::ReadWrite));
        QVERIFY(port.isOpen());
        QCOMPARE(threads(), threadsBefore);
        QVERIFY(!port.open(QIODevice::ReadWrite));  // already open
        QCOMPARE(port.write("ping"), qint64(4));
        QTRY_COMPARE(peer.received(), QByteArray("ping").repeated(round + 1));
        port.close();
        QVERIFY(!port.isOpen());
        QCOMPARE(port.write("lost"), qint64(-1));
        port.close();  // second close is harmless
    }
}

void TestSerialPort::openMissingPathFails()
{
    SerialPort port(QStringLiteral("/dev/vestrel-no-such-port"));
    QVERIFY(!port.open(QIODevice::ReadWrite));
    QVERIFY(!port.isOpen());
    QCOMPARE(port.write("x"), qint64(-1));
    port.close();
}

void TestSerialPort::refusedParameters_data()
{
    QTest::addColumn<DataBitsType>("dataFirst");
    QTest::addColumn<StopBitsType>("stop");
    QTest::addColumn<bool>("stopAccepted");
    QTest::addColumn<StopBitsType>("stopAfter");

    QTest::newRow("2 stop, 5 data") << DATA_5 << STOP_2 << false << STOP_1;
    QTest::newRow("2 stop, 6 data") << DATA_6 << STOP_2 << true << STOP_2;
    QTest::newRow("2 stop, 8 data") << DATA_8 << STOP_2 << true << STOP_2;
    QTest::newRow("1.5 stop, 8 data") << DATA_8 << STOP_1_5 << false << STOP_1;
    QTest::newRow("1.5 stop, 7 data") << DATA_7 << STOP_1_5 << false << STOP_1;
    QTest::newRow("1.5 stop, 5 data") << DATA_5 << STOP_1_5 << true << STOP_1_5;
    QTest::newRow("1 stop, 5 data") << DATA_5 << STOP_1 << true << STOP_1;
}

void TestSerialPort::refusedParameters()
{
    QFETCH(DataBitsType, dataFirst);
    QFETCH(StopBitsType, stop);
    QFETCH(bool, stopAccepted);
    QFETCH(StopBitsType, stopAfter);

    SerialPort port(QStringLiteral("/dev/null"));
    QCOMPARE(port.baudRate(), BAUD9600);
    QCOMPARE(port.dataBits(), DATA_8);
    QCOMPARE(port.parity(), PAR_NONE);
    QCOMPARE(port.stopBits(), STOP_1);
    QCOMPARE(port.flowControl(), FLOW_OFF);

    QVERIFY(port.setDataBits(dataFirst));
    QCOMPARE(port.setStopBits(stop), stopAccepted);
    QCOMPARE(port.stopBits(), stopAfter);
    QCOMPARE(port.dataBits(), dataFirst);

    // The other way round: data bits that do not go with the stop bits held.
    if (stopAfter == STOP_2) {
        QVERIFY(!port.setDataBits(DATA_5));
        QCOMPARE(port.dataBits(), dataFirst);
    } else if (stopAfter == STOP_1_5) {
        QVERIFY(!port.setDataBits(DATA_8));
        QCOMPARE(port.dataBits(), DATA_5);
    }
}

void TestSerialPort::parametersReachDevice_data()
{
    QTest::addColumn<BaudRateType>("baud");
    QTest::addColumn<DataBitsType>("data");
    QTest::addColumn<ParityType>("parity");
    QTest::addColumn<StopBitsType>("stop");
    QTest::addColumn<FlowType>("flow");
    QTest::addColumn<uint>("speed");
    // PARODD, CSTOPB, CRTSCTS as they must be set in c_cflag. A pty forces 8
    // data bits without parity, so CSIZE and PARENB cannot be seen here.
    QTest::addColumn<uint>("cflags");
    QTest::addColumn<bool>("xonxoff");

    QTest::newRow("defaults") << BAUD9600 << DATA_8 << PAR_NONE << STOP_1 << FLOW_OFF << uint(B9600) << 0u
                              << false;
    QTest::newRow("19200 7E2 hardware") << BAUD19200 << DATA_7 << PAR_EVEN << STOP_2 << FLOW_HARDWARE
                                        << uint(B19200) << uint(CSTOPB | CRTSCTS) << false;
    QTest::newRow("115200 5O1.5 xonxoff") << BAUD115200 << DATA_5 << PAR_ODD << STOP_1_5 << FLOW_XONXOFF
                                          << uint(B115200) << uint(PARODD | CSTOPB) << true;
}

void TestSerialPort::parametersReachDevice()
{
    QFETCH(BaudRateType, baud);
    QFETCH(DataBitsType, data);
    QFETCH(ParityType, parity);
    QFETCH(StopBitsType, stop);
    QFETCH(FlowType, flow);
    QFETCH(uint, speed);
    QFETCH(uint, cflags);
    QFETCH(bool, xonxoff);

    PtyPeer peer;
    SerialPort port(peer.slavePath());
    port.setBaudRate(baud);
    QVERIFY(port.setDataBits(data));
    port.setFlowControl(flow);
    port.setParity(parity);
    QVERIFY(port.setStopBits(stop));
    QVERIFY(port.open(QIODevice::ReadWrite));

    // The line settings belong to the terminal, so any descriptor sees them.
    const int fd = ::open(peer.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    termios tio {};
    const int got = tcgetattr(fd, &tio);
    ::close(fd);
    QCOMPARE(got, 0);
    QCOMPARE(uint(cfgetospeed(&tio)), speed);
    QCOMPARE(uint(tio.c_cflag & (PARODD | CSTOPB | CRTSCTS)), cflags);
    QCOMPARE(bool(tio.c_iflag & IXON), xonxoff);
    port.close();
}

void TestSerialPort::writesFromTwoThreadsKeepOrder()
{
    PtyPeer peer;
    SerialPort port(peer.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));

    const int count = 2000;
    std::thread worker([&port] {
        for (int i = 0; i < count; ++i)
            port.write(tagged('w', i));
    });
    for (int i = 0; i < count; ++i)
        port.write(tagged('g', i));
    worker.join();

    const int total = 2 * count * int(tagged('g', 0).size());
    QTRY_COMPARE_WITH_TIMEOUT(peer.received().size(), total, 10000);

    QList<int> expected;
    for (int i = 0; i < count; ++i)
        expected << i;
    QCOMPARE(indicesOf(peer.received(), 'g'), expected);
    QCOMPARE(indicesOf(peer.received(), 'w'), expected);
    port.close();
}

void TestSerialPort::readyReadOnGuiThread_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("chunk");

    QTest::newRow("short reply") << QByteArray("OK\r\n") << 1024;
    QTest::newRow("zero bytes kept") << QByteArray("\0OK\r\n", 5) << 1024;
    // More than one read takes: the rest must be announced again.
    QByteArray large;
    for (int i = 0; large.size() < 3000; ++i)
        large += char('a' + i % 26);
    QTest::newRow("more than one read") << large << 1024;
    QTest::newRow("tiny reads") << QByteArray("abcdefghij") << 3;
}

void TestSerialPort::readyReadOnGuiThread()
{
    QFETCH(QByteArray, payload);
    QFETCH(int, chunk);

    PtyPeer peer;
    SerialPort port(peer.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    Reader reader(port, chunk);

    peer.send(payload);
    QTRY_COMPARE(reader.bytes, payload);
    for (QThread *thread : std::as_const(reader.threads))
        QCOMPARE(thread, QThread::currentThread());
    port.close();
}

// Pieces that arrive while the GUI thread is busy are all there when it comes
// back, announced together rather than by one notice each.
void TestSerialPort::bytesWhileReaderBusyJoinOneNotice()
{
    PtyPeer peer;
    SerialPort port(peer.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    Reader reader(port, 1024);
    int notices = 0;
    connect(&port, &SerialPort::readyRead, this, [&notices] { ++notices; });

    const int pieces = 10;
    std::atomic<bool> sent {false};
    std::thread device([&] {
        for (int i = 0; i < pieces; ++i) {
            peer.send(QByteArray(1, char('0' + i)));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));  // separate arrivals
        }
        sent = true;
    });
    // Busy, not waiting: the GUI thread takes no events meanwhile.
    QElapsedTimer busy;
    busy.start();
    while (!sent && busy.elapsed() < 10000)
        QThread::yieldCurrentThread();
    device.join();

    QTRY_COMPARE(reader.bytes, QByteArray("0123456789"));
    QVERIFY2(notices < pieces, qPrintable(QStringLiteral("%1 notices").arg(notices)));
    port.close();
}

void TestSerialPort::readThresholdJoinsAReply_data()
{
    QTest::addColumn<int>("threshold");
    QTest::addColumn<int>("pieces");  // bytes sent, one at a time as a slow line gives them
    QTest::addColumn<int>("most");    // notices at most
    QTest::newRow("a reply a byte at a time") << 5 << 5 << 2;
    QTest::newRow("a reply shorter than awaited is told of") << 5 << 2 << 1;
    QTest::newRow("more than awaited") << 1 << 1 << 1;
}

void TestSerialPort::readThresholdJoinsAReply()
{
    QFETCH(int, threshold);
    QFETCH(int, pieces);
    QFETCH(int, most);
    PtyPeer peer;
    SerialPort port(peer.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    port.setReadThreshold(threshold);
    Reader reader(port, 1024);
    int notices = 0;
    QEventLoop loop;  // waiting as the program does, each notice taken as it comes
    connect(&port, &SerialPort::readyRead, this, [&] {
        ++notices;
        if (reader.bytes.size() >= pieces)
            loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);

    std::thread device([&] {
        for (int i = 0; i < pieces; ++i) {
            peer.send(QByteArray(1, char('0' + i)));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // 9600 baud
        }
    });
    loop.exec();
    device.join();
    QByteArray expected;
    for (int i = 0; i < pieces; ++i)
        expected += char('0' + i);
    QCOMPARE(reader.bytes, expected);
    QVERIFY2(notices <= most, qPrintable(QStringLiteral("%1 notices").arg(notices)));
    port.close();
}

void TestSerialPort::writeJustBeforeCloseArrives_data()
{
    QTest::addColumn<bool>("racing");
    QTest::newRow("written, then closed") << false;
    QTest::newRow("closed while writing") << true;
}

void TestSerialPort::writeJustBeforeCloseArrives()
{
    QFETCH(bool, racing);

    // Kept below what the pty buffers: this thread reads the peer only after
    // close() returns. Several rounds, as a lost tail shows only sometimes.
    const int most = 1500;
    for (int round = 0; round < 10; ++round) {
        PtyPeer peer;
        SerialPort port(peer.slavePath());
        QVERIFY(port.open(QIODevice::ReadWrite));

        std::atomic<int> accepted {0};
        std::thread worker([&] {
            for (int i = 0; i < most && port.write(tagged('t', i)) > 0; ++i)
                ++accepted;
        });
        if (racing) {
            while (accepted < 20)
                std::this_thread::yield();
        } else {
            worker.join();
        }
        port.close();
        if (racing)
            worker.join();

        // Every write that was accepted arrives, in order.
        QByteArray expected;
        for (int i = 0; i < accepted; ++i)
            expected += tagged('t', i);
        QTRY_COMPARE(peer.received(), expected);
    }
}

void TestSerialPort::hangUpReportedOnceWithoutBusyLoop()
{
    PtyPeer peer;
    SerialPort port(peer.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    QSignalSpy lost(&port, &SerialPort::connectionLost);
    QVERIFY(!port.isLost());

    peer.hangUp();
    QVERIFY(lost.wait(3000));
    QVERIFY(port.isLost());

    // An observation window, not a wait for something: a port that keeps
    // polling a dead device burns a whole core here.
    const double cpuBefore = processCpuSeconds();
    QTest::qWait(1000);
    const double cpu = processCpuSeconds() - cpuBefore;
    QVERIFY2(cpu < 0.2, qPrintable(QStringLiteral("%1 s CPU in one second").arg(cpu)));
    QCOMPARE(lost.count(), 1);

    port.write("after");  // must not crash or revive anything
    port.close();
    QVERIFY(!port.isOpen());
    QCOMPARE(lost.count(), 1);
}

// The descriptors this process has open on a path.
QList<int> descriptorsOn(const QString &path)
{
    QList<int> found;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &entry : fds.entryList(QDir::Files | QDir::System))
        if (QFile::symLinkTarget(fds.filePath(entry)) == path)
            found << entry.toInt();
    return found;
}

// A lost port left open (its owner has not closed it yet) refuses writes and
// watches no descriptor: the number it had may name another file by then,
// which it must neither write to nor wait on.
void TestSerialPort::lostPortArmsNothingOnAReusedDescriptor()
{
    PtyPeer peer;
    SerialPort port(peer.slavePath());
    const QList<int> before = descriptorsOn(peer.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    QList<int> opened = descriptorsOn(peer.slavePath());
    for (int fd : before)
        opened.removeAll(fd);
    QCOMPARE(opened.size(), 1);
    const int portFd = opened.first();
    QSignalSpy lost(&port, &SerialPort::connectionLost);
    peer.hangUp();
    QVERIFY(lost.wait(3000));

    // Another file takes the number the port had.
    QTemporaryFile other;
    QVERIFY(other.open());
    QList<int> held;
    int reused = -1;
    for (int i = 0; i < 64 && reused != portFd; ++i) {
        reused = ::open(QFile::encodeName(other.fileName()).constData(), O_WRONLY | O_CLOEXEC);
        held << reused;
    }
    QCOMPARE(reused, portFd);

    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    for (int i = 0; i < 5; ++i)
        QCOMPARE(port.write("FA;"), qint64(-1));
    QCoreApplication::sendPostedEvents(&port);
    for (QSocketNotifier *notifier : port.findChildren<QSocketNotifier *>())
        QVERIFY2(!notifier->isEnabled(), qPrintable(QString::number(notifier->socket())));
    QCoreApplication::processEvents();
    QCOMPARE(QFileInfo(other.fileName()).size(), qint64(0));
    QCOMPARE(lost.count(), 1);
    for (int fd : std::as_const(held))
        ::close(fd);
    port.close();
}

void TestSerialPort::flushDiscardsUnread()
{
    PtyPeer peer;
    SerialPort port(peer.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    QSignalSpy ready(&port, &SerialPort::readyRead);

    peer.send("stale");
    QVERIFY(ready.wait(3000));
    QVERIFY(port.flush());
    // Nothing may be left to write after the discard either.
    QVERIFY(port.waitForWritten());

    peer.send("fresh");
    QByteArray got;
    QTRY_COMPARE((got += port.readAll()), QByteArray("fresh"));
    port.close();
    QVERIFY(!port.flush());
}

void TestSerialPort::flushesDuringAFloodAreNoHangUp()
{
    // A flush that empties the line between Qt's read notification and its
    // read makes that read fail; the device is still there and must be read on.
    PtyPeer peer;
    SerialPort port(peer.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    QSignalSpy lost(&port, &SerialPort::connectionLost);
    peer.startFlood(QByteArray(64, 'x'), 4 * 1024 * 1024, 2 * 1024 * 1024);
    QTimer flusher;
    connect(&flusher, &QTimer::timeout, &port, [&port] { port.flush(); });
    flusher.start(1);
    QTRY_VERIFY_WITH_TIMEOUT(!peer.isFlooding(), 20000);
    flusher.stop();
    QCOMPARE(lost.count(), 0);
    QVERIFY(!port.isLost());

    QVERIFY(port.waitForWritten());
    // What the flood left in the line is not read here: this thread is the reader.
    QVERIFY(port.flush());
    peer.send("after");
    QByteArray got;
    QTRY_VERIFY((got += port.readAll()).endsWith("after"));
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
