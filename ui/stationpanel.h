// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ephemeris/passes.h"

#include <QDateTime>
#include <QWidget>

#include <memory>
#include <optional>

class CalibrationDialog;
class Calibrator;
class DopplerMethodDialog;
class RotatorGeometryDialog;
class SourceDialog;
class TrackingControl;

namespace Ui {
class StationPanelClass;
}

// What the station is doing, at a glance: the time, the target from the
// tracking record, where the antenna is sent and where it points, the
// Doppler shifts, the data's age, and when the target rises and sets.
class StationPanel : public QWidget
{
    Q_OBJECT

public:
    explicit StationPanel(TrackingControl &station, QWidget *parent = nullptr);
    ~StationPanel() override;

    void refresh();
    // "Calibrate...", for a host that adds level sources of its own.
    CalibrationDialog &calibrationDialog() { return *m_calibrationDialog; }
    Calibrator &calibrator() { return *m_calibrator; }

private:
    void refreshPasses(const QDateTime &now);
    void refreshFrequencies();

    TrackingControl &m_station;
    std::unique_ptr<Ui::StationPanelClass> m_ui;
    SourceDialog *m_sourceDialog = nullptr;
    DopplerMethodDialog *m_methodDialog = nullptr;
    RotatorGeometryDialog *m_geometryDialog = nullptr;
    // Before the dialog, so that a run still going ends while the dialog is there.
    Calibrator *m_calibrator = nullptr;
    CalibrationDialog *m_calibrationDialog = nullptr;
    // Rise, set and common windows change slowly; worked out again each minute.
    QDateTime m_passesComputed;
    QString m_passesKey;
};
