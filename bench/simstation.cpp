// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated station in a process of its own, so that a benchmark can
// measure the program without the devices' cost: the rotator controller and
// the FT-817 on ptys, their paths on stdout, until stdin closes.
//
//   bench_simstation [--turnaround MS] [--no-line-timing]
//                    [--whole-replies] [--acknowledge] [--trace]
//
// Prints "rotator <path>" and "radio <path>", then "ready". Lines on stdin:
// "frames" is answered with "frames <count of radio frames so far>";
// "tune <hz>" sets the radio's frequency, as its knob would, and is answered
// "tuned"; "flood <bytes a second>" starts line noise from the rotator at that
// rate, answered "flooding", and "flooded" is answered "flooded <bytes so far>".

#include "benchreport.h"

#include "sim/simrotator.h"
#include "sim/simtransceiver.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSocketNotifier>

#include <cstdio>
#include <limits>
#include <unistd.h>

namespace {

// Line noise: any byte but 'O', so that no "OK" turns up by chance, and no
// zero, after which the log would show nothing of a read.
QByteArray noise()
{
    QRandomGenerator random(1);
    QByteArray bytes(4096, '\0');
    for (char &c : bytes) {
        c = char(1 + random.bounded(255));
        if (c == 'O')
            c = 'o';
    }
    return bytes;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    SimRotator rotator;
    SimTransceiver radio;
    radio.setLineTiming(!args.contains(QStringLiteral("--no-line-timing")));
    radio.setWholeReplies(args.contains(QStringLiteral("--whole-replies")));
    radio.setAcknowledge(args.contains(QStringLiteral("--acknowledge")));
    radio.setReplyDelay(bench::intOption(args, QStringLiteral("--turnaround"), 0));
    if (!rotator.isOpen() || !radio.isOpen()) {
        std::fprintf(stderr, "bench_simstation: no pseudo-terminal\n");
        return 1;
    }
    if (args.contains(QStringLiteral("--trace"))) {
        QObject::connect(&radio, &SimTransceiver::frameReceived, [](const QByteArray &frame) {
            std::fprintf(stderr, "radio frame %s\n", frame.toHex().constData());
        });
        QObject::connect(&rotator, &SimRotator::commandReceived, [](const QString &line) {
            std::fprintf(stderr, "rotator line %s\n", qPrintable(line));
        });
    }

    std::printf("rotator %s\nradio %s\nready\n", qPrintable(rotator.slavePath()), qPrintable(radio.slavePath()));
    std::fflush(stdout);

    // The parent closing our stdin (or dying) ends the station.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray line;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            app.quit();
            return;
        }
        line.append(buffer, int(n));
        qsizetype end;
        while ((end = line.indexOf('\n')) >= 0) {
            const QByteArray command = line.left(end).trimmed();
            if (command == "frames") {
                std::printf("frames %lld\n", static_cast<long long>(radio.frames().size()));
            } else if (command.startsWith("flood ")) {
                rotator.startFlood(noise(), std::numeric_limits<qint64>::max(), command.mid(6).toLongLong());
                std::printf("flooding\n");
            } else if (command == "flooded") {
                std::printf("flooded %lld\n", static_cast<long long>(rotator.floodedBytes()));
            } else if (command.startsWith("tune ")) {
                radio.setFrequency(command.mid(5).toUInt());
                std::printf("tuned\n");
            }
            line.remove(0, end + 1);
        }
        std::fflush(stdout);
    });
    return app.exec();
}
