// SPDX-License-Identifier: GPL-3.0-or-later
// The rotator geometry's rules: stops, mask, hold or nearest, the wrap and
// side of the zenith chosen for a pass, lead, quiet seconds and transmitting.
// Geometries are written as geometry.cfg lines, so the file's reading is in
// every row.

#include "station/pointingplanner.h"
#include "station/rotatorsteering.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cmath>

namespace {

RotatorGeometry geometryOf(const QString &lines)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("geometry.cfg"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    for (const QString &line : lines.split(QLatin1Char('|'), Qt::SkipEmptyParts))
        file.write(line.trimmed().toUtf8() + "\n");
    file.close();
    return RotatorGeometry::read(path);
}

const QDateTime start(QDate(2026, 12, 22), QTime(3, 0, 20), Qt::UTC);

// Synthetic passes, degrees against seconds from the start (8 hours up).
Direction passAt(const QString &name, double seconds)
{
    const double f = seconds / (8 * 3600.0);
    const double el = 60.0 * std::sin(M_PI * f);
    if (name == QLatin1String("through north"))  // as from the southern hemisphere
        return {std::fmod(100.0 - 200.0 * f + 360.0, 360.0), el};
    if (name == QLatin1String("east then back"))  // azimuth turns round after an hour
        return {std::fmod((f < 0.125 ? 30.0 + 50.0 * f / 0.125 : 80.0 - 140.0 * (f - 0.125) / 0.875) + 360.0, 360.0),
                el};
    return {90.0 + 180.0 * f, el};  // "through south"
}

} // namespace

class tst_CorePointingPlanner : public QObject
{
    Q_OBJECT

private slots:
    // One command from one or two targets 30 s apart (the second gives the
    // motion); the second one is planned.
    void command_data()
    {
        QTest::addColumn<QString>("geometry");
        QTest::addColumn<QString>("travel");  // "min_az max_az min_el max_el" from the rotator, or empty
        QTest::addColumn<double>("azFrom");   // the target 30 s before
        QTest::addColumn<double>("az");
        QTest::addColumn<double>("el");
        QTest::addColumn<int>("second");      // of the minute, at the planned one
        QTest::addColumn<bool>("transmitting");
        QTest::addColumn<bool>("move");
        QTest::addColumn<double>("wantAz");
        QTest::addColumn<double>("wantEl");
        QTest::addColumn<QString>("note");

        const QString e90 = QStringLiteral("elevation range: '0 to 90'|");
        QTest::newRow("default: as given, below the horizon too")
            << QString() << QString() << 227.8 << 227.8 << -0.2 << 10 << false << true << 227.8 << -0.2 << QString();
        QTest::newRow("default: beyond 360 and over 90 as given")
            << QString() << QString() << 500.0 << 500.0 << 95.0 << 10 << false << true << 500.0 << 95.0 << QString();
        QTest::newRow("below the elevation stop: nearest")
            << e90 << QString() << 227.8 << 227.8 << -0.2 << 10 << false << true << 227.8 << 0.0
            << "below the elevation stop";
        QTest::newRow("below the elevation stop: hold")
            << e90 + "out of reach: 'hold'" << QString() << 227.8 << 227.8 << -0.2 << 10 << false << false << 0.0
            << 0.0 << "below the elevation stop";
        QTest::newRow("rotctld's travel, target below it: nearest")
            << QString() << "-180 450 0 90" << 227.8 << 227.8 << -0.2 << 10 << false << true << 227.8 << 0.0
            << "below the elevation stop";
        QTest::newRow("rotctld's travel: azimuth as given within it")
            << QString() << "-180 450 0 90" << 20.0 << 20.0 << 30.0 << 10 << false << true << 20.0 << 30.0 << QString();
        QTest::newRow("rotctld's travel: above its elevation")
            << QString() << "-180 450 0 90" << 123.5 << 123.5 << 100.0 << 10 << false << true << 123.5 << 90.0
            << "above the elevation stop";
        QTest::newRow("rotctld's travel: a turn of it when beyond")
            << QString() << "0 360 0 90" << -10.0 << -10.0 << 30.0 << 10 << false << true << 350.0 << 30.0
            << QString();
        QTest::newRow("mask: raised to it, interpolated")
            << e90 + "horizon mask: '0:5 180:15'" << QString() << 90.0 << 90.0 << 8.0 << 10 << false << true << 90.0
            << 10.0 << "horizon mask";
        QTest::newRow("mask: between the last point and north")
            << e90 + "horizon mask: '0:5 180:15'" << QString() << 270.0 << 270.0 << 12.0 << 10 << false << true
            << 270.0 << 12.0 << QString();
        QTest::newRow("mask: hold")
            << e90 + "horizon mask: '0:5 180:15'|out of reach: 'hold'" << QString() << 90.0 << 90.0 << 8.0 << 10
            << false << false << 0.0 << 0.0 << "horizon mask";
        QTest::newRow("stops with a gap: the nearer stop")
            << "azimuth range: 'custom'|azimuth stop low: '20'|azimuth stop high: '340'" << QString() << 5.0 << 5.0
            << 30.0 << 10 << false << true << 20.0 << 30.0 << "beyond the azimuth stops";
        QTest::newRow("stops with a gap: hold")
            << "azimuth range: 'custom'|azimuth stop low: '20'|azimuth stop high: '340'|out of reach: 'hold'"
            << QString() << 355.0 << 355.0 << 30.0 << 10 << false << false << 0.0 << 0.0 << "beyond the azimuth stops";
        QTest::newRow("-180..180: west as negative")
            << "azimuth range: '-180 to 180'" << QString() << 227.8 << 227.8 << 20.0 << 10 << false << true << -132.2
            << 20.0 << QString();
        QTest::newRow("0..450 moving east: the lower turn")
            << "azimuth range: '0 to 450'" << QString() << 44.0 << 45.0 << 20.0 << 10 << false << true << 45.0 << 20.0
            << QString();
        QTest::newRow("0..450 moving west: the upper turn")
            << "azimuth range: '0 to 450'" << QString() << 46.0 << 45.0 << 20.0 << 10 << false << true << 405.0
            << 20.0 << QString();
        QTest::newRow("0..450 narrowed by rotctld's 0..360")
            << "azimuth range: '0 to 450'" << "0 360 0 90" << 46.0 << 45.0 << 20.0 << 10 << false << true << 45.0
            << 20.0 << "azimuth stop in 22 min";
        QTest::newRow("0..360 moving west through north: over the top")
            << "azimuth range: '0 to 360'|elevation range: '0 to 180'" << QString() << 11.0 << 10.0 << 20.0 << 10
            << false << true << 190.0 << 160.0 << QString();
        QTest::newRow("lead: half a repetition, the travel and half the band")
            << "lead: 'yes'" << QString() << 100.0 << 100.3 << 20.0 << 10 << false << true << 100.3605 << 20.0
            << QString();
        QTest::newRow("quiet seconds: outside")
            << "quiet seconds: 'yes'|quiet from: '50'|quiet to: '59'" << QString() << 100.0 << 100.0 << 20.0 << 30
            << false << false << 0.0 << 0.0 << "waiting for seconds 50-59";
        QTest::newRow("quiet seconds: inside")
            << "quiet seconds: 'yes'|quiet from: '50'|quiet to: '59'" << QString() << 100.0 << 100.0 << 20.0 << 55
            << false << true << 100.0 << 20.0 << QString();
        QTest::newRow("quiet seconds across the minute")
            << "quiet seconds: 'yes'|quiet from: '58'|quiet to: '2'" << QString() << 100.0 << 100.0 << 20.0 << 1
            << false << true << 100.0 << 20.0 << QString();
        QTest::newRow("transmitting: held")
            << "still while transmitting: 'yes'" << QString() << 100.0 << 100.0 << 20.0 << 10 << true << false << 0.0
            << 0.0 << "transmitting";
        QTest::newRow("transmitting without the option: moves")
            << e90 << QString() << 100.0 << 100.0 << 20.0 << 10 << true << true << 100.0 << 20.0 << QString();
    }
    void command()
    {
        QFETCH(QString, geometry);
        QFETCH(QString, travel);
        QFETCH(double, azFrom);
        QFETCH(double, az);
        QFETCH(double, el);
        QFETCH(int, second);
        QFETCH(bool, transmitting);
        QFETCH(bool, move);
        QFETCH(double, wantAz);
        QFETCH(double, wantEl);
        QFETCH(QString, note);

        PointingPlanner planner;
        planner.setGeometry(geometryOf(geometry));
        if (!travel.isEmpty()) {
            const QStringList v = travel.split(QLatin1Char(' '));
            planner.setTravel(RotatorTravel {v[0].toDouble(), v[1].toDouble(), v[2].toDouble(), v[3].toDouble()});
        }
        const QDateTime at = start.addSecs(second - start.time().second());
        PointingPlanner::Situation s;
        s.transmitting = transmitting;
        s.now = at.addSecs(-30);
        s.target = {azFrom, el};
        // The earlier one is planned only to give the motion; the quiet
        // seconds and transmitting would hold it alike.
        planner.plan(s);
        s.now = at;
        s.target = {az, el};
        const PointingPlanner::Command c = planner.plan(s);
        QCOMPARE(c.move, move);
        if (move) {
            QVERIFY2(std::fabs(c.position.azimuth - wantAz) < 1e-3, qPrintable(QString::number(c.position.azimuth, 'f', 4)));
            QVERIFY2(std::fabs(c.position.elevation - wantEl) < 1e-3, qPrintable(QString::number(c.position.elevation, 'f', 4)));
        }
        if (note.isEmpty())
            QCOMPARE(c.note, QString());
        else
            QVERIFY2(c.note.contains(note), qPrintable(c.note));
    }

    // A whole pass, planned each minute: never beyond the stops, and an
    // unwind only where no choice at the rise avoids one.
    void pass_data()
    {
        QTest::addColumn<QString>("geometry");
        QTest::addColumn<QString>("pass");
        QTest::addColumn<bool>("ahead");  // the source computes the pass ahead
        QTest::addColumn<int>("unwinds");
        QTest::addColumn<bool>("flipped");
        QTest::addColumn<QString>("note");  // said during the pass

        const QString r360 = QStringLiteral("azimuth range: '0 to 360'|elevation range: '0 to 90'");
        const QString flip = QStringLiteral("azimuth range: '0 to 360'|elevation range: '0 to 180'");
        const QString r450 = QStringLiteral("azimuth range: '0 to 450'|elevation range: '0 to 90'");
        const QString r180 = QStringLiteral("azimuth range: '-180 to 180'|elevation range: '0 to 90'");
        QTest::newRow("0..360 through south") << r360 << "through south" << true << 0 << false << QString();
        QTest::newRow("0..360 through north: one unwind, said ahead")
            << r360 << "through north" << true << 1 << false << "the pass needs an unwind at 07:0";
        QTest::newRow("0..360 through north, file: one unwind, said")
            << r360 << "through north" << false << 1 << false << "azimuth stop in";
        QTest::newRow("-180..180 through south: one unwind")
            << r180 << "through south" << true << 1 << false << "the pass needs an unwind";
        QTest::newRow("over the top through north") << flip << "through north" << true << 0 << true << QString();
        QTest::newRow("over the top through north, file") << flip << "through north" << false << 0 << true << QString();
        QTest::newRow("0..450 east then back: the pass ahead")
            << r450 << "east then back" << true << 0 << false << QString();
        QTest::newRow("0..450 east then back, file: the motion misleads")
            << r450 << "east then back" << false << 1 << false << "azimuth stop in";
    }
    void pass()
    {
        QFETCH(QString, geometry);
        QFETCH(QString, pass);
        QFETCH(bool, ahead);
        QFETCH(int, unwinds);
        QFETCH(bool, flipped);
        QFETCH(QString, note);

        PointingPlanner planner;
        planner.setGeometry(geometryOf(geometry));
        const auto az = planner.azimuthStops();
        const auto el = planner.elevationStops();
        QVERIFY(az && el);
        QStringList notes;
        for (int t = 60; t < 8 * 3600; t += 60) {
            PointingPlanner::Situation s;
            s.now = start.addSecs(t);
            s.target = passAt(pass, t);
            if (ahead)
                s.ahead = [&pass, t](double seconds) { return std::optional<Direction>(passAt(pass, t + seconds)); };
            const PointingPlanner::Command c = planner.plan(s);
            QVERIFY(c.move);
            if (!c.note.isEmpty())
                notes << c.note;
            if (t == 300)  // from a file: once the motion is known
                QCOMPARE(planner.flipped(), flipped);
            QVERIFY2(c.position.azimuth >= az->first && c.position.azimuth <= az->second,
                     qPrintable(QStringLiteral("az %1 at %2 s").arg(c.position.azimuth).arg(t)));
            QVERIFY(c.position.elevation >= el->first && c.position.elevation <= el->second);
            // It points at the target, on whichever side, or waits at a stop a degree from it.
            const double back = c.position.elevation > 90 ? c.position.azimuth - 180 : c.position.azimuth;
            QVERIFY(std::fabs(std::remainder(back - s.target.azimuth, 360.0)) <= 1.0);
        }
        QCOMPARE(planner.unwinds(), unwinds);
        if (note.isEmpty())
            QCOMPARE(notes, QStringList());
        else
            QVERIFY2(!notes.filter(note).isEmpty(), qPrintable(notes.join(QLatin1Char('/'))));
    }

    // Waiting for the rise, the wrap is looked at again every 10 minutes: the
    // pass ahead is computed once and then only its new end, a few positions
    // of the sky each repetition at most.
    void passAheadComputedOnce()
    {
        PointingPlanner planner;
        planner.setGeometry(geometryOf(QStringLiteral("azimuth range: '0 to 450'|horizon mask: '0:5 180:5'")));
        int asked = 0;
        int most = 0;
        for (int t = 0; t < 3600; t += 2) {
            PointingPlanner::Situation s;
            s.now = start.addSecs(t);
            s.target = passAt(QStringLiteral("through south"), t - 1800);
            s.ahead = [&asked, t](double seconds) {
                ++asked;
                return std::optional<Direction>(passAt(QStringLiteral("through south"), t - 1800 + seconds));
            };
            asked = 0;
            QVERIFY(planner.plan(s).move);
            if (t > 0)
                most = std::max(most, asked);
        }
        QVERIFY2(most <= 2, qPrintable(QString::number(most)));
        QCOMPARE(planner.unwinds(), 0);
    }

    // A new target while the antenna points somewhere: it is aimed at once,
    // from the part of the pass computed so far, on the turn the whole pass
    // then keeps, never heading for one turn and then swinging a whole turn
    // to the other. The pass ahead is slow to compute here (a fifth of a
    // millisecond a point, as the Moon's can be).
    void wrapChosenBeforeTheAntennaMoves()
    {
        PointingPlanner planner;
        planner.setGeometry(geometryOf(QStringLiteral("azimuth range: '0 to 450'")));
        const auto situation = [](const QString &pass, int t, bool slow) {
            PointingPlanner::Situation s;
            s.now = start.addSecs(t);
            s.target = passAt(pass, t);
            s.ahead = [pass, t, slow](double seconds) {
                if (slow)
                    QThread::usleep(200);
                return std::optional<Direction>(passAt(pass, t + seconds));
            };
            return s;
        };
        // Following a southern pass near the meridian.
        for (int t = 14400; t < 14460; t += 2)
            QVERIFY(planner.plan(situation(QStringLiteral("through south"), t, false)).move);
        // Then a target through the north, at 6.7 degrees and going down: on a
        // 0..450 rotator only the turn at 366.7 keeps it.
        planner.restart();
        QList<double> sent;
        int plans = 0;
        for (int t = 13432; t < 13500; t += 2, ++plans) {
            const PointingPlanner::Command c = planner.plan(situation(QStringLiteral("through north"), t, true));
            if (c.move)
                sent << c.position.azimuth;
        }
        QCOMPARE(sent.size(), plans);
        for (double azimuth : std::as_const(sent))
            QVERIFY2(azimuth > 300, qPrintable(QString::number(azimuth)));
    }

    // The target sinking into a flat mask, sent at a 2 s repetition through
    // the cycle's dead band: the antenna follows it down to the mask rather
    // than staying most of a band above it.
    void sinkingIntoTheMask()
    {
        double worst = 0;
        // From a tenth of a degree of heights: where the last step falls depends on it.
        for (double top = 5.40; top < 5.505; top += 0.01) {
            PointingPlanner planner;
            planner.setGeometry(geometryOf(QStringLiteral("azimuth range: '0 to 450'|elevation range: '0 to 90'|"
                                                          "horizon mask: '0:5 180:5'|lead: 'yes'")));
            const auto at = [top](double seconds) { return Direction {200.0, top - 0.075 * seconds / 60}; };
            RotatorSteering steering;
            std::optional<double> sentAz, sentEl;
            for (int t = 0; t < 600; t += 2) {
                PointingPlanner::Situation s;
                s.now = start.addSecs(t);
                s.target = at(t);
                s.sentAzimuth = sentAz;
                s.sentElevation = sentEl;
                s.ahead = [&at, t](double seconds) { return std::optional<Direction>(at(t + seconds)); };
                if (sentEl && s.target.elevation >= 5.0)
                    worst = std::max(worst, *sentEl - s.target.elevation);
                steering.repetition(2);
                const PointingPlanner::Command c = planner.plan(s);
                QVERIFY(c.move);
                QVERIFY(c.position.elevation >= 5.0);
                const auto axis = steering.plan(c.position.azimuth, c.position.elevation,
                                                c.azimuthBand.value_or(0.1), c.elevationBand.value_or(0.1));
                if (axis == RotatorAxis::Azimuth)
                    sentAz = c.position.azimuth;
                else if (axis == RotatorAxis::Elevation)
                    sentEl = c.position.elevation;
                steering.accepted();
            }
        }
        QVERIFY2(worst < 0.065, qPrintable(QStringLiteral("%1 deg above").arg(worst)));
    }

    // geometry.cfg: the defaults write no file; what was written reads back;
    // values out of range and lines not ours are left out.
    void geometryFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("geometry.cfg"));
        QVERIFY(RotatorGeometry().write(path));
        QVERIFY(!QFile::exists(path));
        RotatorGeometry g;
        g.azimuthRange = RotatorGeometry::AzimuthRange::Custom;
        g.customMinAzimuth = -90;
        g.customMaxAzimuth = 400;
        g.elevationRange = RotatorGeometry::ElevationRange::From0To180;
        g.horizonMask = *RotatorGeometry::parseMask(QStringLiteral("270:4 90:12.5"));
        g.azimuthSpeed = 3.5;
        g.outOfReach = RotatorGeometry::OutOfReach::Hold;
        g.lead = g.quietSeconds = g.stillWhileTransmitting = true;
        g.quietFrom = 0;
        g.quietTo = 9;
        QVERIFY(g.write(path));
        QCOMPARE(RotatorGeometry::read(path), g);
        QCOMPARE(g.horizonMask.first().first, 90.0);  // sorted

        QCOMPARE(geometryOf(QStringLiteral("azimuth speed: '-1'|quiet from: '61'|quiet to: '2.5'|lead: 'maybe'|"
                                           "horizon mask: '10:5 400:3'|azimuth range: 'sideways'")),
                 RotatorGeometry());
        QVERIFY(!RotatorGeometry::parseMask(QStringLiteral("10:5 20")));
        QVERIFY(!RotatorGeometry::parseMask(QStringLiteral("10:95")));
        QVERIFY(RotatorGeometry::parseMask(QString())->isEmpty());
    }

    // A refused mask names its first bad point and what is wrong with it, so
    // that an operator with twenty points need not hunt; a sound one is taken.
    void maskRefusalNamesThePoint_data()
    {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("problem");
        const QString dash = QString(QChar(0x2014));
        QTest::newRow("sound") << "0:5 90:12.5 359:3" << QString();
        QTest::newRow("0 and 360: one azimuth") << "0:5 90:12.5 360:3" << "points 1 and 3: both at azimuth 0";
        QTest::newRow("elevation text") << "0:5 45:2 90:x" << "point 3: '90:x' " + dash + " elevation is not a number";
        QTest::newRow("no elevation") << "10:5 20" << "point 2: '20' " + dash + " not azimuth:elevation";
        QTest::newRow("two colons") << "10:5:3" << "point 1: '10:5:3' " + dash + " not azimuth:elevation";
        QTest::newRow("elevation above 90") << "10:95" << "point 1: '10:95' " + dash + " elevation is not from 0 to 90";
        QTest::newRow("azimuth past 360") << "0:1 400:3" << "point 2: '400:3' " + dash + " azimuth is not from 0 to 360";
        QTest::newRow("azimuth nan") << "nan:3" << "point 1: 'nan:3' " + dash + " azimuth is not a number";
        QTest::newRow("decimal comma") << "10,5:3" << "point 1: '10,5:3' " + dash + " azimuth is not a number";
        QTest::newRow("long point cut") << "1:" + QString(40, QLatin1Char('9'))
                                        << "point 1: '1:" + QString(22, QLatin1Char('9')) + QChar(0x2026) + "' " + dash
                + " elevation is not from 0 to 90";
        QStringList many;
        for (int i = 0; i < 37; ++i)
            many << QStringLiteral("%1:1").arg(i);
        QTest::newRow("37 points") << many.join(' ') << "37 points, at most 36";
    }

    void maskRefusalNamesThePoint()
    {
        QFETCH(QString, mask);
        QFETCH(QString, problem);
        QCOMPARE(RotatorGeometry::maskProblem(mask), problem);
        QCOMPARE(RotatorGeometry::parseMask(mask).has_value(), problem.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_CorePointingPlanner)
#include "tst_corepointingplanner.moc"
