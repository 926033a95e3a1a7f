// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A demo station with the real main window and the simulator window, as
// `vestrel --demo` builds them, for tests.

#include "demo/demo.h"
#include "demo/demoautopilot.h"
#include "demo/demostation.h"
#include "demo/stationsimulator.h"
#include "settings/settingsfile.h"
#include "tracking/qt_vestrel.h"

#include <QDir>
#include <QTest>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <memory>

namespace demotesting {

// 2026-12-07 10:00 UTC: the Moon is some 14 degrees up in the south at JO70FD.
inline QDateTime moonUp()
{
    return QDateTime(QDate(2026, 12, 7), QTime(10, 0), Qt::UTC);
}

// 2026-12-07 10:30 UTC: the Sun is 17 degrees up in the south at JO70FD,
// near its highest of the day (solar noon 10:54 UTC).
inline QDateTime sunUp()
{
    return QDateTime(QDate(2026, 12, 7), QTime(10, 30), Qt::UTC);
}

struct DemoRun {
    explicit DemoRun(double clockRate = 1.0, const QDateTime &start = moonUp(), bool calibrate = false)
    {
        DemoStation::Settings settings;
        settings.startUtc = start;
        settings.clockRate = clockRate;
        started = station.start(settings);
        if (!started)
            return;
        SettingsFile().writeRepetitionTime(1);  // quicker than the operator's 2 s
        window = std::make_unique<Qt_Vestrel>();
        joinDemo(*window, station, calibrate);
        simulator = std::make_unique<StationSimulator>(station, window.get());
        autopilot = std::make_unique<DemoAutopilot>(*window, station, calibrate);
    }
    ~DemoRun()
    {
        autopilot.reset();
        simulator.reset();
        window.reset();
    }

    // The operator's first steps, without pauses.
    bool runAutopilot(int waitMs = 40000)
    {
        autopilot->start(0, 20000);
        return QTest::qWaitFor([this] { return autopilot->isFinished(); }, waitMs) && autopilot->succeeded();
    }

    template <typename T>
    T *w(const char *name) { return window->findChild<T *>(QString::fromLatin1(name)); }
    template <typename T>
    T *sim(const char *name) { return simulator->findChild<T *>(QString::fromLatin1(name)); }

    QString log() { return w<QPlainTextEdit>("textLog")->toPlainText(); }

    DemoStation station;
    bool started = false;
    std::unique_ptr<Qt_Vestrel> window;
    std::unique_ptr<StationSimulator> simulator;
    std::unique_ptr<DemoAutopilot> autopilot;
};

} // namespace demotesting
