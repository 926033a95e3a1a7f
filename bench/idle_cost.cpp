// What the running program costs while it only keeps the station on target:
// the real main window (offscreen) with both ports in Auto, "Track frequency"
// on, repetition 1 s and readout 200 ms, measured from outside through /proc
// over a minute. The simulated station runs in a process of its own, so its
// cost is not counted.
//
//   bench_idle [--seconds N]         measures, printing the table rows
//   bench_idle --host ROTATOR RADIO  the measured process: sets the window up,
//                                    prints "ready", runs until stdin closes

#include "benchsupport.h"
#include "processusage.h"

#include <QCheckBox>
#include <QSocketNotifier>

#include <sys/resource.h>
#include <unistd.h>

using namespace bench;

namespace {

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

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, qApp, [] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            qApp->quit();
    });
    return qApp->exec();
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
// link's worker woken by the tick, by each reply and after each 20 ms pause
// (5), the port's I/O thread for each frame out and each reply in (4); per
// repetition the window's timer, the worker (queue, delay, pause) and one
// write (5). Byte by byte, each extra reply byte wakes the I/O thread and the
// window once more (4 bytes a tick).
double fewestWakeups(bool wholeReplies, int readoutsPerSecond, int repetitionsPerSecond)
{
    const int perTick = wholeReplies ? 12 : 12 + 2 * 4;
    return double(perTick * readoutsPerSecond + 5 * repetitionsPerSecond);
}

int measure(int seconds, bool wholeReplies)
{
    SimStation station;
    QStringList simArguments {QStringLiteral("--turnaround"), QStringLiteral("2")};
    if (wholeReplies)
        simArguments << QStringLiteral("--whole-replies");
    if (!station.start(simArguments)) {
        std::fprintf(stderr, "bench_idle: the simulated station did not start\n");
        return 1;
    }
    QProcess hosted;
    hosted.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    hosted.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--host"), station.rotatorPath, station.radioPath});
    if (!hosted.waitForStarted(10000) || !waitUntil([&] { return hosted.canReadLine(); }, 30000)
        || !hosted.readLine().startsWith("ready")) {
        std::fprintf(stderr, "bench_idle: the window did not get ready\n");
        return 1;
    }
    const qint64 pid = hosted.processId();
    idle(2000);  // start-up work settles

    const auto before = readThreads(pid);
    QElapsedTimer clock;
    clock.start();
    idle(seconds * 1000);
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    const auto after = readThreads(pid);

    // The window's threads live as long as its ports stay open: none ends meanwhile.
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
    hosted.closeWriteChannel();
    if (!hosted.waitForFinished(10000))
        hosted.kill();

    const double cpuShare = 100.0 * cpuSeconds / elapsed;
    const QString delivery = wholeReplies ? QStringLiteral("replies whole") : QStringLiteral("replies byte by byte");
    const double wakeCost = bareWakeupMicroseconds();
    const double floorWakeups = fewestWakeups(wholeReplies, 5, 1);
    row(QStringLiteral("2 idle CPU, %1 s, %2").arg(seconds).arg(delivery),
        QStringLiteral("%1% of a core (%2 us a wake-up)")
            .arg(cpuShare, 0, 'f', 2)
            .arg(wakeups > 0 ? cpuSeconds * 1e6 / double(wakeups) : 0.0, 0, 'f', 0),
        QStringLiteral("goal < 0.30%; floor %1 wake-ups/s x %2 us (bare Qt loop wake-up now) = %3%")
            .arg(floorWakeups, 0, 'f', 0)
            .arg(wakeCost, 0, 'f', 0)
            .arg(floorWakeups * wakeCost / 1e4, 0, 'f', 2));
    row(QStringLiteral("2 idle wake-ups, %1").arg(delivery),
        QStringLiteral("%1 /s (+%2 /s preempted)")
            .arg(double(wakeups) / elapsed, 0, 'f', 1)
            .arg(double(preemptions) / elapsed, 0, 'f', 1),
        QStringLiteral("%1 threads: %2").arg(after.size()).arg(perThread.join(QStringLiteral(", "))));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int hostAt = args.indexOf(QStringLiteral("--host"));
    if (hostAt >= 0 && hostAt + 2 < args.size())
        return host(args.at(hostAt + 1), args.at(hostAt + 2));
    const int seconds = intOption(args, QStringLiteral("--seconds"), 60);
    // A 9600-baud line seen byte by byte (a plain UART), then as a USB
    // adapter or a UART's receive FIFO hands whole replies over.
    if (const int status = measure(qMax(1, seconds), false))
        return status;
    return measure(qMax(1, seconds / 4), true);
}
