// SPDX-License-Identifier: GPL-3.0-or-later
// Prints how long one sky computation and one atomic file replacement take,
// and how far an accelerated writer gets through a Moon pass in real time.

#include "ephemeris/ephemeriswriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const GeoPosition home = *positionOfLocator(QStringLiteral("JO70fd"));
    const GeoPosition dx = *positionOfLocator(QStringLiteral("FN31pr"));
    const QDateTime start(QDate(2026, 12, 7), QTime(4, 30, 0), Qt::UTC);

    constexpr int computations = 200;
    QElapsedTimer timer;
    timer.start();
    double sink = 0;
    for (int i = 0; i < computations; ++i)
        sink += computeSky(home, dx, 432.065, start.addSecs(i)).selfDopplerHz;
    const double perSky = double(timer.nsecsElapsed()) / computations / 1e6;
    std::printf("computeSky: %.2f ms per snapshot (%d snapshots, checksum %.0f)\n", perSky, computations, sink);

    QTemporaryDir dir;
    EphemerisWriter writer;
    writer.setHome(QStringLiteral("JO70fd"));
    writer.setDx(QStringLiteral("FN31pr"));
    writer.setFrequencyMHz(432.065);
    writer.setOutputPath(dir.filePath(QStringLiteral("azel.dat")));
    writer.setClock(start, 0.0);
    timer.restart();
    for (int i = 0; i < computations; ++i)
        writer.writeOnce();
    std::printf("writeOnce: %.2f ms per file (compute and replace)\n",
                double(timer.nsecsElapsed()) / computations / 1e6);

    // A 12-hour pass at 3600 times real speed: one clock second per file.
    constexpr double rate = 3600.0;
    constexpr int realMs = 5000;
    int files = 0;
    QObject::connect(&writer, &EphemerisWriter::written, [&] { ++files; });
    writer.setClock(start, rate);
    writer.start();
    QTimer::singleShot(realMs, &application, &QCoreApplication::quit);
    application.exec();
    writer.stop();
    std::printf("rate %.0f: %d files in %d ms real time, %.0f per second, one every %.1f clock seconds\n", rate,
                files, realMs, files * 1000.0 / realMs, rate * realMs / 1000.0 / files);
    return 0;
}
