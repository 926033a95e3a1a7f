// Prints what appending one message to the log window costs, in microseconds
// per message, around 10,000 messages, around 100,000 and well past the bound
// (where every message also drops the oldest), with the window hidden, shown,
// and shown with each message's time; and the resident memory each kept
// message takes.

#include "benchreport.h"
#include "faulttesting.h"

#include "ui/logdialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>

#include <malloc.h>

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

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 past = argc > 1 ? std::atoll(argv[1]) : 150000;
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
    return 0;
}
