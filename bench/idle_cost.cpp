// SPDX-License-Identifier: GPL-3.0-or-later
// What the running program costs while it only keeps the station on target:
// the real main window (offscreen) with both ports in Auto, "Track frequency"
// on, repetition 1 s and readout 200 ms, measured from outside through /proc
// over a minute; then vestrel --headless doing the same with no client, and
// a bare Qt event loop woken as often as that work needs at the least, for
// the floor. The simulated station runs in a process of its own, so its
// cost is not counted.
//
//   bench_idle [--seconds N]         measures, printing the table rows
//   bench_idle --host ROTATOR RADIO  the measured window: sets it up, prints
//                                    "ready", runs until stdin closes
//   bench_idle --bare PER_SECOND     the bare loop, until stdin closes

#include "benchsupport.h"
#include "processusage.h"

#include "remote/remotesettings.h"

#include <QCheckBox>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include <optional>

#include <cstdlib>
#include <sys/resource.h>
#include <unistd.h>

using namespace bench;

namespace {

int runUntilStdinCloses()
{
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, qApp, [] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            qApp->quit();
    });
    return qApp->exec();
}

int host(const QString &rotatorPath, const QString &radioPath)
{
    StoreValues values;
    values.repetitionSeconds = 1;
    values.messageDelayMs = 200;
    WindowHost host(rotatorPath, radioPath, values);
    host.window->show();
    host.writeData(windowtesting::trackLine(123.4, 23.4, -250, -500));
    host.selectData();
    host.setAuto('A', true);
    host.setAuto('B', true);
    host.open('A');
    host.open('B');
    if (!waitUntil([&] { return host.frequencyShown(); }, 10000)) {
        std::fprintf(stderr, "bench_idle: the window showed no frequency\n");
        return 1;
    }
    auto *track = host.w<QCheckBox>("checkDoppler");
    track->click();
    if (!track->isChecked()) {
        std::fprintf(stderr, "bench_idle: \"Track frequency\" would not engage\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return runUntilStdinCloses();
}

// A Qt event loop woken perSecond times a second by a timer that does nothing.
int bareLoop(int perSecond)
{
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.start(1000 / qMax(1, perSecond));
    std::printf("ready\n");
    std::fflush(stdout);
    return runUntilStdinCloses();
}

// CPU time of one wake-up of a Qt event loop that has nothing else to do,
// on this machine now: a thread whose timer fires every 5 ms.
double bareWakeupMicroseconds()
{
    double cpuSeconds = 0;
    long wakeups = 0;
    QThread thread;
    QObject::connect(&thread, &QThread::started, [&] {
        QEventLoop loop;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        int ticks = 0;
        rusage start {};
        getrusage(RUSAGE_THREAD, &start);
        QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
            if (++ticks < 400)
                return;
            rusage end {};
            getrusage(RUSAGE_THREAD, &end);
            auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
            cpuSeconds = seconds(end.ru_utime) + seconds(end.ru_stime) - seconds(start.ru_utime)
                - seconds(start.ru_stime);
            wakeups = end.ru_nvcsw - start.ru_nvcsw;
            loop.quit();
        });
        timer.start(5);
        loop.exec();
        thread.quit();
    });
    thread.start();
    thread.wait();
    return wakeups > 0 ? cpuSeconds * 1e6 / double(wakeups) : 0.0;
}

// The fewest wake-ups a second the work itself needs, with each reply handed
// over whole: per readout tick the window's timer and two replies (3), the
// link's worker woken by the tick, by each reply and after the pause between
// the two commands (4); per repetition the window's timer and the worker
// (queue, delay, pause) (4). Byte by byte, each extra reply byte wakes the
// window's thread once more (4 bytes a tick).
double fewestWakeups(bool wholeReplies, int readoutsPerSecond, int repetitionsPerSecond)
{
    const int perTick = wholeReplies ? 7 : 7 + 4;
    return double(perTick * readoutsPerSecond + 4 * repetitionsPerSecond);
}

enum class Program { Window, Headless, BareLoop };

// What one program cost over the time measured.
struct Cost {
    double cpuShare = 0;  // percent of a core
    double wakeupsPerSecond = 0;
    double preemptionsPerSecond = 0;
    double microsecondsPerWakeup = 0;
    QString threads;  // those that woke, with their wake-ups and CPU

    QString figure() const
    {
        return QStringLiteral("%1% of a core (%2 wake-ups/s, %3 us each)")
            .arg(cpuShare, 0, 'f', 2)
            .arg(wakeupsPerSecond, 0, 'f', 1)
            .arg(microsecondsPerWakeup, 0, 'f', 0);
    }
};

// The files vestrel --headless finds in its working folder: both ports open
// in Auto on the station's ptys, tracking the Moon from a data file and the
// radio's frequency, no client; times as the window's.
bool writeHeadlessFolder(const QTemporaryDir &folder, const SimStation &station)
{
    QFile data(folder.filePath(QStringLiteral("track.txt")));
    QFile store(folder.filePath(QStringLiteral("store.cfg")));
    if (!data.open(QIODevice::WriteOnly) || !store.open(QIODevice::WriteOnly))
        return false;
    data.write(windowtesting::trackLine(123.4, 23.4, -250, -500));
    store.write(QStringLiteral("filename: '%1'\nrepetition time: '1'\nmessage delay: '200'\n")
                    .arg(folder.path())
                    .toLocal8Bit());
    RemoteSettings settings;
    settings.listenPort = 0;
    settings.portADevice = station.rotatorPath;
    settings.portBDevice = station.radioPath;
    settings.openAAtStart = true;
    settings.openBAtStart = true;
    settings.trackFrequency = true;
    settings.dataFile = data.fileName();
    return settings.write(folder.filePath(RemoteSettings::defaultPath()));
}

std::optional<Cost> measure(Program program, int seconds, bool wholeReplies)
{
    SimStation station;
    QStringList simArguments {QStringLiteral("--turnaround"), QStringLiteral("2")};
    if (wholeReplies)
        simArguments << QStringLiteral("--whole-replies");
    if (program != Program::BareLoop && !station.start(simArguments)) {
        std::fprintf(stderr, "bench_idle: the simulated station did not start\n");
        return std::nullopt;
    }
    QProcess hosted;
    hosted.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QTemporaryDir folder;
    int framesBefore = 0;
    switch (program) {
    case Program::Window:
        hosted.start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("--host"), station.rotatorPath, station.radioPath});
        break;
    case Program::BareLoop:
        hosted.start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("--bare"), QString::number(fewestWakeups(wholeReplies, 5, 1))});
        break;
    case Program::Headless:
        if (!writeHeadlessFolder(folder, station)) {
            std::fprintf(stderr, "bench_idle: no folder for the headless station\n");
            return std::nullopt;
        }
        hosted.setProcessChannelMode(QProcess::SeparateChannels);
        hosted.setStandardOutputFile(QProcess::nullDevice());
        hosted.setStandardErrorFile(QProcess::nullDevice());
        hosted.setWorkingDirectory(folder.path());
        framesBefore = station.radioFrames();
        hosted.start(QStringLiteral(VESTREL_PROGRAM), {QStringLiteral("--headless")});
        break;
    }
    const bool ready = program == Program::Headless
        // Tracking the frequency once it has set the radio a few times.
        ? hosted.waitForStarted(10000) && waitUntil([&] { return station.radioFrames() > framesBefore + 20; }, 30000)
        : hosted.waitForStarted(10000) && waitUntil([&] { return hosted.canReadLine(); }, 30000)
            && hosted.readLine().startsWith("ready");
    if (!ready) {
        std::fprintf(stderr, "bench_idle: the measured program did not get ready\n");
        return std::nullopt;
    }
    const qint64 pid = hosted.processId();
    idle(2000);  // start-up work settles

    const auto before = readThreads(pid);
    QElapsedTimer clock;
    clock.start();
    idle(seconds * 1000);
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    const auto after = readThreads(pid);

    // The program's threads live as long as its ports stay open: none ends meanwhile.
    double cpuSeconds = 0;
    qint64 wakeups = 0;
    qint64 preemptions = 0;
    QStringList perThread;
    for (const auto &[tid, usage] : after) {
        const auto was = before.find(tid);
        const Usage start = was == before.end() ? Usage {} : was->second;
        const qint64 s = usage.wakeups - start.wakeups;
        wakeups += s;
        cpuSeconds += usage.cpuSeconds - start.cpuSeconds;
        preemptions += usage.preemptions - start.preemptions;
        if (s == 0)
            continue;  // threads that sleep throughout (port A's, Qt's pool)
        perThread << QStringLiteral("%1 %2/s %3 ms/s")
                         .arg(threadName(QStringLiteral("/proc/%1/task/%2").arg(pid).arg(tid)))
                         .arg(double(s) / elapsed, 0, 'f', 1)
                         .arg((usage.cpuSeconds - start.cpuSeconds) * 1000.0 / elapsed, 0, 'f', 2);
    }
    if (program == Program::Headless) {
        hosted.terminate();
    } else {
        hosted.closeWriteChannel();
    }
    if (!hosted.waitForFinished(10000))
        hosted.kill();

    Cost cost;
    cost.cpuShare = 100.0 * cpuSeconds / elapsed;
    cost.wakeupsPerSecond = double(wakeups) / elapsed;
    cost.preemptionsPerSecond = double(preemptions) / elapsed;
    cost.microsecondsPerWakeup = wakeups > 0 ? cpuSeconds * 1e6 / double(wakeups) : 0.0;
    cost.threads = QStringLiteral("%1 threads: %2").arg(after.size()).arg(perThread.join(QStringLiteral(", ")));
    return cost;
}

int measureAll(int seconds, bool wholeReplies)
{
    const QString delivery = wholeReplies ? QStringLiteral("replies whole") : QStringLiteral("replies byte by byte");
    const auto window = measure(Program::Window, seconds, wholeReplies);
    if (!window)
        return 1;
    const double wakeCost = bareWakeupMicroseconds();
    const double floorWakeups = fewestWakeups(wholeReplies, 5, 1);
    row(QStringLiteral("2 idle CPU, %1 s, %2").arg(seconds).arg(delivery),
        QStringLiteral("%1% of a core (%2 us a wake-up)")
            .arg(window->cpuShare, 0, 'f', 2)
            .arg(window->microsecondsPerWakeup, 0, 'f', 0),
        QStringLiteral("goal < 0.30%; floor %1 wake-ups/s x %2 us (bare Qt loop wake-up now) = %3%")
            .arg(floorWakeups, 0, 'f', 0)
            .arg(wakeCost, 0, 'f', 0)
            .arg(floorWakeups * wakeCost / 1e4, 0, 'f', 2));
    row(QStringLiteral("2 idle wake-ups, %1").arg(delivery),
        QStringLiteral("%1 /s (+%2 /s preempted)")
            .arg(window->wakeupsPerSecond, 0, 'f', 1)
            .arg(window->preemptionsPerSecond, 0, 'f', 1),
        window->threads);

    const auto headless = measure(Program::Headless, seconds, wholeReplies);
    if (!headless)
        return 1;
    row(QStringLiteral("2 idle CPU headless, %1 s, %2").arg(seconds).arg(delivery), headless->figure(),
        QStringLiteral("goal < 0.20%; ") + headless->threads);

    // Its wake-ups on one thread, where the program's are spread over several.
    const auto bare = measure(Program::BareLoop, seconds, wholeReplies);
    if (!bare)
        return 1;
    row(QStringLiteral("2 idle CPU bare Qt loop, %1 s, %2").arg(seconds).arg(delivery), bare->figure(),
        QStringLiteral("the floor: a timer with nothing to do, at the fewest wake-ups the work needs"));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "--bare") == 0) {
            QCoreApplication app(argc, argv);  // nothing but the loop
            return bareLoop(std::atoi(argv[i + 1]));
        }
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int hostAt = int(args.indexOf(QStringLiteral("--host")));
    if (hostAt >= 0 && hostAt + 2 < args.size())
        return host(args.at(hostAt + 1), args.at(hostAt + 2));
    const int seconds = intOption(args, QStringLiteral("--seconds"), 60);
    // A 9600-baud line seen byte by byte (a plain UART), then as a USB
    // adapter or a UART's receive FIFO hands whole replies over.
    if (const int status = measureAll(qMax(1, seconds), false))
        return status;
    return measureAll(qMax(1, seconds / 4), true);
}
