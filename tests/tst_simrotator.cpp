// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/serialport.h"
#include "sim/simrotator.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

// The simulated controller as the rotator tests see it: through a SerialPort.
class TestSimRotator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void answersAndRecords();
    void limitsRefuse();
    void faultSwitches();
    void slewsTowardTheCommand_data();
    void slewsTowardTheCommand();
    void speedChangeKeepsThePosition();
    void standardLimitsAndRefusing_data();
    void standardLimitsAndRefusing();
    void reopensAfterHangUp();

private:
    // Every read, one entry per readyRead() that delivered bytes.
    QList<QByteArray> m_reads;
    QByteArray all() const { return m_reads.join(); }

    // Sends one line and waits until the controller has taken it.
    void command(const QByteArray &line);

    SimRotator *m_sim = nullptr;
    qint64 m_nowMs = 0;  // the motion clock the tests step by hand
    SerialPort *m_port = nullptr;
};

void TestSimRotator::init()
{
    m_reads.clear();
    m_nowMs = 0;
    m_sim = new SimRotator(this);
    QVERIFY(m_sim->isOpen());
    m_port = new SerialPort(m_sim->slavePath(), this);
    QVERIFY(m_port->open(QIODevice::ReadWrite));
    connect(m_port, &SerialPort::readyRead, this, [this] {
        const QByteArray bytes = m_port->readAll();
        if (!bytes.isEmpty())
            m_reads << bytes;
    });
}

void TestSimRotator::cleanup()
{
    delete m_port;
    delete m_sim;
}

void TestSimRotator::answersAndRecords()
{
    QSignalSpy lines(m_sim, &SimRotator::commandReceived);
    // A line may arrive in pieces; only CR LF ends it.
    m_port->write("&* AZ=123.46\r\n&* EL=-0");
    m_port->write("3.20\r\nhello\n\r\n&* AZ=1234.50\r\n&* AZ=1e3\r\n&* EL=5");
    QTRY_COMPARE(lines.count(), 5);
    QCOMPARE(m_sim->commands(),
             (QStringList {"&* AZ=123.46", "&* EL=-03.20", "hello\n", "&* AZ=1234.50", "&* AZ=1e3"}));
    QCOMPARE(lines.at(1).at(0).toString(), QStringLiteral("&* EL=-03.20"));
    QCOMPARE(m_sim->partialLine(), QByteArray("&* EL=5"));
    QTRY_COMPARE(all(), QByteArray("OK\r\nOK\r\nOK\r\n"));
    QCOMPARE(m_sim->azimuth().value_or(-1), 1234.5);
    QCOMPARE(m_sim->elevation().value_or(-1), -3.2);
    QCOMPARE(m_sim->acceptedCount(), 3);
    QVERIFY(m_sim->received().startsWith("&* AZ=123.46\r\n&* EL=-03.20\r\n"));
}

void TestSimRotator::limitsRefuse()
{
    m_sim->setLimits(0, 360, 0, 90);
    m_port->write("&* EL=090.00\r\n&* EL=090.01\r\n&* AZ=-01.00\r\n&* AZ=360.00\r\n");
    QTRY_COMPARE(all(), QByteArray("OK\r\nERROR/LIMIT\r\nERROR/LIMIT\r\nOK\r\n"));
    QCOMPARE(m_sim->elevation().value_or(-1), 90.0);
    QCOMPARE(m_sim->azimuth().value_or(-1), 360.0);
    QCOMPARE(m_sim->refusedCount(), 2);
}

void TestSimRotator::faultSwitches()
{
    // Silent: the command is taken but nothing comes back. The next answer
    // shows it, since answers go out in order.
    m_sim->setSilent(true);
    m_port->write("&* AZ=010.00\r\n");
    QTRY_COMPARE(m_sim->commands().size(), 1);
    m_sim->setSilent(false);

    m_sim->setOtherLineReply("?\r\n");
    m_port->write("status\r\n");
    QTRY_COMPARE(all(), QByteArray("?\r\n"));
    m_reads.clear();

    // Split: two separate deliveries, the zero byte with the first.
    m_sim->setZeroByteBeforeReply(true);
    m_sim->setSplitReply(true);
    m_port->write("&* EL=010.00\r\n");
    QTRY_COMPARE(all(), QByteArray("\0OK\r\n", 5));
    QCOMPARE(m_reads, (QList<QByteArray> {QByteArray("\0O", 2), "K\r\n"}));
    m_reads.clear();

    // Late answers, still in order.
    m_sim->setZeroByteBeforeReply(false);
    m_sim->setSplitReply(false);
    m_sim->setLimits(0, 360, 0, 90);
    m_sim->setReplyDelay(150);
    QElapsedTimer clock;
    clock.start();
    m_port->write("&* AZ=400.00\r\n&* AZ=020.00\r\n");
    QTRY_COMPARE(all(), QByteArray("ERROR/LIMIT\r\nOK\r\n"));
    QVERIFY(clock.elapsed() >= 150);

    m_sim->sendRaw("RAW");
    QTRY_COMPARE(all(), QByteArray("ERROR/LIMIT\r\nOK\r\nRAW"));
}

void TestSimRotator::command(const QByteArray &line)
{
    const int before = m_sim->commands().size();
    m_port->write(line + "\r\n");
    QTRY_COMPARE(m_sim->commands().size(), before + 1);
}

void TestSimRotator::slewsTowardTheCommand_data()
{
    // Each step: at this clock time, send this command (if any), then expect
    // the present position there.
    QTest::addColumn<double>("startAzimuth");
    QTest::addColumn<QList<qint64>>("times");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QList<double>>("azimuths");
    QTest::addColumn<QList<double>>("elevations");

    QTest::newRow("both axes at their own speed")
        << 0.0 << QList<qint64> {0, 0, 2000, 5000, 9000}
        << QStringList {"&* AZ=010.00", "&* EL=006.00", "", "", ""}
        << QList<double> {0, 0, 4, 10, 10}
        << QList<double> {0, 0, 2, 5, 6};
    QTest::newRow("turns back from where it is")
        << 0.0 << QList<qint64> {0, 2000, 3000, 4000}
        << QStringList {"&* AZ=010.00", "&* AZ=000.00", "", ""}
        << QList<double> {0, 4, 2, 0}
        << QList<double> {0, 0, 0, 0};
    QTest::newRow("no shortcut across the end stop at north")
        << 100.0 << QList<qint64> {0, 1000, 10000}
        << QStringList {"&* AZ=350.00", "", ""}
        << QList<double> {100, 102, 120}
        << QList<double> {0, 0, 0};
    QTest::newRow("refused positions do not move it")
        << 100.0 << QList<qint64> {0, 1000, 1000}
        << QStringList {"&* EL=095.00", "&* AZ=-05.00", ""}
        << QList<double> {100, 100, 100}
        << QList<double> {0, 0, 0};
}

void TestSimRotator::slewsTowardTheCommand()
{
    QFETCH(double, startAzimuth);
    QFETCH(QList<qint64>, times);
    QFETCH(QStringList, commands);
    QFETCH(QList<double>, azimuths);
    QFETCH(QList<double>, elevations);
    m_sim->setMotionClock([this] { return m_nowMs; });
    m_sim->setLimits();
    m_sim->setPresentPosition(startAzimuth, 0);
    QVERIFY(!m_sim->isMoving());

    for (int i = 0; i < times.size(); ++i) {
        m_nowMs = times.at(i);
        if (!commands.at(i).isEmpty())
            command(commands.at(i).toLatin1());
        QCOMPARE(m_sim->presentAzimuth(), azimuths.at(i));
        QCOMPARE(m_sim->presentElevation(), elevations.at(i));
    }
}

void TestSimRotator::speedChangeKeepsThePosition()
{
    m_sim->setMotionClock([this] { return m_nowMs; });
    QCOMPARE(m_sim->presentAzimuth(), 0.0);
    command("&* AZ=100.00");
    QVERIFY(m_sim->isMoving());
    QCOMPARE(m_sim->commandedAzimuth(), 100.0);
    m_nowMs = 5000;
    QCOMPARE(m_sim->presentAzimuth(), 10.0);  // 2 degrees per second by default
    m_sim->setSlewRates(10, 1);
    QCOMPARE(m_sim->presentAzimuth(), 10.0);
    m_nowMs = 6000;
    QCOMPARE(m_sim->presentAzimuth(), 20.0);
    m_sim->setSlewRates(0, 0);  // no inertia at all
    QCOMPARE(m_sim->presentAzimuth(), 100.0);
    QVERIFY(!m_sim->isMoving());
    m_sim->setPresentPosition(45, 30);
    QCOMPARE(m_sim->commandedAzimuth(), 45.0);
    QCOMPARE(m_sim->presentElevation(), 30.0);
}

void TestSimRotator::standardLimitsAndRefusing_data()
{
    QTest::addColumn<bool>("refusing");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("answers");
    QTest::newRow("standard limits")
        << false << QByteArray("&* AZ=450.00\r\n&* AZ=450.01\r\n&* AZ=000.00\r\n&* EL=-00.01\r\n&* EL=090.00\r\n")
        << QByteArray("OK\r\nERROR/LIMIT\r\nOK\r\nERROR/LIMIT\r\nOK\r\n");
    QTest::newRow("refusing everything")
        << true << QByteArray("&* AZ=100.00\r\n&* EL=010.00\r\nstatus\r\n")
        << QByteArray("ERROR/LIMIT\r\nERROR/LIMIT\r\n");
}

void TestSimRotator::standardLimitsAndRefusing()
{
    QFETCH(bool, refusing);
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, answers);
    m_sim->setLimits();
    m_sim->setRefusing(refusing);
    m_port->write(sent);
    QTRY_COMPARE(all(), answers);
    QCOMPARE(m_sim->refusedCount(), answers.count("ERROR/LIMIT"));
    if (refusing) {
        QCOMPARE(m_sim->commandedAzimuth(), 0.0);
        QVERIFY(!m_sim->azimuth().has_value());
    } else {
        QCOMPARE(m_sim->commandedAzimuth(), 0.0);
        QCOMPARE(m_sim->commandedElevation(), 90.0);
    }
}

void TestSimRotator::reopensAfterHangUp()
{
    QSignalSpy lost(m_port, &SerialPort::connectionLost);
    m_sim->hangUp();
    QVERIFY(!m_sim->isOpen());
    QVERIFY(lost.wait(5000));
    m_port->close();

    QVERIFY(m_sim->reopen());
    QVERIFY(m_sim->isOpen());
    QVERIFY(m_sim->reopen());  // already open: nothing changes
    QVERIFY(!m_sim->slavePath().isEmpty());
    SerialPort again(m_sim->slavePath());
    QVERIFY(again.open(QIODevice::ReadWrite));
    QByteArray answer;
    connect(&again, &SerialPort::readyRead, this, [&] { answer += again.readAll(); });
    again.write("&* AZ=001.00\r\n");
    QTRY_COMPARE(answer, QByteArray("OK\r\n"));
}

QTEST_GUILESS_MAIN(TestSimRotator)
#include "tst_simrotator.moc"
