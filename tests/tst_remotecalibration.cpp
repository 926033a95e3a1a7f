// SPDX-License-Identifier: GPL-3.0-or-later
// Calibrations through the WebSocket API where the sky and the station
// meet: a target that is down, or goes down before the run can end, is
// refused with the reason before the antenna turns; the state says which
// band the Y expected is worked out for.

#include "calibration/calibrator.h"
#include "movingsky.h"
#include "remotetesting.h"
#include "sim/simreceiver.h"

using namespace remotetesting;

namespace {

// The headless station at store.cfg's defaults (a repetition every 2 s, a
// readout every 200 ms), its clock fixed at 2026-12-07 16:30 UTC, on a
// tracking file's sky of 1296 MHz: the Moon at 200/30, the Sun where a case
// puts it. Port A opened through the API follows the Moon.
struct SkyOnTheApi {
    explicit SkyOnTheApi(const MovingSky::Body &sun)
    {
        const QDateTime hour(QDate(2026, 12, 7), QTime(16, 30), Qt::UTC);
        s.station->setTimes(2, 200);
        s.station->setClock([hour] { return hour; });
        auto sky = std::make_unique<MovingSky>(hour, false, 1296.0);
        sky->place(TrackingTarget::Moon, {{200, 30}, 0});
        sky->place(TrackingTarget::Sun, sun);
        s.station->setTrackingSource(std::move(sky));
        calibrator.addLevelSource(&receiver);
        s.server->setCalibrator(&calibrator);
    }

    RemoteStation s;
    SimReceiver receiver {[] { return std::optional<Direction>(); }, [] { return std::optional<Direction>(); },
                          SimReceiver::Sky()};
    Calibrator calibrator {*s.station};
};

} // namespace

class tst_RemoteCalibration : public QObject
{
    Q_OBJECT

private slots:
    // Refused with the reason, answered so, and nothing turned: the Moon
    // stays the target and the antenna on it. A tracking file gives no
    // pass ahead: a target is taken to sink as fast as the sky turns
    // (15 deg an hour, 1.25 deg in the five minutes of a cross-scan at the
    // operator's settings), with the elevation cut 5.2 deg below it.
    void downRefused_data()
    {
        QTest::addColumn<double>("sunElevation");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("error");
        QTest::newRow("after sunset") << -1.2 << R"({"cmd":"calibrate","target":"sun"})"
                                      << "the Sun is below the horizon: elevation -1.20°";
        QTest::newRow("Sun noise after sunset") << -1.2 << R"({"cmd":"calibrate","target":"sun","kind":"sunNoise"})"
                                                << "the Sun is below the horizon: elevation -1.20°";
        QTest::newRow("too low for the elevation cut") << 4.0 << R"({"cmd":"calibrate","target":"sun"})"
                                                       << "the Sun is too low for a cross-scan: at 4.00° up, the "
                                                          "elevation cut would go to -1.20°, below the horizon";
        QTest::newRow("may set before the end") << 6.0 << R"({"cmd":"calibrate","target":"sun"})"
                                                << "the Sun may set before the run can end";
    }
    void downRefused()
    {
        QFETCH(double, sunElevation);
        QFETCH(QString, command);
        QFETCH(QString, error);
        SkyOnTheApi api({{235, sunElevation}, 0});
        Client client(api.s.url());
        QVERIFY(client.waitForState());
        QCOMPARE(client.send(remotetesting::command(R"({"cmd":"open","port":"A"})")).value("ok"), true);
        QTRY_COMPARE_WITH_TIMEOUT(api.s.rotator.elevation(), std::optional<double>(30), settleMs);
        const QJsonObject reply = client.send(remotetesting::command(qPrintable(command)));
        QCOMPARE(reply.value("ok").toBool(), false);
        QCOMPARE(reply.value("error").toString().left(error.size()), error);
        QCOMPARE(api.s.station->target(), TrackingTarget::Moon);
        QCOMPARE(at(client.state, "calibration.running"), QJsonValue(false));
        QTRY_VERIFY_WITH_TIMEOUT(at(client.state, "calibration.status").toString().startsWith("not started: " + error),
                                 settleMs);
        api.s.station->repetition();
        QCOMPARE(api.s.station->pointing().commandedElevation, std::optional<double>(30));
    }

    // The band the Y expected is for, and where it comes from: the
    // tracking file's 1296 MHz, not "Tracking source..."'s 432.065.
    void bandInTheState()
    {
        SkyOnTheApi api({{235, 20}, 0});
        Client client(api.s.url());
        QVERIFY(client.waitForState());
        QCOMPARE(client.send(remotetesting::command(R"({"cmd":"open","port":"A"})")).value("ok"), true);
        QTRY_COMPARE_WITH_TIMEOUT(at(client.state, "calibration.frequency.mhz"), QJsonValue(1296.0), settleMs);
        QCOMPARE(at(client.state, "calibration.frequency.from"), QJsonValue("the tracking file's"));
    }
};

QTEST_GUILESS_MAIN(tst_RemoteCalibration)
#include "tst_remotecalibration.moc"
