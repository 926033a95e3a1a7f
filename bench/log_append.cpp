// SPDX-License-Identifier: GPL-3.0-or-later
// Prints what appending one message to the log window costs, in microseconds
// per message, around 10,000 messages, around 100,000 and well past the bound
// (where every message also drops the oldest), with the window hidden, shown,
// and shown with each message's time; and the resident memory each kept
// message takes. Then what a flood of line noise on port A in Manual costs
// the running program, each port's bytes logged as they come, with the log
// window hidden and shown: CPU once the log holds all it keeps, and the
// memory that log takes.
//
//   bench_log [MESSAGES] [--flood-seconds N]
//   bench_log --flood-host ROTATOR RADIO [--log-shown]   the flooded process:
//       sets the window up, prints "ready", answers "log" with "log <dropped
//       messages>", runs until stdin closes

#include "benchsupport.h"
#include "faulttesting.h"
#include "processusage.h"

#include "ui/logdialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>

#include <malloc.h>
#include <unistd.h>

namespace {

QString message(qint64 i)
{
    return QStringLiteral("--received from transceiver (request state = 1): %1").arg(0x4320650001 + i, 10, 16);
}

// Appends messages until appended reaches until. Messages come
// from the event loop in the program, so the loop turns between small bursts
// here too: work the window defers (layout, scroll range, painting when
// shown) is paid where it falls due, not all at once inside the timed sample.
void appendBurst(logDialog &log, qint64 &appended, qint64 until)
{
    constexpr qint64 burst = 100;
    while (appended < until) {
        log.append(message(appended++));
        if (appended % burst == 0)
            QCoreApplication::processEvents();
    }
}

// Appends messages until total messages have been appended; returns the cost
// of the last sample ones in microseconds per message.
double appendUpTo(logDialog &log, qint64 &appended, qint64 total, qint64 sample)
{
    appendBurst(log, appended, total - sample);
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    appendBurst(log, appended, total);
    QCoreApplication::processEvents();
    return double(timer.nsecsElapsed()) / 1e3 / double(sample);
}

int floodHost(const QString &rotatorPath, const QString &radioPath, bool logShown)
{
    bench::WindowHost host(rotatorPath, radioPath, bench::StoreValues {});
    host.window->show();
    host.setAuto('A', false);
    host.open('A');
    auto *log = host.window->findChild<logDialog *>();
    if (!log) {
        std::fprintf(stderr, "bench_log: the window has no log\n");
        return 1;
    }
    if (logShown)
        log->show();
    std::printf("ready\n");
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, qApp, [log] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            qApp->quit();
            return;
        }
        std::printf("log %lld\n", static_cast<long long>(log->droppedCount()));
        std::fflush(stdout);
    });
    return qApp->exec();
}

// The messages the flooded window's log has dropped so far; -1 if it does not say.
qint64 droppedBy(QProcess &hosted)
{
    hosted.readAllStandardOutput();
    hosted.write("log\n");
    QByteArray out;
    while (!out.contains('\n') && hosted.waitForReadyRead(5000))
        out += hosted.readAllStandardOutput();
    return out.startsWith("log ") ? out.mid(4).trimmed().toLongLong() : -1;
}

int measureFlood(bool logShown, int seconds)
{
    constexpr qint64 offered = 1024 * 1024;  // bytes a second
    bench::SimStation station;
    if (!station.start()) {
        std::fprintf(stderr, "bench_log: the simulated station did not start\n");
        return 1;
    }
    QProcess hosted;
    hosted.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments {QStringLiteral("--flood-host"), station.rotatorPath, station.radioPath};
    if (logShown)
        arguments << QStringLiteral("--log-shown");
    hosted.start(QCoreApplication::applicationFilePath(), arguments);
    if (!hosted.waitForStarted(10000) || !bench::waitUntil([&] { return hosted.canReadLine(); }, 30000)
        || !hosted.readLine().startsWith("ready")) {
        std::fprintf(stderr, "bench_log: the window did not get ready\n");
        return 1;
    }
    const qint64 pid = hosted.processId();
    bench::idle(1000);  // start-up work settles
    const qint64 residentBefore = bench::residentBytesOf(pid);
    station.flood(offered);
    // Measured once the log holds all it keeps, each message dropping the oldest.
    QElapsedTimer filling;
    filling.start();
    while (droppedBy(hosted) <= 0 && filling.elapsed() < 180000)
        bench::idle(500);
    if (droppedBy(hosted) <= 0) {
        std::fprintf(stderr, "bench_log: the flood never filled the log\n");
        return 1;
    }
    bench::idle(1000);

    const auto before = bench::readThreads(pid);
    const qint64 floodedBefore = station.floodedBytes();
    QElapsedTimer clock;
    clock.start();
    bench::idle(seconds * 1000);
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    const auto after = bench::readThreads(pid);
    const double taken = double(station.floodedBytes() - floodedBefore) / elapsed;
    const double mebibytes = double(bench::residentBytesOf(pid) - residentBefore) / (1024.0 * 1024.0);
    hosted.closeWriteChannel();
    if (!hosted.waitForFinished(10000))
        hosted.kill();

    const double cpuShare = 100.0 * bench::cpuSecondsBetween(before, after) / elapsed;
    bench::row(QStringLiteral("3 log, Manual flood on port A, log window %1")
                   .arg(logShown ? QStringLiteral("shown") : QStringLiteral("hidden")),
               QStringLiteral("%1% of a core over %2 s, %3 KiB/s taken of %4; the capped log %5 MiB")
                   .arg(cpuShare, 0, 'f', 1)
                   .arg(seconds)
                   .arg(taken / 1024.0, 0, 'f', 0)
                   .arg(offered / 1024)
                   .arg(mebibytes, 0, 'f', 1),
               QStringLiteral("goal < 10% of a core; < 40 MiB"));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int hostAt = int(args.indexOf(QStringLiteral("--flood-host")));
    if (hostAt >= 0 && hostAt + 2 < args.size())
        return floodHost(args.at(hostAt + 1), args.at(hostAt + 2), args.contains(QStringLiteral("--log-shown")));
    const qint64 past = argc > 1 && !args.at(1).startsWith(QLatin1Char('-')) ? std::atoll(argv[1]) : 150000;
    const qint64 sample = 5000;  // long enough that a stray scheduling delay does not set the figure

    // Shown, and shown with each message's time beside it.
    enum class Mode { Hidden, Shown, ShownWithTimes };
    for (const Mode mode : {Mode::Hidden, Mode::Shown, Mode::ShownWithTimes}) {
        const bool shown = mode != Mode::Hidden;
        // The first window's memory went back to the allocator; handing it
        // back to the system keeps the second window's figure its own.
        malloc_trim(0);
        logDialog log;
        log.setRecordNote(QStringLiteral("the full record is in /var/tmp/vestrel.log"));
        if (shown)
            log.show();
        if (mode == Mode::ShownWithTimes)
            log.findChild<QCheckBox *>(QStringLiteral("checkUtcTimes"))->setChecked(true);
        qint64 appended = 0;
        const double start = faulttesting::residentBytes();
        const double at10k = appendUpTo(log, appended, 10000, sample);
        const double memory10k = (faulttesting::residentBytes() - start) / 10000.0;
        const double at100k = appendUpTo(log, appended, 100000, sample);
        const double memory100k = (faulttesting::residentBytes() - start) / 100000.0;
        const double beyond = appendUpTo(log, appended, past, sample);
        const double kept = double(qMin<qint64>(past, log.messageLimit()));
        const double memoryBeyond = (faulttesting::residentBytes() - start) / kept;
        const QString how = mode == Mode::Hidden ? QStringLiteral("hidden")
            : mode == Mode::Shown                 ? QStringLiteral("shown")
                                                  : QStringLiteral("shown with times");
        bench::row(QStringLiteral("3 log, window %1").arg(how),
                   QStringLiteral("%1 / %2 / %3 us a line at 10k / 100k / %4; %5 / %6 / %7 bytes a line kept")
                       .arg(at10k, 0, 'f', 1)
                       .arg(at100k, 0, 'f', 1)
                       .arg(beyond, 0, 'f', 1)
                       .arg(past)
                       .arg(memory10k, 0, 'f', 0)
                       .arg(memory100k, 0, 'f', 0)
                       .arg(memoryBeyond, 0, 'f', 0),
                   QStringLiteral("goal: past the bound (%1 lines) within 2 x at 10k = %2 us")
                       .arg(log.messageLimit())
                       .arg(2.0 * at10k, 0, 'f', 1));
        std::printf("log window %s: %.1f us/message at 10k, %.1f at 100k, %.1f at %lld (bound %d, %lld dropped)\n",
                    qPrintable(how), at10k, at100k, beyond, static_cast<long long>(past),
                    log.messageLimit(), static_cast<long long>(log.droppedCount()));
    }
    const int floodSeconds = qMax(1, bench::intOption(args, QStringLiteral("--flood-seconds"), 10));
    for (const bool logShown : {false, true}) {
        if (const int status = measureFlood(logShown, floodSeconds))
            return status;
    }
    return 0;
}
