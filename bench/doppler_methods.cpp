// SPDX-License-Identifier: GPL-3.0-or-later
// How close each Doppler method keeps the radio to the frequency it should be
// on, over a simulated Moon pass: the window-free station with the built-in
// sky on a simulated clock, on the simulated FT-817 over a pty (10 Hz steps)
// and on rigctld's dummy radio (1 Hz steps), at 432 MHz and at 10,368 MHz
// behind a transverter (IF 432 MHz). Each simulated second is one repetition;
// between repetitions the radio's frequency is held against the exact
// frequency of the method, ten times a second of the simulated clock, half of
// each segment receiving and half transmitting.
//
//   bench_methods [--quick]   --quick: short segments, to see that it runs

#include "benchreport.h"
#include "hamlibtesting.h"

#include "ephemeris/ephemeris.h"
#include "ephemeris/locator.h"
#include "links/transceiverlink.h"
#include "sim/simtransceiver.h"
#include "station/trackingcontrol.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <memory>

namespace {

const QString homeLocator = QStringLiteral("JO70fd");
const QString dxLocator = QStringLiteral("FN20");
// A high pass at JO70: the self Doppler turns fastest near the meridian.
const QDateTime searchFrom(QDate(2026, 12, 22), QTime(0, 0), Qt::UTC);
constexpr double ifMHz = 432.065;

struct Band {
    const char *name;
    double skyMHz;
};

struct Path {
    const char *name;
    bool rigctld;
    bool fileRounding = false;  // the shifts to whole hertz, as a tracking file carries them
};

// The built-in sky as a tracking file would carry it: shifts to whole hertz,
// rates to hundredths.
class RoundedSky : public TrackingSource
{
public:
    explicit RoundedSky(std::unique_ptr<TrackingSource> sky) : m_sky(std::move(sky)) {}
    bool read(TrackingTarget target, TrackingRecord &record, const std::function<void(const QString &)> &log) override
    {
        if (!m_sky->read(target, record, log))
            return false;
        record.dopplerHome = std::round(record.dopplerHome);
        record.dopplerDx = std::round(record.dopplerDx);
        record.dopplerHomeRate = std::round(record.dopplerHomeRate * 100) / 100;
        record.relativeSpeed = std::round(record.relativeSpeed * 100) / 100;
        return true;
    }
    QString problem() const override { return {}; }

private:
    std::unique_ptr<TrackingSource> m_sky;
};

struct Errors {
    double sumSquares = 0;
    double worst = 0;
    long count = 0;
    void add(double error)
    {
        sumSquares += error * error;
        worst = std::max(worst, std::fabs(error));
        ++count;
    }
    double rms() const { return count ? std::sqrt(sumSquares / double(count)) : 0.0; }
};

// The Moon's rise after searchFrom and its meridian, to the minute.
bool findPass(const GeoPosition &home, QDateTime &rise, QDateTime &transit)
{
    QDateTime t = searchFrom;
    const auto el = [&](const QDateTime &at) { return computeSky(home, home, 432.0, at).moonElevation; };
    while (el(t) > 0 && t < searchFrom.addDays(2))
        t = t.addSecs(60);
    while (el(t) <= 0 && t < searchFrom.addDays(2))
        t = t.addSecs(60);
    rise = t;
    double best = el(t);
    transit = t;
    for (QDateTime s = t; el(s) > 0 && s < t.addDays(1); s = s.addSecs(60))
        if (const double e = el(s); e > best) {
            best = e;
            transit = s;
        }
    return rise < searchFrom.addDays(2);
}

class Run
{
public:
    Run(const Path &path, const Band &band, DopplerMethod method)
        : m_path(path)
        , m_band(band)
        , m_method(method)
    {
    }

    // Over the segments starting at the given times, segmentSeconds each.
    bool run(const QList<QDateTime> &starts, int segmentSeconds, Errors &errors)
    {
        QDir::setCurrent(m_dir.path());
        const GeoPosition home = *positionOfLocator(homeLocator);
        const GeoPosition dx = *positionOfLocator(dxLocator);
        std::unique_ptr<hamlibtesting::Daemon> rig;
        SimTransceiver radio;
        radio.setFrequency(quint32(ifMHz * 1e6));
        if (m_path.rigctld) {
            // The dummy keys only with its PTT set to the radio's own.
            const QStringList arguments {"-m", "1", "-P", "RIG"};
            rig = std::make_unique<hamlibtesting::Daemon>(QStringLiteral("rigctld"), arguments);
            if (!rig->start())
                return false;
        }
        TrackingControl station;
        qint64 simMs = 0;
        station.setClock([&simMs] { return QDateTime::fromMSecsSinceEpoch(simMs, Qt::UTC); });
        auto sky = std::make_unique<SkyTrackingSource>(home, dx, m_band.skyMHz);
        sky->setClock([&station] { return station.now(); });
        if (m_path.fileRounding)
            station.setTrackingSource(std::make_unique<RoundedSky>(std::move(sky)));
        else
            station.setTrackingSource(std::move(sky));
        // The repetition is called below at each simulated second; readouts
        // only when the key goes up or down.
        station.setTimes(1, 600000);
        DopplerSettings settings;
        settings.method = m_method;
        settings.skedMHz = m_band.skyMHz;
        const bool transverter = m_band.skyMHz > 1000;
        settings.transverter = {transverter, transverter ? (m_band.skyMHz - ifMHz) * 1e6 : 0.0, false};
        station.setDopplerSettings(settings);
        station.setAuto(StationPort::B, true);
        station.setNetwork(StationPort::B, m_path.rigctld);
        simMs = starts.first().toMSecsSinceEpoch();
        if (!station.open(StationPort::B, m_path.rigctld ? rig->address() : radio.slavePath(), {}, false)
            || !bench::waitUntil([&] { return station.isFrequencyKnown(); }, 10000)) {
            std::fprintf(stderr, "bench_methods: the radio's frequency was never read\n");
            return false;
        }
        station.setFrequencyTracking(true);
        // The key goes up and down faster than in real time: no readout held back.
        station.portSession(StationPort::B).link->setReadoutInterval(0);

        const auto transceiver = [&station] {
            return static_cast<TransceiverLink *>(station.portSession(StationPort::B).link);
        };
        const auto ask = [&rig](const QByteArray &command) {
            for (int attempt = 0; attempt < 5; ++attempt)
                if (const QByteArrayList answer = rig->ask(command); !answer.isEmpty())
                    return answer.first();
            return QByteArray();
        };
        // What the radio is on, in hertz.
        const auto radioHz = [&]() -> double {
            return m_path.rigctld ? ask("f").toDouble() : double(radio.frequency());
        };
        const auto keyed = [&](bool transmitting) {
            if (m_path.rigctld)
                ask(transmitting ? "T 1" : "T 0");
            else
                radio.setTransmitting(transmitting);
            station.readout();
            return bench::waitUntil([&] { return station.doppler().transmitting == transmitting; }, 10000);
        };
        const double step = m_path.rigctld ? 1.0 : 10.0;
        for (const QDateTime &start : starts) {
            for (int second = 0; second < segmentSeconds; ++second) {
                const bool transmitting = second >= segmentSeconds / 2;
                simMs = start.addSecs(second).toMSecsSinceEpoch();
                if (transmitting != station.doppler().transmitting && !keyed(transmitting)) {
                    std::fprintf(stderr, "bench_methods: the key state was never read\n");
                    return false;
                }
                station.repetition();
                // A simulated second passes in microseconds, a CAT frame takes
                // 40 ms: what the repetition queued goes out before the next
                // one, as in a real second. Without this the 11-command queue
                // overflows with the key-state query in it whenever this loop
                // outruns the link's thread (a quiet, fast machine), and
                // nothing asks again with readouts held back.
                // The link's thread empties the queue without a word to this
                // one: looked at every few milliseconds.
                QTimer poll;
                poll.start(5);
                if (!bench::waitUntil([&] { return transceiver()->queuedCommands() == 0; }, 5000)) {
                    std::fprintf(stderr, "bench_methods: the radio's link never emptied its queue\n");
                    return false;
                }
                const auto meant = station.methodFrequencies();
                if (!meant)
                    return false;
                // Written as the station rounds it, and as the radio's step takes it.
                const double meantSky = transmitting ? meant->transmitHz : meant->receiveHz;
                const double written = std::round(*settings.transverter.radioHz(meantSky));
                const double onRadio = m_path.rigctld ? written : std::floor((written + 5) / 10) * 10;
                if (!bench::waitUntil([&] { return std::fabs(radioHz() - onRadio) < 0.5; }, 5000)) {
                    std::fprintf(stderr, "bench_methods: the radio is on %.0f Hz, not on %.0f Hz\n", radioHz(),
                                 onRadio);
                    return false;
                }
                for (int tenth = 0; tenth < 10; ++tenth) {
                    const QDateTime at = start.addMSecs(second * 1000 + tenth * 100);
                    const SkySnapshot truth = computeSky(home, dx, m_band.skyMHz, at);
                    const SkyFrequencies exact = methodFrequencies(m_method, settings.skedMHz * 1e6,
                                                                   truth.selfDopplerHz, truth.dxDopplerHz);
                    const double wanted = transmitting ? exact.transmitHz : exact.receiveHz;
                    errors.add(settings.transverter.skyHz(onRadio) - wanted);
                }
            }
        }
        Q_UNUSED(step);
        station.closeAll();
        return true;
    }

private:
    QTemporaryDir m_dir;
    Path m_path;
    Band m_band;
    DopplerMethod m_method;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    const GeoPosition home = *positionOfLocator(homeLocator);
    QDateTime rise, transit;
    if (!findPass(home, rise, transit)) {
        std::fprintf(stderr, "bench_methods: no pass found\n");
        return 1;
    }
    const int segmentSeconds = quick ? 20 : 120;
    const QList<QDateTime> starts {rise.addSecs(3600), transit.addSecs(-segmentSeconds / 2)};
    const bool haveRigctld = !QStandardPaths::findExecutable(QStringLiteral("rigctld")).isEmpty();
    const Path allPaths[] = {{"FT-817, 10 Hz steps", false},
                             {"rigctld dummy, 1 Hz steps", true},
                             {"rigctld dummy, 1 Hz steps, shifts in whole Hz as a file has them", true, true}};
    QList<Path> paths;
    for (const Path &path : allPaths)
        if (!app.arguments().contains(QStringLiteral("--rigctld")) || path.rigctld)
            paths << path;
    const Band bands[] = {{"432 MHz", 432.065}, {"10368 MHz", 10368.1}};
    int status = 0;
    for (const Path &path : paths) {
        if (path.rigctld && !haveRigctld) {
            std::fprintf(stderr, "bench_methods: rigctld is not installed\n");
            status = 1;
            continue;
        }
        for (const Band &band : bands) {
            if (path.fileRounding && band.skyMHz < 1000)
                continue;
            const double step = path.rigctld ? 1.0 : 10.0;
            for (const auto &name : dopplerMethodNames) {
                if (name.method == DopplerMethod::Specified)
                    continue;
                Errors errors;
                Run run(path, band, name.method);
                if (!run.run(starts, segmentSeconds, errors)) {
                    std::fprintf(stderr, "bench_methods: %s, %s, %s did not run through\n", name.shown, band.name,
                                 path.name);
                    status = 1;
                    continue;
                }
                bench::row(QStringLiteral("6 Doppler method %1, %2, %3, 1 s repetition")
                               .arg(QLatin1String(name.shown), QLatin1String(band.name), QLatin1String(path.name)),
                           QStringLiteral("RMS %1 Hz, worst %2 Hz")
                               .arg(errors.rms(), 0, 'f', 2)
                               .arg(errors.worst, 0, 'f', 2),
                           QStringLiteral("goal %1 Hz (1 Hz + half the radio's step)").arg(1.0 + step / 2, 0, 'f', 1));
            }
        }
    }
    return status;
}
