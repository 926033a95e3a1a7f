// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "demo/demostation.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QAction;
class QMainWindow;
class QTimer;

namespace Ui {
class StationSimulatorClass;
}

// The "Station simulator" window beside the main window: what the simulated
// antenna and transceiver do, the target from the ephemeris, a PTT button and
// the faults an operator meets on a real station.
class StationSimulator : public QWidget
{
    Q_OBJECT

public:
    // mainWindow tells which target the operator tracks (its Rotator menu).
    StationSimulator(DemoStation &station, QMainWindow *mainWindow, QWidget *parent = nullptr);
    ~StationSimulator() override;

    void refresh();

private:
    void showCable(DemoStation::Device device);

    DemoStation &m_station;
    // The main window's target choices, looked up once.
    QPointer<QAction> m_sunTarget;
    QPointer<QAction> m_sourceTarget;
    std::unique_ptr<Ui::StationSimulatorClass> ui;
    QTimer *m_refreshTimer;
};
