// SPDX-License-Identifier: GPL-3.0-or-later
// The rotator geometry end to end: the simulated "&*" controller on a
// pseudo-terminal with its stops, and the real rotctld started with its
// limits, both driven through the planner by the station core.

#include "fixedsource.h"
#include "hamlibtesting.h"
#include "sim/simrotator.h"
#include "station/trackingcontrol.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

class tst_CoreRotatorGeometry : public QObject
{
    Q_OBJECT

    struct Core {
        Core()
        {
            QDir::setCurrent(dir.path());
            station.setTrackingSource(std::make_unique<FixedSource>(&record));
            station.setClock([this] { return now; });
            station.setTimes(600, 60000);  // repetitions by hand
            QObject::connect(&station, &TrackingControl::message, [this](const QString &t) { log << t; });
        }
        // One repetition and, for the serial controller, the one after the answer.
        void repeat()
        {
            for (int axis = 0; axis < 2; ++axis) {
                station.repetition();
                QTRY_VERIFY(station.steering().pending.isEmpty());
            }
        }
        QTemporaryDir dir;
        TrackingRecord record;
        QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(3, 0), Qt::UTC);
        QStringList log;
        TrackingControl station;
    };

private slots:

    // Two points at one azimuth leave the mask's elevation there to chance:
    // refused with the points named, where the operator types the mask; 360
    // is north again. Points close together, or one anywhere, are taken.
    void maskWithOneAzimuthTwice_data()
    {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("problem");
        QTest::newRow("0:5 0:7") << "0:5 0:7" << "points 1 and 2: both at azimuth 0";
        QTest::newRow("north twice") << "0:5 90:3 360:7" << "points 1 and 3: both at azimuth 0";
        QTest::newRow("written two ways") << "90:5 180:2 90.0:7" << "points 1 and 3: both at azimuth 90";
        QTest::newRow("the same point twice") << "45:3 45:3" << "";
        QTest::newRow("closed at 360 as opened") << "0:5 90:3 360:5" << "";
        QTest::newRow("a tenth apart") << "0:5 0.1:7" << "";
        QTest::newRow("one point") << "360:4" << "";
    }
    void maskWithOneAzimuthTwice()
    {
        QFETCH(QString, mask);
        QFETCH(QString, problem);
        QCOMPARE(RotatorGeometry::maskProblem(mask), problem);
        QCOMPARE(RotatorGeometry::parseMask(mask).has_value(), problem.isEmpty());
    }

    // A mask that geometry.cfg kept before such masks were refused is not
    // lost at the upgrade: the higher elevation holds at the doubled azimuth,
    // so the antenna goes no lower than the operator once allowed.
    void storedMaskKept_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("read");
        QTest::newRow("north twice") << "0:5 90:3 360:7" << "0:7 90:3";
        QTest::newRow("one azimuth twice") << "90:5 180:2 90:7" << "90:7 180:2";
        QTest::newRow("closed at 360") << "0:5 90:3 360:5" << "0:5 90:3";
        QTest::newRow("a point not a number") << "0:5 90:x" << "";
    }
    void storedMaskKept()
    {
        QFETCH(QString, stored);
        QFETCH(QString, read);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("geometry.cfg"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("horizon mask: '" + stored.toUtf8() + "'\n");
        file.close();
        QCOMPARE(RotatorGeometry::read(path).maskText(), read);
    }
    // A target moving west through north on a 0..450 rotator: the upper turn
    // is taken, the commands beyond 360 go as written, and none is refused by
    // the controller's stops; below the horizon the antenna waits at 0 (or,
    // told to hold, is not moved at all) instead of being sent below it.
    void serialThroughNorth_data()
    {
        QTest::addColumn<bool>("hold");
        QTest::newRow("nearest") << false;
        QTest::newRow("hold") << true;
    }
    void serialThroughNorth()
    {
        QFETCH(bool, hold);
        Core core;
        SimRotator rotator;
        rotator.setLimits(0, 450, 0, 90);
        RotatorGeometry geometry;
        geometry.azimuthRange = RotatorGeometry::AzimuthRange::From0To450;
        geometry.elevationRange = RotatorGeometry::ElevationRange::From0To90;
        geometry.outOfReach = hold ? RotatorGeometry::OutOfReach::Hold : RotatorGeometry::OutOfReach::Nearest;
        core.station.setRotatorGeometry(geometry);
        QVERIFY(QFile::exists(QStringLiteral("geometry.cfg")));
        core.record.azimuth = 12;
        core.record.elevation = 20;
        core.station.setAuto(StationPort::A, true);
        QVERIFY(core.station.open(StationPort::A, rotator.slavePath(), {}, false));
        QTRY_VERIFY(core.station.steering().pending.isEmpty());
        for (int minute = 1; minute <= 10; ++minute) {
            core.now = core.now.addSecs(60);
            core.record.azimuth = std::fmod(12.0 - 2.0 * minute + 360.0, 360.0);
            core.repeat();
        }
        QCOMPARE(rotator.refusedCount(), 0);
        QVERIFY(rotator.commands().contains(QStringLiteral("&* AZ=352.00")));  // 12 - 20, on the upper turn
        QVERIFY(rotator.commands().contains(QStringLiteral("&* AZ=370.00")));
        QCOMPARE(core.station.planner().unwinds(), 0);

        // Set: nothing below the stop, and nothing sent again each repetition.
        core.record.elevation = -0.2;
        rotator.clearCommands();
        for (int i = 0; i < 5; ++i)
            core.repeat();
        QCOMPARE(rotator.commands(), hold ? QStringList() : QStringList {QStringLiteral("&* EL=000.00")});
        QCOMPARE(core.station.pointingNote(), QStringLiteral("target below the elevation stop"));
        QCOMPARE(rotator.refusedCount(), 0);
        core.station.closeAll();
    }

    // The real rotctld started with narrow limits: the station reads them
    // from "\dump_state" and keeps to them with the default geometry; a
    // target below them is sent once at the lowest elevation it allows,
    // not refused every repetition.
    void rotctldLimits()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("rotctld")).isEmpty())
            QSKIP("rotctld is not installed (Debian package libhamlib-utils)");
        hamlibtesting::Daemon rot(QStringLiteral("rotctld"),
                                  {QStringLiteral("-m"), QStringLiteral("1"),
                                   QStringLiteral("--set-conf=min_az=-180,max_az=180,min_el=5,max_el=85")});
        QVERIFY(rot.start());
        Core core;
        core.station.enterElevationOffset(QStringLiteral("debug"));
        core.record.azimuth = 227.8;
        core.record.elevation = -0.2;
        core.station.setNetwork(StationPort::A, true);
        QVERIFY(core.station.open(StationPort::A, rot.address(), {}, false));
        QTRY_VERIFY(core.station.portSession(StationPort::A).open);
        const auto *link = static_cast<RotatorLink *>(core.station.portSession(StationPort::A).link);
        QTRY_VERIFY(link->travel());
        QCOMPARE(link->travel()->minElevation, 5.0);
        QCOMPARE(link->travel()->maxAzimuth, 180.0);

        core.station.setAuto(StationPort::A, true);  // the first cycle
        const QString sent = QStringLiteral("--sending to %1: P -132.20 5.00").arg(rot.address());
        QTRY_VERIFY(core.log.contains(sent));
        QTRY_VERIFY(core.station.steering().pending.isEmpty());
        for (int i = 0; i < 4; ++i) {
            core.now = core.now.addSecs(2);
            core.repeat();
        }
        // The azimuth's step and the elevation's, one per cycle as on the serial line; then nothing.
        QCOMPARE(core.log.filter(QStringLiteral(": P ")), (QStringList {sent, sent}));
        QVERIFY(core.log.filter(QStringLiteral("Rotator error code")).isEmpty());
        QCOMPARE(core.station.pointingNote(), QStringLiteral("target below the elevation stop"));

        // Narrower stops of the operator's own are kept to as well.
        RotatorGeometry geometry;
        geometry.elevationRange = RotatorGeometry::ElevationRange::From0To90;
        geometry.horizonMask = {{0, 10}};
        core.station.setRotatorGeometry(geometry);
        core.record.elevation = 8;
        core.repeat();
        QTRY_VERIFY(core.log.contains(QStringLiteral("--sending to %1: P -132.20 10.00").arg(rot.address())));
        core.station.closeAll();
    }
};

QTEST_GUILESS_MAIN(tst_CoreRotatorGeometry)
#include "tst_corerotatorgeometry.moc"
