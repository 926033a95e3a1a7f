// SPDX-License-Identifier: GPL-3.0-or-later
#include "ephemeris/ephemeriswriter.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>

namespace {

const QDateTime startUtc(QDate(2026, 12, 7), QTime(4, 30, 48), Qt::UTC);

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestEphemerisWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void refusesWhatItCannotUse();
    void writeFailuresAreReported_data();
    void writeFailuresAreReported();
    void fixedClockWritesThatInstant();
    void timedWritesFollowTheClock();
    void readerNeverSeesHalfAFile();

private:
    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir m_dir;
};

void TestEphemerisWriter::refusesWhatItCannotUse()
{
    EphemerisWriter writer;
    QVERIFY(writer.setHome(QStringLiteral("JO70fd")));
    QVERIFY(!writer.setHome(QStringLiteral("JO70f")));
    QVERIFY(!writer.setDx(QStringLiteral("ZZ00")));
    for (double mhz : {0.0, -144.0, std::nan(""), HUGE_VAL, 100000.0})
        QVERIFY2(!writer.setFrequencyMHz(mhz), qPrintable(QString::number(mhz)));
    QVERIFY(writer.setFrequencyMHz(10368.2));

    // The refused values left the good ones in place.
    writer.setOutputPath(path("refused.dat"));
    writer.setClock(startUtc, 0.0);
    QVERIFY(writer.writeOnce());
    QCOMPARE(writer.lastSky().frequencyMHz, 10368.2);
    QCOMPARE(writer.lastSky().utc, startUtc);
}

void TestEphemerisWriter::writeFailuresAreReported_data()
{
    QTest::addColumn<QString>("home");
    QTest::addColumn<double>("mhz");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("error");

    QTest::newRow("no locator") << QString() << 432.0 << "a.dat" << "no home locator set";
    QTest::newRow("no frequency") << "JO70" << 0.0 << "a.dat" << "no frequency set";
    QTest::newRow("no file") << "JO70" << 432.0 << QString() << "no output file set";
    QTest::newRow("missing folder") << "JO70" << 432.0 << "absent/a.dat" << "cannot write";
    QTest::newRow("a folder in the way") << "JO70" << 432.0 << "." << "cannot write";
}

void TestEphemerisWriter::writeFailuresAreReported()
{
    QFETCH(QString, home);
    QFETCH(double, mhz);
    QFETCH(QString, file);
    QFETCH(QString, error);

    EphemerisWriter writer;
    if (!home.isEmpty())
        QVERIFY(writer.setHome(home));
    if (mhz > 0)
        QVERIFY(writer.setFrequencyMHz(mhz));
    if (!file.isEmpty())
        writer.setOutputPath(m_dir.filePath(file));
    QSignalSpy written(&writer, &EphemerisWriter::written);
    QVERIFY(!writer.writeOnce());
    QVERIFY2(writer.lastError().startsWith(error), qPrintable(writer.lastError()));
    QCOMPARE(written.count(), 0);
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("absent"))));
}

void TestEphemerisWriter::fixedClockWritesThatInstant()
{
    EphemerisWriter writer;
    QVERIFY(writer.setHome(QStringLiteral("JO70fd")));
    QVERIFY(writer.setDx(QStringLiteral("FN31pr")));
    QVERIFY(writer.setFrequencyMHz(432.065));
    writer.setOutputPath(path("fixed.dat"));
    writer.setTransmitting(true);
    writer.setClock(startUtc, 0.0);
    QCOMPARE(writer.now(), startUtc);

    QSignalSpy written(&writer, &EphemerisWriter::written);
    QVERIFY2(writer.writeOnce(), qPrintable(writer.lastError()));
    QCOMPARE(written.count(), 1);
    const SkySnapshot sky = written.at(0).at(0).value<SkySnapshot>();
    QCOMPARE(sky.utc, startUtc);
    const QByteArray expected = formatTrackingFile(
        computeSky(*positionOfLocator(QStringLiteral("JO70fd")), *positionOfLocator(QStringLiteral("FN31pr")),
                   432.065, startUtc),
        true);
    QCOMPARE(contentsOf(path("fixed.dat")), expected);
    QVERIFY(expected.startsWith("04:30:48,"));
    QVERIFY(expected.endsWith(",Doppler, T\n"));
}

void TestEphemerisWriter::timedWritesFollowTheClock()
{
    EphemerisWriter writer;
    QVERIFY(writer.setHome(QStringLiteral("IO91wm")));
    QVERIFY(writer.setFrequencyMHz(144.12));
    writer.setOutputPath(path("timed.dat"));
    writer.setClock(startUtc, 20.0);  // a clock second every 50 ms
    QSignalSpy written(&writer, &EphemerisWriter::written);
    writer.start();
    QVERIFY(writer.isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(written.count() >= 6, 20000);
    writer.stop();
    const int count = written.count();

    // One write per whole second of the clock: the stamps climb a second at a time.
    QDateTime previous;
    for (int i = 1; i < count; ++i) {
        const QDateTime utc = written.at(i).at(0).value<SkySnapshot>().utc;
        QVERIFY(utc >= startUtc);
        if (previous.isValid())
            QVERIFY2(utc.toSecsSinceEpoch() > previous.toSecsSinceEpoch(), qPrintable(utc.toString(Qt::ISODateWithMs)));
        previous = utc;
    }
    const SkySnapshot last = written.at(count - 1).at(0).value<SkySnapshot>();
    QCOMPARE(contentsOf(path("timed.dat")), formatTrackingFile(last, false));

    // Stopped means stopped.
    QTest::qWait(300);
    QCOMPARE(written.count(), count);
}

void TestEphemerisWriter::readerNeverSeesHalfAFile()
{
    const QString file = path("atomic.dat");
    EphemerisWriter writer;
    QVERIFY(writer.setHome(QStringLiteral("JO70fd")));
    QVERIFY(writer.setDx(QStringLiteral("FN31pr")));
    QVERIFY(writer.setFrequencyMHz(432.065));
    writer.setOutputPath(file);
    writer.setClock(startUtc, 1000.0);  // as fast as it can compute
    QVERIFY(writer.writeOnce());

    std::atomic<bool> stop {false};
    std::atomic<int> reads {0};
    std::atomic<int> torn {0};
    QByteArray tornExample;
    std::thread reader([&] {
        while (!stop) {
            const QByteArray text = contentsOf(file);
            ++reads;
            // Every field has a fixed width: any other size is a torn file.
            if (text.size() != 132 || text.count('\n') != 4 || !text.endsWith(", R\n")) {
                if (torn++ == 0)
                    tornExample = text;
            }
        }
    });

    QSignalSpy written(&writer, &EphemerisWriter::written);
    writer.start();
    QTRY_VERIFY_WITH_TIMEOUT(written.count() >= 150 && reads >= 150, 60000);
    writer.stop();
    stop = true;
    reader.join();

    QVERIFY2(torn == 0, tornExample.constData());
    // Nothing left beside the file from the replacements.
    const QStringList left = QDir(m_dir.path()).entryList({QStringLiteral("atomic.dat*")}, QDir::Files);
    QCOMPARE(left, QStringList {QStringLiteral("atomic.dat")});
}

QTEST_GUILESS_MAIN(TestEphemerisWriter)
#include "tst_ephemeriswriter.moc"
