// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the whole station for a long time with faults injected at a steady
// rate, then checks what an operator would look for the next morning: every
// rotator command well formed, every frequency sent equal to the working
// frequency plus the file's Doppler shift, memory flat after warm-up, and
// the antenna and radio on the target once the faults stop. Beside it runs
// the window-free station on scripted rotctld and rigctld with daemon faults
// of its own, held to the same checks. Prints figures; exits with 1 when a
// check fails.
//
//   soak [seconds]   (default 120)

#include "benchreport.h"
#include "faulttesting.h"
#include "hamlibtesting.h"
#include "stationinvariants.h"
#include "windowtesting.h"

#include "sim/simrotator.h"
#include "sim/simtransceiver.h"
#include "station/trackingcontrol.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QSet>
#include <QTextDocument>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace windowtesting;
using namespace faulttesting;
using hamlibtesting::FakeDaemon;
using SoakStation = Station<SimRotator, SimTransceiver>;

namespace {

constexpr int faultPhaseMs = 3000;  // a fault, then as long without one
constexpr double deadBand = 0.1;    // the rounding constants of the store.cfg Station writes

struct Fault {
    const char *name;
    std::function<void()> begin;
    std::function<void()> end;
};

// Where the outside tracking program puts the Moon t seconds into the run:
// a slow drift with whole-hertz Doppler shifts.
struct Sky {
    double azimuth;
    double elevation;
    int doppler;
};

Sky skyAt(double t)
{
    return {std::round((100.0 + 40.0 * std::sin(t / 300.0)) * 100.0) / 100.0,
            std::round((20.0 + 15.0 * std::sin(t / 170.0)) * 100.0) / 100.0, int(std::lround(2000.0 * std::sin(t / 45.0)))};
}

// The station once more, without a window, on scripted daemons that answer
// as a rotator and a radio would (what is set is read back) until a fault is
// switched on. Every command is checked as it arrives.
struct DaemonStation {
    enum class Fault { None, Silent, Garbage, ShortLines, LongLine, Absurd };

    explicit DaemonStation(const QString &dataPath)
    {
        rotctld.answer = [this](const QByteArray &line) { return rotatorAnswer(line); };
        rigctld.answer = [this](const QByteArray &line) { return radioAnswer(line); };
        // Its settings and vestrel.log apart from the window's.
        const QString home = QDir::currentPath();
        QDir().mkdir(QStringLiteral("daemons"));
        QDir::setCurrent(QStringLiteral("daemons"));
        // A horizon mask the sky stays above, so that every slew is held to it.
        RotatorGeometry geometry;
        geometry.horizonMask = mask;
        geometry.write();
        station = std::make_unique<TrackingControl>();
        checker = std::make_unique<invariants::Checker>(*station, travel, mask);
        QObject::connect(station.get(), &TrackingControl::message, [this] { ++messages; });
        station->setTimes(1, 200);
        station->setDataFile(dataPath);
        for (StationPort port : {StationPort::A, StationPort::B}) {
            station->setNetwork(port, true);
            station->setAuto(port, true);
        }
        station->open(StationPort::A, rotctld.address(), {}, false);
        station->open(StationPort::B, rigctld.address(), {}, false);
        QDir::setCurrent(home);
        // The operator engages "Track frequency" whenever a reading allows it.
        QObject::connect(&operatorTimer, &QTimer::timeout, [this] {
            if (station->isFrequencyKnown() && !station->doppler().tracking())
                station->setFrequencyTracking(true);
        });
        operatorTimer.start(100);
    }

    // The answer to a readout under a fault; good is what a sound device says.
    static QByteArray readout(Fault fault, const QByteArray &good, const QByteArray &shortLine,
                              const QByteArray &absurd)
    {
        switch (fault) {
        case Fault::Garbage: return "garbage\n";
        case Fault::ShortLines: return shortLine.repeated((1 << 20) / shortLine.size());  // 1 MB
        case Fault::LongLine: return QByteArray(1 << 20, 'x');
        case Fault::Absurd: return absurd;
        default: return good;
        }
    }

    QByteArray rotatorAnswer(const QByteArray &line)
    {
        if (rotatorFault == Fault::Silent)
            return {};
        if (line == "\\dump_state") {
            if (!slowDumpState)
                return hamlibtesting::rotDump;
            // Its limits in two pieces with a pause between, as a busy daemon may.
            const QByteArray &all = hamlibtesting::rotDump;
            const qsizetype cut = all.indexOf("min_el");
            QTimer::singleShot(350, &rotctld, [this, rest = all.mid(cut)] { rotctld.send(rest); });
            return all.left(cut);
        }
        if (line == "p") {
            return readout(rotatorFault, QByteArray::number(azimuth, 'f', 2) + '\n'
                               + QByteArray::number(elevation, 'f', 2) + '\n',
                           "garbage\n", "1e308\n0\n");
        }
        if (line.startsWith("P ")) {
            ++positions;
            const QList<QByteArray> fields = line.split(' ');
            bool azOk = false;
            bool elOk = false;
            const double az = fields.value(1).toDouble(&azOk);
            const double el = fields.value(2).toDouble(&elOk);
            if (fields.size() != 3 || !azOk || !elOk || az < -180 || az > 450 || el < 0 || el > 90) {
                if (++badPositions <= 5)
                    std::printf("rotctld got a bad position: \"%s\"\n", line.constData());
                return "RPRT -1\n";
            }
            azimuth = az;
            elevation = el;
            checker->positionSent(az, el);
            return "RPRT 0\n";
        }
        return "RPRT -4\n";
    }

    QByteArray radioAnswer(const QByteArray &line)
    {
        if (radioFault == Fault::Silent)
            return {};
        if (line == "\\dump_state")
            return hamlibtesting::rigDump;
        if (line == "\\chk_vfo" || line == "t")
            return "0\n";
        if (line == "f") {
            return readout(radioFault, QByteArray::number(hz) + '\n', "145000000\n", "1000\n");
        }
        if (line.startsWith("F ")) {
            ++frequencies;
            bool ok = false;
            const qint64 value = line.mid(2).toLongLong(&ok);
            if (!ok || value < 430000000 || value > 440000000) {
                if (++badFrequencies <= 5)
                    std::printf("rigctld got a bad frequency: \"%s\"\n", line.constData());
                return "RPRT -1\n";
            }
            hz = value;
            return "RPRT 0\n";
        }
        return "RPRT -4\n";
    }

    // Both ports open, the antenna on the target and the radio on the
    // Doppler-corrected working frequency, and both read back by the station.
    bool onTarget(const Sky &sky, double deadBand) const
    {
        const Pointing &pointing = station->pointing();
        const auto shown = station->shownFrequency();
        const double wantedHz = station->doppler().workingMHz() * 1e6 + sky.doppler;
        return station->portSession(StationPort::A).open && station->portSession(StationPort::B).open
            && station->doppler().tracking() && std::fabs(azimuth - sky.azimuth) <= deadBand + 0.005
            && std::fabs(elevation - sky.elevation) <= deadBand + 0.005 && pointing.actualAzimuth
            && pointing.actualElevation && std::fabs(*pointing.actualAzimuth - azimuth) < 0.005
            && std::fabs(*pointing.actualElevation - elevation) < 0.005
            && std::fabs(double(hz) - wantedHz) <= 11.0  // F goes out only on a change of a step (10 Hz)
            && shown && std::fabs(shown->mhz * 1e6 - double(hz)) < 1.0;
    }

    FakeDaemon rotctld;
    FakeDaemon rigctld;
    const QList<QPair<double, double>> mask {{0, 2}, {90, 4}, {180, 2}, {270, 2}};
    const invariants::Checker::Travel travel {-180, 450, 0, 90};
    std::unique_ptr<invariants::Checker> checker;
    bool slowDumpState = false;
    Fault rotatorFault = Fault::None;
    Fault radioFault = Fault::None;
    double azimuth = 0.0;
    double elevation = 0.0;
    qint64 hz = 432065000;
    int positions = 0;
    int badPositions = 0;
    int frequencies = 0;
    int badFrequencies = 0;
    int messages = 0;
    std::unique_ptr<TrackingControl> station;
    QTimer operatorTimer;
};

quint32 frameHz(const QByteArray &frame)
{
    quint32 n = 0;
    for (int i = 0; i < 4; ++i) {
        const auto byte = quint8(frame.at(i));
        n = n * 100 + (byte >> 4) * 10 + (byte & 0x0F);
    }
    return n * 10;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 durationMs = qint64(argc > 1 ? std::max(10.0, std::atof(argv[1])) : 120.0) * 1000;
    const qint64 warmUpMs = std::max<qint64>(20000, durationMs / 4);

    SoakStation s(1, true);  // repetition 1 s; readout 200 ms from the same store.cfg
    QElapsedTimer clock;
    clock.start();
    Meter whole;
    LagProbe lag;

    // The outside tracking program, rewriting the file every half second.
    QSet<int> shiftsWritten;
    bool fileHeld = false;  // a file fault owns the file
    Sky lastSky = skyAt(0);
    auto writeSky = [&] {
        lastSky = skyAt(double(clock.elapsed()) / 1000.0);
        shiftsWritten.insert(lastSky.doppler);
        s.writeData(trackLine(lastSky.azimuth, lastSky.elevation, 0, lastSky.doppler));
    };
    writeSky();
    selectDataFile(*s.window, s.dataPath());
    QTimer sky;
    QObject::connect(&sky, &QTimer::timeout, [&] {
        if (!fileHeld)
            writeSky();
    });
    sky.start(500);

    // The operator: ports in Auto, "Track frequency" engaged whenever a
    // reading allows it (again after a cable was pulled).
    QList<double> workingFrequencies;
    auto *doppler = s.w<QCheckBox>("checkDoppler");
    QTimer operatorTimer;
    QObject::connect(&operatorTimer, &QTimer::timeout, [&] {
        if (doppler->isEnabled() && !doppler->isChecked()) {
            doppler->click();
            workingFrequencies << s.window->workingFrequency();
        }
    });
    s.setAutoA(true);
    s.setAutoB(true);
    s.clickOpenA();
    s.clickOpenB();
    operatorTimer.start(100);
    DaemonStation d(s.dataPath());

    auto replug = [&](PtyPeer &device, const char *openButton) {
        device.reopen();
        s.relinkPorts();
        auto *button = s.w<QPushButton>(openButton);
        if (button->text() == QLatin1String("Open"))
            button->click();
    };
    const QByteArray lineNoise = noise(4096, 7);
    const std::vector<Fault> faults {
        {"rotator silent", [&] { s.rotator.setSilent(true); }, [&] { s.rotator.setSilent(false); }},
        {"radio garbage", [&] { s.radio.setGarbage(true); }, [&] { s.radio.setGarbage(false); }},
        {"rotator garbage", [&] { s.rotator.setGarbageReply(true); }, [&] { s.rotator.setGarbageReply(false); }},
        {"radio replies split at every byte", [&] { s.radio.setSplitReply({1, 1, 1, 1, 1}, 10); },
         [&] { s.radio.setSplitReply({}); }},
        {"radio silent", [&] { s.radio.setSilent(true); }, [&] { s.radio.setSilent(false); }},
        {"rotator answers in single bytes", [&] { s.rotator.setSingleByteReply(true, 10); },
         [&] { s.rotator.setSingleByteReply(false); }},
        {"rotator flood", [&] { s.rotator.startFlood(lineNoise, 512 * 1024, 256 * 1024); },
         [&] { s.rotator.stopFlood(); }},
        {"radio flood", [&] { s.radio.startFlood(lineNoise, 512 * 1024, 256 * 1024); }, [&] { s.radio.stopFlood(); }},
        {"tracking file deleted",
         [&] {
             fileHeld = true;
             QFile::remove(s.dataPath());
         },
         [&] { fileHeld = false; }},
        {"tracking file truncated",
         [&] {
             fileHeld = true;
             s.writeData({});
         },
         [&] { fileHeld = false; }},
        {"radio replies merged", [&] { s.radio.setMergedReplies(true); }, [&] { s.radio.setMergedReplies(false); }},
        {"rotator cable pulled", [&] { s.rotator.hangUp(); }, [&] { replug(s.rotator, "buttonOpenSerialA"); }},
        {"radio cable pulled", [&] { s.radio.hangUp(); }, [&] { replug(s.radio, "buttonOpenSerialB"); }},
    };
    // Switched with the serial ones, each phase one of each, so that a short
    // run still sees every kind.
    using F = DaemonStation::Fault;
    const auto both = [&](F rotator, F radio) {
        return [&d, rotator, radio] {
            d.rotatorFault = rotator;
            d.radioFault = radio;
        };
    };
    const std::vector<Fault> daemonFaults {
        {"daemons silent", both(F::Silent, F::Silent), both(F::None, F::None)},
        {"daemons answer garbage", both(F::Garbage, F::Garbage), both(F::None, F::None)},
        {"rotctld floods 1 MB of short lines", both(F::ShortLines, F::None), both(F::None, F::None)},
        {"daemons send 1 MB lines without a newline", both(F::LongLine, F::LongLine), both(F::None, F::None)},
        {"rigctld floods 1 MB of short lines", both(F::None, F::ShortLines), both(F::None, F::None)},
        {"daemons answer absurd values", both(F::Absurd, F::Absurd), both(F::None, F::None)},
        {"rotctld back with its limits after a pause",
         [&] {
             d.slowDumpState = true;
             d.rotctld.goAway();
         },
         [&] {
             if (!d.rotctld.comeBack())
                 std::printf("rotctld could not listen again\n");
         }},
        {"daemons go away and come back",
         [&] {
             d.rotctld.goAway();
             d.rigctld.goAway();
         },
         [&] {
             if (!d.rotctld.comeBack() || !d.rigctld.comeBack())
                 std::printf("a daemon could not listen again\n");
         }},
    };
    size_t next = 0;
    size_t nextDaemon = 0;
    int injected = 0;
    const Fault *active = nullptr;
    const Fault *activeDaemon = nullptr;
    QTimer injector;
    QObject::connect(&injector, &QTimer::timeout, [&] {
        d.rotctld.lines.clear();  // checked as they came
        d.rigctld.lines.clear();
        if (active) {
            active->end();
            activeDaemon->end();
            d.checker->faultEnded();
            active = nullptr;
            return;
        }
        active = &faults[next];
        activeDaemon = &daemonFaults[nextDaemon];
        next = (next + 1) % faults.size();
        nextDaemon = (nextDaemon + 1) % daemonFaults.size();
        ++injected;
        active->begin();
        activeDaemon->begin();
        d.checker->faultBegan(std::nullopt, 0);
    });
    injector.start(faultPhaseMs);

    // Warm-up, then the figures memory is judged against.
    bench::idle(int(std::max<qint64>(0, warmUpMs - clock.elapsed())));
    QTextDocument *log = logView(*s.window)->document();
    const qint64 residentAfterWarmUp = residentBytes();
    const int paragraphsAfterWarmUp = log->blockCount();
    lag.reset();
    bench::idle(int(std::max<qint64>(0, durationMs - clock.elapsed())));

    // Faults stop; the target stands still; everything must settle on it.
    injector.stop();
    if (active) {
        active->end();
        activeDaemon->end();
    }
    sky.stop();
    fileHeld = false;
    writeSky();
    const qint64 faultsEndedMs = clock.elapsed();
    qint64 daemonSettleMs = -1;
    const bool converged = bench::waitUntil(
        [&] {
            if (daemonSettleMs < 0 && d.onTarget(lastSky, deadBand))
                daemonSettleMs = clock.elapsed() - faultsEndedMs;
            const auto az = s.rotator.azimuth();
            const auto el = s.rotator.elevation();
            return doppler->isChecked() && az && el && std::fabs(*az - lastSky.azimuth) <= deadBand + 0.005
                && std::fabs(*el - lastSky.elevation) <= deadBand + 0.005
                && s.radio.frequency() == dopplerRuleHz(s.window->workingFrequency(), lastSky.doppler)
                && daemonSettleMs >= 0;
        },
        60000);
    const qint64 settleMs = clock.elapsed() - faultsEndedMs;
    const qint64 residentAtEnd = residentBytes();
    const int paragraphsAtEnd = log->blockCount();

    // Every command on the rotator line well formed.
    int malformed = 0;
    const QStringList commands = s.rotator.commands();
    for (const QString &line : commands) {
        if (!wellFormedRotatorCommand(line)) {
            if (++malformed <= 5)
                std::printf("malformed rotator command: \"%s\"\n", qPrintable(line));
        }
    }
    // Every frequency on the radio line what the Doppler rule gives for one
    // working frequency and one shift that were in force.
    QSet<quint32> allowed;
    for (double working : std::as_const(workingFrequencies))
        for (int shift : std::as_const(shiftsWritten))
            allowed.insert(dopplerRuleHz(working, shift));
    int frequencies = 0;
    int wrongFrequencies = 0;
    for (const QByteArray &frame : s.radio.frames()) {
        if (frame.size() != 5 || quint8(frame.at(4)) != 0x01)
            continue;
        ++frequencies;
        if (!allowed.contains(frameHz(frame)) && ++wrongFrequencies <= 5)
            std::printf("frequency off the Doppler rule: %u Hz\n", frameHz(frame));
    }

    // Memory after warm-up may grow only by what the log keeps (bounded on
    // its own): a few kilobytes a paragraph, and a little slack.
    const double growthMb = double(residentAtEnd - residentAfterWarmUp) / (1024.0 * 1024.0);
    const int newParagraphs = paragraphsAtEnd - paragraphsAfterWarmUp;
    const double allowedGrowthMb = 8.0 + newParagraphs * 3.0 / 1024.0;
    const bool flat = growthMb <= allowedGrowthMb;

    std::printf("soak: %.0f s, %d faults injected (%zu serial and %zu daemon kinds), warm-up %.0f s\n",
                double(clock.elapsed()) / 1000.0, injected, faults.size(), daemonFaults.size(),
                double(warmUpMs) / 1000.0);
    std::printf("memory: %.1f MB after warm-up, %.1f MB at end (%+.1f MB; %d new log paragraphs, %.1f MB allowed)\n",
                double(residentAfterWarmUp) / 1048576.0, double(residentAtEnd) / 1048576.0, growthMb, newParagraphs,
                allowedGrowthMb);
    std::printf("CPU: %.1f s, %.1f%% of one core; longest event-loop delay after warm-up %lld ms\n", cpuSeconds(),
                whole.cpuShare() * 100.0, lag.maxLagMs());
    std::printf("rotator: %lld commands, %d malformed; radio: %d frequencies, %d off the Doppler rule\n",
                qint64(commands.size()), malformed, frequencies, wrongFrequencies);
    std::printf("daemons: %d positions, %d bad; %d frequencies, %d bad; %d connections; %d messages\n", d.positions,
                d.badPositions, d.frequencies, d.badFrequencies, d.rotctld.connections + d.rigctld.connections,
                d.messages);
    const QStringList violations = d.checker->violations();
    for (const QString &violation : violations.mid(0, 5))
        std::printf("invariant violated: %s\n", qPrintable(violation));
    std::printf("invariants: %d positions checked against the stops and the mask, %d alarms raised, %lld violations\n",
                d.checker->positions(), d.checker->raised(), qint64(violations.size()));
    std::printf("converged on the target %s (%.1f s after the faults stopped; the daemon station after %.1f s)\n",
                converged ? "yes" : "NO", double(settleMs) / 1000.0, double(daemonSettleMs) / 1000.0);

    const bool ok = converged && flat && violations.isEmpty() && malformed == 0 && wrongFrequencies == 0 && frequencies > 0
        && commands.size() > 0 && d.badPositions == 0 && d.badFrequencies == 0 && d.positions > 0
        && d.frequencies > 0;
    std::printf("soak %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
