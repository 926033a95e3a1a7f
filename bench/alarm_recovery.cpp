// SPDX-License-Identifier: GPL-3.0-or-later
// How soon the station says a device or the data stopped, and how soon it
// commands a device again once it is back: the window-free station on the
// simulated devices and on Hamlib's dummy daemons, with its own timers. Also
// what a flood of short lines from a daemon costs the event loop and memory.
//
//   bench_alarms [--quick]   --quick leaves out the slow stale-data figure

#include "benchreport.h"
#include "faulttesting.h"
#include "hamlibtesting.h"

#include "sim/simrotator.h"
#include "sim/simtransceiver.h"
#include "station/trackingcontrol.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

namespace {

constexpr int repetitionIntervalMs = 1000;
constexpr int readoutMs = 200;

QByteArray trackLine(double azimuth, double elevation)
{
    QList<QByteArray> fields(17, "0");
    fields[1] = QByteArray::number(azimuth, 'f', 2);
    fields[2] = QByteArray::number(elevation, 'f', 2);
    fields[12] = "432.065";
    return fields.join(',') + '\n';
}

// The station tracking a target that moves 0.5 degree a second, written as
// a tracking program would.
struct Bench {
    Bench()
    {
        QDir::setCurrent(dir.path());
        relink();
        write();
        station.setTimes(repetitionIntervalMs / 1000, readoutMs);
        station.setDataFile(dataPath());
        station.setAuto(StationPort::A, true);
        station.setAuto(StationPort::B, true);
        QObject::connect(&writer, &QTimer::timeout, [this] { write(); });
        writer.start(500);
    }
    QString dataPath() const { return dir.filePath(QStringLiteral("azel.dat")); }
    QString link() const { return dir.filePath(QStringLiteral("rotator")); }
    void relink()
    {
        QFile::remove(link());
        QFile::link(rotator.slavePath(), link());
    }
    void write()
    {
        azimuth = 100.0 + clock.elapsed() / 2000.0;
        QFile file(dataPath());
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(trackLine(azimuth, 20.0));
    }

    QTemporaryDir dir;
    SimRotator rotator;
    SimTransceiver radio;
    QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    double azimuth = 100.0;
    QTimer writer;
    TrackingControl station;
};

// Milliseconds until done() holds, or -1 after limitMs.
qint64 timeUntil(const std::function<bool()> &done, int limitMs)
{
    QElapsedTimer timer;
    timer.start();
    return bench::waitUntil(done, limitMs) ? timer.elapsed() : -1;
}

QString figure(qint64 ms)
{
    return ms < 0 ? QStringLiteral("never") : bench::ms(double(ms), 0);
}

// rotctld answering every position readout with 1 MB of "garbage\n" for a
// few seconds while the station tracks.
void floodFigures(int seconds)
{
    Bench b;
    hamlibtesting::FakeDaemon rotctld;
    bool flooding = false;
    int floods = 0;
    rotctld.answer = [&](const QByteArray &line) -> QByteArray {
        if (line == "\\dump_state")
            return hamlibtesting::rotDump;
        if (line != "p")
            return "RPRT 0\n";
        if (!flooding)
            return "100.00\n20.00\n";
        ++floods;
        return QByteArray("garbage\n").repeated(131072);
    };
    b.station.setNetwork(StationPort::A, true);
    b.station.open(StationPort::A, rotctld.address(), {}, false);
    bench::waitUntil([&] { return b.station.pointing().actualAzimuth.has_value(); }, 5000);
    faulttesting::Meter meter;
    faulttesting::LagProbe lag;
    flooding = true;
    bench::idle(seconds * 1000);
    flooding = false;
    bench::row(QStringLiteral("event-loop delay, rotctld flooding 1 MB/s of short lines"),
               bench::ms(double(lag.maxLagMs()), 0) + QStringLiteral(" (%1 MB sent)").arg(floods),
               QStringLiteral("bound 100 ms"));
    bench::row(QStringLiteral("memory growth, rotctld flooding 1 MB/s of short lines"),
               QStringLiteral("%1 MB over %2 s").arg(meter.growthMb(), 0, 'f', 1).arg(seconds),
               QStringLiteral("bound 16 MB"));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    {
        Bench b;
        b.station.open(StationPort::A, b.link(), {}, false);
        b.station.open(StationPort::B, b.radio.slavePath(), {}, false);
        bench::waitUntil([&] { return b.station.isFrequencyKnown(); }, 5000);

        b.rotator.setSilent(true);
        const qint64 rotator = timeUntil([&] { return b.station.health().active(Alarm::RotatorSilent); }, 20000);
        bench::row(QStringLiteral("rotator silent to its alarm"), figure(rotator),
                   QStringLiteral("bound 6000 ms (5 s without an answer + 1 repetition)"));
        b.rotator.setSilent(false);

        b.radio.setSilent(true);
        const qint64 radio = timeUntil([&] { return b.station.health().active(Alarm::RadioSilent); }, 20000);
        bench::row(QStringLiteral("radio silent to its alarm"), figure(radio),
                   QStringLiteral("bound %1 ms (3 readouts + 1 repetition)").arg(3 * readoutMs + repetitionIntervalMs));
        b.radio.setSilent(false);

        if (!quick) {
            b.writer.stop();
            const qint64 stale = timeUntil([&] { return b.station.health().active(Alarm::DataStale); }, 30000);
            bench::row(QStringLiteral("tracking data stopped to its alarm"), figure(stale),
                       QStringLiteral("bound 11000 ms (10 s unchanged + 1 repetition)"));
            b.writer.start(500);
        }

        // The cable pulled (its link gone with it) and plugged back.
        b.rotator.hangUp();
        QFile::remove(b.link());
        bench::waitUntil([&] { return !b.station.portSession(StationPort::A).open; }, 5000);
        bench::idle(1500);
        b.rotator.reopen();
        b.rotator.clearCommands();
        b.relink();
        const qint64 serial = timeUntil(
            [&] {
                const QStringList commands = b.rotator.commands();
                return !commands.isEmpty() && qAbs(b.rotator.commandedAzimuth() - b.azimuth) < 1.0;
            },
            20000);
        bench::row(QStringLiteral("serial rotator back to its first command"), figure(serial),
                   QStringLiteral("goal 3000 ms"));
    }

    floodFigures(quick ? 3 : 10);
    if (!hamlibtesting::daemonsInstalled())
        return 0;
    Bench b;
    hamlibtesting::Daemon rotctld(QStringLiteral("rotctld"), {QStringLiteral("-m"), QStringLiteral("1")});
    if (!rotctld.start())
        return 1;
    b.station.setNetwork(StationPort::A, true);
    b.station.open(StationPort::A, rotctld.address(), {}, false);
    bench::waitUntil([&] { return b.station.portSession(StationPort::A).open; }, 5000);
    rotctld.kill();
    bench::waitUntil([&] { return !b.station.portSession(StationPort::A).open; }, 10000);
    bench::idle(3000);
    rotctld.start();
    const qint64 daemon = timeUntil(
        [&] {
            const auto &pointing = b.station.pointing();
            return b.station.portSession(StationPort::A).open && b.station.steering().pending.isEmpty()
                && pointing.commandedAzimuth && qAbs(*pointing.commandedAzimuth - b.azimuth) < 1.0;
        },
        40000);
    bench::row(QStringLiteral("rotctld restarted after 3 s to its first answered command"), figure(daemon),
               QStringLiteral("goal 5000 ms (reconnect backoff 1, 2, 4 ... 30 s)"));
    return 0;
}
