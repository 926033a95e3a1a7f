// SPDX-License-Identifier: GPL-3.0-or-later
// The beam fitted to a cut and the cross-scan that finds a pointing offset.
// The levels come from the beam written out here again (a Gaussian of the
// half-power width over a baseline) or from the simulated receiver, whose
// hidden offset is the answer the scan must find.

#include "calibration/bandpower.h"
#include "calibration/beamfit.h"
#include "calibration/calibrationrun.h"
#include "calibration/calibrator.h"
#include "calibration/crossscan.h"
#include "calibration/hamlibstrength.h"
#include "calibration/soundcardlevel.h"
#include "calibration/sunnoise.h"
#include "defaultstation.h"
#include "fixedsource.h"
#include "hamlib/hamliblinks.h"
#include "hamlibtesting.h"
#include "movingsky.h"
#include "settings/settingsfile.h"
#include "sim/simreceiver.h"
#include "sim/simrotator.h"
#include "sim/simtransceiver.h"

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

// The station at store.cfg's defaults with the simulated controller on port
// A in Auto, the Sun held at one place, and the simulated receiver hearing
// it through the beam about the antenna's true direction.
struct ScanStation : DefaultStation {
    static constexpr double slew = 6;  // degrees a second, either axis, as Hamlib's dummy rotator too

    // The operator tracks this target when the run starts: another one than
    // the run's takes a repetition to be computed. Without a serial line,
    // port A is left for the test to open. The Sun is near the parking
    // place (90, 10) unless said: the station takes the antenna to start
    // there, and a run waits for its first turn at the rotator's speed.
    explicit ScanStation(TrackingTarget operatorTarget = TrackingTarget::Moon, bool serial = true,
                         const Direction &where = {100, 25})
        : target(operatorTarget)
        , sun(where)
        // The antenna is where a rotator that reads its position says, else where the simulated one is.
        , receiver(
              [this] {
                  const Pointing &pointing = station.pointing();
                  if (pointing.actualAzimuth && pointing.actualElevation)
                      return std::optional<Direction>({*pointing.actualAzimuth, *pointing.actualElevation});
                  return std::optional<Direction>({rotator.presentAzimuth(), rotator.presentElevation()});
              },
              [this] { return std::optional<Direction>(sun); }, SimReceiver::Sky())
    {
        record.azimuth = sun.azimuth;
        record.elevation = sun.elevation;
        rotator.setLimits();
        rotator.setPresentPosition(sun.azimuth, sun.elevation);
        rotator.setSlewRates(slew, slew);
        station.setTrackingSource(std::make_unique<FixedSource>(&record));
        station.setTarget(target);
        station.setAuto(StationPort::A, true);
        if (serial)
            station.open(StationPort::A, rotator.slavePath(), {}, false);
    }
    // The antenna on the target, as tracking keeps it before a calibration.
    bool tracking() const
    {
        const auto antenna = receiver.antenna();
        return antenna && std::abs(antenna->azimuth - sun.azimuth) < 0.1 && std::abs(antenna->elevation - sun.elevation) < 0.1;
    }
    // Fewer and shorter points than an operator's scan (11 a cut, half a
    // second each, two cuts), so that a run takes some 30 s, not minutes.
    static CalibrationRun::Settings quick()
    {
        CalibrationRun::Settings settings;
        settings.scan.stepBeams = 0.5;
        settings.scan.cuts = 2;
        settings.dwellSeconds = 0.5;
        settings.settleSeconds = 0.5;
        settings.slewDegPerSecond = slew;
        return settings;
    }
    bool backOnTarget() const
    {
        const Pointing &pointing = station.pointing();
        return station.scanOffset().azimuth == 0 && station.scanOffset().elevation == 0 && pointing.commandedAzimuth
            && std::abs(*pointing.commandedAzimuth - sun.azimuth) <= 0.1
            && std::abs(*pointing.commandedElevation - sun.elevation) <= 0.1 && station.target() == target;
    }

    TrackingTarget target;
    Direction sun;
    TrackingRecord record;
    SimRotator rotator;
    SimReceiver receiver;
};

// The station at store.cfg's defaults, its clock fixed at 10:00 UTC, on a
// sky where the Moon stands still at 200/30 and the Sun where a case puts
// it; the simulated controller on port A in Auto follows the Moon.
struct SkyStation : DefaultStation {
    SkyStation(bool looksAhead, const MovingSky::Body &sun, double maskDeg = 0)
    {
        station.setClock([] { return hour(); });
        auto sky = std::make_unique<MovingSky>(hour(), looksAhead);
        sky->place(TrackingTarget::Moon, {{200, 30}, 0});
        sky->place(TrackingTarget::Sun, sun);
        station.setTrackingSource(std::move(sky));
        if (maskDeg > 0) {
            RotatorGeometry geometry;
            geometry.horizonMask = {{0, maskDeg}, {180, maskDeg}};
            station.setRotatorGeometry(geometry);
        }
        rotator.setLimits();
        rotator.setSlewRates(0, 0);
        station.setAuto(StationPort::A, true);
        opened = station.open(StationPort::A, rotator.slavePath(), {}, false);
    }
    static QDateTime hour() { return QDateTime(QDate(2026, 12, 7), QTime(10, 0), Qt::UTC); }

    SimRotator rotator;
    bool opened = false;
    SimReceiver receiver {[] { return std::optional<Direction>(); }, [] { return std::optional<Direction>(); },
                          SimReceiver::Sky()};
};

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
    // The Y expected on the Moon and the radio sources, written out:
    // the Moon's 210 K over its 0.52 deg disk seen through a Gaussian beam
    // of width w, T (1 - exp(-ln2 (0.52 / w)^2)); a point source's
    // S A / 2k, with A = G lambda^2 / 4 pi and G = 16 ln2 / w^2. Baars et
    // al. (1977) give at 1296 MHz Cyg A 10^(4.695 + 0.085 L - 0.178 L^2) =
    // 1718.1 Jy (L = log10 1296), Cas A 10^(5.745 - 0.770 L) = 2229.9 Jy in
    // 1965 fading 0.936 % a year to 1245.4 Jy at 2026.93, Tau A
    // 10^(3.915 - 0.299 L) = 964.6 Jy fading 0.167 % a year to 869.7 Jy.
    // A 2 deg beam at 1296 MHz is 38.76 m^2; the system 100 K.
    void yExpectedOffTheSun_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<double>("mhz");
        QTest::addColumn<double>("beamwidth");
        QTest::addColumn<double>("systemKelvin");
        QTest::addColumn<double>("expectedDb");  // NaN: none expected
        const double none = std::nan("");
        QTest::newRow("Moon, 2 deg beam, 100 K") << "Moon" << 1296.0 << 2.0 << 100.0 << 0.3986;
        QTest::newRow("Moon, 0.5 deg beam, 50 K: 110.8 K") << "Moon" << 10368.0 << 0.5 << 50.0 << 5.0725;
        QTest::newRow("Cyg A, 1296 MHz: 24.12 K") << "Cyg A" << 1296.0 << 2.0 << 100.0 << 0.9383;
        QTest::newRow("Cas A, 1296 MHz: 17.48 K") << "Cas A" << 1296.0 << 2.0 << 100.0 << 0.6996;
        QTest::newRow("Tau A, 1296 MHz: 12.21 K") << "Tau A" << 1296.0 << 2.0 << 100.0 << 0.5002;
        QTest::newRow("Cyg A, 144 MHz: 11200 Jy, 15 deg beam, 300 K") << "Cyg A" << 144.0 << 15.0 << 300.0 << 2.4418;
        QTest::newRow("Tau A under 1 GHz: no spectrum") << "Tau A" << 432.0 << 5.0 << 100.0 << none;
        QTest::newRow("Vir A: not among them") << "Vir A" << 1296.0 << 2.0 << 100.0 << none;
    }
    void yExpectedOffTheSun()
    {
        QFETCH(QString, target);
        QFETCH(double, mhz);
        QFETCH(double, beamwidth);
        QFETCH(double, systemKelvin);
        QFETCH(double, expectedDb);
        StationNoise station;
        station.frequencyMHz = mhz;
        station.beamwidthDeg = beamwidth;
        station.systemKelvin = systemKelvin;
        std::optional<double> y;
        if (target == QLatin1String("Moon"))
            y = sunnoise::expectedMoonDb(station);
        else if (const auto flux = sunnoise::sourceJansky(target, mhz, 2026.93))
            y = sunnoise::expectedPointDb(station, *flux);
        QCOMPARE(y.has_value(), !std::isnan(expectedDb));
        if (y)
            QVERIFY2(std::abs(*y - expectedDb) < 0.001, qPrintable(QString::number(*y, 'f', 4)));
    }

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

    // A sound card's level: a tone's power (A^2 / 2) through the band as a
    // second-order Butterworth high-pass and low-pass pass it after the
    // bilinear transform, |H|^2 = 1 / (1 + W^4) with W = tan(pi f / fs) /
    // tan(pi f0 / fs) (the low-pass) or its inverse (the high-pass): the
    // edges at half power, hum and hiss kept out.
    void bandPower_data()
    {
        QTest::addColumn<double>("hz");
        QTest::newRow("1 kHz, in the band") << 1000.0;
        QTest::newRow("300 Hz, the low edge") << 300.0;
        QTest::newRow("2500 Hz, the high edge") << 2500.0;
        QTest::newRow("50 Hz hum") << 50.0;
        QTest::newRow("10 kHz hiss") << 10000.0;
    }
    void bandPower()
    {
        QFETCH(double, hz);
        constexpr double rate = 48000, amplitude = 0.5;
        std::vector<float> tone(static_cast<std::size_t>(rate));
        for (std::size_t i = 0; i < tone.size(); ++i)
            tone[i] = float(amplitude * std::sin(2 * M_PI * hz * double(i) / rate));
        BandPower band(rate, 300, 2500);
        band.setBlock(int(rate) / SoundCardLevel::levelsPerSecond);
        const std::vector<double> levels = band.add(tone.data(), int(tone.size()));
        QCOMPARE(levels.size(), std::size_t(SoundCardLevel::levelsPerSecond));
        const auto warped = [](double f, double edge) { return std::tan(M_PI * f / rate) / std::tan(M_PI * edge / rate); };
        const double highPass = 1 / (1 + std::pow(warped(300, hz), 4));
        const double lowPass = 1 / (1 + std::pow(warped(hz, 2500), 4));
        const double expected = amplitude * amplitude / 2 * highPass * lowPass;
        // The last tenth of a second, long after the filters' start.
        QVERIFY2(std::abs(levels.back() / expected - 1) < 0.02,
                 qPrintable(QStringLiteral("%1 against %2").arg(levels.back()).arg(expected)));
    }

    // A sound card that is not there says so when asked for levels.
    void soundCardGone()
    {
        SoundCardLevel card({"no-such-card", QStringLiteral("USB Audio CODEC")});
        QSignalSpy failed(&card, &LevelSource::failed);
        card.start();
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("the sound card USB Audio CODEC is not there any more"));
    }

    // The station's own tracking moves the antenna through the scan; the
    // offset found is the hidden one taken off, kept in calibration.csv, and
    // added to the operator's offsets when applied; the antenna is back on
    // the target and the operator's target is back.
    // Started at once, the antenna still turning from its parking place
    // (90, 10) to the Sun, 90 degrees away: the serial controller does not
    // say where it is, so the run waits for the whole turn first.
    void stationScansTheSun_data()
    {
        QTest::addColumn<bool>("fromParking");
        QTest::newRow("antenna on the Sun") << false;
        QTest::newRow("antenna still turning from its parking place") << true;
    }
    void stationScansTheSun()
    {
        QFETCH(bool, fromParking);
        ScanStation s(TrackingTarget::Moon, true, fromParking ? Direction {180, 35} : Direction {100, 25});
        s.receiver.setHiddenOffset({0.8, -0.5});
        if (fromParking)
            s.rotator.setPresentPosition(90, 10);
        else
            QTRY_VERIFY_WITH_TIMEOUT(s.tracking(), 60000);
        CalibrationRun run(s.station, s.receiver, ScanStation::quick());
        QVERIFY2(run.start(), qPrintable(run.failure()));
        QCOMPARE(s.station.target(), TrackingTarget::Sun);
        QTRY_VERIFY_WITH_TIMEOUT(!run.isRunning(), 90000);
        QVERIFY2(run.succeeded(), qPrintable(run.failure()));
        QVERIFY2(std::abs(run.scan().correction().azimuth + 0.8) < 0.05, qPrintable(s.all()));
        QVERIFY2(std::abs(run.scan().correction().elevation - 0.5) < 0.05, qPrintable(s.all()));
        QTRY_VERIFY(s.backOnTarget());
        QCOMPARE(s.rotator.refusedCount(), 0);

        QFile csv(CalibrationRun::defaultPath());
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], CalibrationRun::csvHeader());
        QCOMPARE(lines[1].section(',', 1, 2), QStringLiteral("Sun,cross-scan"));

        const Direction found = run.scan().correction();
        s.station.addOffsets(found.azimuth, found.elevation);
        SettingsFile store;
        QVERIFY(std::abs(store.readAzimutOffset() - found.azimuth) < 1e-4);
        QVERIFY(std::abs(store.readElevationOffset() - found.elevation) < 1e-4);
    }

    // Sun noise: on the Sun and five beamwidths off it in azimuth, in turn.
    // The simulated receiver's model written out: cold sky 30 K and the
    // receiver 50 K; the Sun's 3000 K through a 2 deg beam, spread by its
    // 0.5 deg: 3000 * 4 / 4.25 = 2823.5 K; Y = (80 + 2823.5) / 80 = 15.59 dB.
    // Five beamwidths off, exp(-4 ln2 * 10^2 / 4.25) leaves nothing.
    // Both ways of knowing the antenna is there: a serial controller that
    // does not say where it is (the move timed at its speed), and Hamlib's
    // dummy rotator through rotctld, read back. Cold sky at a place the
    // operator chose is heard there (read back through rotctld), alike.
    void sunNoiseOnTheStation_data()
    {
        QTest::addColumn<bool>("rotctld");
        QTest::addColumn<bool>("coldSkyChosen");
        QTest::newRow("serial controller, moves timed") << false << false;
        QTest::newRow("rotctld -m 1, position read") << true << false;
        QTest::newRow("rotctld -m 1, cold sky where the operator says") << true << true;
    }
    void sunNoiseOnTheStation()
    {
        QFETCH(bool, rotctld);
        QFETCH(bool, coldSkyChosen);
        if (rotctld && QStandardPaths::findExecutable(QStringLiteral("rotctld")).isEmpty())
            QSKIP("rotctld is not installed (Debian package libhamlib-utils)");
        // Near where the dummy rotator starts (0, 0), so that it is soon there.
        ScanStation s(TrackingTarget::Sun, !rotctld, rotctld ? Direction {20, 15} : Direction {100, 25});
        hamlibtesting::Daemon daemon(QStringLiteral("rotctld"), {QStringLiteral("-m"), QStringLiteral("1")});
        if (rotctld) {
            QVERIFY(daemon.start());
            s.station.setNetwork(StationPort::A, true);
            QVERIFY(s.station.open(StationPort::A, daemon.address(), {}, false));
            QTRY_VERIFY(s.station.pointing().actualAzimuth);  // from here on, the antenna as read
        }
        QTRY_VERIFY_WITH_TIMEOUT(s.tracking(), 60000);
        CalibrationRun::Settings settings = ScanStation::quick();
        settings.kind = CalibrationRun::Kind::SunNoise;
        settings.noiseSeconds = 2;  // an operator's 10 s, shortened: the scatter is the receiver's, not the time's
        settings.noiseRounds = 2;
        settings.flux107Sfu = 100;
        // A quiet patch 20 degrees round and 5 up from the Sun, where it is.
        const Direction quiet {s.sun.azimuth + 20, s.sun.elevation + 5};
        if (coldSkyChosen)
            settings.coldSky = quiet;
        CalibrationRun run(s.station, s.receiver, settings);
        QVERIFY2(run.start(), qPrintable(run.failure()));
        bool wasThere = false;
        QObject::connect(&s.station, &TrackingControl::antennaPosition, &s.station, [&](double azimuth, double elevation) {
            wasThere = wasThere || (std::abs(azimuth - quiet.azimuth) < 0.2 && std::abs(elevation - quiet.elevation) < 0.2);
        });
        QTRY_VERIFY_WITH_TIMEOUT(!run.isRunning(), 90000);
        QCOMPARE(wasThere, coldSkyChosen && rotctld);
        QVERIFY2(run.succeeded(), qPrintable(run.failure()));
        QVERIFY2(std::abs(run.yFactor()->db - 15.59) < 0.2, qPrintable(QString::number(run.yFactor()->db)));
        QVERIFY(run.yFactor()->errorDb > 0 && run.yFactor()->errorDb < 0.1);
        QVERIFY(run.yFactor()->onLevels >= 2 * 15 && run.yFactor()->offLevels >= 2 * 15);
        QTRY_VERIFY(s.backOnTarget());
        QVERIFY(s.count(QStringLiteral("calibration: Sun noise 15.")) == 1);
    }

    // Hamlib's dummy radio as a level source, through rigctld and linked in:
    // its S-meter in whole dB over S9 as `rigctl -m 1 l STRENGTH` prints it
    // (-36 one time, -35 the next: the dummy jiggles it, well below S9).
    void hamlibStrength_data()
    {
        QTest::addColumn<bool>("linked");
        QTest::newRow("rigctld -m 1") << false;
        QTest::newRow("Hamlib linked in, model 1") << true;
    }
    void hamlibStrength()
    {
        QFETCH(bool, linked);
        if (!linked && QStandardPaths::findExecutable(QStringLiteral("rigctld")).isEmpty())
            QSKIP("rigctld is not installed (Debian package libhamlib-utils)");
        DefaultStation s;
        hamlibtesting::Daemon rigctld(QStringLiteral("rigctld"), {QStringLiteral("-m"), QStringLiteral("1")});
        if (linked) {
            NetworkSettings settings = s.station.networkSettings();
            settings.rigLinked = true;
            settings.hamlibRadio = {1, 0, {}};
            s.station.setNetworkSettings(settings);
            s.station.setLinked(StationPort::B, true);
        } else {
            QVERIFY(rigctld.start());
            s.station.setNetwork(StationPort::B, true);
        }
        s.station.setAuto(StationPort::B, true);
        QVERIFY(s.station.open(StationPort::B, linked ? QStringLiteral("dummy") : rigctld.address(), {}, false));
        QTRY_VERIFY_WITH_TIMEOUT(s.station.isFrequencyKnown(), 10000);
        auto *link = qobject_cast<RigctldLink *>(const_cast<TransceiverLink *>(s.station.transceiver()));
        QVERIFY(link);
        HamlibStrength meter(link);
        QSignalSpy levels(&meter, &LevelSource::level);
        meter.start();
        QTRY_VERIFY(levels.size() >= 3);
        for (const QList<QVariant> &heard : levels) {
            const double db = 10 * std::log10(heard.at(0).toDouble());
            QVERIFY2(std::abs(db - std::round(db)) < 1e-9 && db > -80 && db < 0, qPrintable(QString::number(db)));
        }
        meter.stop();
        s.station.close(StationPort::B);
        QSignalSpy failed(&meter, &LevelSource::failed);
        meter.start();
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("the radio's port closed"));
    }

    // A target that is down now, or goes down before the run can end, is
    // refused before the antenna is sent anywhere, with the reason; at the
    // operator's settings (a 2 deg beam, steps of 0.2 beam, 2 s at each of 27
    // points a cut, three cuts: at least 81 * (1 + 2) s, some four minutes
    // or more; the README's five). A cross-scan's elevation cut reaches
    // 13 steps of 0.4 deg, 5.2 deg, below the target. A sky that gives no
    // pass ahead (a tracking file) is taken to sink as fast as the sky
    // turns, 15 deg an hour.
    void targetDownRefused_data()
    {
        QTest::addColumn<bool>("sunNoise");
        QTest::addColumn<bool>("looksAhead");
        QTest::addColumn<double>("sunElevation");
        QTest::addColumn<double>("degPerMinute");
        QTest::addColumn<double>("mask");
        QTest::addColumn<QString>("refusal");  // empty: it starts
        QTest::newRow("after sunset") << false << true << -1.2 << -0.2 << 0.0
                                      << "the Sun is below the horizon: elevation -1.20°";
        QTest::newRow("behind the mask") << true << true << 8.0 << 0.2 << 12.0
                                         << "the Sun is below the horizon mask (12.0° at azimuth 220.0°): elevation 8.00°";
        QTest::newRow("the elevation cut under the horizon")
            << false << true << 4.0 << 0.2 << 0.0
            << "the Sun is too low for a cross-scan: at 4.00° up, the elevation cut would go to -1.20°, below the horizon";
        QTest::newRow("Sun noise as low, rising") << true << true << 4.0 << 0.2 << 0.0 << "";
        // 6 - 5.2 - 0.25 t = 0 at 3.2 min, 10:03:12: less than the run.
        QTest::newRow("setting before the end") << false << true << 6.0 << -0.25 << 0.0
                                                << "the Sun sets before the run can end: the elevation cut goes below "
                                                   "the horizon at 10:03 UTC, and the run takes about ";
        // 9 - 5.2 - 0.25 t = 0 at 15.2 min: three times the run.
        QTest::newRow("setting after the end") << false << true << 9.0 << -0.25 << 0.0 << "";
        QTest::newRow("rising from low") << false << true << 5.5 << 0.25 << 0.0 << "";
        // 0.8 deg above the horizon, and the sky turns 1 deg in four minutes.
        QTest::newRow("a file, low") << false << false << 6.0 << 0.0 << 0.0 << "the Sun may set before the run can end";
        // 3.8 deg above: ten minutes' turn is 2.5 deg.
        QTest::newRow("a file, high enough") << false << false << 9.0 << 0.0 << 0.0 << "";
    }
    void targetDownRefused()
    {
        QFETCH(bool, sunNoise);
        QFETCH(bool, looksAhead);
        QFETCH(double, sunElevation);
        QFETCH(double, degPerMinute);
        QFETCH(double, mask);
        QFETCH(QString, refusal);
        SkyStation s(looksAhead, {{220, sunElevation}, degPerMinute}, mask);
        QVERIFY(s.opened);
        QTRY_VERIFY_WITH_TIMEOUT(s.rotator.elevation() == std::optional<double>(30), 10000);
        CalibrationRun::Settings settings;
        if (sunNoise)
            settings.kind = CalibrationRun::Kind::SunNoise;
        CalibrationRun run(s.station, s.receiver, settings);
        QCOMPARE(run.start(), refusal.isEmpty());
        QCOMPARE(run.failure().left(refusal.size()), refusal);
        if (refusal.isEmpty()) {
            QCOMPARE(s.station.target(), TrackingTarget::Sun);
            run.abort();
            return;
        }
        // Nothing turned toward it: the Moon is still the target, the antenna on it.
        QCOMPARE(s.station.target(), TrackingTarget::Moon);
        QCOMPARE(run.progress(), 0.0);
        s.station.repetition();
        QCOMPARE(s.station.pointing().commandedElevation, std::optional<double>(30));
        QCOMPARE(s.count(QStringLiteral("calibration started")), 0);
    }

    // The Y expected is worked out for the band the station works on: the
    // tracking file's 1296 MHz while "Tracking source..." still says
    // 432.065, or the sked frequency under a Doppler method. Written out:
    // the quiet Sun's 100 SFU at 10.7 cm is 73.116 SFU at 1296 MHz and
    // 72.929 at 432.065 (T f^2 along 140077 f^-2.1 + 10880 K); a 2 deg beam,
    // 9101.6 (16 ln2 / w^2), has 38.757 m^2 at 23 cm and 348.71 m^2 at 69 cm;
    // the disk diluted to 0.97605; over 100 K, 1 + 10262.5 * 0.97605 / 100 is
    // 20.05 dB at 1296 MHz and 1 + 92098.6 * 0.97605 / 100, 29.54 dB, at 432.
    void yExpectedOnTheStationsBand_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<double>("mhz");
        QTest::addColumn<QString>("from");
        QTest::addColumn<double>("expectedDb");
        QTest::newRow("a 1296 MHz tracking file") << "" << 1296.0 << "the tracking file's" << 20.050;
        QTest::newRow("a 432 MHz sked") << "sked" << 432.065 << "the sked frequency" << 29.542;
    }
    void yExpectedOnTheStationsBand()
    {
        QFETCH(QString, method);
        QFETCH(double, mhz);
        QFETCH(QString, from);
        QFETCH(double, expectedDb);
        SkyStation s(true, {{220, 30}, 0});
        QVERIFY(s.opened);
        QCOMPARE(s.station.sourceSettings().frequencyMHz, 432.065);  // "Tracking source..." as it comes
        if (!method.isEmpty()) {
            DopplerSettings doppler = s.station.dopplerSettings();
            doppler.method = DopplerMethod::OwnEcho;
            doppler.skedMHz = 432.065;
            QVERIFY(s.station.setDopplerSettings(doppler));
        }
        QTRY_VERIFY_WITH_TIMEOUT(s.station.lastRecordTime().isValid(), 10000);
        Calibrator calibrator(s.station);
        calibrator.addLevelSource(&s.receiver);
        QCOMPARE(calibrator.workingFrequency().mhz, mhz);
        QCOMPARE(calibrator.workingFrequency().from, from);
        CalibrationRun::Settings settings;
        settings.kind = CalibrationRun::Kind::SunNoise;
        settings.flux107Sfu = 100;
        QString why;
        QVERIFY2(calibrator.start(settings, s.receiver.name(), &why), qPrintable(why));
        const auto expected = calibrator.run()->expectedYDb();
        QVERIFY(expected);
        QVERIFY2(std::abs(*expected - expectedDb) < 0.002, qPrintable(QString::number(*expected, 'f', 4)));
        calibrator.abort();
    }

    // With no tracking record read yet, the band is the radio's, on the sky
    // through the transverter: 144.1 MHz behind a 1152 MHz oscillator below
    // it is 1296.1 MHz on the sky.
    void bandFromTheRadio_data()
    {
        QTest::addColumn<quint32>("radioHz");
        QTest::addColumn<double>("loMHz");  // 0: no transverter
        QTest::addColumn<double>("skyMHz");
        QTest::newRow("the radio on 432.1") << quint32(432100000) << 0.0 << 432.1;
        QTest::newRow("144.1 behind a 1152 MHz oscillator") << quint32(144100000) << 1152.0 << 1296.1;
    }
    void bandFromTheRadio()
    {
        QFETCH(quint32, radioHz);
        QFETCH(double, loMHz);
        QFETCH(double, skyMHz);
        DefaultStation s;
        SimTransceiver radio;
        radio.setFrequency(radioHz);
        DopplerSettings doppler = s.station.dopplerSettings();
        doppler.transverter = {loMHz > 0, loMHz * 1e6, false};
        QVERIFY(s.station.setDopplerSettings(doppler));
        s.station.setAuto(StationPort::B, true);
        QVERIFY(s.station.open(StationPort::B, radio.slavePath(), {}, false));
        QTRY_VERIFY(s.station.isFrequencyKnown());
        Calibrator calibrator(s.station);
        QVERIFY2(std::abs(calibrator.workingFrequency().mhz - skyMHz) < 1e-6,
                 qPrintable(QString::number(calibrator.workingFrequency().mhz, 'f', 6)));
        QCOMPARE(calibrator.workingFrequency().from, QStringLiteral("the radio's"));
        s.station.closeAll();
    }

    // However the run ends early, it says why once and the antenna tracks on.
    void badEndsLeaveTheStationTracking_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("reason");
        QTest::newRow("the level source stops") << "stall" << "the level source stopped: no level for 5 s";
        QTest::newRow("levels that are not numbers") << "nan" << "not a positive number";
        QTest::newRow("a saturated detector") << "ceiling" << "saturated: at its end 10 times running";
        QTest::newRow("the Sun sets") << "set" << "the Sun set: below the horizon or its mask";
        QTest::newRow("the operator stops it") << "abort" << "stopped by the operator";
        QTest::newRow("port A to Manual") << "manual" << "the rotator's port A left Auto";
    }
    void badEndsLeaveTheStationTracking()
    {
        QFETCH(QString, fault);
        QFETCH(QString, reason);
        ScanStation s(TrackingTarget::Sun);
        QTRY_VERIFY_WITH_TIMEOUT(s.tracking(), 60000);
        CalibrationRun run(s.station, s.receiver, ScanStation::quick());
        QVERIFY(run.start());
        QTRY_VERIFY_WITH_TIMEOUT(run.status().endsWith(QLatin1String("listening")), 20000);
        if (fault == "stall")
            s.receiver.setStalled(true);
        else if (fault == "nan")
            s.receiver.setNotANumber(true);
        else if (fault == "ceiling")
            s.receiver.setCeiling(10);
        else if (fault == "set")
            s.record.elevation = -2;
        else if (fault == "abort")
            run.abort();
        else
            s.station.setAuto(StationPort::A, false);
        QTRY_VERIFY_WITH_TIMEOUT(!run.isRunning(), 10000);
        QVERIFY(!run.succeeded());
        QVERIFY2(run.failure().contains(reason), qPrintable(run.failure()));
        QCOMPARE(s.count(QStringLiteral("calibration ended: ")), 1);
        QCOMPARE(s.station.scanOffset().azimuth, 0.0);
        if (fault != "set" && fault != "manual")
            QTRY_VERIFY(s.backOnTarget());
        if (fault == "manual") {
            // The operator has the rotator: nothing goes to it until Auto is back, which takes it to the target.
            QVERIFY2(run.failure().endsWith(QLatin1String("the antenna stays where it is; Auto takes it back to the Sun")),
                     qPrintable(run.failure()));
            s.station.setAuto(StationPort::A, true);
            QTRY_VERIFY_WITH_TIMEOUT(s.backOnTarget(), 10000);
        }
        QVERIFY(!QFile::exists(CalibrationRun::defaultPath()));
    }
};

QTEST_GUILESS_MAIN(tst_CoreCalibration)
#include "tst_corecalibration.moc"
