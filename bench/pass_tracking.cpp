// SPDX-License-Identifier: GPL-3.0-or-later
// How well the station follows the Moon through a whole pass: the real main
// window drives the simulated rotator and FT-817 over ptys, fed with tracking
// files from the ephemeris, on one simulated clock. Prints the antenna's
// pointing error over the pass and the radio's frequency error against the
// exact Doppler of each instant, beside their bounds.
//
// The clock. The window's repetition timer is left far off (store.cfg says
// 30000 s) and its time-out slot is called at every repetition instant of the
// simulated clock instead; the rotator's motion runs on the same clock, and
// each tracking file is the ephemeris of that instant. So the repetition time
// is in simulated seconds, and a 10-hour pass runs in seconds. The link to the
// radio still paces its frames in real time (a set-frequency frame holds it
// 40 ms), so frequency tracking is run through three 5-minute segments of the
// pass (after rise, at the meridian, before set) rather than all of it; the
// antenna is followed all the way. Each cycle waits until the rotator has
// acknowledged and the radio has taken its frame: in simulated time both
// happen at the instant of the cycle.
//
//   bench_pass [--quick]                both repetition times, in parallel
//   bench_pass --repetition S [--quick] one repetition time (seconds)
//
// --quick follows only the first hour, with 1-minute segments: to see that
// the benchmark runs, not for its figures.

#include "benchsupport.h"

#include "ephemeris/ephemeris.h"
#include "sim/simrotator.h"
#include "sim/simtransceiver.h"

#include <QCheckBox>
#include <QDateTime>

#include <cmath>

using namespace bench;

namespace {

const QString homeLocator = QStringLiteral("JO70fd");
// The first rise after this: a high pass (the Moon near 67 degrees at the
// meridian), where the azimuth turns fastest.
const QDateTime searchFrom(QDate(2026, 12, 22), QTime(0, 0), Qt::UTC);
constexpr double deadBand = 0.1;  // degrees; the store's default for both axes
constexpr double fileRoundingDeg = 0.05;  // the file carries positions to 0.1 degree
constexpr quint32 workingHz = 432'065'000;  // the radio's dial (an IF below a 10 GHz transverter)
constexpr int gridSeconds = 30;

struct Span {
    int seconds = 0;  // 0: rise to set
    int segmentSeconds = 300;
};

double radians(double degrees)
{
    return degrees * M_PI / 180.0;
}

// Great-circle angle between two directions, degrees.
double separation(double az1, double el1, double az2, double el2)
{
    const double a = std::sin(radians(el2 - el1) / 2);
    const double b = std::sin(radians(az2 - az1) / 2);
    const double h = a * a + std::cos(radians(el1)) * std::cos(radians(el2)) * b * b;
    return 2.0 * std::asin(std::min(1.0, std::sqrt(h))) * 180.0 / M_PI;
}

double wrap180(double degrees)
{
    return std::remainder(degrees, 360.0);
}

// The sky through the pass: computed every 30 s, straight lines between
// (the Moon's curvature over 30 s stays below 0.001 degree and 0.1 Hz).
class Pass
{
public:
    bool find(double frequencyMHz)
    {
        m_home = *positionOfLocator(homeLocator);
        auto el = [&](const QDateTime &t) { return computeSky(m_home, m_home, frequencyMHz, t).moonElevation; };
        QDateTime t = searchFrom;
        const QDateTime end = searchFrom.addDays(2);
        while (el(t) > 0 && t < end)
            t = t.addSecs(600);
        while (el(t) <= 0 && t < end)
            t = t.addSecs(600);
        if (t >= end)
            return false;
        m_rise = refine(t.addSecs(-600), t, el);
        QDateTime s = m_rise.addSecs(600);
        while (el(s) > 0 && s < end)
            s = s.addSecs(600);
        m_set = refine(s.addSecs(-600), s, el);
        for (QDateTime g = m_rise; g <= m_set.addSecs(gridSeconds); g = g.addSecs(gridSeconds))
            m_grid.push_back(computeSky(m_home, m_home, frequencyMHz, g));
        return m_grid.size() > 2;
    }

    // Seconds from rise to set.
    int seconds() const { return int(m_rise.secsTo(m_set)); }
    QDateTime at(int second) const { return m_rise.addSecs(second); }

    SkySnapshot sky(double second) const
    {
        const int i = qBound(0, int(second / gridSeconds), int(m_grid.size()) - 2);
        const double f = (second - i * gridSeconds) / gridSeconds;
        const SkySnapshot &a = m_grid[size_t(i)];
        const SkySnapshot &b = m_grid[size_t(i) + 1];
        auto mix = [f](double x, double y) { return x + (y - x) * f; };
        SkySnapshot s = a;
        s.utc = m_rise.addMSecs(qint64(second * 1000.0));
        s.moonAzimuth = std::fmod(a.moonAzimuth + wrap180(b.moonAzimuth - a.moonAzimuth) * f + 360.0, 360.0);
        s.moonElevation = mix(a.moonElevation, b.moonElevation);
        s.sunAzimuth = std::fmod(a.sunAzimuth + wrap180(b.sunAzimuth - a.sunAzimuth) * f + 360.0, 360.0);
        s.sunElevation = mix(a.sunElevation, b.sunElevation);
        s.selfDopplerHz = mix(a.selfDopplerHz, b.selfDopplerHz);
        s.selfRateHzPerMin = mix(a.selfRateHzPerMin, b.selfRateHzPerMin);
        s.dxDopplerHz = mix(a.dxDopplerHz, b.dxDopplerHz);
        s.dxRateHzPerMin = mix(a.dxRateHzPerMin, b.dxRateHzPerMin);
        return s;
    }

    // Degrees per second of each axis, from the grid.
    void rates(double second, double &azPerS, double &elPerS) const
    {
        const SkySnapshot a = sky(second);
        const SkySnapshot b = sky(second + gridSeconds);
        azPerS = wrap180(b.moonAzimuth - a.moonAzimuth) / gridSeconds;
        elPerS = (b.moonElevation - a.moonElevation) / gridSeconds;
    }

    // The second of the meridian transit: the highest elevation.
    int transit() const
    {
        size_t best = 0;
        for (size_t i = 1; i < m_grid.size(); ++i)
            if (m_grid[i].moonElevation > m_grid[best].moonElevation)
                best = i;
        return int(best) * gridSeconds;
    }

private:
    template <typename F>
    QDateTime refine(QDateTime below, QDateTime above, F el) const
    {
        while (below.secsTo(above) > 1) {
            const QDateTime mid = below.addSecs(below.secsTo(above) / 2);
            (el(mid) > 0 ? above : below) = mid;
        }
        return above;
    }

    GeoPosition m_home;
    QDateTime m_rise, m_set;
    std::vector<SkySnapshot> m_grid;
};

struct ErrorStats {
    double sumSquares = 0;
    double worst = 0;
    double worstBound = 0;
    long count = 0;
    void add(double error, double bound)
    {
        sumSquares += error * error;
        worst = std::max(worst, std::fabs(error));
        worstBound = std::max(worstBound, bound);
        ++count;
    }
    double rms() const { return count ? std::sqrt(sumSquares / double(count)) : 0.0; }
};

struct PassResult {
    bool ok = false;
    ErrorStats pointing;
    ErrorStats frequency;
    double hours = 0;
    double maxElevation = 0;
};

// One pass at one frequency. With pointing, the antenna is followed from rise
// to set; the frequency only through the segments.
PassResult runPass(double frequencyMHz, int repetition, bool pointing, const Span &span)
{
    PassResult result;
    Pass pass;
    if (!pass.find(frequencyMHz))
        return result;
    const int passSeconds = span.seconds > 0 ? qMin(span.seconds, pass.seconds()) : pass.seconds();
    const int segmentSeconds = span.segmentSeconds;
    result.hours = passSeconds / 3600.0;
    result.maxElevation = pass.sky(pass.transit()).moonElevation;

    SimRotator rotator;
    SimTransceiver radio;
    qint64 simMs = 0;
    rotator.setMotionClock([&simMs] { return simMs; });
    const SkySnapshot first = pass.sky(0);
    rotator.setPresentPosition(first.moonAzimuth, first.moonElevation);
    radio.setFrequency(workingHz);

    StoreValues values;
    values.repetitionSeconds = 30000;  // its own timer stays out of the way; the cycles are called below
    values.messageDelayMs = 60000;     // one reading at the start is all Track frequency needs
    values.azimuthRounding = deadBand;
    values.elevationRounding = deadBand;
    WindowHost host(rotator.slavePath(), radio.slavePath(), values);
    QFile data(host.dataPath());
    auto writeFile = [&](double second) {
        // Rewritten in place: truncating to nothing first would make the file
        // system flush it to disk on every close, milliseconds a cycle.
        const QByteArray content = formatTrackingFile(pass.sky(second), false);
        if (data.open(QIODevice::ReadWrite)) {
            data.write(content);
            data.resize(content.size());
            data.close();
        }
    };
    writeFile(0);
    host.selectData();
    host.setAuto('A', true);
    host.setAuto('B', false);
    host.open('A');  // its first cycle runs at once
    host.open('B');
    auto *track = host.w<QCheckBox>("checkDoppler");
    if (!waitUntil([&] { return host.window->pendingCommand().isEmpty(); }, 5000))
        return result;

    auto cycle = [&](int second) {
        simMs = qint64(second) * 1000;
        writeFile(second);
        const int frames = radio.frames().size();
        host.window->timerTimeout();
        const bool sends = track->isChecked();
        return waitUntil([&] { return host.window->pendingCommand().isEmpty()
                                      && (!sends || radio.frames().size() > frames); },
                         5000);
    };
    auto samplePointing = [&](int second) {
        simMs = qint64(second) * 1000;
        const SkySnapshot s = pass.sky(second);
        double azRate = 0, elRate = 0;
        pass.rates(second, azRate, elRate);
        // An axis may wait a second cycle while the other one moves.
        auto axisBound = [&](double rate, double slew) {
            const double lag = 2.0 * repetition * std::fabs(rate);
            return deadBand + fileRoundingDeg + lag + std::fabs(rate) * (deadBand + lag) / slew;
        };
        const double azBound = axisBound(azRate, 2.0) * std::cos(radians(s.moonElevation));
        const double elBound = axisBound(elRate, 1.0);
        result.pointing.add(separation(rotator.presentAzimuth(), rotator.presentElevation(), s.moonAzimuth,
                                       s.moonElevation),
                            std::hypot(azBound, elBound));
    };
    auto sampleFrequency = [&](int second) {
        const SkySnapshot s = pass.sky(second);
        const double expected = host.window->workingFrequency() * 1e6 + s.selfDopplerHz;
        // Stale by up to one repetition, the 10 Hz steps of the frame, whole hertz in the file.
        const double bound = std::fabs(s.selfRateHzPerMin) / 60.0 * repetition + 5.0 + 0.5;
        result.frequency.add(double(radio.frequency()) - expected, bound);
    };

    QList<int> segments {600, pass.transit() - segmentSeconds / 2, passSeconds - 600 - segmentSeconds};
    if (span.seconds > 0)
        segments = {passSeconds / 6, passSeconds / 2, passSeconds * 5 / 6 - segmentSeconds};
    auto inSegment = [&](int second) {
        for (int start : segments)
            if (second >= start && second < start + segmentSeconds)
                return true;
        return false;
    };
    bool tracking = false;
    for (int second = 0; second < passSeconds; ++second) {
        const bool wanted = inSegment(second);
        if (!pointing && !wanted && !tracking)
            continue;
        if (second % repetition != 0) {
            if (pointing)
                samplePointing(second);
            if (tracking)
                sampleFrequency(second);
            continue;
        }
        if (wanted != tracking) {
            // Engaging as an operator does: Auto, wait for the reading, tick
            // "Track frequency" after a cycle has given the window its Doppler.
            if (wanted) {
                host.setAuto('B', true);
                // In Manual the window takes no Doppler from the file; one
                // cycle in Auto gives it the shift the working frequency
                // is taken from.
                if (!waitUntil([&] { return track->isEnabled(); }, 10000) || !cycle(second))
                    return result;
                track->click();
            } else {
                host.setAuto('B', false);
            }
            tracking = wanted;
        }
        if (pointing)
            samplePointing(second);  // just before the cycle: the largest error
        if (tracking)
            sampleFrequency(second);
        if (!cycle(second))
            return result;
    }

    result.ok = (pointing ? result.pointing.count : result.frequency.count) > 0;
    return result;
}

QString caseName(int repetition)
{
    return repetition == 2 ? QStringLiteral("2 s / 0.1 deg (defaults)")
                           : QStringLiteral("%1 s / 0.1 deg").arg(repetition);
}

int runCase(int repetition, const Span &span)
{
    const PassResult low = runPass(432.065, repetition, true, span);
    const PassResult high = runPass(10368.1, repetition, false, span);
    if (!low.ok || !high.ok) {
        std::fprintf(stderr, "bench_pass: a pass did not run through\n");
        return 1;
    }
    row(QStringLiteral("5 pointing, %1, %2 h from rise, Moon up to %3 deg")
            .arg(caseName(repetition))
            .arg(low.hours, 0, 'f', 1)
            .arg(low.maxElevation, 0, 'f', 0),
        QStringLiteral("RMS %1 deg, worst %2 deg")
            .arg(low.pointing.rms(), 0, 'f', 3)
            .arg(low.pointing.worst, 0, 'f', 3),
        QStringLiteral("bound %1 deg (dead band + file's 0.05 + motion over 2 repetitions + slew)")
            .arg(low.pointing.worstBound, 0, 'f', 3));
    for (const auto &[name, r] : {std::pair {QStringLiteral("432 MHz"), low}, {QStringLiteral("10368 MHz"), high}}) {
        row(QStringLiteral("5 frequency %1, %2, 3 x %3 min")
                .arg(name, caseName(repetition))
                .arg(span.segmentSeconds / 60),
            QStringLiteral("RMS %1 Hz, worst %2 Hz").arg(r.frequency.rms(), 0, 'f', 1).arg(r.frequency.worst, 0, 'f', 1),
            QStringLiteral("bound %1 Hz (Doppler rate x repetition + 5 Hz steps + 0.5 Hz file)")
                .arg(r.frequency.worstBound, 0, 'f', 1));
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool quick = args.contains(QStringLiteral("--quick"));
    const Span span = quick ? Span {3600, 60} : Span {};
    const int at = args.indexOf(QStringLiteral("--repetition"));
    if (at >= 0 && at + 1 < args.size())
        return runCase(qMax(1, args.at(at + 1).toInt()), span);

    // The two cases are independent: run them side by side, print in order.
    std::vector<std::unique_ptr<QProcess>> runs;
    for (int repetition : {2, 1}) {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList arguments {QStringLiteral("--repetition"), QString::number(repetition)};
        if (quick)
            arguments << QStringLiteral("--quick");
        process->start(app.applicationFilePath(), arguments);
        runs.push_back(std::move(process));
    }
    int status = 0;
    for (auto &process : runs) {
        if (!process->waitForFinished(600000) || process->exitCode() != 0)
            status = 1;
        std::fputs(process->readAllStandardOutput().constData(), stdout);
    }
    return status;
}
