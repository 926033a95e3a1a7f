// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibration/crossscan.h"
#include "calibration/sunnoise.h"
#include "station/direction.h"
#include "station/trackingdata.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <optional>

class LevelSource;
class TrackingControl;

// A calibration on the station: a cross-scan through the target or Sun
// noise against cold sky, with the antenna aimed through the station's own
// tracking (the planner's stops, mask and quiet seconds hold) by offsets on
// top of the operator's. Whatever ends it (done, a bad level, the target
// setting, the operator), the offsets go back to zero and the station
// tracks on; the operator's target comes back.
class CalibrationRun : public QObject
{
    Q_OBJECT

public:
    enum class Kind { CrossScan, SunNoise };
    struct Settings {
        Kind kind = Kind::CrossScan;
        TrackingTarget target = TrackingTarget::Sun;
        CrossScan::Settings scan;
        double dwellSeconds = 2;  // levels heard at each point of a cut
        double noiseSeconds = 10;  // on the target, and as long on cold sky
        int noiseRounds = 3;
        double coldSkyBeams = 5;  // cold sky this many beamwidths away in azimuth, across the sky
        // Or a place of the operator's choosing (a patch known to be quiet),
        // at its own azimuth and elevation.
        std::optional<Direction> coldSky;
        // A rotator that does not say where it is: the time its move takes.
        double slewDegPerSecond = 2;
        double settleSeconds = 1;  // once there, before the levels count
        int pointTimeoutSeconds = 120;
        int silentLevelSeconds = 5;  // a level source quiet this long has stopped
        StationNoise station;  // for the Y expected on the Sun
        double flux107Sfu = 0;  // the day's 10.7 cm flux; 0: no Y expected on the Sun
        QString sourceName;  // the Source target's radio source, for its expected Y
        double year = 0;  // the date as a decimal year, for a fading source's flux
        // Where station.frequencyMHz came from, in words ("the sked frequency").
        QString frequencyFrom;
    };
    static constexpr int tickMs = 200;
    // At the source's ceiling, or the same level on a fine meter, this many
    // times running: the detector is at its end.
    static constexpr int saturatedRepeats = 10;

    CalibrationRun(TrackingControl &station, LevelSource &source, const Settings &settings, QObject *parent = nullptr);
    ~CalibrationRun() override;

    // False, with the reason in failure(), when the station cannot calibrate
    // now: among them a target below the horizon or mask now, or before the
    // run can end. Nothing is sent to the rotator then.
    bool start();
    void abort();

    bool isRunning() const { return m_running; }
    bool succeeded() const { return m_done && m_failure.isEmpty(); }
    QString failure() const { return m_failure; }
    // Where the run is, in words, and how far, 0 to 1.
    QString status() const;
    double progress() const;
    const Settings &settings() const { return m_settings; }
    const CrossScan &scan() const { return m_scan; }
    std::optional<YFactor> yFactor() const { return m_y; }
    std::optional<double> expectedYDb() const;
    // The line this run adds to calibration.csv (empty until it succeeds).
    QString record() const;

    // About how long a run of these settings takes, in seconds: the wait for
    // another target's position, the turn from where the antenna was sent
    // (turnDeg), and each point's move, settling and listening, each phase
    // rounded up to the run's tick, and a margin. Rather long than short: it
    // decides whether the target is still up at the end.
    static double estimatedSeconds(const Settings &settings, double repetitionSeconds, double turnDeg,
                                   const Direction &target);
    // How far below the target a cross-scan's elevation cut reaches.
    static double scanDepthDeg(const Settings &settings);
    // How fast a target may sink where the source gives no pass ahead: the
    // sky's turn, 15.04 degrees an hour, all of it in elevation.
    static constexpr double fastestSettingDegPerSecond = 15.041 / 3600;

    static QString csvHeader();
    static QString defaultPath() { return QStringLiteral("calibration.csv"); }

signals:
    void progressed();
    // A level heard on a cut, across the sky from where the target is believed.
    void levelHeard(double acrossDeg, double level);
    void finished(bool ok);

private:
    enum class Phase { Waiting, Moving, Settling, Measuring };
    void heard(double level);
    void tick();
    bool arrived();
    void nextPoint();
    void aim(const Direction &offset);
    void end(const QString &failure);
    Direction offsetNow() const;
    QString skyRefusal() const;
    QString targetName() const;

    TrackingControl &m_station;
    QPointer<LevelSource> m_source;
    Settings m_settings;
    CrossScan m_scan;
    TrackingTarget m_operatorTarget = TrackingTarget::Moon;
    bool m_running = false;
    bool m_done = false;
    QString m_failure;
    Phase m_phase = Phase::Waiting;
    QDateTime m_recordBefore;  // the last record's time at the start: the target's position comes after
    int m_point = 0;  // within the cut, or the Sun-noise half (on, off, on, ...)
    Direction m_aim;
    QElapsedTimer m_phaseClock;
    QElapsedTimer m_sinceLevel;
    std::optional<double> m_previousLevel;
    int m_sameLevels = 0;
    QList<double> m_on;
    QList<double> m_off;
    std::optional<YFactor> m_y;
    QDateTime m_endedAt;
    QTimer m_timer;
};
