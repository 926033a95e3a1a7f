// SPDX-License-Identifier: GPL-3.0-or-later
// The edges a real evening reaches first on Hamlib's daemons: radios that do
// not follow, hands on the dial, daemons at their defaults, started late,
// silent or unstable; positions within the stops and above the mask. The
// station runs at the settings an operator gets unless a row says why not.

#include "defaultstation.h"
#include "fixedsource.h"
#include "hamlibtesting.h"
#include "stationinvariants.h"
#include "ephemeris/ephemeris.h"
#include "links/transceiverlink.h"
#include "station/portsession.h"
#include "station/trackingcontrol.h"

#include <QCoreApplication>
#include <QPointF>
#include <QTemporaryDir>
#include <QtTest>

using namespace hamlibtesting;

namespace {

using Station = DefaultStation;

// A rigctld whose radio stays on 432.065 MHz whatever it is told, and
// answers "t" as given.
std::function<QByteArray(const QByteArray &)> stuckRadio(const QByteArray &ptt)
{
    return [ptt](const QByteArray &line) -> QByteArray {
        if (line == "\\dump_state")
            return rigDump;
        if (line == "f")
            return "432065000\n";
        if (line == "t")
            return ptt;
        return "RPRT 0\n";
    };
}

} // namespace

class tst_CoreEdges : public QObject
{
    Q_OBJECT

private slots:

    // Hamlib's dummy radio at rigctld's defaults, the first thing a newcomer
    // tries, and one that cannot report its transmit state: no alarm at all.
    void daemonRadioAtDefaultsNoFalseAlarm_data()
    {
        QTest::addColumn<bool>("realDummy");
        QTest::newRow("rigctld -m 1") << true;
        QTest::newRow("t answered RPRT -11") << false;
    }
    void daemonRadioAtDefaultsNoFalseAlarm()
    {
        QFETCH(bool, realDummy);
        if (realDummy && !daemonsInstalled())
            QSKIP("rigctld is not installed");
        Station s;
        std::unique_ptr<Daemon> rigctld;
        FakeDaemon fake;
        fake.answer = stuckRadio("RPRT -11\n");
        QString address = fake.address();
        if (realDummy) {
            rigctld = std::make_unique<Daemon>(QStringLiteral("rigctld"), QStringList {QStringLiteral("-m"), QStringLiteral("1")});
            QVERIFY(rigctld->start());
            address = rigctld->address();
        }
        s.station.setNetwork(StationPort::B, true);
        s.station.setAuto(StationPort::B, true);
        QVERIFY(s.station.open(StationPort::B, address, {}, false));
        QTRY_VERIFY(s.station.isFrequencyKnown());
        QTest::qWait(6000);  // six of the daemon link's readouts, thirty of the timer's ticks
        QVERIFY2(s.count(QStringLiteral("radio not answering")) == 0, qPrintable(s.all()));
        QVERIFY(!s.station.health().active(Alarm::RadioSilent));
    }

    // A radio whose daemon says "RPRT 0" to every "F" but never moves.
    void radioNotFollowingSaid()
    {
        Station s;
        FakeDaemon fake;
        fake.answer = stuckRadio("0\n");
        TrackingRecord record;
        record.frequency = 432.065;
        record.dopplerHome = 800;
        s.station.setTrackingSource(std::make_unique<FixedSource>(&record));
        DopplerSettings settings;
        settings.method = DopplerMethod::OwnEcho;
        settings.skedMHz = 432.065;
        s.station.setNetwork(StationPort::B, true);
        s.station.setAuto(StationPort::B, true);
        QVERIFY(s.station.open(StationPort::B, fake.address(), {}, false));
        QTRY_VERIFY(s.station.isFrequencyKnown());
        QVERIFY(s.station.setDopplerSettings(settings));
        s.station.setFrequencyTracking(true);
        QTRY_VERIFY_WITH_TIMEOUT(s.station.health().active(Alarm::RadioNotFollowing), 10000);
        QCOMPARE(s.count(QStringLiteral("radio not following: it stays on 432.065000 MHz, 432.065800 MHz was written")), 1);
        QCOMPARE(s.count(QStringLiteral("Frequency tuned by hand")), 0);
    }

    // Retunes by hand through rigctld at the defaults: each one kept as an
    // offset, none turned back by the next repetition; on a 10 Hz radio
    // +500 Hz is said as +500.
    void handTuningKeptThroughRigctld()
    {
        if (!daemonsInstalled())
            QSKIP("rigctld is not installed");
        Station s;
        Daemon rigctld(QStringLiteral("rigctld"), {QStringLiteral("-m"), QStringLiteral("1")});
        QVERIFY(rigctld.start());
        TrackingRecord record;
        record.frequency = 432.065;
        record.dopplerHome = 805;
        s.station.setTrackingSource(std::make_unique<FixedSource>(&record));
        DopplerSettings settings;
        settings.method = DopplerMethod::OwnEcho;
        settings.skedMHz = 432.065;
        QVERIFY(s.station.setDopplerSettings(settings));
        s.station.setNetwork(StationPort::B, true);
        s.station.setAuto(StationPort::B, true);
        QVERIFY(s.station.open(StationPort::B, rigctld.address(), {}, false));
        QTRY_VERIFY(s.station.isFrequencyKnown());
        s.station.setFrequencyTracking(true);
        const auto onRadio = [&] { return rigctld.ask("f").value(0).toDouble(); };
        QTRY_COMPARE_WITH_TIMEOUT(onRadio(), 432065805.0, 10000);
        constexpr int retunes = 5;
        for (int i = 1; i <= retunes; ++i) {
            const double tuned = onRadio() + 500;
            QVERIFY(tuned > 432e6);
            // rigctld's own answer: a turn of the dial that did not happen would prove nothing.
            QTRY_VERIFY2_WITH_TIMEOUT(rigctld.ask("F " + QByteArray::number(tuned, 'f', 0)).value(0) == "RPRT 0",
                                      qPrintable(rigctld.state()), 10000);
            QTRY_VERIFY2_WITH_TIMEOUT(s.station.dialOffsetHz() == 500.0 * i, qPrintable(s.all()), 10000);
        }
        QCOMPARE(s.count(QStringLiteral("Frequency tuned by hand +500 Hz")), retunes);
        QTest::qWait(2500);  // a repetition more: where the operator left it
        QCOMPARE(onRadio(), 432065805.0 + 500 * retunes);
    }

    // rotctld and rigctld up only after the station: it keeps trying with
    // the backoff of a lost link, says it once, and connects when they are.
    void daemonsLateAtStart()
    {
        if (!daemonsInstalled())
            QSKIP("rotctld and rigctld are not installed");
        Station s;
        const quint16 rotPort = freePort();
        const quint16 rigPort = freePort();
        s.station.setNetwork(StationPort::A, true);
        s.station.setNetwork(StationPort::B, true);
        s.station.setAuto(StationPort::B, true);
        const QString rot = QStringLiteral("127.0.0.1:%1").arg(rotPort);
        const QString rig = QStringLiteral("127.0.0.1:%1").arg(rigPort);
        s.station.open(StationPort::A, rot, {}, false);
        s.station.open(StationPort::B, rig, {}, false);
        QTRY_VERIFY(s.station.health().active(Alarm::RotatorUnreachable)
                    && s.station.health().active(Alarm::RadioUnreachable));
        QCOMPARE(s.count(QStringLiteral("cannot reach rotctld at %1").arg(rot)), 1);
        QCOMPARE(s.count(QStringLiteral("cannot reach rigctld at %1").arg(rig)), 1);
        QTest::qWait(3000);
        Daemon rotctld(QStringLiteral("rotctld"), {QStringLiteral("-m"), QStringLiteral("1")}, rotPort);
        Daemon rigctld(QStringLiteral("rigctld"), {QStringLiteral("-m"), QStringLiteral("1")}, rigPort);
        QVERIFY(rotctld.start() && rigctld.start());
        QTRY_VERIFY_WITH_TIMEOUT(s.station.portSession(StationPort::A).open && s.station.portSession(StationPort::B).open,
                                 20000);
        QTRY_VERIFY(s.station.isFrequencyKnown());
        QVERIFY(!s.station.health().active(Alarm::RotatorUnreachable));
        QCOMPARE(s.count(QStringLiteral("cannot reach ")), 2);
        QCOMPARE(s.count(QStringLiteral("rotator reached again")), 1);
    }

    // One port's session on its own, as the station uses it: a daemon not up
    // is tried again after 1, 2, 4 and 8 s (a lost link's backoff, at the
    // defaults), the alarm said once however many tries fail, and the
    // daemon that comes up is taken at the next try and the alarm cleared.
    void sessionWaitsForItsDaemon_data()
    {
        QTest::addColumn<bool>("rotator");
        QTest::newRow("rotctld on port A") << true;
        QTest::newRow("rigctld on port B") << false;
    }
    void sessionWaitsForItsDaemon()
    {
        QFETCH(bool, rotator);
        if (!daemonsInstalled())
            QSKIP("rotctld and rigctld are not installed");
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        QStringList said;
        StationContext context([&said](const QString &text) { said << text; });
        const StationPort which = rotator ? StationPort::A : StationPort::B;
        PortSession session(which, context);
        session.network = true;
        const quint16 port = freePort();
        const QString address = QStringLiteral("127.0.0.1:%1").arg(port);
        const Alarm alarm = session.unreachableAlarm();
        QList<int> waits;  // seconds to the next try, each time a try failed
        connect(&session, &PortSession::changed, this, [&] {
            if (!session.connecting && !session.open && session.isReconnecting())
                waits << session.secondsToRetry();
        });
        int opened = 0;
        connect(&session, &PortSession::opened, this, [&] { ++opened; });
        QVERIFY(session.openDevice(address, {}, false, false));
        QTRY_VERIFY_WITH_TIMEOUT(waits.size() >= 4, 20000);
        QCOMPARE(waits.mid(0, 4), (QList<int> {1, 2, 4, 8}));
        QVERIFY(context.health.active(alarm));
        const QString daemon = rotator ? QStringLiteral("rotctld") : QStringLiteral("rigctld");
        QCOMPARE(said.filter(QStringLiteral("cannot reach %1 at %2").arg(daemon, address)).size(), 1);
        QCOMPARE(opened, 0);

        Daemon up(daemon, {QStringLiteral("-m"), QStringLiteral("1")}, port);
        QVERIFY(up.start());
        // The next try is at most 16 s away (the fifth wait).
        QTRY_VERIFY_WITH_TIMEOUT(session.open, 20000);
        QCOMPARE(opened, 1);
        QVERIFY(!context.health.active(alarm));
        QCOMPARE(said.filter(QStringLiteral("cannot reach ")).size(), 1);
        QVERIFY(session.closeLink());
        QVERIFY(!session.open && !session.link);
    }

    // A daemon that closes the connection after every answer is never read:
    // an alarm says so rather than a reconnect every ten seconds in silence.
    void daemonThatCannotStayUp()
    {
        Station s;
        FakeDaemon fake;
        fake.answer = [&fake](const QByteArray &line) -> QByteArray {
            if (line == "\\dump_state")
                return rigDump;
            QTimer::singleShot(50, &fake, [&fake] { fake.dropClient(); });
            return line == "f" ? "432065000\n" : "RPRT 0\n";
        };
        s.station.setNetwork(StationPort::B, true);
        s.station.setAuto(StationPort::B, true);
        QVERIFY(s.station.open(StationPort::B, fake.address(), {}, false));
        QTRY_VERIFY_WITH_TIMEOUT(s.station.health().active(Alarm::RadioUnreachable), 30000);
        QVERIFY2(s.count(QStringLiteral("cannot keep a connection to ")) == 1, qPrintable(s.all()));
    }

    // A rotctld that stops answering raises "rotator not answering" within
    // the bound, though its link drops each command after its own time-out.
    void silentRotctldSaid()
    {
        Station s;
        FakeDaemon fake;
        bool silent = false;
        fake.answer = [&silent](const QByteArray &line) -> QByteArray {
            if (silent)
                return {};
            if (line == "\\dump_state")
                return rotDump;
            if (line == "p")
                return "100.000000\n10.000000\n";
            return "RPRT 0\n";
        };
        TrackingRecord record;
        record.azimuth = 100;
        record.elevation = 10;
        s.station.setTrackingSource(std::make_unique<FixedSource>(&record));
        s.station.setNetwork(StationPort::A, true);
        s.station.setAuto(StationPort::A, true);
        QVERIFY(s.station.open(StationPort::A, fake.address(), {}, false));
        QTRY_VERIFY(s.station.portSession(StationPort::A).open);
        QTRY_VERIFY(s.station.pointing().actualAzimuth.has_value());
        silent = true;
        QElapsedTimer since;
        since.start();
        record.azimuth = 120;
        QTRY_VERIFY_WITH_TIMEOUT(s.station.health().active(Alarm::RotatorSilent), 15000);
        QVERIFY2(since.elapsed() < 5000 + 2000 * defaultRepetitionSeconds + 2000, qPrintable(QString::number(since.elapsed())));
        QCOMPARE(s.count(QStringLiteral("rotator not answering")), 1);
        silent = false;
        QTRY_VERIFY_WITH_TIMEOUT(!s.station.health().active(Alarm::RotatorSilent), 10000);
    }

    // Every position rotctld is sent lies within its stops and above the
    // mask, also on a slew across the mask (the elevation goes up before an
    // azimuth step would leave the antenna under it) and on a rotator whose
    // limits come in two pieces with a pause between (none is sent before
    // they are known, so the first goes the right way round).
    void positionsWithinStopsAndAboveTheMask_data()
    {
        QTest::addColumn<QByteArray>("dump");     // the limits rotctld gives
        QTest::addColumn<int>("pauseMs");         // inside its answer
        QTest::addColumn<QString>("mask");
        QTest::addColumn<int>("range");
        QTest::addColumn<QList<QPointF>>("targets");
        QTest::addColumn<QByteArray>("first");    // the first position sent
        const QByteArray wide = "min_az=0.000000\nmax_az=450.000000\nmin_el=0.000000\nmax_el=90.000000\n";
        const QByteArray half = "min_az=-180.000000\nmax_az=180.000000\nmin_el=0.000000\nmax_el=90.000000\n";
        QTest::newRow("slew across the mask") << wide << 0 << "0:5 90:20 180:5 270:5"
                                              << int(RotatorGeometry::AzimuthRange::From0To360)
                                              << QList<QPointF> {{10, 8}, {80, 19}, {85, 20}} << QByteArray("P 10.00 8.00");
        QTest::newRow("limits after a 350 ms pause") << half << 350 << ""
                                                     << int(RotatorGeometry::AzimuthRange::Minus180To180)
                                                     << QList<QPointF> {{227.8, 5}, {228.8, 5}} << QByteArray("P -132.20 5.00");
    }
    void positionsWithinStopsAndAboveTheMask()
    {
        QFETCH(QByteArray, dump);
        QFETCH(int, pauseMs);
        QFETCH(QString, mask);
        QFETCH(int, range);
        QFETCH(QList<QPointF>, targets);
        QFETCH(QByteArray, first);
        Station s;
        RotatorGeometry geometry;
        geometry.azimuthRange = RotatorGeometry::AzimuthRange(range);
        geometry.horizonMask = RotatorGeometry::parseMask(mask).value_or(QList<QPair<double, double>>());
        s.station.setRotatorGeometry(geometry);
        const QList<QByteArray> limits = dump.split('\n');
        invariants::Checker::Travel travel;
        travel.minAzimuth = limits.value(0).mid(7).toDouble();
        travel.maxAzimuth = limits.value(1).mid(7).toDouble();
        travel.minElevation = 0;
        travel.maxElevation = 90;
        invariants::Checker checker(s.station, travel, geometry.horizonMask);
        FakeDaemon fake;
        QByteArrayList positions;
        fake.answer = [&](const QByteArray &line) -> QByteArray {
            if (line == "\\dump_state") {
                if (pauseMs == 0)
                    return "1\n1\n" + dump + "done\n";
                QTimer::singleShot(pauseMs, &fake, [&] { fake.send(dump.mid(dump.indexOf("min_el")) + "done\n"); });
                return "1\n1\n" + dump.left(dump.indexOf("min_el"));
            }
            if (line.startsWith("P ")) {
                positions << line;
                const QList<QByteArray> f = line.split(' ');
                checker.positionSent(f.value(1).toDouble(), f.value(2).toDouble());
                return "RPRT 0\n";
            }
            return line == "p" ? QByteArray("0\n0\n") : QByteArray("RPRT 0\n");
        };
        TrackingRecord record;
        record.azimuth = targets.first().x();
        record.elevation = targets.first().y();
        s.station.setTrackingSource(std::make_unique<FixedSource>(&record));
        s.station.setNetwork(StationPort::A, true);
        s.station.setAuto(StationPort::A, true);
        QVERIFY(s.station.open(StationPort::A, fake.address(), {}, false));
        QTRY_VERIFY(!positions.isEmpty());
        QCOMPARE(positions.first(), first);
        for (const QPointF &target : targets) {
            record.azimuth = target.x();
            record.elevation = target.y();
            for (int cycle = 0; cycle < 3; ++cycle) {
                s.station.repetition();
                QTest::qWait(50);
                QTRY_VERIFY(s.station.steering().pending.isEmpty());
            }
        }
        QVERIFY2(checker.violations().isEmpty(), qPrintable(checker.violations().join('\n')));
        QVERIFY(checker.positions() >= 3);
        QVERIFY2(s.log.filter(QStringLiteral("Rotator error code")).isEmpty(), qPrintable(s.all()));
    }

    // The air lifts what is near and above the horizon, nothing far below it,
    // and without a step where the model stops. Bennett's formula written
    // out for 30 degrees: cot(30 + 7.31/(30 + 4.4)) arc minutes (at 30 the
    // geometric and apparent elevations differ by far less than it matters).
    void refractionOnlyNearAndAboveTheHorizon_data()
    {
        QTest::addColumn<double>("elevation");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        const double at30 = 1.0 / std::tan((30.0 + 7.31 / 34.4) * M_PI / 180.0) / 60.0;
        QTest::newRow("30 degrees") << 30.0 << at30 - 0.0005 << at30 + 0.0005;
        QTest::newRow("27 degrees under") << -27.38 << 0.0 << 0.0;
        QTest::newRow("2 degrees under") << -2.0 << 0.0 << 0.0;
        QTest::newRow("half way out") << -1.5 << 0.2 << 0.45;
        QTest::newRow("horizon") << 0.0 << 0.45 << 0.6;
    }
    void refractionOnlyNearAndAboveTheHorizon()
    {
        QFETCH(double, elevation);
        QFETCH(double, low);
        QFETCH(double, high);
        const double lift = refractionDeg(elevation);
        QVERIFY2(lift >= low && lift <= high, qPrintable(QString::number(lift)));
        // No step where the model fades: a hundredth of a degree apart, nearly the same lift.
        QVERIFY(std::fabs(refractionDeg(elevation + 0.01) - lift) < 0.01);
    }

    // "Computed here" with no station locator cannot compute anything: said,
    // not taken silently.
    void builtInSkyWithoutLocatorSaid_data()
    {
        QTest::addColumn<QString>("locator");
        QTest::addColumn<bool>("said");
        QTest::newRow("empty") << "" << true;
        QTest::newRow("not a locator") << "shack" << true;
        QTest::newRow("JO70FD") << "JO70FD" << false;
    }
    void builtInSkyWithoutLocatorSaid()
    {
        QFETCH(QString, locator);
        QFETCH(bool, said);
        Station s;
        SourceSettings settings;
        settings.builtIn = true;
        settings.homeLocator = locator;
        settings.radioSource = QStringLiteral("Cas A");
        s.station.setSource(settings);
        QCOMPARE(s.count(QStringLiteral("the sky is computed here only with the station's locator")), said ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(tst_CoreEdges)
#include "tst_coreedges.moc"
