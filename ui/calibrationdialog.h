// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

#include <memory>

class CalibrationRun;
class Calibrator;
class LevelSource;

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
    explicit CalibrationDialog(Calibrator &calibrator, QWidget *parent = nullptr);
    ~CalibrationDialog() override;

    // A level source besides the radio's S-meter (the demo's simulated receiver); not owned.
    void addLevelSource(LevelSource *source);
    // The sources offered now, and the history shown again.
    void refresh();
    const CalibrationRun *run() const;

private:
    void start();
    void progressed();
    void apply();
    void showHistory();
    // The frequency the Y expected is worked out for, and where it comes from.
    void showFrequency();
    void started();
    void levelHeard(double acrossDeg, double level);

    Calibrator &m_calibrator;
    std::unique_ptr<Ui::CalibrationDialog> m_ui;
    int m_plottedCut = -1;
};
