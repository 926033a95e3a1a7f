// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class DemoStation;
class QTimer;
class Qt_Vestrel;

// Does the operator's first steps in the real main window, through its own
// widgets, one at a time with a pause between them so they can be watched:
// pick the simulated ports, open both, choose the tracking data file, switch
// both ports to Auto, tick "Track frequency" and "PTT". Asked to calibrate,
// it then opens "Calibrate...", runs a cross-scan on the Sun with the
// simulated receiver and applies the offsets it finds.
class DemoAutopilot : public QObject
{
    Q_OBJECT

public:
    DemoAutopilot(Qt_Vestrel &window, DemoStation &station, bool calibrate = false, QObject *parent = nullptr);

    // pauseMs between steps; each step may wait up to timeoutMs for its effect.
    void start(int pauseMs = 400, int timeoutMs = 20000);
    bool isFinished() const { return m_finished; }
    bool succeeded() const { return m_succeeded; }

signals:
    void finished(bool ok, const QString &message);

private:
    struct Step {
        QString what;
        std::function<bool()> ready;  // waited for before acting
        std::function<void()> act;
        std::function<bool()> done;   // waited for after acting
        int timeoutMs = 0;  // 0: start()'s
    };

    void buildSteps();
    void addCalibrationSteps();
    void poll();
    void finish(bool ok, const QString &message);
    void chooseDataFile();

    Qt_Vestrel &m_window;
    DemoStation &m_station;
    std::vector<Step> m_steps;
    std::size_t m_next = 0;
    bool m_acted = false;
    qint64 m_waitedMs = 0;
    int m_pauseMs = 400;
    int m_timeoutMs = 20000;
    bool m_finished = false;
    bool m_succeeded = false;
    QTimer *m_timer;
};
