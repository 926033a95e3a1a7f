// SPDX-License-Identifier: GPL-3.0-or-later
// What the remote view costs and how soon it tells: the window-free station
// with its WebSocket server, and clients in a process of their own (so their
// cost is not counted). Each state change (the target switched) is timed from
// the call that makes it to its arrival at every client, and to its arrival
// in the web page in a headless Chromium; a client's own command (the target,
// over the WebSocket) is timed from its sending to the state that shows it,
// in the client process, with the other clients connected, while the event
// loop's worst hold and the writes of remote.cfg are counted; the server
// process's CPU time is measured with no client and with 50 connected. The
// station runs throughout: both ports open in Auto on the simulated devices
// (in a process of their own), the target moving as the Moon does.
//
//   bench_remote [--quick]        measures, printing the table rows
//   bench_remote --churn-only     only the figures of connections without the token
//   bench_remote --churn S PORT   the churning process: S seconds of connections
//   bench_remote --clients N URL  the client process: N connections; prints
//                                 "ready"; at the line "commands K" on stdin
//                                 sends K commands, each from the next client,
//                                 and prints their round trips and
//                                 "commanded"; at stdin's end the arrivals

#include "benchreport.h"
#include "browsertesting.h"
#include "processusage.h"
#include "simstationprocess.h"
#include "fixedsource.h"

#include "remote/remoteserver.h"
#include "station/trackingcontrol.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include <csignal>
#include <unistd.h>

using namespace bench;

namespace {

constexpr int clientsMeasured = 50;

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// This process's CPU time in seconds, from the scheduler (nanoseconds, not ticks).
double cpuSeconds()
{
    QFile file(QStringLiteral("/proc/self/schedstat"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').value(0).toDouble() / 1e9 : 0.0;
}

// Commands sent one at a time, each from the next client once the last one's
// state has come (or it is given up), 20-30 ms apart like the changes above.
struct CommandRun {
    static constexpr int givenUpMs = 2000;
    int left = 0;
    int sent = 0;
    size_t client = 0;
    QString wanted;
    qint64 sentAt = 0;  // 0: none outstanding
    int lost = 0;
    std::vector<double> roundTripsMs;
    QTimer next;
    QTimer givenUp;
};

int clients(int count, const QUrl &url)
{
    struct Client {
        std::unique_ptr<QWebSocket> socket;
        QString target;
        bool stated = false;
        std::vector<qint64> arrivals;  // the time each change of target came in
    };
    std::vector<Client> all(static_cast<size_t>(count));
    CommandRun run;
    run.next.setSingleShot(true);
    run.givenUp.setSingleShot(true);
    const auto finished = [&run] {
        run.sentAt = 0;
        run.givenUp.stop();
        if (run.left > 0) {
            run.next.start(20 + run.sent % 11);
            return;
        }
        for (const double ms : run.roundTripsMs)
            std::printf("roundtrip\t%.3f\n", ms);
        std::printf("commanded\t%d\n", run.lost);
        std::fflush(stdout);
    };
    QObject::connect(&run.next, &QTimer::timeout, [&] {
        --run.left;
        run.client = size_t(run.sent++) % all.size();
        run.wanted = all[run.client].target == QLatin1String("sun") ? QStringLiteral("moon") : QStringLiteral("sun");
        const QJsonObject command {{QStringLiteral("cmd"), QStringLiteral("target")},
                                   {QStringLiteral("target"), run.wanted},
                                   {QStringLiteral("id"), run.sent}};
        run.sentAt = nowNs();
        all[run.client].socket->sendTextMessage(
            QString::fromUtf8(QJsonDocument(command).toJson(QJsonDocument::Compact)));
        run.givenUp.start(CommandRun::givenUpMs);
    });
    QObject::connect(&run.givenUp, &QTimer::timeout, [&] {
        ++run.lost;
        finished();
    });
    for (Client &client : all) {
        client.socket = std::make_unique<QWebSocket>();
        QObject::connect(client.socket.get(), &QWebSocket::textMessageReceived, [&, index = size_t(&client - &all[0])](
                                                                                    const QString &text) {
            Client &client = all[index];
            const qint64 at = nowNs();
            const QJsonObject state = QJsonDocument::fromJson(text.toUtf8()).object();
            if (state.value(QLatin1String("type")) != QLatin1String("state"))
                return;
            const QString target = state.value(QLatin1String("target")).toString();
            if (client.stated && target != client.target)
                client.arrivals.push_back(at);
            client.stated = true;
            client.target = target;
            if (run.sentAt != 0 && index == run.client && target == run.wanted) {
                run.roundTripsMs.push_back(double(at - run.sentAt) / 1e6);
                finished();
            }
        });
        client.socket->open(url);
    }
    if (!waitUntil([&] { return std::all_of(all.begin(), all.end(), [](const Client &c) { return c.stated; }); },
                   20000)) {
        std::fprintf(stderr, "bench_remote: not every client got the state\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray line;
    QObject::connect(&input, &QSocketNotifier::activated, qApp, [&] {
        char buffer[64];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            qApp->quit();
            return;
        }
        line.append(buffer, got);
        if (!line.endsWith('\n'))
            return;
        if (line.startsWith("commands ")) {
            run.left = line.mid(9).trimmed().toInt();
            run.next.start(0);
        }
        line.clear();
    });
    qApp->exec();
    for (size_t i = 0; i < all.size(); ++i)
        for (size_t change = 0; change < all[i].arrivals.size(); ++change)
            std::printf("arrival\t%zu\t%zu\t%lld\n", i, change, static_cast<long long>(all[i].arrivals[change]));
    return 0;
}

// The churn: connections from 20 loopback addresses (other hosts to the
// server) opened at the rate given, each asking for the WebSocket, never
// giving a token, and dropped once answered (every other one held until the
// station closes it) or after 3 s.
// Prints the connections opened and answered.
constexpr int churnHosts = 20;
constexpr int churnRate = 800;

int churn(int seconds, quint16 port)
{
    constexpr int tickMs = 5;
    constexpr int inFlightBound = 1000;
    constexpr int givenUpMs = 3000;
    const QByteArray request = "GET /api HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port)
        + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
          "Sec-WebSocket-Version: 13\r\n\r\n";
    int opened = 0;
    int answered = 0;
    int inFlight = 0;
    QElapsedTimer running;
    running.start();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (running.elapsed() >= seconds * 1000LL) {
            tick.stop();
            return;
        }
        // Catching up with the rate, whatever the timer's lateness.
        const qint64 due = running.elapsed() * churnRate / 1000;
        while (opened < due && inFlight < inFlightBound) {
            auto *socket = new QTcpSocket;
            ++opened;
            ++inFlight;
            bool *done = new bool(false);
            const auto finish = [socket, done, &inFlight] {
                if (*done)
                    return;
                *done = true;
                --inFlight;
                socket->abort();
                socket->deleteLater();
            };
            QObject::connect(socket, &QTcpSocket::destroyed, [done] { delete done; });
            QObject::connect(socket, &QTcpSocket::connected, socket, [socket, &request] { socket->write(request); });
            // Answered: the upgrade and the station's hello after it, or a
            // refusal. Every other one holds on until the station closes it.
            const bool holds = opened % 2;
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, finish, holds, &answered] {
                const QByteArray in = socket->peek(4096);
                if (in.startsWith("HTTP/1.1 101") && !in.contains("\"hello\""))
                    return;
                if (!socket->property("answered").toBool()) {
                    socket->setProperty("answered", true);
                    ++answered;
                }
                if (!holds)
                    finish();
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, finish);
            QObject::connect(socket, &QTcpSocket::errorOccurred, socket, finish);
            QTimer::singleShot(givenUpMs, socket, finish);
            socket->bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(2 + opened % churnHosts)));
            socket->connectToHost(QHostAddress::LocalHost, port);
        }
    });
    tick.start(tickMs);
    waitUntil([&] { return !tick.isActive() && inFlight == 0; }, seconds * 1000 + givenUpMs + 2000);
    std::printf("churned\t%d\t%d\n", opened, answered);
    std::fflush(stdout);
    return 0;
}

struct ClientProcess {
    QProcess process;
    bool start(int count, quint16 port)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--clients"), QString::number(count),
                       QStringLiteral("ws://127.0.0.1:%1/api").arg(port)});
        return process.waitForStarted(10000)
            && waitUntil([&] { return process.canReadLine() || process.state() == QProcess::NotRunning; }, 30000)
            && process.readLine().startsWith("ready");
    }
    // A client's commands and how long each took to show in its state; lost: given up.
    Samples commands(int count, int *lost)
    {
        process.write("commands " + QByteArray::number(count) + '\n');
        Samples roundTrips;
        QByteArray out;
        waitUntil(
            [&] {
                while (process.canReadLine()) {
                    const QList<QByteArray> fields = process.readLine().trimmed().split('\t');
                    if (fields.value(0) == "roundtrip")
                        roundTrips.add(fields.value(1).toDouble());
                    else if (fields.value(0) == "commanded")
                        return *lost = fields.value(1).toInt(), true;
                }
                return process.state() == QProcess::NotRunning;
            },
            (count + 1) * (CommandRun::givenUpMs + 50));
        return roundTrips;
    }
    QByteArray finish()
    {
        process.closeWriteChannel();
        waitUntil([&] { return process.state() == QProcess::NotRunning; }, 30000);
        return process.readAllStandardOutput();
    }
};

// The same changes as the page sees them: each state's arrival in the page's
// own WebSocket handler, on the wall clock both processes share (to 1 ms).
void browserFigure(TrackingControl &station, int changes)
{
    const QString figure = QStringLiteral("state change to the web page in Chromium");
    if (browsertesting::Browser::program().isEmpty()) {
        row(figure, QStringLiteral("not measured: chromium is not installed"), QStringLiteral("bound p99 100 ms"));
        return;
    }
    browsertesting::Browser browser;
    const auto *server = station.findChild<RemoteServer *>();
    const QUrl pageUrl = browser.start(QStringLiteral("http://127.0.0.1:%1/").arg(server->port()));
    browsertesting::DevTools page(pageUrl);
    // Asked between waits: each question to the page runs an event loop of its own.
    const auto pageSays = [&](const QString &expression) {
        for (int tries = 0; tries < 100; ++tries) {
            if (page.evaluate(expression).toBool())
                return true;
            idle(100);
        }
        return false;
    };
    if (pageUrl.isEmpty() || !page.waitConnected()
        || !pageSays(QStringLiteral("document.getElementById('connection').textContent === 'connected'"))) {
        row(figure, QStringLiteral("not measured: the page did not connect"), QStringLiteral("bound p99 100 ms"));
        return;
    }
    page.evaluate(QStringLiteral(
        "window.arrivals = []; socket.addEventListener('message', (e) => {"
        "  const m = JSON.parse(e.data); if (m.type !== 'state') return;"
        "  if (window.lastTarget !== undefined && m.target !== window.lastTarget) window.arrivals.push(Date.now());"
        "  window.lastTarget = m.target; }); true"));
    // The first state after the hook, so that the first change is seen as one.
    pageSays(QStringLiteral("window.lastTarget !== undefined"));
    std::vector<qint64> made;
    for (int i = 0; i < changes; ++i) {
        made.push_back(QDateTime::currentMSecsSinceEpoch());
        station.setTarget(station.target() == TrackingTarget::Moon ? TrackingTarget::Sun : TrackingTarget::Moon);
        idle(30 + i % 17);
    }
    idle(500);
    const QJsonArray arrivals = page.evaluate(QStringLiteral("window.arrivals")).toArray();
    Samples latency;
    for (qsizetype i = 0; i < arrivals.size() && i < qsizetype(made.size()); ++i)
        latency.add(arrivals.at(i).toDouble() - double(made[size_t(i)]));
    if (latency.empty()) {
        row(figure, QStringLiteral("not measured: no change reached the page"), QStringLiteral("bound p99 100 ms"));
        return;
    }
    row(figure,
        QStringLiteral("p99 %1, median %2 (n=%3, %4 missing)")
            .arg(ms(latency.quantile(0.99), 0), ms(latency.median(), 0))
            .arg(latency.values.size())
            .arg(changes - int(latency.values.size())),
        QStringLiteral("bound p99 100 ms"));
}

double residentMB()
{
    return double(residentBytesOf(QCoreApplication::applicationPid())) / (1024 * 1024);
}

// Of it, what is the process's own (its heap): the rest is the libraries' code as it is first run.
double anonymousMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("RssAnon:"))
                return line.mid(8).trimmed().split(' ').value(0).toDouble() / 1024;
        }
    }
    return 0;
}

// Connections without the token churned at the station, as a host on the LAN
// did, in bursts with a pause after each: the CPU they cost while they come,
// the memory held during and after each, and the operator with the token
// trying to get in meanwhile.
void churnFigures(TrackingControl &station, int seconds, int bursts)
{
    RemoteSettings settings;
    settings.listenPort = 0;
    RemoteServer guarded(station, settings);
    const QString token(40, QLatin1Char('t'));
    guarded.setToken(token);
    if (!guarded.listen(nullptr)) {
        row(QStringLiteral("connections without the token"), QStringLiteral("not measured: cannot listen"), QString());
        return;
    }
    constexpr int settleMs = 12000;  // past every bound a connection's leftovers have in time
    const double before = residentMB();
    const double heapBefore = anonymousMB();
    double peak = before;
    double cpu = 0;
    double churnSeconds = 0;
    int opened = 0;
    int answered = 0;
    int operatorTries = 0;
    int operatorIn = 0;
    int operatorShut = 0;  // closed before the state came
    int operatorSlow = 0;  // no state within 5 s
    QStringList after;
    for (int burst = 0; burst < bursts; ++burst) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const double cpuBefore = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        process.start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--churn"), QString::number(seconds), QString::number(guarded.port())});
        // The operator's page, half a second after its last try ended: in
        // once the state comes after its token, shut out if closed before.
        QTimer operatorTimer;
        operatorTimer.setSingleShot(true);
        QTimer operatorGivenUp;
        operatorGivenUp.setSingleShot(true);
        std::unique_ptr<QWebSocket> operatorSocket;
        const auto tryEnded = [&](int *count) {
            ++*count;
            operatorGivenUp.stop();
            operatorSocket->disconnect();
            operatorSocket->abort();
            if (process.state() != QProcess::NotRunning)
                operatorTimer.start(500);
        };
        QObject::connect(&operatorGivenUp, &QTimer::timeout, [&] { tryEnded(&operatorSlow); });
        QObject::connect(&operatorTimer, &QTimer::timeout, [&] {
            operatorSocket = std::make_unique<QWebSocket>();
            ++operatorTries;
            QWebSocket *socket = operatorSocket.get();
            QObject::connect(socket, &QWebSocket::textMessageReceived, [&, socket](const QString &text) {
                const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
                const QString type = message.value(QLatin1String("type")).toString();
                if (type == QLatin1String("hello"))
                    socket->sendTextMessage(QStringLiteral(R"({"cmd":"hello","token":"%1"})").arg(token));
                else if (type == QLatin1String("state"))
                    tryEnded(&operatorIn);
            });
            QObject::connect(socket, &QWebSocket::disconnected, [&] { tryEnded(&operatorShut); });
            operatorGivenUp.start(5000);
            socket->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api").arg(guarded.port())));
        });
        operatorTimer.start(500);
        QTimer memory;
        QObject::connect(&memory, &QTimer::timeout, [&] { peak = qMax(peak, residentMB()); });
        memory.start(100);
        waitUntil([&] { return process.state() == QProcess::NotRunning; }, seconds * 1000 + 10000);
        waitUntil([&] { return !operatorGivenUp.isActive(); }, 6000);  // the last try's end
        operatorTimer.stop();
        cpu += cpuSeconds() - cpuBefore;
        const double burstSeconds = wall.elapsed() / 1000.0;
        memory.stop();
        const QList<QByteArray> fields = process.readAllStandardOutput().trimmed().split('\t');
        if (fields.value(0) == "churned") {
            opened += fields.value(1).toInt();
            answered += fields.value(2).toInt();
        }
        idle(settleMs);
        after << QStringLiteral("%1 (heap %2)").arg(residentMB(), 0, 'f', 1).arg(anonymousMB(), 0, 'f', 1);
        churnSeconds += burstSeconds;
    }
    cpu /= qMax(1.0, churnSeconds);
    row(QStringLiteral("connections without the token from %1 addresses at %2 a second").arg(churnHosts).arg(churnRate),
        QStringLiteral("%1 % of a core; %2 opened, %3 answered in %4 bursts of %5 s")
            .arg(cpu * 100, 0, 'f', 0)
            .arg(opened)
            .arg(answered)
            .arg(bursts)
            .arg(seconds),
        QStringLiteral("bound 50 % of a core"));
    row(QStringLiteral("memory under that churn and after each burst"),
        QStringLiteral("%1 MB before (heap %4), %2 MB at most, after each: %3 MB")
            .arg(before, 0, 'f', 1)
            .arg(peak, 0, 'f', 1)
            .arg(after.join(QStringLiteral(", ")))
            .arg(heapBefore, 0, 'f', 1),
        QStringLiteral("bound: flat after each burst, within 1 MB of the first"));
    row(QStringLiteral("operator with the token amid that churn"),
        QStringLiteral("%1 of %2 let in, %3 closed before, %4 not in within 5 s")
            .arg(operatorIn)
            .arg(operatorTries)
            .arg(operatorShut)
            .arg(operatorSlow),
        QStringLiteral("bound: every one"));
}

// The page's notice that the station has fallen silent: this process, the
// station's, stopped with SIGSTOP as a hung service leaves it (a stalled link
// looks the same to the page), timed from the stop to the notice's arrival
// in the page on the wall clock both share. A shell started first sends SIGCONT.
void silenceFigure(TrackingControl &station)
{
    const QString figure = QStringLiteral("web page's notice after the station stops answering");
    const QString bound = QStringLiteral("bound 3 s");
    if (browsertesting::Browser::program().isEmpty()) {
        row(figure, QStringLiteral("not measured: chromium is not installed"), bound);
        return;
    }
    browsertesting::Browser browser;
    const auto *server = station.findChild<RemoteServer *>();
    const QUrl pageUrl = browser.start(QStringLiteral("http://127.0.0.1:%1/").arg(server->port()));
    browsertesting::DevTools page(pageUrl);
    const auto connected = [&] {
        for (int tries = 0; tries < 100; ++tries) {
            if (page.evaluate(QStringLiteral("document.getElementById('connection').textContent === 'connected'"))
                    .toBool())
                return true;
            idle(100);
        }
        return false;
    };
    if (pageUrl.isEmpty() || !page.waitConnected() || !connected()) {
        row(figure, QStringLiteral("not measured: the page did not connect"), bound);
        return;
    }
    page.evaluate(QStringLiteral(
        "window.silentAt = 0; const c = document.getElementById('connection');"
        "new MutationObserver(() => { if (!window.silentAt && c.textContent.startsWith('no word')) "
        "window.silentAt = Date.now(); }).observe(c, {childList: true, characterData: true, subtree: true}); true"));
    constexpr int stoppedS = 6;
    if (!QProcess::startDetached(QStringLiteral("/bin/sh"),
                                 {QStringLiteral("-c"), QStringLiteral("sleep %1; kill -CONT %2").arg(stoppedS).arg(getpid())})) {
        row(figure, QStringLiteral("not measured: no shell to wake the station"), bound);
        return;
    }
    const qint64 stopped = QDateTime::currentMSecsSinceEpoch();
    ::kill(getpid(), SIGSTOP);
    const double said = page.evaluate(QStringLiteral("window.silentAt")).toDouble();
    if (said <= 0) {
        row(figure, QStringLiteral("not measured: nothing said in %1 s").arg(stoppedS), bound);
        return;
    }
    row(figure, QStringLiteral("%1 s (stopped for %2 s)").arg((said - double(stopped)) / 1000, 0, 'f', 2).arg(stoppedS),
        bound);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains(QStringLiteral("--clients")))
        return clients(intOption(args, QStringLiteral("--clients"), 1), QUrl(args.last()));
    if (args.contains(QStringLiteral("--churn")))
        return churn(intOption(args, QStringLiteral("--churn"), 1), quint16(args.last().toUInt()));
    const bool quick = args.contains(QStringLiteral("--quick"));
    const bool churnOnly = args.contains(QStringLiteral("--churn-only"));
    const int changes = quick ? 40 : 400;
    const int idleSeconds = quick ? 2 : 30;

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    TrackingRecord record;
    record.azimuth = 150;
    record.elevation = 30;
    record.dopplerHome = 800;
    TrackingControl station;
    station.setTrackingSource(std::make_unique<FixedSource>(&record));
    SimStation devices;
    if (!devices.start()) {
        std::fprintf(stderr, "bench_remote: the simulated station did not start\n");
        return 1;
    }
    // The Moon's pace: a quarter of a degree a minute, its Doppler a hertz a second.
    QTimer sky;
    QObject::connect(&sky, &QTimer::timeout, [&record] {
        record.azimuth += 0.25 / 60;
        record.elevation += 0.1 / 60;
        record.dopplerHome -= 1;
    });
    sky.start(1000);
    station.setAuto(StationPort::A, true);
    station.setAuto(StationPort::B, true);
    if (!station.open(StationPort::A, devices.rotatorPath, {}, false)
        || !station.open(StationPort::B, devices.radioPath, {}, false)) {
        std::fprintf(stderr, "bench_remote: the simulated devices did not open\n");
        return 1;
    }
    if (churnOnly) {
        churnFigures(station, quick ? 3 : 20, quick ? 2 : 3);
        return 0;
    }
    RemoteSettings settings;
    settings.listenPort = 0;
    auto *serverOwned = new RemoteServer(station, settings, &station);
    RemoteServer &server = *serverOwned;
    if (!server.listen(nullptr)) {
        std::fprintf(stderr, "bench_remote: cannot listen\n");
        return 1;
    }

    // CPU with nobody connected, then with the clients.
    const auto cpuOver = [&](int seconds) {
        const double before = cpuSeconds();
        idle(seconds * 1000);
        return (cpuSeconds() - before) / seconds;
    };
    const double alone = cpuOver(idleSeconds);
    ClientProcess process;
    if (!process.start(clientsMeasured, server.port())) {
        std::fprintf(stderr, "bench_remote: the clients did not connect\n");
        return 1;
    }
    const double served = cpuOver(idleSeconds);

    // While changes and commands come: how long the event loop is held (a
    // timer's lateness), and how often remote.cfg is written.
    QTimer probe;
    QElapsedTimer sinceProbe;
    double worstHoldMs = 0;
    int settingsWrites = 0;
    QDateTime written;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        worstHoldMs = qMax(worstHoldMs, sinceProbe.nsecsElapsed() / 1e6 - probe.interval());
        sinceProbe.start();
        const QDateTime modified = QFileInfo(QStringLiteral("remote.cfg")).lastModified();
        settingsWrites += modified.isValid() && modified != written;
        written = modified;
    });
    sinceProbe.start();
    probe.start(10);
    QElapsedTimer commandPhase;
    commandPhase.start();

    // Changes 20-30 ms apart, each pushed on its own.
    std::vector<qint64> made;
    for (int i = 0; i < changes; ++i) {
        made.push_back(nowNs());
        station.setTarget(i % 2 ? TrackingTarget::Moon : TrackingTarget::Sun);
        idle(20 + i % 11);
    }
    idle(500);
    int lost = 0;
    Samples roundTrips = process.commands(changes, &lost);
    idle(1500);  // the last coalesced write of remote.cfg
    probe.stop();
    const double commandSeconds = commandPhase.elapsed() / 1000.0;
    Samples latency;
    int missing = clientsMeasured * changes;
    for (const QByteArray &line : process.finish().split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 4 || fields[0] != "arrival")
            continue;
        const size_t change = fields[2].toULongLong();
        if (change < made.size()) {
            latency.add(double(fields[3].toLongLong() - made[change]) / 1e6);
            --missing;
        }
    }
    if (latency.empty()) {
        std::fprintf(stderr, "bench_remote: no change arrived\n");
        return 1;
    }
    row(QStringLiteral("state change to each of %1 clients").arg(clientsMeasured),
        QStringLiteral("p99 %1, median %2 (n=%3, %4 missing)")
            .arg(ms(latency.quantile(0.99), 2), ms(latency.median(), 2))
            .arg(latency.values.size())
            .arg(missing),
        QStringLiteral("bound p99 100 ms"));
    if (roundTrips.empty()) {
        std::fprintf(stderr, "bench_remote: no command's state came back\n");
        return 1;
    }
    row(QStringLiteral("command to its state, one of %1 clients").arg(clientsMeasured),
        QStringLiteral("p99 %1, median %2 (n=%3, %4 given up)")
            .arg(ms(roundTrips.quantile(0.99), 2), ms(roundTrips.median(), 2))
            .arg(roundTrips.values.size())
            .arg(lost),
        QStringLiteral("bound p99 10 ms"));
    row(QStringLiteral("event loop while %1 commands came").arg(changes),
        QStringLiteral("worst hold %1; remote.cfg written %2 times in %3 s")
            .arg(ms(worstHoldMs, 1))
            .arg(settingsWrites)
            .arg(commandSeconds, 0, 'f', 0),
        QStringLiteral("bound 100 ms; 1 write a second"));
    browserFigure(station, quick ? 20 : 200);
    silenceFigure(station);
    row(QStringLiteral("%1 connected clients, running station, CPU beyond none").arg(clientsMeasured),
        QStringLiteral("%1 % of a core (%2 % with none, %3 s each)")
            .arg((served - alone) * 100, 0, 'f', 2)
            .arg(alone * 100, 0, 'f', 2)
            .arg(idleSeconds),
        QStringLiteral("bound 0.2 % of a core"));
    churnFigures(station, quick ? 3 : 20, quick ? 2 : 3);
    return 0;
}
