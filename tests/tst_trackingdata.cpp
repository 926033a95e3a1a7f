// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/trackingdata.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(TrackingTarget)

namespace {

// "from,...,to" with perLine numbers on each line, lines ended by eol.
QByteArray numberLines(int from, int to, int perLine, const QByteArray &eol = "\n")
{
    QByteArray text;
    for (int i = from; i <= to; ++i) {
        text += QByteArray::number(i);
        const bool lineEnd = (i - from + 1) % perLine == 0 || i == to;
        text += lineEnd ? eol : QByteArray(",");
    }
    return text;
}

// 0..16 on one line, with field index replaced by value.
QByteArray withField(int index, const QByteArray &value)
{
    QList<QByteArray> fields;
    for (int i = 0; i <= 16; ++i)
        fields << QByteArray::number(i);
    fields[index] = value;
    return fields.join(',') + '\n';
}

struct Reading {
    bool ok = false;
    TrackingRecord record;
    QStringList messages;
};

Reading readFile(const QString &path, TrackingTarget target)
{
    Reading reading;
    reading.ok = readTrackingData(path, target, reading.record,
                                  [&](const QString &message) { reading.messages << message; });
    return reading;
}

} // namespace

class TestTrackingData : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void contents_data();
    void contents();
    void missingFileIsSilent();
    void unopenableFile();
    void onlyRegularFilesAreRead();
    void largeFileStopsEarly_data();
    void largeFileStopsEarly();

private:
    QString write(const QByteArray &contents)
    {
        const QString path = m_dir.filePath(QStringLiteral("track%1.txt").arg(++m_count));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
            return QString();
        return path;
    }

    QTemporaryDir m_dir;
    int m_count = 0;
};

void TestTrackingData::contents_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<TrackingTarget>("target");
    QTest::addColumn<bool>("ok");
    // azimuth, elevation, frequency, relative speed, dopplerDx, dopplerHome
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<QStringList>("messages");

    const QList<double> plain {1, 2, 12, 14, 13, 15};
    const QByteArray oneLine = numberLines(0, 16, 17, QByteArray());
    const auto Moon = TrackingTarget::Moon;
    const auto Sun = TrackingTarget::Sun;
    const auto Source = TrackingTarget::Source;

    QTest::newRow("one line, no terminator") << oneLine << Moon << true << plain << QStringList();
    QTest::newRow("five per line") << numberLines(0, 16, 5) << Moon << true << plain << QStringList();
    QTest::newRow("CR LF lines") << numberLines(0, 16, 5, "\r\n") << Moon << true << plain << QStringList();
    QTest::newRow("Sun target") << oneLine << Sun << true << QList<double> {5, 6, 12, 14, 13, 15}
                                << QStringList();
    QTest::newRow("Source target") << oneLine << Source << true << QList<double> {9, 10, 12, 14, 13, 15}
                                   << QStringList();
    QTest::newRow("fields past 16 ignored") << QByteArray(oneLine + ",junk,,x\nmore") << Moon << true
                                            << plain << QStringList();

    // The blank line is field 5 and everything after it moves up by one.
    QTest::newRow("blank line shifts fields")
        << QByteArray("0,1,2,3,4\n\n5,6,7,8,9\n10,11,12,13,14\n15,16\n") << Sun << true
        << QList<double> {0, 5, 11, 13, 12, 14} << QStringList {"azimuth Sun error"};
    QTest::newRow("trailing comma is a field")
        << QByteArray("0,1,2,\n3,4,5,6,7,8,9,10,11,12,13,14,15,16") << Moon << true
        << QList<double> {1, 2, 11, 13, 12, 14} << QStringList();

    QTest::newRow("16 fields") << numberLines(0, 15, 17) << Moon << false << QList<double>()
                               << QStringList {"wrong file"};
    QTest::newRow("empty file") << QByteArray() << Moon << false << QList<double>()
                                << QStringList {"wrong file"};
    QTest::newRow("one newline") << QByteArray("\n") << Moon << false << QList<double>()
                                 << QStringList {"wrong file"};
    // The lone CR after the last line feed ends an empty line: field 16.
    QTest::newRow("16 fields, then LF CR") << QByteArray(numberLines(0, 15, 17) + '\r') << Moon << true
                                           << plain << QStringList {"relative speed Source error"};
    QTest::newRow("16 fields, then CR CR LF") << QByteArray(numberLines(0, 15, 17, "\r\r\n")) << Moon << false
                                              << QList<double>() << QStringList {"wrong file"};

    QTest::newRow("elevation empty") << withField(2, "") << Moon << true << QList<double> {1, 0, 12, 14, 13, 15}
                                     << QStringList {"elevation Moon error"};
    QTest::newRow("Sun ignores bad Moon field") << withField(1, "x") << Sun << true
                                                << QList<double> {5, 6, 12, 14, 13, 15} << QStringList();
    QTest::newRow("Source azimuth bad") << withField(9, "9a") << Source << true
                                        << QList<double> {0, 10, 12, 14, 13, 15}
                                        << QStringList {"azimuth Source error"};
    QTest::newRow("spaces around number") << withField(1, " 12.5 ") << Moon << true
                                          << QList<double> {12.5, 2, 12, 14, 13, 15} << QStringList();
    QTest::newRow("decimal comma splits") << withField(1, "12,5") << Moon << true
                                          << QList<double> {12, 5, 11, 13, 12, 14} << QStringList();
    QTest::newRow("negative and exponent") << withField(2, "-1.5e1") << Moon << true
                                           << QList<double> {1, -15, 12, 14, 13, 15} << QStringList();

    QTest::newRow("all read fields bad, in order")
        << QByteArray("0,a,b,3,4,5,6,7,8,9,10,11,c,d,e,f,g\n") << Moon << true << QList<double> {0, 0, 0, 0, 0, 0}
        << QStringList {"azimuth Moon error", "elevation Moon error", "frequency error", "relative speed error",
                        "doppler error", "relative speed Source error", "doppler Source error"};
    QTest::newRow("beyond single precision")
        << QByteArray("0,1e39,2,3,4,5,6,7,8,9,10,11,12,1e38,14,-1e39,inf\n") << Moon << true
        << QList<double> {0, 2, 12, 14, double(1e38f), 0}
        << QStringList {"azimuth Moon error", "relative speed Source error", "doppler Source error"};

    // Long lines are taken 1024 characters at a time; "12" crosses the boundary.
    QTest::newRow("field across 1024 boundary")
        << QByteArray(QByteArray(1022, '0') + ",12" + numberLines(3, 16, 17).prepend(',')) << Moon << true
        << plain << QStringList();
    QTest::newRow("line of exactly 1024") << QByteArray(QByteArray(1024, '0') + '\n' + numberLines(1, 16, 17))
                                          << Moon << true << plain << QStringList();
    QTest::newRow("line of 1025") << QByteArray(QByteArray(1025, '0') + '\n' + numberLines(2, 16, 17)) << Moon
                                  << true << QList<double> {0, 2, 12, 14, 13, 15} << QStringList();
    QTest::newRow("CR LF right after 1024") << QByteArray(QByteArray(1022, '0') + ",1\r\n" + numberLines(2, 16, 17))
                                            << Moon << true << plain << QStringList();
}

void TestTrackingData::contents()
{
    QFETCH(QByteArray, contents);
    QFETCH(TrackingTarget, target);
    QFETCH(bool, ok);
    QFETCH(QList<double>, values);
    QFETCH(QStringList, messages);

    const QString path = write(contents);
    QVERIFY(!path.isEmpty());
    const Reading reading = readFile(path, target);
    QCOMPARE(reading.messages, messages);
    QCOMPARE(reading.ok, ok);
    if (!ok)
        return;
    const TrackingRecord &r = reading.record;
    QCOMPARE((QList<double> {r.azimuth, r.elevation, r.frequency, r.relativeSpeed, r.dopplerDx, r.dopplerHome}),
             values);
}

void TestTrackingData::missingFileIsSilent()
{
    for (const QString &path : {QString(), m_dir.filePath(QStringLiteral("absent.txt"))}) {
        const Reading reading = readFile(path, TrackingTarget::Moon);
        QVERIFY(!reading.ok);
        QCOMPARE(reading.messages, QStringList());
    }
}

void TestTrackingData::unopenableFile()
{
    // A directory exists but cannot be opened as a file (chmod 000 would not
    // stop root).
    const Reading reading = readFile(m_dir.path(), TrackingTarget::Moon);
    QVERIFY(!reading.ok);
    QCOMPARE(reading.messages, QStringList {"File read error"});
}

void TestTrackingData::onlyRegularFilesAreRead()
{
    // A named pipe in the file's place: opening it for reading would wait for
    // a writer. The writer comes after a while, so a reader that waited reads
    // a valid record instead of failing.
    const QString fifo = m_dir.filePath(QStringLiteral("pipe"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    std::thread writer([&fifo] {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
            const QByteArray record = numberLines(0, 16, 17);
            [[maybe_unused]] const ssize_t written = ::write(fd, record.constData(), size_t(record.size()));
            ::close(fd);
        }
    });
    const Reading fromPipe = readFile(fifo, TrackingTarget::Moon);
    writer.join();
    QVERIFY(!fromPipe.ok);
    QCOMPARE(fromPipe.messages, QStringList {"File read error"});

    const Reading fromDevice = readFile(QStringLiteral("/dev/zero"), TrackingTarget::Moon);
    QVERIFY(!fromDevice.ok);
    QCOMPARE(fromDevice.messages, QStringList {"File read error"});
}

void TestTrackingData::largeFileStopsEarly_data()
{
    QTest::addColumn<QByteArray>("tail");
    const int size = 50 * 1024 * 1024;
    QByteArray oneLine;
    oneLine.reserve(size);
    while (oneLine.size() < size)
        oneLine += ",1";
    QTest::newRow("one long line") << oneLine;
    QByteArray lines;
    lines.reserve(size);
    while (lines.size() < size)
        lines += "\n1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16";
    QTest::newRow("many lines") << lines;
}

void TestTrackingData::largeFileStopsEarly()
{
    QFETCH(QByteArray, tail);
    QString path = write(numberLines(0, 16, 17, QByteArray()) + tail);
    QVERIFY(!path.isEmpty());
    tail.clear();

    QElapsedTimer clock;
    clock.start();
    const Reading reading = readFile(path, TrackingTarget::Moon);
    const qint64 elapsed = clock.elapsed();
    QFile::remove(path);

    QVERIFY(reading.ok);
    QCOMPARE(reading.messages, QStringList());
    QCOMPARE(reading.record.azimuth, 1.0);
    QCOMPARE(reading.record.dopplerHome, 15.0);
    // Reading all 50 MB into fields takes seconds and gigabytes.
    QVERIFY2(elapsed < 1000, qPrintable(QStringLiteral("took %1 ms").arg(elapsed)));
}

QTEST_GUILESS_MAIN(TestTrackingData)
#include "tst_trackingdata.moc"
