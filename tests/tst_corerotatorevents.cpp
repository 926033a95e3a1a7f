// SPDX-License-Identifier: GPL-3.0-or-later
// The rotator right after the events that give it a new aim: tracking
// started, another target, a park undone, a rotctl client's aim given back.
// The station runs at store.cfg's defaults (a repetition every 2 s, a
// readout every 200 ms) on the built-in sky at a fixed time, with the
// simulated "&*" controller of a 0..450 degree rotator on a pty: the first
// command must go within a repetition and the other axis at the next, both
// toward the new aim; the sky's own computation is the oracle.

#include "defaultstation.h"
#include "ephemeris/ephemeris.h"
#include "sim/simrotator.h"

#include <QElapsedTimer>
#include <QtTest>

#include <cmath>

namespace {

// The Moon rising in the east (az 84.9, el 13.4: on a 0..450 rotator also at
// 444.9, five degrees from the stop it moves toward) and the Sun in the south
// west (az 208.1, el 11.7).
const QDateTime skyTime(QDate(2026, 12, 19), QTime(13, 0), Qt::UTC);
const QString home = QStringLiteral("JO70FD");

constexpr qint64 cycleMs = defaultRepetitionSeconds * 1000;
// The event loop's and the pty's delays on a shared machine.
constexpr qint64 slackMs = 700;

Direction targetAt(TrackingTarget target, const QDateTime &utc)
{
    const GeoPosition place = *positionOfLocator(home);
    return *targetPlace(computeSky(place, place, 432.065, utc), target);
}

struct Sent {
    qint64 ms;
    RotatorAxis axis;
    double degrees;
};

struct EventStation : DefaultStation {
    EventStation()
    {
        rotator.setLimits(0, 450, 0, 90);
        clock.start();
        QObject::connect(&rotator, &SimRotator::commandReceived, [this](const QString &line) {
            const bool azimuth = line.startsWith(QLatin1String("&* AZ="));
            if (azimuth || line.startsWith(QLatin1String("&* EL=")))
                sent.append({clock.elapsed(), azimuth ? RotatorAxis::Azimuth : RotatorAxis::Elevation,
                             line.mid(6).toDouble()});
        });
        QObject::connect(&station, &TrackingControl::message, [this](const QString &text) {
            if (text.startsWith(QLatin1String("rotctl client's aim ended")))
                givenBack = {clock.elapsed(), sent.size()};
        });
        auto sky = std::make_unique<SkyTrackingSource>(*positionOfLocator(home), std::nullopt, 432.065);
        sky->setClock([this] { return now; });
        station.setTrackingSource(std::move(sky));
        station.setClock([this] { return now; });
        RotatorGeometry geometry;
        geometry.azimuthRange = RotatorGeometry::AzimuthRange::From0To450;
        geometry.elevationRange = RotatorGeometry::ElevationRange::From0To90;
        station.setRotatorGeometry(geometry);
    }
    // Port A opened in Manual; then Auto starts tracking, as the operator does.
    bool open() { return station.open(StationPort::A, rotator.slavePath(), {}, false); }
    // Both axes of the rotator on this position (in any turn).
    bool at(const Direction &aim) const
    {
        return std::fabs(std::remainder(rotator.commandedAzimuth() - aim.azimuth, 360.0)) < 0.06
            && std::fabs(rotator.commandedElevation() - aim.elevation) < 0.06;
    }
    // The time and the commands sent until now.
    std::pair<qint64, qsizetype> mark() const { return {clock.elapsed(), sent.size()}; }

    SimRotator rotator;
    QDateTime now = skyTime;
    QElapsedTimer clock;
    QList<Sent> sent;
    std::optional<std::pair<qint64, qsizetype>> givenBack;
};

enum class Event { Start, Target, ParkThenAuto, ApiParkEnds, ClientSilent, ClientTargetChosen };

} // namespace

class tst_CoreRotatorEvents : public QObject
{
    Q_OBJECT

private slots:
    void firstCommandsAfterEvent_data()
    {
        QTest::addColumn<int>("event");
        QTest::addColumn<int>("before");  // the target before the event
        QTest::addColumn<int>("after");
        const int moon = int(TrackingTarget::Moon), sun = int(TrackingTarget::Sun);
        QTest::newRow("start in Auto") << int(Event::Start) << moon << moon;
        QTest::newRow("target Moon to Sun") << int(Event::Target) << moon << sun;
        QTest::newRow("target Sun to Moon") << int(Event::Target) << sun << moon;
        QTest::newRow("window's park, then Auto") << int(Event::ParkThenAuto) << moon << moon;
        QTest::newRow("API park, then Auto") << int(Event::ApiParkEnds) << moon << moon;
        QTest::newRow("rotctl client silent for a minute") << int(Event::ClientSilent) << moon << moon;
        QTest::newRow("rotctl client's aim, then a target chosen") << int(Event::ClientTargetChosen) << moon << moon;
    }
    void firstCommandsAfterEvent()
    {
        QFETCH(int, event);
        QFETCH(int, before);
        QFETCH(int, after);
        EventStation s;
        s.station.setTarget(TrackingTarget(before));
        QVERIFY(s.open());
        auto happened = s.mark();
        s.station.setAuto(StationPort::A, true);
        if (Event(event) != Event::Start) {
            QTRY_VERIFY_WITH_TIMEOUT(s.at(targetAt(TrackingTarget(before), s.now)), 3 * cycleMs + slackMs);
            QTRY_VERIFY(s.station.steering().pending.isEmpty());
            const Direction parking {s.station.azimuthParking(), s.station.elevationParking()};
            switch (Event(event)) {
            case Event::Target:
                happened = s.mark();
                s.station.setTarget(TrackingTarget(after));
                break;
            case Event::ParkThenAuto:
                s.station.setAuto(StationPort::A, false);
                s.station.park(parking.azimuth, parking.elevation);
                QTRY_VERIFY(s.at(parking));
                s.station.endParking();
                happened = s.mark();
                s.station.setAuto(StationPort::A, true);
                break;
            case Event::ApiParkEnds:
                s.station.parkAndHold(parking.azimuth, parking.elevation);
                QTRY_VERIFY(s.at(parking));
                QTRY_VERIFY(!s.station.steering().parkingActive());
                happened = s.mark();
                s.station.setAuto(StationPort::A, true);
                break;
            case Event::ClientSilent:
            case Event::ClientTargetChosen:
                QCOMPARE(s.station.aimExternal(200, 30), 0);
                QTRY_VERIFY_WITH_TIMEOUT(s.at({200, 30}), 3 * cycleMs + slackMs);
                QTRY_VERIFY(s.station.steering().pending.isEmpty());
                if (Event(event) == Event::ClientSilent) {
                    s.now = s.now.addSecs(TrackingControl::externalSilentSeconds);
                    QTRY_VERIFY(s.givenBack);  // the health check's second
                    happened = *s.givenBack;
                } else {
                    happened = s.mark();
                    s.station.setTarget(TrackingTarget(after));
                }
                break;
            case Event::Start:
                break;
            }
        }
        const Direction aim = targetAt(TrackingTarget(after), s.now);
        // Two repetitions: the first command's and the other axis's.
        QTRY_VERIFY_WITH_TIMEOUT(s.at(aim), int(2 * cycleMs + 2 * slackMs));
        const qint64 eventMs = happened.first;
        const QList<Sent> sent = s.sent.mid(happened.second);
        QVERIFY(!sent.isEmpty());
        QVERIFY2(sent.first().ms - eventMs <= cycleMs + slackMs,
                 qPrintable(QStringLiteral("first command %1 ms after the event").arg(sent.first().ms - eventMs)));
        const auto other = std::find_if(sent.begin(), sent.end(),
                                        [&](const Sent &c) { return c.axis != sent.first().axis; });
        QVERIFY(other != sent.end());
        QVERIFY2(other->ms - sent.first().ms <= cycleMs + slackMs,
                 qPrintable(QStringLiteral("the other axis %1 ms after the first").arg(other->ms - sent.first().ms)));
        // Nothing toward the old aim, nor a turn the other way first: both
        // targets are on the lower turn (the Moon's upper one meets the stop
        // within half an hour).
        for (const Sent &c : sent) {
            if (c.axis == RotatorAxis::Azimuth)
                QVERIFY2(c.degrees < 360, qPrintable(QString::number(c.degrees)));
            const double off = c.axis == RotatorAxis::Azimuth ? std::remainder(c.degrees - aim.azimuth, 360.0)
                                                              : c.degrees - aim.elevation;
            QVERIFY2(std::fabs(off) < 0.06, qPrintable(QStringLiteral("%1 %2 after the event, for az %3 el %4")
                                                           .arg(c.axis == RotatorAxis::Azimuth ? "AZ" : "EL")
                                                           .arg(c.degrees)
                                                           .arg(aim.azimuth)
                                                           .arg(aim.elevation)));
        }
        s.station.closeAll();
    }
};

QTEST_GUILESS_MAIN(tst_CoreRotatorEvents)
#include "tst_corerotatorevents.moc"
