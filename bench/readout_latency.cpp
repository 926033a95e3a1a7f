// SPDX-License-Identifier: GPL-3.0-or-later
// How long the operator waits from a readout tick to the new frequency in the
// window, with the simulated FT-817 (in its own process) taking the time of a
// 9600-baud 8N1 line both ways plus a turnaround, beside the lower bound that
// line sets and beside Hamlib making the same two queries of the same radio:
// the window itself through rigctld and with Hamlib linked in, rigctl in one
// running process, and a bare client of rigctld.
//
//   bench_readout [--ticks N] [--turnaround MS]

#include "benchsupport.h"

#include "hamlib/hamliblinks.h"
#include "sim/simtransceiver.h"

#include <QComboBox>
#include <QHostAddress>
#include <QLabel>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

using namespace bench;

namespace {

// Ticks are made by hand; the window's own readout timer stays far away.
constexpr int farReadoutMs = 60000;
// Between ticks the worker's pause after the last reply must pass, as it
// does between real ticks.
constexpr int gapMs = 60;

// Readout ticks by hand, each timed until the label shows the next reading;
// the radio is tuned before each (not timed), so every reading is new.
// gap: the least time between ticks; a Hamlib link reads at most once a
// second, and a tick sooner would be held back rather than timed.
Samples tickUntilShown(WindowHost &host, SimStation &station, int ticks, int gap = gapMs)
{
    Samples samples;
    auto *label = host.w<QLabel>("labelFreq");
    if (!waitUntil([&] { return host.frequencyShown(); }, 30000))
        return samples;
    idle(gapMs);
    for (int i = 0; i < ticks; ++i) {
        const QString before = label->text();
        if (!station.tune(432'000'000u + quint32(i + 1) * 1000u))
            break;
        QElapsedTimer timer;
        timer.start();
        host.window->freqReadTimeout();
        if (!waitUntil([&] { return label->text() != before; }, 5000))
            break;
        samples.add(double(timer.nsecsElapsed()) / 1e6);
        idle(gap);
    }
    return samples;
}

constexpr int hamlibGapMs = DaemonLink<TransceiverLink>::defaultReadoutIntervalMs + gapMs;

QStringList simArguments(int turnaround)
{
    // Hamlib's driver waits for the radio's acknowledgement of commands it sends at open.
    return {QStringLiteral("--turnaround"), QString::number(turnaround), QStringLiteral("--acknowledge")};
}

Samples windowReadout(int ticks, int turnaround)
{
    SimStation station;
    if (!station.start(simArguments(turnaround)))
        return {};
    StoreValues values;
    values.messageDelayMs = farReadoutMs;
    WindowHost host(station.rotatorPath, station.radioPath, values);
    host.setAuto('B', true);
    host.open('B');
    return tickUntilShown(host, station, ticks);
}

// Hamlib's FT-817 at 9600 baud, with its own cache off: a cached answer would
// not ask the radio at all.
QStringList hamlibArguments(const QString &path)
{
    return {QStringLiteral("-m"), QStringLiteral("1020"), QStringLiteral("-r"), path, QStringLiteral("-s"),
            QStringLiteral("9600"), QStringLiteral("-C"), QStringLiteral("cache_timeout=0")};
}

// Feeds "t" and "f" lines to one running rigctl and times each pair.
Samples rigctlReadout(int pairs, int turnaround)
{
    Samples samples;
    SimStation station;
    if (!station.start(simArguments(turnaround)))
        return samples;
    QProcess rigctl;
    rigctl.setStandardErrorFile(QProcess::nullDevice());
    // Line-buffered, or the answers would wait in rigctl's stdio buffer.
    rigctl.start(QStringLiteral("stdbuf"), QStringList {QStringLiteral("-oL"), QStringLiteral("rigctl")} + hamlibArguments(station.radioPath)
                     + QStringList {QStringLiteral("-")});
    if (!rigctl.waitForStarted(5000))
        return samples;
    QByteArray out;
    QObject::connect(&rigctl, &QProcess::readyReadStandardOutput, [&] { out += rigctl.readAllStandardOutput(); });
    // The first answer comes once rigctl has opened the radio.
    rigctl.write("t\n");
    if (!waitUntil([&] { return out.contains("t "); }, 30000))
        return samples;
    idle(gapMs);
    const int framesBefore = station.radioFrames();
    static const QRegularExpression frequencyLine(QStringLiteral("(^|\\n)f \\d+\\n"));
    for (int i = 0; i < pairs; ++i) {
        out.clear();
        QElapsedTimer timer;
        timer.start();
        rigctl.write("t\nf\n");
        if (!waitUntil([&] { return frequencyLine.match(QString::fromLatin1(out)).hasMatch(); }, 10000))
            break;
        samples.add(double(timer.nsecsElapsed()) / 1e6);
        idle(gapMs);
    }
    samples.framesPerPair = double(station.radioFrames() - framesBefore) / double(qMax<size_t>(1, samples.values.size()));
    rigctl.closeWriteChannel();
    if (!rigctl.waitForFinished(5000))
        rigctl.kill();
    return samples;
}

quint16 freeTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// rigctld in front of the radio on 127.0.0.1; its port, or 0.
class Rigctld
{
public:
    quint16 start(const QString &radioPath)
    {
        const quint16 port = freeTcpPort();
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(QStringLiteral("rigctld"), hamlibArguments(radioPath)
                            + QStringList {QStringLiteral("-T"), QStringLiteral("127.0.0.1"), QStringLiteral("-t"),
                                           QString::number(port)});
        if (!m_process.waitForStarted(5000))
            return 0;
        // Listening only once it has opened the radio.
        QElapsedTimer waiting;
        waiting.start();
        while (waiting.elapsed() < 30000 && m_process.state() == QProcess::Running) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(1000))
                return port;
            idle(100);
        }
        return 0;
    }
    ~Rigctld()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }

private:
    QProcess m_process;
};

// The window's own readout through rigctld: its "Hamlib rigctld (network)" transceiver.
Samples windowRigctldReadout(int ticks, int turnaround)
{
    SimStation station;
    Rigctld rigctld;
    if (!station.start(simArguments(turnaround)))
        return {};
    const quint16 port = rigctld.start(station.radioPath);
    if (!port)
        return {};
    StoreValues values;
    values.messageDelayMs = farReadoutMs;
    WindowHost host(station.rotatorPath, station.radioPath, values);
    host.setAuto('B', true);
    host.w<QComboBox>("comboTransceiver")->setCurrentText(QStringLiteral("Hamlib rigctld (network)"));
    host.w<QComboBox>("comboSerialNameB")->setEditText(QStringLiteral("127.0.0.1:%1").arg(port));
    host.w<QPushButton>("buttonOpenSerialB")->click();
    return tickUntilShown(host, station, ticks, hamlibGapMs);
}

// The window's own readout with Hamlib linked in: its "Hamlib radio"
// transceiver on Hamlib's FT-817 backend, set as rigctld is for its rows.
Samples windowLinkedReadout(int ticks, int turnaround)
{
    SimStation station;
    if (!station.start(simArguments(turnaround)))
        return {};
    StoreValues values;
    values.messageDelayMs = farReadoutMs;
    WindowHost host(station.rotatorPath, station.radioPath, values);
    NetworkSettings settings = host.window->station().networkSettings();
    settings.hamlibRadio = {1020, 9600, QStringLiteral("cache_timeout=0")};
    host.window->station().setNetworkSettings(settings);
    host.setAuto('B', true);
    host.w<QComboBox>("comboTransceiver")->setCurrentText(QStringLiteral("Hamlib radio"));
    host.w<QComboBox>("comboSerialNameB")->setEditText(station.radioPath);
    host.w<QPushButton>("buttonOpenSerialB")->click();
    return tickUntilShown(host, station, ticks, hamlibGapMs);
}

// The same pair of queries through rigctld, as a bare network client sends them.
Samples rigctldReadout(int pairs, int turnaround)
{
    Samples samples;
    SimStation station;
    Rigctld rigctld;
    if (!station.start(simArguments(turnaround)))
        return samples;
    const quint16 port = rigctld.start(station.radioPath);
    if (!port)
        return samples;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (socket.waitForConnected(5000)) {
        QByteArray in;
        QObject::connect(&socket, &QTcpSocket::readyRead, [&] { in += socket.readAll(); });
        // The first answer comes once rigctld has opened the radio.
        socket.write("t\n");
        if (waitUntil([&] { return in.contains('\n'); }, 30000)) {
            idle(gapMs);
            const int framesBefore = station.radioFrames();
            for (int i = 0; i < pairs; ++i) {
                in.clear();
                QElapsedTimer timer;
                timer.start();
                socket.write("t\nf\n");
                if (!waitUntil([&] { return in.count('\n') >= 2; }, 10000))
                    break;
                samples.add(double(timer.nsecsElapsed()) / 1e6);
                idle(gapMs);
            }
            samples.framesPerPair =
                double(station.radioFrames() - framesBefore) / double(qMax<size_t>(1, samples.values.size()));
        }
        socket.disconnectFromHost();
    }
    return samples;
}

bool hamlibInstalled()
{
    return !QStandardPaths::findExecutable(QStringLiteral("rigctl")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("rigctld")).isEmpty();
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int ticks = intOption(args, QStringLiteral("--ticks"), 40);
    const int turnaround = intOption(args, QStringLiteral("--turnaround"), 2);

    // Status query out, its 1-byte reply, the link's pause, the frequency
    // query out, its 5-byte reply; the radio turns round twice.
    const double wireMs = 16.0 * double(SimTransceiver::byteTimeNs) / 1e6;
    const double boundMs = wireMs + 20.0 + 2.0 * turnaround;
    const QString boundText = QStringLiteral("bound %1 (wire %2 + pause 20 + turnarounds 2x%3)")
                                  .arg(ms(boundMs), QString::number(wireMs, 'f', 1), QString::number(turnaround));

    Samples ours = windowReadout(ticks, turnaround);
    if (ours.empty()) {
        std::fprintf(stderr, "bench_readout: the window showed no frequency\n");
        return 1;
    }
    const double median = ours.median();
    row(QStringLiteral("1 readout tick -> shown (window)"), ours.summary(),
        boundText + QStringLiteral("; median %1% above").arg(100.0 * (median - boundMs) / boundMs, 0, 'f', 1));

    if (!hamlibInstalled()) {
        row(QStringLiteral("1 same queries, Hamlib"), QStringLiteral("not run"), QStringLiteral("rigctl not installed"));
        return 0;
    }
    Samples throughRigctld = windowRigctldReadout(ticks, turnaround);
    Samples linked = windowLinkedReadout(ticks, turnaround);
    Samples rigctl = rigctlReadout(ticks, turnaround);
    auto peer = [&](Samples &s) {
        return s.empty() ? QStringLiteral("no answer")
                         : s.summary() + QStringLiteral(", %1 frames a pair").arg(s.framesPerPair, 0, 'f', 1);
    };
    row(QStringLiteral("1 same readout, window through rigctld"),
        throughRigctld.empty() ? QStringLiteral("no answer") : throughRigctld.summary(),
        QStringLiteral("window on the serial line %1").arg(ms(median)));
    row(QStringLiteral("1 same readout, window with Hamlib linked in"),
        linked.empty() ? QStringLiteral("no answer") : linked.summary(),
        QStringLiteral("window on the serial line %1").arg(ms(median)));
    row(QStringLiteral("1 same queries, rigctl (one process)"), peer(rigctl),
        QStringLiteral("window median %1").arg(ms(median)));
    Samples rigctld = rigctldReadout(ticks, turnaround);
    row(QStringLiteral("1 same queries, rigctld (TCP client)"), peer(rigctld),
        QStringLiteral("window median %1").arg(ms(median)));
    return 0;
}
