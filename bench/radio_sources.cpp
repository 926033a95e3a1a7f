// SPDX-License-Identifier: GPL-3.0-or-later
// How far the radio-source places the station computes lie from ERFA's
// IAU 2006/2000A reduction: the catalogue and a spread of typed positions
// over the whole sky, at stations from pole to pole, over fifty years.
// --quick takes a tenth of the instants.

#include "benchreport.h"
#include "erfareference.h"

#include <QCoreApplication>

#include <cmath>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const bool quick = application.arguments().contains(QStringLiteral("--quick"));
    const int instants = quick ? 40 : 400;

    QList<RadioSource> sources = radiosource::catalogue();
    for (int dec = -85; dec <= 85; dec += 17) {
        for (int ra = 7; ra < 360; ra += 47)
            sources << RadioSource {QString(), double(ra), double(dec)};
    }
    QList<GeoPosition> stations;
    for (const double latitude : {-78.0, -52.0, -35.0, -12.0, 0.0, 23.4, 52.0, 58.8, 70.0, 81.0})
        stations << GeoPosition {latitude, std::fmod(latitude * 7.0 + 360.0, 360.0) - 180.0};

    // Instants spread over 2000-2050 by a fixed stride, so that every run
    // measures the same set.
    const QDateTime first(QDate(2000, 1, 1), QTime(0, 0), Qt::UTC);
    const qint64 span = first.secsTo(QDateTime(QDate(2050, 1, 1), QTime(0, 0), Qt::UTC));
    double worst = 0, sumSquares = 0, worstElevation = 0;
    long count = 0;
    for (int i = 0; i < instants; ++i) {
        const QDateTime utc = first.addSecs(qint64(double(span) * std::fmod(i * 0.6180339887, 1.0)));
        for (const RadioSource &source : sources) {
            for (const GeoPosition &station : stations) {
                const HorizontalPlace ours = radioSourcePlace(source, station, utc);
                const auto theirs = erfareference::place(source, station, utc);
                if (!theirs || ours.elevation < -2.0)  // out of sight: no antenna points there
                    continue;
                const double apart = erfareference::separationDeg(ours, *theirs);
                sumSquares += apart * apart;
                ++count;
                if (apart > worst) {
                    worst = apart;
                    worstElevation = theirs->elevation;
                }
            }
        }
    }
    const double rms = count ? std::sqrt(sumSquares / double(count)) : 0.0;
    std::printf("%ld places (%lld sources, %lld stations, %d instants); worst %.5f deg at elevation %.1f, RMS %.5f deg\n",
                count, qint64(sources.size()), qint64(stations.size()), instants, worst, worstElevation, rms);
    bench::row(QStringLiteral("radio-source place against ERFA (%1 places)").arg(count),
               QStringLiteral("worst %1 deg, RMS %2 deg").arg(worst, 0, 'f', 5).arg(rms, 0, 'f', 5),
               QStringLiteral("bound 0.01 deg"));
    return count > 0 ? 0 : 1;
}
