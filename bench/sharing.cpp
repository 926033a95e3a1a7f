// SPDX-License-Identifier: GPL-3.0-or-later
// The station beside other programs, on the window-free station with the
// simulated FT-817 at store.cfg's defaults (repetition 2 s, readout 200 ms),
// tracking with a method:
// - how soon the rigctld-compatible server answers "f" and "t" while four
//   clients poll it every 100 ms, beside rigctld -m 1 answering the same
//   clients the same way;
// - how soon a WSJT-X Status with a new dial puts the radio on the new
//   corrected frequency.
//
//   bench_sharing [--quick]   --quick polls for 2 s rather than 20

#include "benchreport.h"
#include "fixedsource.h"
#include "hamlibtesting.h"

#include "sim/simtransceiver.h"
#include "station/trackingcontrol.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

namespace {

// Clients on threads of their own with blocking sockets, so that their
// timing does not wait on the station's event loop: each sends "f", reads
// the line, sends "t", reads the line, every 100 ms.
bench::Samples pollFor(quint16 port, int clients, int seconds)
{
    bench::Samples samples;
    std::mutex samplesMutex;
    std::atomic<bool> failed {false};
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address {};
            address.sin_family = AF_INET;
            address.sin_port = htons(port);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
                failed = true;
                ::close(fd);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25 * c));  // spread over the period
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
            while (std::chrono::steady_clock::now() < end) {
                for (const char *command : {"f\n", "t\n"}) {
                    const auto start = std::chrono::steady_clock::now();
                    if (::write(fd, command, 2) != 2) {
                        failed = true;
                        break;
                    }
                    char byte = 0;
                    while (::read(fd, &byte, 1) == 1 && byte != '\n') {
                    }
                    const double ms
                        = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
                    std::lock_guard lock(samplesMutex);
                    samples.add(ms);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            ::close(fd);
        });
    }
    // The station answers from this thread's event loop meanwhile.
    bench::waitUntil([&] { return false; }, seconds * 1000 + 500);
    for (auto &thread : threads)
        thread.join();
    if (failed)
        samples.values.clear();
    return samples;
}

void utf8(QDataStream &out, const QByteArray &text)
{
    out << quint32(text.size());
    out.writeRawData(text.constData(), int(text.size()));
}

// A WSJT-X Status (schema 2) with the given dial, written from its format.
QByteArray status(quint64 dialHz)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_5_2);
    out << quint32(0xadbccbda) << quint32(2) << quint32(1);
    utf8(out, "WSJT-X");
    out << dialHz;
    utf8(out, "Q65");
    utf8(out, "K1JT");
    utf8(out, "-15");
    utf8(out, "Q65");
    out << true << false << false << quint32(1500) << quint32(1500);
    // No grids: the tracking record here is fixed, not the sky of a locator.
    utf8(out, "OK1XYZ");
    utf8(out, "");
    utf8(out, "");
    return bytes;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const bool quick = application.arguments().contains(QStringLiteral("--quick"));
    const int seconds = quick ? 2 : 20;
    QTemporaryDir folder;
    QDir::setCurrent(folder.path());

    TrackingControl station;
    station.setTimes(2, 200);
    SimTransceiver radio;
    radio.setFrequency(432065000);
    TrackingRecord record;
    record.frequency = 432.065;
    record.dopplerHome = 1000;  // own echo: receive 1 kHz above the sked
    station.setTrackingSource(std::make_unique<FixedSource>(&record));
    DopplerSettings doppler;
    doppler.method = DopplerMethod::OwnEcho;
    doppler.skedMHz = 432.065;
    station.setDopplerSettings(doppler);
    station.setAuto(StationPort::B, true);
    if (!station.open(StationPort::B, radio.slavePath(), {}, false)
        || !bench::waitUntil([&] { return station.isFrequencyKnown(); }, 5000)) {
        std::fprintf(stderr, "bench_sharing: the radio did not answer\n");
        return 1;
    }
    station.setFrequencyTracking(true);

    ServerSettings server;
    server.rigServer = true;
    server.rigPort = hamlibtesting::freePort();
    WsjtxSettings wsjtx;
    wsjtx.follow = true;
    wsjtx.port = hamlibtesting::freePort();
    if (!station.setServerSettings(server) || !station.setWsjtxSettings(wsjtx)) {
        std::fprintf(stderr, "bench_sharing: cannot listen\n");
        return 1;
    }

    bench::Samples ours = pollFor(server.rigPort, 4, seconds);
    hamlibtesting::Daemon rigctld(QStringLiteral("rigctld"), {QStringLiteral("-m"), QStringLiteral("1")});
    bench::Samples theirs;
    if (rigctld.start())
        theirs = pollFor(rigctld.port(), 4, seconds);
    if (ours.empty()) {
        std::fprintf(stderr, "bench_sharing: the server did not answer\n");
        return 1;
    }
    bench::row(QStringLiteral("29 rigctl server answer to f and t, 4 clients every 100 ms while tracking"),
               QStringLiteral("p99 %1, median %2 (%3 answers)")
                   .arg(bench::ms(ours.quantile(0.99), 2), bench::ms(ours.median(), 2))
                   .arg(ours.values.size()),
               QStringLiteral("goal p99 <= 5 ms; rigctld -m 1 to the same clients: ")
                   + (theirs.empty() ? QStringLiteral("did not run")
                                     : QStringLiteral("p99 %1, median %2")
                                           .arg(bench::ms(theirs.quantile(0.99), 2), bench::ms(theirs.median(), 2))));

    // A new dial from WSJT-X to the new receive frequency on the radio.
    QUdpSocket sender;
    bench::Samples dials;
    const int changes = quick ? 2 : 8;
    for (int i = 0; i < changes; ++i) {
        const quint64 dial = 432065000 + quint64(1 + i % 2) * 10000;
        const quint32 expected = quint32(dial + 1000);
        QElapsedTimer clock;
        clock.start();
        sender.writeDatagram(status(dial), QHostAddress::LocalHost, wsjtx.port);
        if (!bench::waitUntil([&] { return radio.frequency() == expected; }, 10000)) {
            std::fprintf(stderr, "bench_sharing: the radio never reached %u Hz\n", expected);
            return 1;
        }
        dials.add(double(clock.nsecsElapsed()) / 1e6);
        bench::idle(300);
    }
    bench::row(QStringLiteral("29 WSJT-X Status with a new dial to the radio on the new frequency"),
               QStringLiteral("median %1, worst %2 (%3 changes)")
                   .arg(bench::ms(dials.median(), 0), bench::ms(dials.quantile(1.0), 0))
                   .arg(dials.values.size()),
               QStringLiteral("goal <= 1 repetition (2000 ms) + the link's time"));
    return 0;
}
