// SPDX-License-Identifier: GPL-3.0-or-later
// The demo end to end: the simulated station, the real main window driven by
// the autopilot, the simulator's fault switches, and what is left afterwards.

#include "demotesting.h"

#include "ephemeris/ephemeriswriter.h"
#include "serial/serialenumerator.h"
#include "sim/simrotator.h"
#include "sim/simtransceiver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QDirIterator>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QtTest>

#include <cmath>
#include <csignal>

using namespace demotesting;

namespace {

// Pseudo-terminal descriptors this process holds (masters and slaves).
int openPtys()
{
    int count = 0;
    QDirIterator fds(QStringLiteral("/proc/self/fd"), QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    while (fds.hasNext()) {
        const QString target = QFileInfo(fds.next()).symLinkTarget();
        if (target == QLatin1String("/dev/ptmx") || target.startsWith(QLatin1String("/dev/pts/")))
            ++count;
    }
    return count;
}

// Processes whose parent is pid.
int childrenOf(qint64 pid)
{
    int count = 0;
    QDirIterator processes(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (processes.hasNext()) {
        QFile stat(processes.next() + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold spaces, so count from its end.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == pid)
            ++count;
    }
    return count;
}

// Hz away from what the file asks for: working frequency plus own-echo Doppler.
double offDoppler(DemoRun &run)
{
    const double wanted = run.window->workingFrequency() * 1e6 + run.station.ephemeris().lastSky().selfDopplerHz;
    return std::fabs(double(run.station.transceiver().frequency()) - wanted);
}

enum Fault { RotatorSilent, RotatorRefusing, RadioSilent, RadioGarbage, CableA, CableB };

} // namespace

Q_DECLARE_METATYPE(Fault)

class tst_Demo : public QObject
{
    Q_OBJECT

private slots:
    void autoDemoTracksTheMoonAndTheDoppler()
    {
        // 20 s a second: the Moon and the Doppler visibly move, yet slowly enough
        // that the azimuth (sent first) leaves cycles for the elevation.
        DemoRun run(20);
        QVERIFY2(run.started, qPrintable(run.station.errorString()));
        SimRotator &rotator = run.station.rotator();
        rotator.setSlewRates(20, 20);
        QVERIFY(run.w<QComboBox>("comboSerialNameA")->findText(run.station.portName(DemoStation::Rotator)) >= 0);
        QVERIFY(run.w<QComboBox>("comboSerialNameB")->findText(run.station.portName(DemoStation::Transceiver)) >= 0);
        QVERIFY(run.runAutopilot());
        QVERIFY(run.window->isTrackingActive());

        // The antenna goes to the Moon and stays on it.
        const auto onMoon = [&](double tolerance) {
            const SkySnapshot sky = run.station.ephemeris().lastSky();
            return std::fabs(rotator.presentAzimuth() - sky.moonAzimuth) < tolerance
                && std::fabs(rotator.presentElevation() - sky.moonElevation) < tolerance;
        };
        // (A command every other second per axis, and a moving Moon: never far behind.)
        QTRY_VERIFY_WITH_TIMEOUT(onMoon(1.0), 30000);
        const double firstAzimuth = rotator.commandedAzimuth();
        QTRY_VERIFY_WITH_TIMEOUT(rotator.commandedAzimuth() > firstAzimuth + 0.3, 20000);
        QVERIFY(onMoon(1.5));

        // The radio follows the Doppler as it changes.
        QTRY_VERIFY_WITH_TIMEOUT(offDoppler(run) <= 15, 20000);
        const quint32 first = run.station.transceiver().frequency();
        QTRY_VERIFY_WITH_TIMEOUT(std::abs(qint64(run.station.transceiver().frequency()) - qint64(first)) >= 10
                                     && offDoppler(run) <= 15,
                                 30000);

        // PTT: the transmit frequency takes the Doppler with the other sign.
        run.sim<QPushButton>("buttonPtt")->click();
        QVERIFY(run.station.transceiver().transmitting());
        QTRY_VERIFY_WITH_TIMEOUT(run.w<QLabel>("labelFreq")->text().startsWith(QLatin1String("T ")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(
            std::fabs(double(run.station.transceiver().frequency())
                      - (run.window->workingFrequency() * 1e6 - run.station.ephemeris().lastSky().selfDopplerHz))
                <= 15,
            20000);
    }

    void faultSwitches_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::newRow("rotator silent") << RotatorSilent;
        QTest::newRow("rotator refusing") << RotatorRefusing;
        QTest::newRow("radio silent") << RadioSilent;
        QTest::newRow("radio sending garbage") << RadioGarbage;
        QTest::newRow("cable pulled on port A") << CableA;
        QTest::newRow("cable pulled on port B") << CableB;
    }

    void faultSwitches()
    {
        QFETCH(Fault, fault);
        DemoRun run(60);
        QVERIFY2(run.started, qPrintable(run.station.errorString()));
        QVERIFY(run.runAutopilot());
        SimRotator &rotator = run.station.rotator();
        SimTransceiver &radio = run.station.transceiver();
        QTRY_VERIFY_WITH_TIMEOUT(rotator.commands().size() >= 2, 10000);

        switch (fault) {
        case RotatorSilent: {
            // The command goes out and is never answered: nothing more follows.
            run.sim<QCheckBox>("checkRotatorSilent")->click();
            QVERIFY(rotator.isSilent());
            QTRY_VERIFY_WITH_TIMEOUT(!run.window->pendingCommand().isEmpty(), 20000);
            const int sent = rotator.commands().size();
            for (int i = 0; i < 3; ++i)
                run.window->timerTimeout();
            QCOMPARE(rotator.commands().size(), sent);
            break;
        }
        case RotatorRefusing: {
            const double commanded = rotator.commandedAzimuth();
            run.sim<QCheckBox>("checkRotatorRefusing")->click();
            QTRY_VERIFY_WITH_TIMEOUT(run.log().contains(QLatin1String("Rotator error code: ERROR/LIMIT")), 20000);
            QCOMPARE(rotator.commandedAzimuth(), commanded);
            // The refusal frees the line: the next command goes out at once.
            const int sent = rotator.commands().size();
            QTRY_VERIFY_WITH_TIMEOUT(rotator.commands().size() > sent, 20000);
            break;
        }
        case RadioSilent: {
            // The display freezes: PTT does not show while the radio says nothing.
            run.sim<QCheckBox>("checkRadioSilent")->click();
            run.sim<QPushButton>("buttonPtt")->click();
            const int frames = radio.frames().size();
            QTRY_VERIFY_WITH_TIMEOUT(radio.frames().size() >= frames + 6, 10000);  // three more readouts asked
            QVERIFY(run.w<QLabel>("labelFreq")->text().startsWith(QLatin1String("R ")));
            run.sim<QCheckBox>("checkRadioSilent")->click();
            QTRY_VERIFY_WITH_TIMEOUT(run.w<QLabel>("labelFreq")->text().startsWith(QLatin1String("T ")), 10000);
            break;
        }
        case RadioGarbage:
            run.sim<QCheckBox>("checkRadioGarbage")->click();
            QTRY_VERIFY_WITH_TIMEOUT(run.log().contains(QLatin1String("Wrong status message: ee"))
                                         || run.log().contains(QLatin1String("Wrong frequency message: ee")),
                                     10000);
            break;
        case CableA:
        case CableB: {
            const bool a = fault == CableA;
            const DemoStation::Device device = a ? DemoStation::Rotator : DemoStation::Transceiver;
            const QString name = run.station.portName(device);
            QPushButton *cable = run.sim<QPushButton>(a ? "buttonCableA" : "buttonCableB");
            QLabel *status = run.w<QLabel>(a ? "labelSerialStatusA" : "labelSerialStatusB");
            cable->click();
            QTRY_VERIFY_WITH_TIMEOUT(run.log().contains(QStringLiteral("connection to %1 lost").arg(name)), 10000);
            QVERIFY(run.log().contains(a ? QLatin1String("Port A disconnected") : QLatin1String("Port B disconnected")));
            QCOMPARE(status->text(), QStringLiteral("Status: disconnected, waiting for %1 to return").arg(name));
            QVERIFY(run.sim<QLabel>(a ? "labelCableA" : "labelCableB")->text().endsWith(QLatin1String("cable pulled")));
            QVERIFY(!QFileInfo::exists(name));
            // The other port keeps tracking.
            QVERIFY(run.window->isTrackingActive());

            // Opening it now fails as with a real unplugged adapter.
            QPushButton *open = run.w<QPushButton>(a ? "buttonOpenSerialA" : "buttonOpenSerialB");
            open->click();
            QVERIFY(run.log().contains(QStringLiteral("connection to %1 failed").arg(name)));
            QCOMPARE(status->text(), QStringLiteral("Status: disconnected"));

            cable->click();  // plugged back: a new line behind the same name
            const QString newLine = run.station.linePath(device);
            QVERIFY(!newLine.isEmpty());
            QVERIFY(run.sim<QLabel>(a ? "labelCableA" : "labelCableB")->text().endsWith(newLine));
            QCOMPARE(QFileInfo(name).symLinkTarget(), newLine);
            open->click();
            QCOMPARE(status->text(), QStringLiteral("Status: connected"));
            if (a) {
                rotator.clearCommands();
                QTRY_VERIFY_WITH_TIMEOUT(!rotator.commands().isEmpty(), 10000);
            } else {
                radio.clearFrames();
                QTRY_VERIFY_WITH_TIMEOUT(run.w<QLabel>("labelFreq")->text().startsWith(QLatin1String("R 432.06")),
                                         10000);
                QVERIFY(!radio.frames().isEmpty());
            }
            break;
        }
        }
    }

    // The station core reads the sky's time from the demo too: a file written
    // for 10:00 UTC is not stale for it, though at 20x a second between
    // reading and checking is 20 s of the file's time, and its panel shows
    // that time.
    void stationRunsOnTheDemoClock()
    {
        DemoRun run(20);
        QVERIFY2(run.started, qPrintable(run.station.errorString()));
        QVERIFY(run.runAutopilot());
        TrackingControl &control = run.window->station();
        QTRY_VERIFY(control.lastRecordTime().isValid());
        QSignalSpy ticks(&control, &TrackingControl::ticked);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 5, 15000);  // the data's age checked each time
        QVERIFY2(!run.log().contains(QLatin1String("tracking data stale")), qPrintable(run.log()));
        const QString utc = run.w<QLabel>("labelPanelUtc")->text();
        QVERIFY2(utc.startsWith(QLatin1String("UTC 2026-12-07 10:")), qPrintable(utc));
    }

    // "Calibrate... › Sun › Cross-scan" as --demo-auto --demo-sun does it,
    // on the real speed's clock: the scan finds the simulated antenna's
    // hidden pointing error through the tracking file's Sun (given to a
    // tenth of a degree), and Apply puts its opposite into the window's
    // offsets and store.cfg. The antenna is on the Sun before and after,
    // with the Moon up or down: the rotator refuses nothing. On 24 December
    // 2026 the Moon is full (at 01:28 UTC), opposite the Sun and down by day.
    void demoCalibratesOnTheSun_data()
    {
        QTest::addColumn<QDateTime>("start");
        QTest::addColumn<bool>("moonUp");
        QTest::newRow("the Moon up") << sunUp() << true;
        QTest::newRow("the Moon down") << QDateTime(QDate(2026, 12, 24), QTime(10, 30), Qt::UTC) << false;
    }
    void demoCalibratesOnTheSun()
    {
        QFETCH(QDateTime, start);
        QFETCH(bool, moonUp);
        DemoRun run(1.0, start, true);
        QVERIFY2(run.started, qPrintable(run.station.errorString()));
        // Steps of half a beam heard half a second each, a rotator ten
        // times as fast: a minute's scan instead of the operator's five
        // (scripts/bench.sh runs that one).
        run.station.rotator().setSlewRates(20, 20);
        run.w<QDoubleSpinBox>("spinSlew")->setValue(20);
        run.w<QDoubleSpinBox>("spinStep")->setValue(0.5);
        run.w<QDoubleSpinBox>("spinDwell")->setValue(0.5);
        QVERIFY2(run.runAutopilot(180000), qPrintable(run.log()));
        const double azimuth = run.w<QLineEdit>("lineAzimutOffset")->text().toDouble();
        const double elevation = run.w<QLineEdit>("lineElevationOffset")->text().toDouble();
        QVERIFY2(std::fabs(azimuth + DemoStation::hiddenAzimuthOffset) < 0.1, qPrintable(QString::number(azimuth)));
        QVERIFY2(std::fabs(elevation + DemoStation::hiddenElevationOffset) < 0.1, qPrintable(QString::number(elevation)));
        SettingsFile store;
        QCOMPARE(store.readAzimutOffset(), float(azimuth));
        QVERIFY2(run.log().contains(QLatin1String("calibration applied")), qPrintable(run.log()));
        QCOMPARE(run.window->station().target(), TrackingTarget::Sun);
        const SkySnapshot sky = run.station.ephemeris().lastSky();
        QVERIFY(sky.sunElevation > 10);
        QCOMPARE(sky.moonElevation > 0, moonUp);
        QTRY_VERIFY_WITH_TIMEOUT(std::fabs(run.station.rotator().commandedElevation() - sky.sunElevation) < 1.5, 20000);
        QCOMPARE(run.station.rotator().refusedCount(), 0);
    }

    void startWritesTheTrackingFileOnce()
    {
        DemoStation station;
        QSignalSpy written(&station.ephemeris(), &EphemerisWriter::written);
        DemoStation::Settings settings;
        settings.startUtc = moonUp();
        settings.clockRate = 0;  // the next write a whole real second away
        QVERIFY2(station.start(settings), qPrintable(station.errorString()));
        QCOMPARE(written.count(), 1);
    }

    void closingLeavesNothingBehind()
    {
        const QString before = QDir::currentPath();
        const int ptys = openPtys();
        QString directory;
        {
            DemoRun run;
            QVERIFY2(run.started, qPrintable(run.station.errorString()));
            directory = run.station.workingDirectory();
            QCOMPARE(QDir::currentPath(), directory);
            QVERIFY(QFileInfo::exists(directory + QStringLiteral("/store.cfg")));
            QVERIFY(QFileInfo::exists(run.station.dataFilePath()));
            QVERIFY(run.runAutopilot());
            QVERIFY(openPtys() > ptys);
        }
        QCOMPARE(openPtys(), ptys);
        QCOMPARE(QDir::currentPath(), before);
        QVERIFY(!QFileInfo::exists(directory));
        QVERIFY(!SerialEnumerator::portNames().join(QLatin1Char(' ')).contains(directory));
    }

    void programEndsCleanlyOnTerminate_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("ready");
        QTest::newRow("demo") << "--demo" << "tracking data file";
        QTest::newRow("demo-auto") << "--demo-auto" << "Demo: station running";
    }

    void programEndsCleanlyOnTerminate()
    {
        QFETCH(QString, option);
        QFETCH(QString, ready);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::SeparateChannels);
        program.start(QStringLiteral(VESTREL_PROGRAM), {option});
        QVERIFY(program.waitForStarted(10000));
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += program.readAllStandardOutput()).contains(ready.toUtf8()), 60000);

        const QString firstLine = QString::fromUtf8(out.left(out.indexOf('\n')));
        const QString directory = firstLine.section(QLatin1Char(' '), -1);
        QVERIFY2(firstLine.startsWith(QLatin1String("Demo station in /")), qPrintable(firstLine));
        QVERIFY(QFileInfo(directory).isDir());
        QVERIFY(QFileInfo(directory + QStringLiteral("/rotator")).isSymLink());

        QCOMPARE(childrenOf(program.processId()), 0);

        ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(30000));
        out += program.readAllStandardOutput();
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(out.endsWith("Demo station closed\n"));
        QVERIFY(!QFileInfo::exists(directory));
    }
};

QTEST_MAIN(tst_Demo)
#include "tst_demo.moc"
