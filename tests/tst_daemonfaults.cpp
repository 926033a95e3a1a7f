// SPDX-License-Identifier: GPL-3.0-or-later
// Faults of a Hamlib daemon, each as a data row against a scripted one on a
// local port: what the log must say, that the link takes the next good answer
// at once, and what the fault may cost the event loop and the memory.

#include "faulttesting.h"
#include "hamlibtesting.h"

#include "hamlib/hamliblinks.h"
#include "links/messagethrottle.h"

#include <QSignalSpy>
#include <QtTest>

using namespace hamlibtesting;
using namespace faulttesting;

namespace {

constexpr int maxLagMs = 100;
constexpr double maxGrowthMb = 16.0;

// A daemon that answers as rigctld and rotctld do.
QByteArray goodAnswer(const QByteArray &line)
{
    if (line == "\\chk_vfo")
        return "0\n";
    if (line == "f")
        return "432065000\n";
    if (line == "t")
        return "0\n";
    if (line == "p")
        return "100.00\n10.00\n";
    if (line.startsWith("F ") || line.startsWith("P "))
        return "RPRT 0\n";
    return "RPRT -4\n";
}

QByteArray lines(const QByteArray &line, int count)
{
    return line.repeated(count);
}

} // namespace

class tst_DaemonFaults : public QObject
{
    Q_OBJECT

private slots:
    void faults_data()
    {
        QTest::addColumn<bool>("rotator");
        QTest::addColumn<QByteArray>("command");  // the command whose answer is faulty
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("always");
        QTest::addColumn<QStringList>("logged");  // each begins a message; %1 is the daemon

        QTest::newRow("f answered garbage") << false << QByteArray("f") << QByteArray("garbage\n") << false
                                            << QStringList {"bad line from %1: garbage"};
        QTest::newRow("f answered 1 kHz") << false << QByteArray("f") << QByteArray("1000\n") << false
                                          << QStringList {"bad line from %1: 1000"};
        QTest::newRow("f answered with terminal escapes")
            << false << QByteArray("f") << QByteArray("\x1b[2J\x1b]0;x\x07\n") << false
            << QStringList {"bad line from %1: \\x1b[2J\\x1b]0;x\\x07"};
        QTest::newRow("f answered in UTF-8") << false << QByteArray("f") << QByteArray("Grüße\n") << false
                                             << QStringList {"bad line from %1: Grüße"};
        QTest::newRow("f never answered") << false << QByteArray("f") << QByteArray() << false
                                          << QStringList {"no answer from %1 to f"};
        QTest::newRow("f refused each time") << false << QByteArray("f") << QByteArray("RPRT -11\n") << true
                                             << QStringList {"Transceiver error code: -11 (function not available)"};
        QTest::newRow("p answered 1e308") << true << QByteArray("p") << QByteArray("1e308\n0\n") << false
                                          << QStringList {"bad line from %1: 1e308"};
        QTest::newRow("P answered by a 1 MB line, then RPRT 0")
            << true << QByteArray("P") << (QByteArray(1 << 20, 'x') + "\nRPRT 0\n") << false
            << QStringList {"bad line from %1: " + QString(200, 'x') + "..."};
        QTest::newRow("p answered by 1 MB of short lines")
            << true << QByteArray("p") << lines("garbage\n", 131072) << false
            << QStringList {"bad line from %1: garbage", "%2 bad lines from %1, first: garbage"};
        QTest::newRow("f answered by 1 MB of short lines")
            << false << QByteArray("f") << lines("145000000\n", 104858) << false
            << QStringList {"bad line from %1: 145000000", "%2 bad lines from %1, first: 145000000"};
    }

    void faults()
    {
        QFETCH(bool, rotator);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        QFETCH(bool, always);
        QFETCH(QStringList, logged);

        FakeDaemon daemon;
        bool faulted = false;
        QElapsedTimer sinceFault;
        daemon.answer = [&](const QByteArray &line) {
            if (line == "\\dump_state")
                return rotator ? rotDump : rigDump;
            if ((always || !faulted) && line.split(' ').value(0) == command) {
                faulted = true;
                sinceFault.start();
                return reply;
            }
            return goodAnswer(line);
        };
        std::unique_ptr<DeviceLink> link;
        if (rotator)
            link = std::make_unique<RotctldLink>(hamlib::Address {QStringLiteral("127.0.0.1"), daemon.port()});
        else
            link = std::make_unique<RigctldLink>(hamlib::Address {QStringLiteral("127.0.0.1"), daemon.port()});
        link->setAnswerTimeout(300);
        link->setReadoutInterval(0);
        QStringList log;
        connect(link.get(), &DeviceLink::message, this, [&log](const QString &text) { log << text; });
        // Good answers taken, and the time from the fault to the first one.
        qint64 recoveredMs = -1;
        QList<double> values;
        const auto taken = [&](double value) {
            values << value;
            if (faulted && recoveredMs < 0)
                recoveredMs = sinceFault.elapsed();
        };
        auto *rig = qobject_cast<RigctldLink *>(link.get());
        auto *rot = qobject_cast<RotctldLink *>(link.get());
        if (rig) {
            connect(rig, &TransceiverLink::frequencyReceived, this, [&](qreal mhz) { taken(mhz * 1e6); });
            connect(rig, &TransceiverLink::statusReceived, this, [&] { taken(0); });
            rig->open();
        } else {
            connect(rot, &RotatorLink::positionReceived, this, [&](double az, double el) {
                taken(az);
                taken(el);
            });
            connect(rot, &DeviceLink::received, this, [&](const QByteArray &) { taken(0); });
            rot->open();
        }
        // The station's cycle, quickened: a readout and a command every 100 ms.
        QTimer cycle;
        int step = 0;
        connect(&cycle, &QTimer::timeout, this, [&] {
            ++step;
            if (rig) {
                rig->requestReadout();
                rig->setFrequency(432065000 + 10 * quint32(step));
            } else {
                rot->requestPosition();
                rot->write(rot->positionCommand(RotatorAxis::Both, 100 + step * 0.1, 10));
            }
        });
        cycle.start(100);
        LagProbe lag;
        Meter meter;
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY(faulted);
        QTRY_VERIFY_WITH_TIMEOUT(recoveredMs >= 0, 5000);
        QTest::qWait(2500);  // a whole period of summaries after the flood
        qInfo("first good answer %lld ms after the fault; event loop held %lld ms at most; memory %+.1f MB; "
              "%lld messages",
              recoveredMs, lag.maxLagMs(), meter.growthMb(), qint64(log.size()));

        const QString target = daemon.address();
        for (const QString &expected : logged) {
            const QString start = expected.contains(QLatin1String("%2")) ? expected.section(QLatin1String("%2"), 1)
                                                                         : expected;
            const auto found = std::find_if(log.cbegin(), log.cend(), [&](const QString &line) {
                return expected.contains(QLatin1String("%2")) ? line.contains(start.arg(target))
                                                              : line == start.arg(target);
            });
            QVERIFY2(found != log.cend(), qPrintable(expected.arg(target) + QStringLiteral(" not in:\n") + log.join('\n')));
        }
        // Said at most once a second, each repetition of a refusal not at all.
        QVERIFY2(log.size() <= 2 + int(clock.elapsed() / 1000), qPrintable(log.join('\n')));
        if (always)
            QCOMPARE(log.size(), 1);
        for (double value : std::as_const(values))
            QVERIFY2(std::isfinite(value) && std::fabs(value) < 1e10, qPrintable(QString::number(value)));
        QVERIFY2(lag.maxLagMs() < maxLagMs, qPrintable(QStringLiteral("event loop held %1 ms").arg(lag.maxLagMs())));
#ifndef __SANITIZE_ADDRESS__
        QVERIFY2(meter.growthMb() < maxGrowthMb, qPrintable(QStringLiteral("grew %1 MB").arg(meter.growthMb())));
#endif
        QVERIFY2(recoveredMs < 1000, qPrintable(QStringLiteral("%1 ms to the next good answer").arg(recoveredMs)));
    }

    // What counts as the radio's answer to a readout: a value or a refusal
    // from the radio, never the daemon saying the radio timed out or its
    // line failed, nor a frequency held while the transmit state went
    // unanswered.
    void readoutAnswers_data()
    {
        QTest::addColumn<QByteArray>("f");
        QTest::addColumn<QByteArray>("t");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<bool>("shown");  // the frequency
        QTest::newRow("both read") << QByteArray("432065000\n") << QByteArray("0\n") << true << true;
        QTest::newRow("no transmit state on this radio")
            << QByteArray("432065000\n") << QByteArray("RPRT -11\n") << true << true;
        QTest::newRow("f refused") << QByteArray("RPRT -1\n") << QByteArray("0\n") << true << false;
        QTest::newRow("f timed out") << QByteArray("RPRT -5\n") << QByteArray("0\n") << false << false;
        QTest::newRow("f IO error") << QByteArray("RPRT -6\n") << QByteArray("0\n") << false << false;
        QTest::newRow("t timed out") << QByteArray("432065000\n") << QByteArray("RPRT -5\n") << true << false;
        QTest::newRow("t never answered") << QByteArray("432065000\n") << QByteArray() << true << false;
    }
    void readoutAnswers()
    {
        QFETCH(QByteArray, f);
        QFETCH(QByteArray, t);
        QFETCH(bool, answered);
        QFETCH(bool, shown);
        FakeDaemon daemon;
        daemon.answer = [&](const QByteArray &line) {
            if (line == "\\dump_state")
                return rigDump;
            if (line == "f" || line == "t")
                return line == "f" ? f : t;
            return goodAnswer(line);
        };
        RigctldLink link({QStringLiteral("127.0.0.1"), daemon.port()});
        QSignalSpy answers(&link, &TransceiverLink::answered);
        QSignalSpy frequencies(&link, &TransceiverLink::frequencyReceived);
        QSignalSpy opened(&link, &DeviceLink::opened);
        link.open();
        QVERIFY(opened.wait(5000));
        QTRY_VERIFY(link.rangesKnown());
        // A command behind the readout marks its end: one on the wire at a
        // time. It may wait out the answer time-out, so it does not lapse.
        link.setCommandLifetime(2 * HamlibClient::defaultAnswerTimeoutMs);
        QVERIFY(link.requestReadout());
        link.setFrequency(432065010);
        QTRY_VERIFY_WITH_TIMEOUT(daemon.lines.contains("F 432065010"), 2 * HamlibClient::defaultAnswerTimeoutMs);
        QCOMPARE(!answers.isEmpty(), answered);
        QCOMPARE(!frequencies.isEmpty(), shown);
    }

    // rotctld's limits however its "\dump_state" ends: positions go once
    // the answer is in, whole or not; only a cut one is said.
    void rotatorLimits_data()
    {
        QTest::addColumn<QByteArray>("dump");
        QTest::addColumn<bool>("travel");   // the rotator's own limits known
        QTest::addColumn<bool>("problem");  // "rotator's limits unknown" said
        QTest::newRow("whole") << rotDump << true << false;
        QTest::newRow("no such command") << QByteArray("RPRT -4\n") << false << false;
        QTest::newRow("cut after the azimuth") << rotDump.left(rotDump.indexOf("min_el")) << false << true;
    }
    void rotatorLimits()
    {
        QFETCH(QByteArray, dump);
        QFETCH(bool, travel);
        QFETCH(bool, problem);
        FakeDaemon daemon;
        daemon.answer = [&](const QByteArray &line) { return line == "\\dump_state" ? dump : goodAnswer(line); };
        RotctldLink link({QStringLiteral("127.0.0.1"), daemon.port()});
        QSignalSpy learned(&link, &RotatorLink::limitsLearned);
        link.open();
        // Three tries, each ended by a pause of 2 s.
        QVERIFY(learned.wait(10000));
        QVERIFY(link.ready());
        QCOMPARE(link.travel().has_value(), travel);
        QCOMPARE(!link.limitsProblem().isEmpty(), problem);
        QCOMPARE(int(daemon.lines.count("\\dump_state")), problem ? 3 : 1);
    }

    // A daemon that talks out of turn every 100 ms for 12 s: said at once,
    // summed up each second for the first few, then once a minute, rather
    // than a line every second all night.
    void noiseSummedUpOnceAMinute()
    {
        FakeDaemon daemon;
        daemon.answer = [](const QByteArray &line) -> QByteArray {
            if (line == "\\dump_state")
                return rigDump;
            return line == "f" ? QByteArray("432065000\n") : QByteArray("0\n");
        };
        RigctldLink link({QStringLiteral("127.0.0.1"), daemon.port()});
        QStringList log;
        connect(&link, &DeviceLink::message, this, [&log](const QString &text) { log << text; });
        link.open();
        QTRY_VERIFY(daemon.connections == 1);
        QTimer noise;
        connect(&noise, &QTimer::timeout, this, [&daemon] { daemon.send("chatter\n"); });
        noise.start(100);
        QTest::qWait(12000);
        // The first line, five one-second summaries, nothing more within the minute.
        QVERIFY2(log.size() <= 1 + MessageThrottle::periodsBeforeSustained, qPrintable(log.join('\n')));
        QVERIFY(log.first().startsWith(QStringLiteral("unexpected line from ")));
    }

    // A daemon silent for a while gets, once it answers again, only positions
    // meant now: none of those made during the silence.
    void positionsNeverSentLate()
    {
        FakeDaemon daemon;
        int step = 0;
        QList<int> age;  // cycles between a position's making and its arrival
        bool silent = false;
        daemon.answer = [&](const QByteArray &line) {
            if (line == "\\dump_state")
                return rotDump;
            if (!line.startsWith("P "))
                return goodAnswer(line);
            age << step - qRound((line.split(' ').value(1).toDouble() - 100) * 10);
            if (age.size() == 3) {
                silent = true;
                QTimer::singleShot(1500, this, [&] {
                    silent = false;
                    daemon.send("RPRT 0\n");
                });
            }
            return silent ? QByteArray() : QByteArray("RPRT 0\n");
        };
        RotctldLink link({QStringLiteral("127.0.0.1"), daemon.port()});
        link.setCommandLifetime(200);
        link.open();
        QTimer cycle;
        connect(&cycle, &QTimer::timeout, this, [&] {
            ++step;
            link.write(link.positionCommand(RotatorAxis::Both, 100 + step * 0.1, 10));
        });
        cycle.start(100);
        QTRY_VERIFY_WITH_TIMEOUT(age.size() >= 8, 10000);
        for (int cycles : std::as_const(age))
            QVERIFY2(cycles <= 2, qPrintable(QStringLiteral("a position %1 cycles old was sent").arg(cycles)));
    }
};

QTEST_GUILESS_MAIN(tst_DaemonFaults)
#include "tst_daemonfaults.moc"
