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

private:
    // Every read, one entry per readyRead() that delivered bytes.
    QList<QByteArray> m_reads;
    QByteArray all() const { return m_reads.join(); }

    SimRotator *m_sim = nullptr;
    SerialPort *m_port = nullptr;
};

void TestSimRotator::init()
{
    m_reads.clear();
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

QTEST_GUILESS_MAIN(TestSimRotator)
#include "tst_simrotator.moc"
