// Runs the whole station for a long time with faults injected at a steady
// rate, then checks what an operator would look for the next morning: every
// rotator command well formed, every frequency sent equal to the working
// frequency plus the file's Doppler shift, memory flat after warm-up, and
// the antenna and radio on the target once the faults stop. Prints figures;
// exits with 1 when a check fails.
//
//   soak [seconds]   (default 120)

#include "benchreport.h"
#include "faulttesting.h"
#include "windowtesting.h"

#include "sim/simrotator.h"
#include "sim/simtransceiver.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QSet>
#include <QTextDocument>

#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

using namespace windowtesting;
using namespace faulttesting;
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
    size_t next = 0;
    int injected = 0;
    const Fault *active = nullptr;
    QTimer injector;
    QObject::connect(&injector, &QTimer::timeout, [&] {
        if (active) {
            active->end();
            active = nullptr;
            return;
        }
        active = &faults[next];
        next = (next + 1) % faults.size();
        ++injected;
        active->begin();
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
    if (active)
        active->end();
    sky.stop();
    fileHeld = false;
    writeSky();
    const qint64 faultsEndedMs = clock.elapsed();
    const bool converged = bench::waitUntil(
        [&] {
            const auto az = s.rotator.azimuth();
            const auto el = s.rotator.elevation();
            return doppler->isChecked() && az && el && std::fabs(*az - lastSky.azimuth) <= deadBand + 0.005
                && std::fabs(*el - lastSky.elevation) <= deadBand + 0.005
                && s.radio.frequency() == dopplerRuleHz(s.window->workingFrequency(), lastSky.doppler);
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

    std::printf("soak: %.0f s, %d faults injected (%zu kinds), warm-up %.0f s\n", double(clock.elapsed()) / 1000.0,
                injected, faults.size(), double(warmUpMs) / 1000.0);
    std::printf("memory: %.1f MB after warm-up, %.1f MB at end (%+.1f MB; %d new log paragraphs, %.1f MB allowed)\n",
                double(residentAfterWarmUp) / 1048576.0, double(residentAtEnd) / 1048576.0, growthMb, newParagraphs,
                allowedGrowthMb);
    std::printf("CPU: %.1f s, %.1f%% of one core; longest event-loop delay after warm-up %lld ms\n", cpuSeconds(),
                whole.cpuShare() * 100.0, lag.maxLagMs());
    std::printf("rotator: %lld commands, %d malformed; radio: %d frequencies, %d off the Doppler rule\n",
                qint64(commands.size()), malformed, frequencies, wrongFrequencies);
    std::printf("converged on the target %s (%.1f s after the faults stopped)\n", converged ? "yes" : "NO",
                double(settleMs) / 1000.0);

    const bool ok = converged && flat && malformed == 0 && wrongFrequencies == 0 && frequencies > 0
        && commands.size() > 0;
    std::printf("soak %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
