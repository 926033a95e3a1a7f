// SPDX-License-Identifier: GPL-3.0-or-later
// The "Station simulator" window: its sky plot's geometry and what its
// controls do to the simulated station.

#include "demotesting.h"

#include "ui/skyplot.h"
#include "ephemeris/ephemeriswriter.h"
#include "serial/serialport.h"
#include "sim/simrotator.h"
#include "sim/simtransceiver.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

using namespace demotesting;

class tst_StationSimulator : public QObject
{
    Q_OBJECT

private slots:
    void skyPlotProjection_data()
    {
        QTest::addColumn<double>("azimuth");
        QTest::addColumn<double>("elevation");
        QTest::addColumn<QPointF>("expected");
        // Centre (100, 100), horizon radius 90: one pixel a degree of elevation.
        QTest::newRow("north on the horizon is up") << 0.0 << 0.0 << QPointF(100, 10);
        QTest::newRow("east is right") << 90.0 << 0.0 << QPointF(190, 100);
        QTest::newRow("south is down") << 180.0 << 0.0 << QPointF(100, 190);
        QTest::newRow("west is left") << 270.0 << 0.0 << QPointF(10, 100);
        QTest::newRow("zenith is the centre") << 123.0 << 90.0 << QPointF(100, 100);
        QTest::newRow("30 degrees up in the east") << 90.0 << 30.0 << QPointF(160, 100);
        QTest::newRow("below the horizon stays on it") << 180.0 << -20.0 << QPointF(100, 190);
        QTest::newRow("past the zenith stays there") << 0.0 << 95.0 << QPointF(100, 100);
        QTest::newRow("450 is east, in the overlap") << 450.0 << 0.0 << QPointF(190, 100);
        QTest::newRow("negative azimuth is west of north") << -90.0 << 0.0 << QPointF(10, 100);
    }

    void skyPlotProjection()
    {
        QFETCH(double, azimuth);
        QFETCH(double, elevation);
        QFETCH(QPointF, expected);
        const QPointF at = SkyPlot::project(azimuth, elevation, QPointF(100, 100), 90);
        QVERIFY2(std::abs(at.x() - expected.x()) < 1e-9 && std::abs(at.y() - expected.y()) < 1e-9,
                 qPrintable(QStringLiteral("(%1, %2)").arg(at.x()).arg(at.y())));
    }

    void pttReachesRadioAndFile()
    {
        DemoRun run;
        QVERIFY2(run.started, qPrintable(run.station.errorString()));
        const auto lastLine = [&run] {
            QFile file(run.station.dataFilePath());
            return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().split('\n').last() : QByteArray();
        };
        QVERIFY(lastLine().endsWith(", R"));
        QPushButton *ptt = run.sim<QPushButton>("buttonPtt");
        ptt->click();
        QVERIFY(run.station.transceiver().transmitting());
        QVERIFY(lastLine().endsWith(", T"));  // at once, not at the next second
        run.simulator->refresh();
        QCOMPARE(run.sim<QLabel>("labelRadioState")->text(), QStringLiteral("Transmitting"));
        ptt->click();
        QVERIFY(!run.station.transceiver().transmitting());
        QVERIFY(lastLine().endsWith(", R"));
    }

    void showsWhatTheStationDoes()
    {
        DemoRun run;
        QVERIFY2(run.started, qPrintable(run.station.errorString()));
        run.station.transceiver().setFrequency(144'300'010);
        run.simulator->refresh();
        QCOMPARE(run.sim<QLabel>("labelRadioFrequency")->text(), QStringLiteral("144.30001 MHz"));
        QCOMPARE(run.sim<QLabel>("labelAntennaPresent")->text(), QStringLiteral("Pointing: az 90.0°, el 10.0°"));
        QVERIFY(run.sim<QLabel>("labelTarget")->text().startsWith(QLatin1String("Moon: az 18")));
        QVERIFY(run.sim<QLabel>("labelClock")->text().startsWith(QLatin1String("UTC: 2026-12-07 10:00")));

        // The target is the one the main window tracks.
        run.window->findChild<QAction *>(QStringLiteral("actionRotSun"))->trigger();
        run.simulator->refresh();
        QVERIFY(run.sim<QLabel>("labelTarget")->text().startsWith(QLatin1String("Sun: az ")));
        run.window->findChild<QAction *>(QStringLiteral("actionRotSource"))->trigger();
        run.simulator->refresh();
        QCOMPARE(run.sim<QLabel>("labelTarget")->text(), QStringLiteral("Source: no position"));
    }

    // One clock for the whole station: the simulator says when it is not the
    // real one, and the antenna turns on it as the sky moves on it.
    void demoClockIsShownAndTurnsTheAntenna()
    {
        {
            DemoStation realTime;
            QVERIFY2(realTime.start(), qPrintable(realTime.errorString()));
            StationSimulator simulator(realTime, nullptr);
            QVERIFY(!simulator.findChild<QLabel *>(QStringLiteral("labelSimulatedTime"))->isVisibleTo(&simulator));
        }

        DemoRun run(20);
        QVERIFY2(run.started, qPrintable(run.station.errorString()));
        run.simulator->refresh();
        auto *simulated = run.sim<QLabel>("labelSimulatedTime");
        QVERIFY(simulated->isVisibleTo(run.simulator.get()));
        QVERIFY2(simulated->text().startsWith(QStringLiteral("simulated time, 20×, 2026-12-07 10:0")),
                 qPrintable(simulated->text()));

        // 40 degrees at the rotator's 2 degrees a second: 20 s of the demo's
        // clock, 1 s of real time (the real clock would take 20 s).
        SerialPort line(run.station.linePath(DemoStation::Rotator));
        QVERIFY(line.open(QIODevice::ReadWrite));
        line.write("&* AZ=130.00\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(run.station.rotator().presentAzimuth(), 130.0, 8000);
    }

    void cableButtons_data()
    {
        QTest::addColumn<int>("device");
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<QByteArray>("label");
        QTest::newRow("port A") << int(DemoStation::Rotator) << QByteArray("buttonCableA") << QByteArray("labelCableA");
        QTest::newRow("port B") << int(DemoStation::Transceiver) << QByteArray("buttonCableB")
                                << QByteArray("labelCableB");
    }

    void cableButtons()
    {
        QFETCH(int, device);
        QFETCH(QByteArray, button);
        QFETCH(QByteArray, label);
        DemoRun run;
        QVERIFY2(run.started, qPrintable(run.station.errorString()));
        const auto which = DemoStation::Device(device);
        const QString name = run.station.portName(which);
        QPushButton *cable = run.sim<QPushButton>(button.constData());
        QLabel *shown = run.sim<QLabel>(label.constData());
        QVERIFY(shown->text().endsWith(QStringLiteral("%1 on %2").arg(name, run.station.linePath(which))));
        QCOMPARE(QFileInfo(name).symLinkTarget(), run.station.linePath(which));

        cable->click();
        QVERIFY(run.station.isCablePulled(which));
        QVERIFY(run.station.linePath(which).isEmpty());
        QVERIFY(shown->text().endsWith(QLatin1String("cable pulled")));
        QVERIFY(cable->text().startsWith(QLatin1String("Plug cable")));
        QVERIFY(!QFileInfo(name).isSymLink());

        cable->click();
        QVERIFY(!run.station.isCablePulled(which));
        QVERIFY(cable->text().startsWith(QLatin1String("Pull cable")));
        QVERIFY(shown->text().endsWith(run.station.linePath(which)));
        QCOMPARE(QFileInfo(name).symLinkTarget(), run.station.linePath(which));
    }
};

QTEST_MAIN(tst_StationSimulator)
#include "tst_stationsimulator.moc"
