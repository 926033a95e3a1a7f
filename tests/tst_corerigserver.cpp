// SPDX-License-Identifier: GPL-3.0-or-later
// The station's rigctld-compatible server, driven by Hamlib's own client
// (rigctl -m 2, the NET rigctl backend WSJT-X uses) and by WSJT-X 2.6.1's
// connect sequence replayed over a socket, with the simulated FT-817 on
// port B at store.cfg's defaults. Expected answers are written from
// rigctld's manual and from what rigctld -m 1 answers the same lines.

#include "defaultstation.h"
#include "fixedsource.h"
#include "hamlibtesting.h"
#include "sim/simtransceiver.h"

#include <QProcess>
#include <QTcpSocket>
#include <QtTest>

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

    // rigctl -m 2 against the server; its standard output.
    QByteArray rigctl(const QStringList &command)
    {
        QProcess client;
        client.start(QStringLiteral("rigctl"),
                     QStringList {QStringLiteral("-m"), QStringLiteral("2"), QStringLiteral("-r"),
                                  QStringLiteral("127.0.0.1:%1").arg(settings.rigPort)}
                         + command);
        // The station answers from this thread's event loop.
        if (!QTest::qWaitFor([&] { return client.state() == QProcess::NotRunning; }, 10000))
            client.kill();
        return client.readAllStandardOutput();
    }

    SimTransceiver radio;
    TrackingRecord record;
    ServerSettings settings;
    bool opened = false;
    bool listening = false;
};

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

} // namespace

class tst_CoreRigServer : public QObject
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
        QTest::newRow("T 1 keys the radio") << own << QStringList {"T", "1", "t"} << QByteArray("1\n") << 0u << true;
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

    // Each form of a line against what rigctld answers it (its manual's
    // extended response: the long name, labelled values, RPRT).
    void answersInEveryForm_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("f") << QByteArray("f") << QByteArray("432065000\n");
        QTest::newRow("\\get_freq") << QByteArray("\\get_freq") << QByteArray("432065000\n");
        QTest::newRow("+f") << QByteArray("+f") << QByteArray("get_freq:\nFrequency: 432065000\nRPRT 0\n");
        QTest::newRow("+\\get_freq") << QByteArray("+\\get_freq") << QByteArray("get_freq:\nFrequency: 432065000\nRPRT 0\n");
        QTest::newRow(";f") << QByteArray(";f") << QByteArray("get_freq:;Frequency: 432065000;RPRT 0\n");
        QTest::newRow("+s") << QByteArray("+s") << QByteArray("get_split_vfo:\nSplit: 0\nTX VFO: VFOA\nRPRT 0\n");
        QTest::newRow("+M") << QByteArray("+M USB 2400") << QByteArray("set_mode: USB 2400\nRPRT 0\n");
        QTest::newRow("\\set_freq") << QByteArray("\\set_freq 432065000") << QByteArray("RPRT 0\n");
        QTest::newRow("+\\get_powerstat") << QByteArray("+\\get_powerstat")
                                          << QByteArray("get_powerstat:\nPower Status: 1\nRPRT 0\n");
        QTest::newRow("\\get_lock_mode") << QByteArray("\\get_lock_mode") << QByteArray("0\nRPRT 0\n");
        QTest::newRow("+\\chk_vfo") << QByteArray("+\\chk_vfo") << QByteArray("ChkVFO: 0\n");
        QTest::newRow("F without a value") << QByteArray("F") << QByteArray("RPRT -1\n");
        QTest::newRow("F not a number") << QByteArray("F lots") << QByteArray("RPRT -1\n");
        QTest::newRow("a command not served") << QByteArray("L RFPOWER 1") << QByteArray("RPRT -11\n");
        QTest::newRow("a long one not served") << QByteArray("\\set_conf x y") << QByteArray("RPRT -11\n");
    }
    void answersInEveryForm()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, answer);
        ServedStation s(DopplerMethod::OwnEcho);
        QVERIFY(s.listening);
        RigServer server(s.s());
        QCOMPARE(server.answer(line), answer);
    }

    // A client that sends a line longer than any command, or floods, is
    // closed alone; the others are answered on.
    void badClientClosedAlone_data()
    {
        QTest::addColumn<QByteArray>("flood");
        QTest::newRow("an overlong line") << QByteArray(1000, 'f');
        QTest::newRow("a thousand commands at once") << QByteArray("f\n").repeated(1000);
        QTest::newRow("one client too many") << QByteArray();
    }
    void badClientClosedAlone()
    {
        QFETCH(QByteArray, flood);
        ServedStation s(DopplerMethod::OwnEcho);
        QVERIFY(s.listening);
        QTcpSocket good, bad;
        good.connectToHost(QHostAddress::LocalHost, s.settings.rigPort);
        bad.connectToHost(QHostAddress::LocalHost, s.settings.rigPort);
        QVERIFY(good.waitForConnected(3000) && bad.waitForConnected(3000));
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
        QTRY_COMPARE(closed.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(ask(good, "f"), QByteArray("432065000\n"));
        QCOMPARE(s.count(QStringLiteral("rigctl client 127.0.0.1:%1 %2").arg(badPort).arg(flood.isEmpty() ? "refused" : "closed")), 1);
    }
};

QTEST_GUILESS_MAIN(tst_CoreRigServer)
#include "tst_corerigserver.moc"
