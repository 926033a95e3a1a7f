// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibration/calibrationrun.h"
#include "calibration/soundcardlevel.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <optional>

class HamlibStrength;
class LevelSource;
class TrackingControl;

// The station's calibrations as every view sees them (the window's dialog,
// the API and its web page): the level sources the station can read now,
// the run under way or the last one, Apply, and the history kept in
// calibration.csv. One at a time, whoever starts it.
class Calibrator : public QObject
{
    Q_OBJECT

public:
    explicit Calibrator(TrackingControl &station, QObject *parent = nullptr);
    ~Calibrator() override;

    TrackingControl &station() const { return m_station; }

    // A level source besides the radio's S-meter (the demo's simulated receiver); not owned.
    void addLevelSource(LevelSource *source);
    // The sources offered now: the added ones, the machine's sound inputs,
    // then the radio's S-meter where port B is a radio through Hamlib.
    QStringList sourceNames() const;
    static QString strengthName() { return QStringLiteral("radio's S-meter through Hamlib"); }

    // The frequency the station works on, for the Y expected: the sked
    // frequency under a Doppler method, else the tracking data's, else the
    // radio's (through the transverter), else "Tracking source..."'s; with
    // where it came from, in words ("the tracking file's").
    struct Frequency {
        double mhz = 0;
        QString from;
    };
    Frequency workingFrequency() const;
    // "1296.000 MHz, the tracking file's"
    static QString frequencyText(const Frequency &frequency);

    // False, with the reason in why, when it cannot start now.
    bool start(const CalibrationRun::Settings &settings, const QString &sourceName, QString *why);
    void abort();
    bool isRunning() const { return m_run && m_run->isRunning(); }
    const CalibrationRun *run() const { return m_run.get(); }

    // A cross-scan that succeeded and has not been applied yet.
    bool canApply() const;
    // Adds the offsets found to the operator's (kept in store.cfg) and says so.
    bool apply();
    // The result in words: the offsets and beam, or the Y; empty until a run succeeds.
    QString resultText() const;

    // The levels heard on the cuts of the run, as the plot shows them.
    struct Point {
        int cut = 0;
        double acrossDeg = 0;
        double level = 0;
    };
    const QList<Point> &points() const { return m_points; }
    static constexpr int mostPoints = 1024;

    // The latest calibrations in calibration.csv, newest first, in words.
    QStringList history() const { return m_history; }
    static constexpr int historyLines = 20;
    // Reads calibration.csv again (done at the start and after each run).
    void readHistory();

signals:
    void started();
    void progressed();
    // A level heard on a cut, across the sky from where the target is believed.
    void levelHeard(double acrossDeg, double level);
    void finished(bool ok);
    void historyChanged();

private:
    LevelSource *sourceNamed(const QString &name);

    TrackingControl &m_station;
    QList<QPointer<LevelSource>> m_extraSources;
    std::unique_ptr<HamlibStrength> m_strength;
    std::unique_ptr<SoundCardLevel> m_soundCard;
    // Listed when a card comes or goes, not each time the sources are asked for.
    QList<SoundCardLevel::Input> m_soundCards;
    std::unique_ptr<CalibrationRun> m_run;
    bool m_applied = false;
    QList<Point> m_points;
    QStringList m_history;
};
