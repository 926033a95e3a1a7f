// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A demo station with the real main window and the simulator window, as
// `vestrel --demo` builds them, for tests.

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

struct DemoRun {
    explicit DemoRun(double clockRate = 1.0)
    {
        DemoStation::Settings settings;
        settings.startUtc = moonUp();
        settings.clockRate = clockRate;
        started = station.start(settings);
        if (!started)
            return;
        SettingsFile().writeRepetitionTime(1);  // quicker than the operator's 2 s
        window = std::make_unique<Qt_Vestrel>();
        station.shareClock(window->station());
        simulator = std::make_unique<StationSimulator>(station, window.get());
        autopilot = std::make_unique<DemoAutopilot>(*window, station);
    }
    ~DemoRun()
    {
        autopilot.reset();
        simulator.reset();
        window.reset();
    }

    // The operator's first steps, without pauses.
    bool runAutopilot()
    {
        autopilot->start(0, 20000);
        return QTest::qWaitFor([this] { return autopilot->isFinished(); }, 40000) && autopilot->succeeded();
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
