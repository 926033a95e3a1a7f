// SPDX-License-Identifier: GPL-3.0-or-later
#include "demo/demo.h"

#include "demo/democlock.h"
#include "demo/demoautopilot.h"
#include "demo/demostation.h"
#include "demo/stationsimulator.h"
#include "demo/windowplacement.h"
#include "ephemeris/ephemeriswriter.h"
#include "ephemeris/passes.h"
#include "startup/quitonterminate.h"
#include "sim/simreceiver.h"
#include "tracking/qt_vestrel.h"
#include "ui/calibrationdialog.h"

#include <QAction>
#include <QApplication>
#include <QTextStream>

void joinDemo(Qt_Vestrel &window, DemoStation &station, bool sun)
{
    station.shareClock(window.station());
    station.hearTargetOf(window.station());
    window.findChild<CalibrationDialog *>()->addLevelSource(&station.receiver());
    // As the operator chooses it: "Rotator - Sun" in the window's menu.
    if (auto *sunAction = window.findChild<QAction *>(QStringLiteral("actionRotSun")); sun && sunAction)
        sunAction->trigger();
}

int runDemo(QApplication &application, bool automatic, std::optional<double> rate, bool sun)
{
    const passes::Body body = sun ? passes::Body::Sun : passes::Body::Moon;
    QTextStream out(stdout);
    DemoStation station;
    DemoStation::Settings settings;
    const std::optional<GeoPosition> home = positionOfLocator(settings.home);
    const DemoClock clock = DemoClock::choose(*home, QDateTime::currentDateTimeUtc(), rate, body);
    settings.startUtc = clock.startUtc;
    settings.clockRate = clock.rate;
    if (!station.start(settings)) {
        QTextStream(stderr) << "vestrel: demo: " << station.errorString() << Qt::endl;
        return 1;
    }
    out << "Demo station in " << station.workingDirectory() << Qt::endl
        << "  port " << station.portName(DemoStation::Rotator) << ": rotator controller on "
        << station.linePath(DemoStation::Rotator) << Qt::endl
        << "  port " << station.portName(DemoStation::Transceiver) << ": transceiver on "
        << station.linePath(DemoStation::Transceiver) << Qt::endl
        << "  tracking data file " << station.dataFilePath() << Qt::endl
        << "  clock: "
        << (clock.isSimulated()
                ? DemoClock::describe(clock.rate, clock.startUtc) + QStringLiteral(" at the start")
                : QStringLiteral("real time"))
        << (sun ? ", the Sun " : ", the Moon ") << (passes::elevation(body, *home, station.ephemeris().now()) > 0 ? "up" : "down")
        << " at "
        << settings.home << Qt::endl;

    // Ended by a signal, the window still closes its ports and the station
    // removes its scratch directory.
    const startup::QuitOnTerminate quitOnTerminate(application);
    int code = 0;
    {
        Qt_Vestrel window;
        joinDemo(window, station, sun);
        window.show();
        StationSimulator simulator(station, &window);
        // Closing the main window ends the demo, whatever the simulator does.
        simulator.setAttribute(Qt::WA_QuitOnClose, false);
        simulator.show();
        SideBySide::place(window, simulator);

        DemoAutopilot autopilot(window, station, sun);
        QObject::connect(&autopilot, &DemoAutopilot::finished, &application, [&out](bool ok, const QString &message) {
            out << (ok ? "Demo: " : "Demo stopped: ") << message << Qt::endl;
        });
        if (automatic)
            autopilot.start();
        code = application.exec();
    }
    out << "Demo station closed" << Qt::endl;
    return code;
}
