// SPDX-License-Identifier: GPL-3.0-or-later
// The station's rigctld- and rotctld-compatible servers, driven by Hamlib's
// own clients (rigctl -m 2, the NET rigctl backend WSJT-X uses; rotctl -m 2)
// and by WSJT-X 2.6.1's connect sequence replayed over a socket, with the
// simulated FT-817 and rotator at store.cfg's defaults. Expected answers are
// written from the daemons' manuals and from what rigctld -m 1 and
// rotctld -m 1 answer the same lines.

#include "defaultstation.h"
#include "fixedsource.h"
#include "hamlibtesting.h"
#include "links/messagethrottle.h"
#include "links/transceiverlink.h"
#include "sim/simrotator.h"
#include "sim/simtransceiver.h"
#include "statelessradio.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QtTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A station with the simulated radio open in Auto and the server on a free port.
struct ServedStation : DefaultStation {
    explicit ServedStation(DopplerMethod method)
    {
        radio.setFrequency(432065000);
        s().setTrackingSource(std::make_unique<FixedSource>(&record));
        DopplerSettings doppler;
        doppler.method = method;
        doppler.skedMHz = 432.065;
        s().setDopplerSettings(doppler);
        s().setAuto(StationPort::B, true);
        opened = s().open(StationPort::B, radio.slavePath(), {}, false);
        settings.rigServer = true;
        settings.rigPort = hamlibtesting::freePort();
        listening = s().setServerSettings(settings);
    }
    TrackingControl &s() { return station; }

    QByteArray rigctl(const QStringList &command);

    SimTransceiver radio;
    TrackingRecord record;
    ServerSettings settings;
    bool opened = false;
    bool listening = false;
};

// A Hamlib client program (rigctl, rotctl) in model 2 against a server; its
// standard output. The station answers from this thread's event loop.
QByteArray client(const QString &program, quint16 port, const QStringList &command)
{
    QProcess client;
    client.start(program, QStringList {QStringLiteral("-m"), QStringLiteral("2"), QStringLiteral("-r"),
                                       QStringLiteral("127.0.0.1:%1").arg(port)}
                              + command);
    if (!QTest::qWaitFor([&] { return client.state() == QProcess::NotRunning; }, 10000))
        client.kill();
    return client.readAllStandardOutput();
}

// One line to the server over a raw socket and the whole answer, read until
// the expected number of line ends (0: until "done").
QByteArray ask(QTcpSocket &socket, const QByteArray &line, int lines = 1)
{
    socket.write(line + '\n');
    QByteArray answer;
    const bool whole = QTest::qWaitFor([&] {
        answer += socket.readAll();
        return lines > 0 ? answer.count('\n') >= lines : answer.endsWith("\ndone\n");
    }, 5000);
    return whole ? answer : answer + "(cut short)";
}

QByteArray ServedStation::rigctl(const QStringList &command)
{
    return client(QStringLiteral("rigctl"), settings.rigPort, command);
}

// One line to a server on a fresh connection and what comes back within
// the window a daemon takes for its answer, "(closed)" when it hangs up: a
// line the daemons answer with silence can only be seen by waiting.
QByteArray exchange(quint16 port, const QByteArray &line)
{
    constexpr int answerWindowMs = 400;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return "(no connection)";
    socket.write(line + '\n');
    QByteArray answer;
    const bool closed = QTest::qWaitFor([&] {
        answer += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }, answerWindowMs);
    return answer + socket.readAll() + (closed ? "(closed)" : "");
}

// What a client can compare of two \dump_state answers from different radios:
// the first line and the end; or every value's label, the numbers left out.
QByteArray shape(const QByteArray &answer, const QByteArray &how)
{
    if (how == "ends") {
        const QByteArrayList lines = answer.split('\n');
        return lines.size() < 4 ? answer : lines.mid(0, 2).join('\n') + "..." + lines.mid(lines.size() - 3).join('\n');
    }
    if (how == "labels")
        return QString::fromLatin1(answer).replace(QRegularExpression(QStringLiteral("-?[0-9.]+")), QStringLiteral("#")).toLatin1();
    return answer;
}

} // namespace

class tst_CoreServers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!hamlibtesting::daemonsInstalled())
            QSKIP("Hamlib's programs are not installed");
    }

    // Hamlib's own client reads the server's state and works the radio.
    void hamlibClientWorksTheRadio_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<quint32>("radioHz");  // 0: not checked
        QTest::addColumn<bool>("transmitting");
        const int own = int(DopplerMethod::OwnEcho), specified = int(DopplerMethod::Specified);
        QTest::newRow("f, a method: the sked") << own << QStringList {"f"} << QByteArray("432065000\n") << 0u << false;
        QTest::newRow("F then f, a method: the sked, exactly") << own << QStringList {"F", "432100055", "f"}
                                                                << QByteArray("432100055\n") << 0u << false;
        QTest::newRow("F then f, the radio's own: the radio at its step")
            << specified << QStringList {"F", "432100055", "f"} << QByteArray("432100055\n") << 432100060u << false;
        // Keyed while rigctl stays ("t" reads it back once the radio said so), let go when it leaves.
        QTest::newRow("T 1 keys the radio while rigctl stays")
            << own << QStringList {"T", "1", "t"} << QByteArray("1\n") << 0u << false;
        QTest::newRow("T 1 then T 0") << own << QStringList {"T", "1", "T", "0"} << QByteArray() << 0u << false;
        QTest::newRow("s") << own << QStringList {"s"} << QByteArray("0\nVFOA\n") << 0u << false;
        QTest::newRow("M then m") << own << QStringList {"M", "PKTUSB", "3000", "m"} << QByteArray("PKTUSB\n3000\n")
                                  << 0u << false;
    }
    void hamlibClientWorksTheRadio()
    {
        QFETCH(int, method);
        QFETCH(QStringList, command);
        QFETCH(QByteArray, output);
        QFETCH(quint32, radioHz);
        QFETCH(bool, transmitting);
        ServedStation s {DopplerMethod(method)};
        QVERIFY(s.opened && s.listening);
        QTRY_VERIFY(s.s().isFrequencyKnown());
        QCOMPARE(s.rigctl(command), output);
        if (command.contains(QStringLiteral("F")) && DopplerMethod(method) != DopplerMethod::Specified)
            QCOMPARE(s.s().dopplerSettings().skedMHz, 432.100055);
        if (radioHz)
            QTRY_COMPARE(s.radio.frequency(), radioHz);
        QTRY_COMPARE(s.radio.transmitting(), transmitting);
    }

    // A Hamlib client working a radio that the station itself reaches
    // through rigctld -m 1: its dial becomes the sked, the corrected
    // frequency reaches the daemon, and its key the daemon's PTT.
    void throughTheStationToRigctld()
    {
        DefaultStation s;
        // The dummy radio keys only when told its PTT is the radio's own.
        hamlibtesting::Daemon rigctld(QStringLiteral("rigctld"),
                                      {QStringLiteral("-m"), QStringLiteral("1"), QStringLiteral("-P"), QStringLiteral("RIG")});
        QVERIFY(rigctld.start());
        TrackingRecord record;
        record.frequency = 432.065;
        record.dopplerHome = 805;
        s.station.setTrackingSource(std::make_unique<FixedSource>(&record));
        DopplerSettings doppler;
        doppler.method = DopplerMethod::OwnEcho;
        doppler.skedMHz = 432.065;
        QVERIFY(s.station.setDopplerSettings(doppler));
        s.station.setNetwork(StationPort::B, true);
        s.station.setAuto(StationPort::B, true);
        QVERIFY(s.station.open(StationPort::B, rigctld.address(), {}, false));
        QTRY_VERIFY(s.station.isFrequencyKnown());
        s.station.setFrequencyTracking(true);
        ServerSettings settings;
        settings.rigServer = true;
        settings.rigPort = hamlibtesting::freePort();
        QVERIFY(s.station.setServerSettings(settings));

        QCOMPARE(client(QStringLiteral("rigctl"), settings.rigPort, {"F", "432100000", "f"}), QByteArray("432100000\n"));
        // Receive 805 Hz up, at the next repetition.
        QTRY_COMPARE_WITH_TIMEOUT(rigctld.ask("f").value(0).toDouble(), 432100805.0, 5000);
        // The key is the client's for as long as it stays connected.
        QTcpSocket keyer;
        keyer.connectToHost(QHostAddress::LocalHost, settings.rigPort);
        QVERIFY(keyer.waitForConnected(3000));
        QCOMPARE(ask(keyer, "T 1"), QByteArray("RPRT 0\n"));
        QCOMPARE(rigctld.ask("t").value(0), QByteArray("1"));
        QCOMPARE(rigctld.ask("f").value(0).toDouble(), 432100000.0);  // transmitting on the sked
        QCOMPARE(ask(keyer, "T 0"), QByteArray("RPRT 0\n"));
        QTRY_COMPARE(rigctld.ask("t").value(0), QByteArray("0"));
        QTRY_COMPARE(rigctld.ask("f").value(0).toDouble(), 432100805.0);
    }

    // What WSJT-X 2.6.1's NET rigctl does at connect: its probe of the dial
    // (+55 Hz and back) must read back exactly, or it gives up.
    void wsjtxConnectProbe_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("a method") << int(DopplerMethod::OwnEcho);
        QTest::newRow("the radio's own frequency") << int(DopplerMethod::Specified);
    }
    void wsjtxConnectProbe()
    {
        QFETCH(int, method);
        ServedStation s {DopplerMethod(method)};
        QVERIFY(s.opened && s.listening);
        QTRY_VERIFY(s.s().isFrequencyKnown());
        QTcpSocket wsjtx;
        wsjtx.connectToHost(QHostAddress::LocalHost, s.settings.rigPort);
        QVERIFY(wsjtx.waitForConnected(3000));
        QCOMPARE(ask(wsjtx, "\\chk_vfo"), QByteArray("0\n"));
        QVERIFY(ask(wsjtx, "\\dump_state", 0).endsWith("\ndone\n"));
        QCOMPARE(ask(wsjtx, "v"), QByteArray("VFOA\n"));
        const QByteArray dial = ask(wsjtx, "f").trimmed();
        QCOMPARE(dial, QByteArray("432065000"));
        QCOMPARE(ask(wsjtx, "s", 2), QByteArray("0\nVFOA\n"));
        QCOMPARE(ask(wsjtx, "F 432065055"), QByteArray("RPRT 0\n"));
        QTest::qWait(300);  // the radio set and read back at its step
        QCOMPARE(ask(wsjtx, "f"), QByteArray("432065055\n"));
        QCOMPARE(ask(wsjtx, "F 432065000"), QByteArray("RPRT 0\n"));
        QTest::qWait(300);
        QCOMPARE(ask(wsjtx, "f"), QByteArray("432065000\n"));
        QCOMPARE(ask(wsjtx, "T 0"), QByteArray("RPRT 0\n"));
    }

    // "T 1" keys the radio only once its transmit frequency is written, and
    // "T 0" lets it go before the receive frequency is written back: the
    // frames in the order the radio got them.
    void keyedOnTheTransmitFrequency()
    {
        ServedStation s {DopplerMethod::OwnEcho};
        s.record.frequency = 432.065;
        s.record.dopplerHome = 1000;  // own echo: receive 1 kHz up, transmit on the sked
        QTRY_VERIFY(s.s().isFrequencyKnown());
        s.s().setFrequencyTracking(true);
        s.s().repetition();
        QTRY_COMPARE(s.radio.frequency(), 432066000u);
        s.radio.clearFrames();
        QTcpSocket wsjtx;
        wsjtx.connectToHost(QHostAddress::LocalHost, s.settings.rigPort);
        QVERIFY(wsjtx.waitForConnected(3000));
        QCOMPARE(ask(wsjtx, "T 1"), QByteArray("RPRT 0\n"));
        QTRY_VERIFY(s.radio.transmitting());
        QCOMPARE(ask(wsjtx, "T 0"), QByteArray("RPRT 0\n"));
        QTRY_COMPARE(s.radio.frequency(), 432066000u);
        QStringList order;
        for (const QByteArray &frame : s.radio.frames()) {
            const quint8 opcode = quint8(frame.at(4));
            if (opcode == 0x01)
                order << QStringLiteral("set ") + QString::fromLatin1(frame.left(4).toHex());
            else if (opcode == 0x08 || opcode == 0x88)
                order << (opcode == 0x08 ? QStringLiteral("key") : QStringLiteral("unkey"));
        }
        QCOMPARE(order, (QStringList {"set 43206500", "key", "unkey", "set 43206600"}));
    }

    // rotctl -m 2 aims the antenna through the planner; the operator's
    // Manual refuses it, a chosen target or a minute's silence ends it.
    void rotctlClientAimsTheAntenna()
    {
        DefaultStation s;
        SimRotator rotator;
        TrackingRecord record;
        record.azimuth = 100;
        record.elevation = 20;
        record.frequency = 432.065;
        s.station.setTrackingSource(std::make_unique<FixedSource>(&record));
        QDateTime clock(QDate(2026, 12, 9), QTime(22, 0), Qt::UTC);
        s.station.setClock([&clock] { return clock; });
        ServerSettings settings;
        settings.rotServer = true;
        settings.rotPort = hamlibtesting::freePort();
        QVERIFY(s.station.setServerSettings(settings));
        s.station.setAuto(StationPort::A, true);
        QVERIFY(s.station.open(StationPort::A, rotator.slavePath(), {}, false));
        const auto settle = [&] {
            // The serial controller takes one axis a repetition.
            for (int axis = 0; axis < 2; ++axis) {
                s.station.repetition();
                QTRY_VERIFY(s.station.steering().pending.isEmpty());
            }
        };
        settle();
        QTRY_COMPARE(rotator.commandedAzimuth(), 100.0);

        QCOMPARE(client(QStringLiteral("rotctl"), settings.rotPort, {"P", "200", "30"}), QByteArray());
        settle();
        QTRY_COMPARE(rotator.commandedAzimuth(), 200.0);
        QTRY_COMPARE(rotator.commandedElevation(), 30.0);
        QCOMPARE(client(QStringLiteral("rotctl"), settings.rotPort, {"p"}), QByteArray("200.00\n30.00\n"));
        QVERIFY(s.station.pointingNote().startsWith(QStringLiteral("aimed by a rotctl client at az 200.0, el 30.0")));

        QTcpSocket gpredict;
        gpredict.connectToHost(QHostAddress::LocalHost, settings.rotPort);
        QVERIFY(gpredict.waitForConnected(3000));
        s.station.setAuto(StationPort::A, false);
        QCOMPARE(ask(gpredict, "P 10 10"), QByteArray("RPRT -9\n"));
        s.station.setAuto(StationPort::A, true);
        QCOMPARE(ask(gpredict, "+P 210 31"), QByteArray("set_pos: 210 31\nRPRT 0\n"));

        clock = clock.addSecs(TrackingControl::externalSilentSeconds + 1);
        QTRY_VERIFY(!s.station.externalAim());
        QCOMPARE(s.count(QStringLiteral("rotctl client's aim ended (the client silent for 60 s)")), 1);
        settle();
        QTRY_COMPARE(rotator.commandedAzimuth(), 100.0);

        QCOMPARE(ask(gpredict, "P 220 32"), QByteArray("RPRT 0\n"));
        s.station.setTarget(TrackingTarget::Moon);
        QVERIFY(!s.station.externalAim());
        QCOMPARE(s.count(QStringLiteral("rotctl client's aim ended (a target chosen)")), 1);
    }

    // Each form of a line against what rigctld answers it (its manual's
    // extended response: the long name, labelled values, RPRT).
    void answersInEveryForm_data()
    {
        QTest::addColumn<bool>("rotator");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("f") << false << QByteArray("f") << QByteArray("432065000\n");
        QTest::newRow("\\get_freq") << false << QByteArray("\\get_freq") << QByteArray("432065000\n");
        QTest::newRow("+f") << false << QByteArray("+f") << QByteArray("get_freq:\nFrequency: 432065000\nRPRT 0\n");
        QTest::newRow("+\\get_freq") << false << QByteArray("+\\get_freq") << QByteArray("get_freq:\nFrequency: 432065000\nRPRT 0\n");
        QTest::newRow(";f") << false << QByteArray(";f") << QByteArray("get_freq:;Frequency: 432065000;RPRT 0\n");
        QTest::newRow("+s") << false << QByteArray("+s") << QByteArray("get_split_vfo:\nSplit: 0\nTX VFO: VFOA\nRPRT 0\n");
        QTest::newRow("+M") << false << QByteArray("+M USB 2400") << QByteArray("set_mode: USB 2400\nRPRT 0\n");
        QTest::newRow("\\set_freq") << false << QByteArray("\\set_freq 432065000") << QByteArray("RPRT 0\n");
        QTest::newRow("+\\get_powerstat") << false << QByteArray("+\\get_powerstat")
                                          << QByteArray("get_powerstat:\nPower Status: 1\nRPRT 0\n");
        QTest::newRow("\\get_lock_mode") << false << QByteArray("\\get_lock_mode") << QByteArray("0\nRPRT 0\n");
        QTest::newRow("+\\chk_vfo") << false << QByteArray("+\\chk_vfo") << QByteArray("ChkVFO: 0\n");
        QTest::newRow("F without a value") << false << QByteArray("F") << QByteArray("RPRT -1\n");
        QTest::newRow("F not a number") << false << QByteArray("F lots") << QByteArray("RPRT -1\n");
        QTest::newRow("a command not served") << false << QByteArray("L RFPOWER 1") << QByteArray("RPRT -11\n");
        QTest::newRow("a long one not served") << false << QByteArray("\\set_conf x y") << QByteArray("RPRT -11\n");
            // rotctld's, with no rotator open: the geometry's range, and positions refused.
        QTest::newRow("rotator \\dump_state") << true << QByteArray("\\dump_state")
                                               << QByteArray("1\n1\nmin_az=0.000000\nmax_az=360.000000\nmin_el=0.000000\n"
                                                             "max_el=90.000000\nsouth_zero=0\nrot_type=AzEl\ndone\n");
        QTest::newRow("rotator +p") << true << QByteArray("+p")
                                    << QByteArray("get_pos:\nAzimuth: 0.00\nElevation: 0.00\nRPRT 0\n");
        QTest::newRow("rotator _") << true << QByteArray("_") << QByteArray("Vestrel station rotator\n");
        QTest::newRow("rotator P without a rotator") << true << QByteArray("P 10 20") << QByteArray("RPRT -11\n");
        QTest::newRow("rotator P not a position") << true << QByteArray("P 10 north") << QByteArray("RPRT -1\n");
        QTest::newRow("rotator M an unknown way") << true << QByteArray("M 3 50") << QByteArray("RPRT -1\n");
        QTest::newRow("rotator f not served") << true << QByteArray("f") << QByteArray("RPRT -11\n");
    }

    void answersInEveryForm()
    {
        QFETCH(bool, rotator);
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, answer);
        ServedStation s(DopplerMethod::OwnEcho);
        QVERIFY(s.listening);
        RigServer rig(s.s());
        RotServer rot(s.s());
        QCOMPARE(rotator ? rot.answer(line) : rig.answer(line), answer);
    }

    // A client that sends a line longer than any command, or floods, is
    // closed alone; the others are answered on.
    void badClientClosedAlone_data()
    {
        QTest::addColumn<QByteArray>("flood");
        QTest::addColumn<bool>("paced");  // sent again every 300 ms, within 200 commands a second
        QTest::newRow("an overlong line") << QByteArray(1000, 'f') << false;
        // Its pieces are no commands: neither the frequency nor the key.
        QTest::newRow("f, 255 spaces, T 1: 259 bytes") << "f" + QByteArray(255, ' ') + "T 1\n" << false;
        QTest::newRow("a thousand commands at once") << QByteArray("f\n").repeated(1000) << false;
        QTest::newRow("one client too many") << QByteArray() << false;
        QTest::newRow("it stops reading") << QByteArray("\\dump_state\n").repeated(50) << true;
    }
    void badClientClosedAlone()
    {
        QFETCH(QByteArray, flood);
        QFETCH(bool, paced);
        ServedStation s(DopplerMethod::OwnEcho);
        QVERIFY(s.listening);
        QTcpSocket good, bad;
        good.connectToHost(QHostAddress::LocalHost, s.settings.rigPort);
        bad.connectToHost(QHostAddress::LocalHost, s.settings.rigPort);
        QVERIFY(good.waitForConnected(3000) && bad.waitForConnected(3000));
        // The client that stops reading has a 4 KiB receive buffer, so that
        // its unread answers fill it in seconds rather than the minutes the
        // system's grown buffer takes; Qt would read it all for it otherwise.
        if (paced) {
            bad.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
            bad.setReadBufferSize(4096);
        }
        // Without a flood, the one too many: the server already holds the
        // two above and six more.
        std::vector<std::unique_ptr<QTcpSocket>> others;
        QTcpSocket ninth;
        if (flood.isEmpty()) {
            for (int i = 0; i < RigServer::mostClients - 2; ++i) {
                others.push_back(std::make_unique<QTcpSocket>());
                others.back()->connectToHost(QHostAddress::LocalHost, s.settings.rigPort);
                QVERIFY(others.back()->waitForConnected(3000));
            }
            QTRY_COMPARE(s.s().rigServer().clients(), RigServer::mostClients);
            ninth.connectToHost(QHostAddress::LocalHost, s.settings.rigPort);
            QVERIFY(ninth.waitForConnected(3000));
        }
        QTcpSocket &closed = flood.isEmpty() ? ninth : bad;
        const quint16 badPort = closed.localPort();
        closed.write(flood);
        QTimer pace;
        QObject::connect(&pace, &QTimer::timeout, &closed, [&] { closed.write(flood); });
        if (paced)
            pace.start(300);
        const QString said = QStringLiteral("rigctl client 127.0.0.1:%1 %2").arg(badPort).arg(flood.isEmpty() ? "refused" : "closed");
        QTRY_COMPARE_WITH_TIMEOUT(s.count(said), 1, 30000);
        if (!paced)
            QTRY_COMPARE(closed.state(), QAbstractSocket::UnconnectedState);
        else
            QCOMPARE(s.count(said + QStringLiteral(": it stopped reading")), 1);
        pace.stop();
        QCOMPARE(ask(good, "f"), QByteArray("432065000\n"));
        QVERIFY(!s.s().doppler().transmitting);
    }

    // A client that keyed the radio and is gone, however it went, leaves it
    // unkeyed, said in the log and as an alarm; one that let go first, or
    // another client going, changes nothing.
    void keyLetGoWithItsClient_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how : {"rigctl killed", "closed", "reset", "a long line", "T 0 first", "another goes"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }
    void keyLetGoWithItsClient()
    {
        QFETCH(QString, how);
        const bool released = how != "T 0 first" && how != "another goes";
        ServedStation s(DopplerMethod::OwnEcho);
        QVERIFY(s.opened && s.listening);
        QTRY_VERIFY(s.s().isFrequencyKnown());
        QProcess rigctl;  // Hamlib's own client, interactive, keying from its standard input
        QTcpSocket keyer, other;
        if (how == "rigctl killed") {
            rigctl.start(QStringLiteral("rigctl"), {"-m", "2", "-r", QStringLiteral("127.0.0.1:%1").arg(s.settings.rigPort)});
            rigctl.write("T 1\n");
        } else {
            keyer.connectToHost(QHostAddress::LocalHost, s.settings.rigPort);
            QVERIFY(keyer.waitForConnected(3000));
            QCOMPARE(ask(keyer, "T 1"), QByteArray("RPRT 0\n"));
        }
        QTRY_VERIFY(s.radio.transmitting());
        // "rigctl client 127.0.0.1:50321 connected", said at once as the first.
        const QString peer = s.log.filter(QStringLiteral(" connected")).value(0).section(' ', 2, 2);
        if (how == "rigctl killed") {
            rigctl.kill();
        } else if (how == "closed") {
            keyer.disconnectFromHost();
        } else if (how == "reset") {
            const linger now {1, 0};
            ::setsockopt(int(keyer.socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
            keyer.abort();
        } else if (how == "a long line") {
            keyer.write(QByteArray(HamlibServer::longestLine + 1, 'f') + '\n');
        } else if (how == "T 0 first") {
            QCOMPARE(ask(keyer, "T 0"), QByteArray("RPRT 0\n"));
            keyer.disconnectFromHost();
        } else {
            other.connectToHost(QHostAddress::LocalHost, s.settings.rigPort);
            QTRY_COMPARE(s.s().rigServer().clients(), 2);
            other.disconnectFromHost();
        }
        QTRY_COMPARE(s.s().rigServer().clients(), how == "another goes" ? 1 : 0);
        QTRY_COMPARE(s.radio.transmitting(), how == "another goes");
        const QString said = QStringLiteral("rigctl client %1 gone while keyed: the radio unkeyed").arg(peer);
        QCOMPARE(s.count(said), released ? 1 : 0);
        QCOMPARE(s.s().health().why(Alarm::KeyReleased), released ? said : QString());
    }

    // "T" is answered once the radio says it took the key; a radio that
    // never says so is let go, and the client told the command timed out.
    void keyAnsweredOnceKeyed_data()
    {
        QTest::addColumn<bool>("radioAnswers");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("the radio keys") << true << QByteArray("RPRT 0\n");
        QTest::newRow("the radio silent") << false << QByteArray("RPRT -5\n");
    }
    void keyAnsweredOnceKeyed()
    {
        QFETCH(bool, radioAnswers);
        QFETCH(QByteArray, answer);
        ServedStation s(DopplerMethod::OwnEcho);
        // Bytes at a real line's pace, and a transmit frequency to write
        // before the key, as with the radio the fault was found on.
        s.radio.setLineTiming(true);
        s.record.frequency = 432.065;
        s.record.dopplerHome = 1000;
        QVERIFY(s.opened && s.listening);
        QTRY_VERIFY(s.s().isFrequencyKnown());
        s.s().setFrequencyTracking(true);
        s.s().repetition();
        QTRY_COMPARE(s.radio.frequency(), 432066000u);
        s.radio.setSilent(!radioAnswers);
        QTcpSocket wsjtx;
        wsjtx.connectToHost(QHostAddress::LocalHost, s.settings.rigPort);
        QVERIFY(wsjtx.waitForConnected(3000));
        const QByteArray answered = ask(wsjtx, "T 1");
        const bool keyedThen = s.radio.transmitting();  // then, not eventually
        QCOMPARE(answered, answer);
        QCOMPARE(keyedThen, radioAnswers);
        QCOMPARE(s.s().doppler().transmitting, radioAnswers);
    }

    // A radio that cannot say it transmits is taken to have keyed once a
    // readout asked after the key is answered: never refused for its silence.
    void keyAnsweredByARadioThatCannotSay()
    {
        DefaultStation s;
        auto *radio = new StatelessRadio;
        s.station.setAuto(StationPort::B, true);
        s.station.openWith(StationPort::B, radio, radio->target());
        QTRY_VERIFY(s.station.isFrequencyKnown());
        ServerSettings settings;
        settings.rigServer = true;
        settings.rigPort = hamlibtesting::freePort();
        QVERIFY(s.station.setServerSettings(settings));
        QTcpSocket wsjtx;
        wsjtx.connectToHost(QHostAddress::LocalHost, settings.rigPort);
        QVERIFY(wsjtx.waitForConnected(3000));
        QCOMPARE(ask(wsjtx, "T 1"), QByteArray("RPRT 0\n"));
        QVERIFY(radio->keyed);
        QCOMPARE(ask(wsjtx, "T 0"), QByteArray("RPRT 0\n"));
        QVERIFY(!radio->keyed);
    }

    // rotctld refuses a position beyond its rotator's limits (RPRT -1); one
    // the rotator geometry's "hold" keeps the antenna short of is refused
    // alike, while "nearest" carries it as far as it goes.
    void positionHeldShortRefused_data()
    {
        QTest::addColumn<bool>("hold");
        QTest::addColumn<QByteArray>("position");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("hold, below the mask") << true << QByteArray("P 100 5") << QByteArray("RPRT -1\n");
        QTest::newRow("hold, beyond the elevation stop") << true << QByteArray("P 100 95") << QByteArray("RPRT -1\n");
        QTest::newRow("hold, within") << true << QByteArray("P 100 20") << QByteArray("RPRT 0\n");
        QTest::newRow("nearest, below the mask") << false << QByteArray("P 100 5") << QByteArray("RPRT 0\n");
        // From where the antenna was sent (0, 0 on a rotator not yet moved): down into the mask.
        QTest::newRow("hold, moved down") << true << QByteArray("M 4 50") << QByteArray("RPRT -1\n");
    }
    void positionHeldShortRefused()
    {
        QFETCH(bool, hold);
        QFETCH(QByteArray, position);
        QFETCH(QByteArray, answer);
        DefaultStation s;
        SimRotator rotator;
        RotatorGeometry geometry;
        geometry.elevationRange = RotatorGeometry::ElevationRange::From0To90;
        geometry.horizonMask = {{0, 10}, {180, 10}};
        geometry.outOfReach = hold ? RotatorGeometry::OutOfReach::Hold : RotatorGeometry::OutOfReach::Nearest;
        s.station.setRotatorGeometry(geometry);
        ServerSettings settings;
        settings.rotServer = true;
        settings.rotPort = hamlibtesting::freePort();
        QVERIFY(s.station.setServerSettings(settings));
        s.station.setAuto(StationPort::A, true);
        QVERIFY(s.station.open(StationPort::A, rotator.slavePath(), {}, false));
        QCOMPARE(exchange(settings.rotPort, position), answer);
        QCOMPARE(s.station.externalAim().has_value(), answer == "RPRT 0\n");
    }

    // The same line to rigctld -m 1 or rotctld -m 1 and to the station's
    // server, each fresh: the answers alike wherever a client could tell.
    void answersAsTheDaemons_data()
    {
        QTest::addColumn<bool>("rotator");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("compared");  // "exact", or a \dump_state's "ends" or "labels"
        for (const bool rotator : {false, true}) {
            for (const char *line : {"", "+", ";", "\\", "q", "Q"})
                QTest::newRow((QByteArray(rotator ? "rotctld " : "rigctld ") + (*line ? line : "empty")).constData())
                    << rotator << QByteArray(line) << QByteArray("exact");
        }
        for (const char *vfo : {"V VFOZ", "V VFOB", "V Main", "V MEM", "+V VFOZ"})
            QTest::newRow((QByteArray("rigctld ") + vfo).constData()) << false << QByteArray(vfo) << QByteArray("exact");
        // After \chk_vfo, as Hamlib's own client and WSJT-X ask: rigctld then ends its state with "done".
        QTest::newRow("rigctld +\\dump_state") << false << QByteArray("\\chk_vfo\n+\\dump_state") << QByteArray("ends");
        QTest::newRow("rigctld ;\\dump_state") << false << QByteArray("\\chk_vfo\n;\\dump_state") << QByteArray("ends");
        for (const char *line : {"\\dump_state", "+\\dump_state", ";\\dump_state"})
            QTest::newRow((QByteArray("rotctld ") + line).constData()) << true << QByteArray(line) << QByteArray("labels");
        QTest::newRow("rotctld +p") << true << QByteArray("+p") << QByteArray("exact");
    }
    void answersAsTheDaemons()
    {
        QFETCH(bool, rotator);
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, compared);
        // A fresh daemon for each line: rigctld keeps an extended response's
        // separator from one line to the next.
        hamlibtesting::Daemon daemon(rotator ? QStringLiteral("rotctld") : QStringLiteral("rigctld"),
                                     {QStringLiteral("-m"), QStringLiteral("1")});
        QVERIFY(daemon.start());
        ServedStation s(DopplerMethod::OwnEcho);
        s.settings.rotServer = true;
        s.settings.rotPort = hamlibtesting::freePort();
        QVERIFY(s.s().setServerSettings(s.settings));
        const QByteArray theirs = exchange(daemon.port(), line);
        const QByteArray ours = exchange(rotator ? s.settings.rotPort : s.settings.rigPort, line);
        QCOMPARE(shape(ours, compared), shape(theirs, compared));
    }

    // Clients that connect and go in a loop are said once, then summed up
    // each second (the default). One at a time, every coming and going is
    // counted; a dozen at once are more than the server takes, and its
    // refusals are summed up alike.
    void comingsAndGoingsSummedUp_data()
    {
        QTest::addColumn<int>("atOnce");
        QTest::newRow("one at a time") << 1;
        QTest::newRow("a dozen at once") << 12;
    }
    void comingsAndGoingsSummedUp()
    {
        QFETCH(int, atOnce);
        ServedStation s(DopplerMethod::OwnEcho);
        QVERIFY(s.listening);
        constexpr int rounds = 100;
        for (int i = 0; i < rounds; ++i) {
            std::vector<std::unique_ptr<QTcpSocket>> looping;
            for (int k = 0; k < atOnce; ++k) {
                looping.push_back(std::make_unique<QTcpSocket>());
                looping.back()->connectToHost(QHostAddress::LocalHost, s.settings.rigPort);
                QVERIFY(looping.back()->waitForConnected(3000));
            }
            QTRY_COMPARE(s.s().rigServer().clients(), std::min(atOnce, HamlibServer::mostClients));
            looping.clear();
            QTRY_COMPARE(s.s().rigServer().clients(), 0);
        }
        const QRegularExpression summary(QStringLiteral("^rigctl clients: (\\d+) more connected or gone, first: "));
        int said = 0, counted = 0;
        QTRY_VERIFY(([&] {
            said = counted = 0;
            for (const QString &line : std::as_const(s.log)) {
                const auto match = summary.match(line);
                said += line.startsWith(QStringLiteral("rigctl client"));
                counted += match.hasMatch() ? match.captured(1).toInt()
                                            : line.startsWith(QStringLiteral("rigctl client 127.0.0.1"))
                                                  && !line.contains(QStringLiteral(" refused"));
            }
            return counted == 2 * rounds * std::min(atOnce, HamlibServer::mostClients);
        }()));
        // Each kind once, then a sum a second for the few seconds of the loop.
        QVERIFY2(said <= 2 * (1 + MessageThrottle::periodsBeforeSustained), qPrintable(s.all()));
        QCOMPARE(s.log.filter(QStringLiteral(" refused: ")).isEmpty(), atOnce <= HamlibServer::mostClients);
    }
};

QTEST_GUILESS_MAIN(tst_CoreServers)
#include "tst_coreservers.moc"
