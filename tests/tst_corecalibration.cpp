// SPDX-License-Identifier: GPL-3.0-or-later
// The beam fitted to a cut and the cross-scan that finds a pointing offset.
// The levels come from the beam written out here again (a Gaussian of the
// half-power width over a baseline) or from the simulated receiver, whose
// hidden offset is the answer the scan must find.

#include "calibration/beamfit.h"
#include "calibration/crossscan.h"
#include "calibration/sunnoise.h"
#include "sim/simreceiver.h"

#include <QtTest>

#include <cmath>
#include <random>

namespace {

// A cut from -span to +span in steps, with relative Gaussian scatter.
QList<CutPoint> cut(double centre, double width, double baseline, double peak, double span, double step,
                    double scatter, quint32 seed = 7)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> normal;
    QList<CutPoint> points;
    for (double x = -span; x <= span + 1e-9; x += step) {
        // Half power at (x - centre) = width / 2: exp(-4 ln2 (1/2)^2) = 1/2.
        const double level = baseline + peak * std::exp(-4 * std::log(2.0) * std::pow((x - centre) / width, 2));
        points.append({x, level * (1 + scatter * normal(random))});
    }
    return points;
}

} // namespace

class tst_CoreCalibration : public QObject
{
    Q_OBJECT

private slots:
    void beamFitted_data()
    {
        QTest::addColumn<double>("centre");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("peak");  // over a baseline of 100
        QTest::addColumn<double>("scatter");
        QTest::addColumn<double>("tolerance");  // on the centre, degrees
        QTest::newRow("on the target, no scatter") << 0.0 << 2.0 << 900.0 << 0.0 << 1e-6;
        QTest::newRow("1.5 deg off, 2 deg beam, 1 %") << 1.5 << 2.0 << 900.0 << 0.01 << 0.02;
        QTest::newRow("-1.2 deg off, 4 deg beam, 1 %") << -1.2 << 4.0 << 300.0 << 0.01 << 0.05;
        QTest::newRow("0.3 deg off, 1 deg beam, 2 %") << 0.3 << 1.0 << 900.0 << 0.02 << 0.02;
        QTest::newRow("Y of 1 dB (a small dish at 144 MHz)") << -0.7 << 2.0 << 26.0 << 0.005 << 0.1;
    }
    void beamFitted()
    {
        QFETCH(double, centre);
        QFETCH(double, width);
        QFETCH(double, peak);
        QFETCH(double, scatter);
        QFETCH(double, tolerance);
        const auto fit = fitBeam(cut(centre, width, 100, peak, 2.5 * width + 1.5, width / 5, scatter));
        QVERIFY(fit);
        QVERIFY2(std::abs(fit->centreDeg - centre) < tolerance, qPrintable(QString::number(fit->centreDeg)));
        QVERIFY2(std::abs(fit->centreDeg - centre) < 4 * fit->centreErrorDeg + 1e-6,
                 qPrintable(QStringLiteral("error %1 said %2").arg(fit->centreDeg - centre).arg(fit->centreErrorDeg)));
        QVERIFY(std::abs(fit->halfPowerWidthDeg - width) < 0.05 * width);
        QVERIFY(std::abs(fit->baseline - 100) < 2);
        QVERIFY(std::abs(fit->peak - peak) < 0.05 * peak + 1);
    }

    // A cut that holds no beam is said so, never taken for an offset.
    void noBeamRefused_data()
    {
        QTest::addColumn<QList<CutPoint>>("points");
        QTest::addColumn<QString>("problem");
        QTest::newRow("too few levels") << cut(0, 2, 100, 900, 1, 0.5, 0).mid(0, 5) << "5 levels on the cut";
        QTest::newRow("flat: the source is not there") << cut(0, 2, 100, 0, 5, 0.4, 0.01) << "scatter";
        QTest::newRow("the peak beyond the cut's end") << cut(6, 2, 100, 900, 5, 0.4, 0.01) << "outside the cut";
        QTest::newRow("a beam wider than the cut") << cut(0, 40, 100, 900, 5, 0.4, 0.0) << "does not fit";
        QList<CutPoint> notANumber = cut(0, 2, 100, 900, 5, 0.4, 0.01);
        notANumber[3].level = std::nan("");
        QTest::newRow("a level that is not a number") << notANumber << "not a number";
    }
    void noBeamRefused()
    {
        QFETCH(QList<CutPoint>, points);
        QFETCH(QString, problem);
        QString why;
        QVERIFY(!fitBeam(points, &why));
        QVERIFY2(why.contains(problem), qPrintable(why));
    }

    // Y from levels on and off the target, with its scatter: on 1000 and
    // off 100, each as 4 levels of standard deviation 8.165 and 0.8165
    // (standard errors 0.408 %), gives 10 dB +- 4.343 * 0.408 % * sqrt 2.
    void yMeasured()
    {
        const auto y = sunnoise::measure({1000, 1010, 990, 1000}, {100, 101, 99, 100});
        QVERIFY(y);
        QCOMPARE(qRound(y->db * 1000), 10000);
        QCOMPARE(qRound(y->errorDb * 10000), 251);
        QVERIFY(!sunnoise::measure({1000, 1010}, {100}));
        QVERIFY(!sunnoise::measure({1000, std::nan("")}, {100, 100}));
        QVERIFY(!sunnoise::measure({1000, 1000}, {100, 0}));
    }

    // The expected Y worked out by hand from the physics, step by step.
    void ySunExpected_data()
    {
        QTest::addColumn<double>("mhz");
        QTest::addColumn<double>("gainDbi");
        QTest::addColumn<double>("beamwidth");
        QTest::addColumn<double>("systemKelvin");
        QTest::addColumn<double>("flux107");
        QTest::addColumn<double>("fluxThere");
        QTest::addColumn<double>("db");
        // A 3 m dish on 23 cm. Quiet Sun: 140077 * 1.296^-2.1 + 10880 = 92144 K,
        // at 2.8 GHz 26999 K; the flux goes as T f^2: 100 SFU * 0.73116 = 73.12.
        // Ae = 1000 * 0.23133^2 / 4 pi = 4.2582 m^2; dT = 73.12e-22 * 4.2582 /
        // (2 * 1.380649e-23) = 1127.5 K; the 0.53 deg disk under 5.4 deg:
        // x = ln2 (0.53/5.4)^2, (1 - e^-x)/x = 0.99667; Y = 1 + 1127.5 * 0.99667 / 60.
        QTest::newRow("23 cm, 3 m dish, 100 SFU") << 1296.0 << 30.0 << 5.4 << 60.0 << 100.0 << 73.116 << 12.951;
        // Two yagis on 2 m: the corona's 1e6 K at 144 MHz, 150 SFU * 0.097963 =
        // 14.694 SFU; Ae = 50.12 * 2.0819^2 / 4 pi = 17.286 m^2; dT = 919.9 K;
        // under 20 deg the disk is a point (0.99976); Y = 1 + 919.9 * 0.99976 / 250.
        QTest::newRow("2 m, two yagis, 150 SFU") << 144.0 << 17.0 << 20.0 << 250.0 << 150.0 << 14.694 << 6.701;
    }
    void ySunExpected()
    {
        QFETCH(double, mhz);
        QFETCH(double, gainDbi);
        QFETCH(double, beamwidth);
        QFETCH(double, systemKelvin);
        QFETCH(double, flux107);
        QFETCH(double, fluxThere);
        QFETCH(double, db);
        const double flux = sunnoise::fluxAt(mhz, flux107);
        QVERIFY2(std::abs(flux - fluxThere) < 0.002, qPrintable(QString::number(flux, 'f', 4)));
        const StationNoise station {mhz, gainDbi, beamwidth, systemKelvin};
        QVERIFY2(std::abs(sunnoise::expectedSunDb(station, flux) - db) < 0.002,
                 qPrintable(QString::number(sunnoise::expectedSunDb(station, flux), 'f', 4)));
    }

    // A beam's gain from its width: 4 pi over the Gaussian's solid angle,
    // pi w^2 / (4 ln 2); 2 deg: 41253 / (1.1331 * 4) = 9101.6, 39.59 dBi.
    void gainFromWidth()
    {
        QVERIFY(std::abs(sunnoise::gainDbi({1296, std::nullopt, 2.0, 60}) - 39.591) < 0.002);
        QCOMPARE(qRound(sunnoise::receiverKelvin(0.5) * 10), 354);  // 290 (10^0.05 - 1) = 35.38 K
    }

    // The scan on the simulated receiver finds its hidden offset, whatever
    // the offset, the elevation and the beam: the azimuth step widened by
    // 1/cos(elevation), each cut through the other's peak.
    void crossScanFindsHiddenOffset_data()
    {
        QTest::addColumn<double>("azimuth");  // hidden, rotator's degrees
        QTest::addColumn<double>("elevation");
        QTest::addColumn<double>("targetElevation");
        QTest::addColumn<double>("beamwidth");
        QTest::newRow("none, 20 deg up") << 0.0 << 0.0 << 20.0 << 2.0;
        QTest::newRow("+1.5/-1.5, low") << 1.5 << -1.5 << 8.0 << 2.0;
        QTest::newRow("-1.5/+1.5, 45 deg up") << -1.5 << 1.5 << 45.0 << 2.0;
        QTest::newRow("+1.0/+0.5, 70 deg up") << 1.0 << 0.5 << 70.0 << 2.0;
        QTest::newRow("-0.6/-0.4, 1 deg beam") << -0.6 << -0.4 << 30.0 << 1.0;
        QTest::newRow("+1.5/+1.5, 4 deg beam") << 1.5 << 1.5 << 35.0 << 4.0;
    }
    void crossScanFindsHiddenOffset()
    {
        QFETCH(double, azimuth);
        QFETCH(double, elevation);
        QFETCH(double, targetElevation);
        QFETCH(double, beamwidth);
        SimReceiver::Sky sky;
        sky.beamwidthDeg = beamwidth;
        SimReceiver receiver({}, {}, sky);
        receiver.setHiddenOffset({azimuth, elevation});
        const Direction sun {180, targetElevation};
        CrossScan::Settings settings;
        settings.beamwidthDeg = beamwidth;
        CrossScan scan(settings);
        while (!scan.finished()) {
            for (int i = 0; i < scan.points(); ++i) {
                const Direction offset = scan.aim(i, sun.elevation);
                for (int level = 0; level < 10; ++level)  // a second at each point
                    scan.add(offset, sun.elevation,
                             receiver.sample({sun.azimuth + offset.azimuth, sun.elevation + offset.elevation}, sun));
            }
            QString problem;
            QVERIFY2(scan.endCut(&problem), qPrintable(problem));
        }
        // The antenna points at readout + hidden: the target is met with the
        // hidden offset taken off.
        QVERIFY2(std::abs(scan.correction().azimuth + azimuth) < 0.05, qPrintable(QString::number(scan.correction().azimuth)));
        QVERIFY2(std::abs(scan.correction().elevation + elevation) < 0.05,
                 qPrintable(QString::number(scan.correction().elevation)));
        const double seen = std::hypot(beamwidth, sky.sourceWidthDeg);
        // The width seen is the beam's and the Sun's together, across the sky on both cuts.
        for (CutAxis axis : {CutAxis::Azimuth, CutAxis::Elevation})
            QVERIFY2(std::abs(scan.fit(axis)->halfPowerWidthDeg - seen) < 0.05 * seen,
                     qPrintable(QString::number(scan.fit(axis)->halfPowerWidthDeg)));
    }
};

QTEST_GUILESS_MAIN(tst_CoreCalibration)
#include "tst_corecalibration.moc"
