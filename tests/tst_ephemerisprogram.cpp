// SPDX-License-Identifier: GPL-3.0-or-later
#include "ephemeris/ephemeris.h"
#include "station/trackingsource.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runProgram(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(VESTREL_EPHEMERIS_PROGRAM), arguments);
    Run run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestEphemerisProgram : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void onceAtAGivenTime_data();
    void onceAtAGivenTime();
    void radioSourceReadBack_data();
    void radioSourceReadBack();
    void help();
    void badInput_data();
    void badInput();
    void keepsRewriting();

private:
    QTemporaryDir m_dir;
};

void TestEphemerisProgram::onceAtAGivenTime_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QString>("dx");
    QTest::addColumn<bool>("transmitting");
    QTest::addColumn<QStringList>("said");  // after the line saying what is written where
    QTest::newRow("with DX") << QStringList {"--dx", "FN31pr"} << "FN31pr" << false << QStringList();
    QTest::newRow("own echo only") << QStringList() << "JO70FD" << false << QStringList();
    QTest::newRow("transmitting") << QStringList {"--dx", "FN31pr", "--tx"} << "FN31pr" << true << QStringList();
    QTest::newRow("verbose") << QStringList {"--dx", "FN31pr", "--verbose"} << "FN31pr" << false
                             << QStringList {"vestrel-ephemeris: 04:30:48: Moon az "};
}

void TestEphemerisProgram::onceAtAGivenTime()
{
    QFETCH(QStringList, extra);
    QFETCH(QString, dx);
    QFETCH(bool, transmitting);
    QFETCH(QStringList, said);

    const QString out = m_dir.filePath(QStringLiteral("once-%1.dat").arg(QTest::currentDataTag()));
    const Run run = runProgram(QStringList {"--locator", "JO70FD", "--mhz", "432.065", "--out", out, "--at",
                                            "2026-12-07T04:30:48Z", "--once"}
                               + extra);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    const QStringList lines = QString::fromUtf8(run.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1 + said.size());
    const QString start = QStringLiteral("vestrel-ephemeris: writing %1 once, for 2026-12-07 04:30:48 UTC: the Moon "
                                         "and the Sun as seen from JO70FD, the Source line without a position, the own-echo "
                                         "Doppler")
                              .arg(out);
    QVERIFY2(lines.first().startsWith(start), qPrintable(lines.first()));
    QVERIFY2(lines.first().endsWith(transmitting ? "marked transmitting" : "marked receiving"),
             qPrintable(lines.first()));
    for (qsizetype i = 0; i < said.size(); ++i)
        QVERIFY2(lines.at(i + 1).startsWith(said.at(i)), qPrintable(lines.at(i + 1)));
    const QDateTime utc(QDate(2026, 12, 7), QTime(4, 30, 48), Qt::UTC);
    const SkySnapshot sky = computeSky(*positionOfLocator(QStringLiteral("JO70FD")), *positionOfLocator(dx), 432.065, utc);
    QCOMPARE(contentsOf(out), formatTrackingFile(sky, transmitting));
}

void TestEphemerisProgram::radioSourceReadBack_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("refraction");
    QTest::newRow("by name") << QStringList {"--source", "Cyg A"} << "Cyg A" << false;
    QTest::newRow("typed, refracted") << QStringList {"--source", "19h59m28.357s +40d44m02.10s", "--refraction"}
                                      << "19h59m28.357s +40d44m02.10s" << true;
    QTest::newRow("refraction alone") << QStringList {"--refraction"} << QString() << true;
}

// The Source line the program writes is what the station's file source reads
// back when its target is the Source.
void TestEphemerisProgram::radioSourceReadBack()
{
    QFETCH(QStringList, extra);
    QFETCH(QString, source);
    QFETCH(bool, refraction);

    const QString out = m_dir.filePath(QStringLiteral("source-%1.dat").arg(QTest::currentDataTag()));
    const Run run = runProgram(QStringList {"--locator", "JO70FD", "--mhz", "432.065", "--out", out, "--at",
                                            "2026-12-07T04:30:48Z", "--once"}
                               + extra);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    const QDateTime utc(QDate(2026, 12, 7), QTime(4, 30, 48), Qt::UTC);
    const GeoPosition home = *positionOfLocator(QStringLiteral("JO70FD"));
    SkyOptions options;
    options.refraction = refraction;
    if (!source.isEmpty())
        options.source = radiosource::fromText(source);
    const SkySnapshot sky = computeSky(home, home, 432.065, utc, options);
    QCOMPARE(contentsOf(out), formatTrackingFile(sky, false));

    FileTrackingSource file(out);
    TrackingRecord record;
    QStringList logged;
    const bool read = file.read(TrackingTarget::Source, record, [&](const QString &line) { logged << line; });
    if (source.isEmpty()) {
        // No place written, none read: the station holds instead of aiming at 0, 0.
        QVERIFY(!read);
        QCOMPARE(logged, (QStringList {"azimuth Source error", "elevation Source error",
                                       "holding: the file gives no Source position"}));
        QVERIFY(contentsOf(out).contains(",  ---,  ---,Source\n"));
        return;
    }
    QVERIFY(read);
    QCOMPARE(logged, QStringList());
    const HorizontalPlace place = radioSourcePlace(*options.source, home, utc);
    const double lift = refraction ? refractionDeg(place.elevation) : 0.0;
    QVERIFY2(place.elevation > 5.0, "a source in sight, where refraction is small but not nothing");
    QVERIFY(std::fabs(record.azimuth - place.azimuth) <= 0.051);
    QVERIFY(std::fabs(record.elevation - (place.elevation + lift)) <= 0.051);
}

void TestEphemerisProgram::help()
{
    const Run run = runProgram({QStringLiteral("--help")});
    QCOMPARE(run.exitCode, 0);
    for (const char *option : {"--locator", "--dx", "--mhz", "--out", "--at", "--once", "--rate", "--version",
                               "--source", "Cas A", "--refraction", "--verbose"})
        QVERIFY2(run.out.contains(option), option);

    const Run version = runProgram({QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 0);
    QVERIFY2(version.out.startsWith("vestrel-ephemeris "), version.out.constData());
}

void TestEphemerisProgram::badInput_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    const QStringList good {"--locator", "JO70FD", "--mhz", "432.065", "--once"};
    auto with = [&](const QString &option, const QString &value) {
        QStringList arguments = good;
        const int i = arguments.indexOf(option);
        if (i >= 0)
            arguments[i + 1] = value;
        else
            arguments << option << value;
        return arguments;
    };
    QTest::newRow("bad locator") << with("--locator", "JO7") << "bad locator 'JO7'";
    QTest::newRow("bad DX") << with("--dx", "FN31p") << "bad DX locator 'FN31p'";
    QTest::newRow("no locator") << QStringList {"--mhz", "432", "--once"} << "--locator is required";
    QTest::newRow("no frequency") << QStringList {"--locator", "JO70", "--once"} << "--mhz is required";
    QTest::newRow("frequency not a number") << with("--mhz", "432,065") << "bad frequency '432,065'";
    QTest::newRow("frequency zero") << with("--mhz", "0") << "bad frequency '0'";
    QTest::newRow("frequency negative") << with("--mhz", "-144") << "bad frequency '-144'";
    QTest::newRow("frequency too high") << with("--mhz", "100000") << "bad frequency '100000'";
    QTest::newRow("bad time") << with("--at", "2026-13-07T04:30:48Z") << "bad time '2026-13-07T04:30:48Z'";
    QTest::newRow("time without date") << with("--at", "04:30:48") << "bad time '04:30:48'";
    QTest::newRow("bad rate") << with("--rate", "fast") << "bad rate 'fast'";
    QTest::newRow("negative rate") << with("--rate", "-60") << "bad rate '-60'";
    QTest::newRow("unknown source") << with("--source", "Crab") << "bad source: 'Crab' is neither a known source";
    QTest::newRow("source past 24h") << with("--source", "24h +10d") << "bad source: right ascension '24h'";
    QTest::newRow("source without declination") << with("--source", "12h") << "bad source: '12h' is neither";
    QTest::newRow("unknown option") << QStringList(good) + QStringList {"--lokator"} << "Unknown option 'lokator'";
    QTest::newRow("stray argument") << QStringList(good) + QStringList {"azel.dat"} << "unexpected argument 'azel.dat'";
    QTest::newRow("unwritable file") << with("--out", "/nonexistent-folder/azel.dat") << "cannot write";
}

void TestEphemerisProgram::badInput()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    // A run that got as far as writing must not leave azel.dat in the working folder.
    const QString scratch = m_dir.filePath(QStringLiteral("bad.dat"));
    if (!arguments.contains(QStringLiteral("--out")))
        arguments << QStringLiteral("--out") << scratch;
    const Run checked = runProgram(arguments);
    QVERIFY2(checked.exitCode > 0, qPrintable(QString::number(checked.exitCode)));
    QVERIFY2(checked.err.contains(message.toUtf8()), checked.err.constData());
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("bad.dat"))));
}

void TestEphemerisProgram::keepsRewriting()
{
    const QString out = m_dir.filePath(QStringLiteral("running.dat"));
    QProcess process;
    process.start(QStringLiteral(VESTREL_EPHEMERIS_PROGRAM),
                  {"--locator", "KP20", "--dx", "GG66", "--mhz", "1296.065", "--out", out, "--at",
                   "2026-10-03T16:48:00Z", "--rate", "30"});
    QVERIFY(process.waitForStarted());

    // The clock runs 30 times fast from 16:48:00: the time stamp must move on.
    QTRY_VERIFY_WITH_TIMEOUT(contentsOf(out).startsWith("16:48:"), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(contentsOf(out).startsWith("16:48:2") || contentsOf(out).startsWith("16:48:3"), 20000);
    QCOMPARE(process.state(), QProcess::Running);

    // Terminated, it ends cleanly and leaves only its file.
    process.terminate();
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("running.dat*")}, QDir::Files),
             QStringList {QStringLiteral("running.dat")});
}

QTEST_GUILESS_MAIN(TestEphemerisProgram)
#include "tst_ephemerisprogram.moc"
