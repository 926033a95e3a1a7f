// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>

#include <memory>

class CalibrationRun;
class HamlibStrength;
class LevelSource;
class TrackingControl;

namespace Ui {
class CalibrationDialog;
}

// "Calibrate...": a cross-scan or Sun noise on the station, with the levels
// and the fitted beam drawn as they come, the result, Apply (after the
// operator confirms), and the calibrations kept in calibration.csv.
class CalibrationDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CalibrationDialog(TrackingControl &station, QWidget *parent = nullptr);
    ~CalibrationDialog() override;

    // A level source besides the radio's S-meter (the demo's simulated receiver); not owned.
    void addLevelSource(LevelSource *source);
    // The sources offered now, and the history shown again.
    void refresh();
    const CalibrationRun *run() const { return m_run.get(); }

private:
    void start();
    void progressed();
    void apply();
    void showHistory();
    LevelSource *chosenSource();

    TrackingControl &m_station;
    std::unique_ptr<Ui::CalibrationDialog> m_ui;
    QList<QPointer<LevelSource>> m_extraSources;
    std::unique_ptr<HamlibStrength> m_strength;
    std::unique_ptr<CalibrationRun> m_run;
    int m_plottedCut = -1;
};
