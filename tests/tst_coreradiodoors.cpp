// SPDX-License-Identifier: GPL-3.0-or-later
// The radio where its doors meet, at store.cfg's defaults with the simulated
// FT-817 on a pty: a dial set through the rig server (Hamlib's own rigctl,
// or WSJT-X's lines over a socket) or tuned while the radio's own frequency
// is tracked, WSJT-X's probe when it connects, a sked from every door
// against the radio's reach, and a key the station holds let go when its
// keyer is gone or it was held too long.

#include "defaultstation.h"
#include "fixedsource.h"
#include "hamlibtesting.h"
#include "sim/simtransceiver.h"
#include "transceiver/catframes.h"
#include "wsjtxtesting.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <cmath>

namespace {

const QDateTime t0 = QDateTime(QDate(2026, 12, 9), QTime(21, 0), Qt::UTC);

// The frequencies the radio was told, in the order it was told them.
QList<quint32> setFrequencies(const SimTransceiver &radio)
{
    QList<quint32> hz;
    for (const QByteArray &frame : radio.frames())
        if (frame.size() == cat::frameSize && quint8(frame.at(4)) == cat::setFrequencyCommand.opcode)
            hz << quint32(std::llround(*cat::decodeFrequency(frame.left(4)) * 1e6));
    return hz;
}

// A station with the radio open in Auto, its frequency known, a fixed
// record, the clock held still, and the rig server and WSJT-X's listener on
// free ports.
struct RadioStation : DefaultStation {
    RadioStation(DopplerMethod method, quint32 radioHz, double skedMHz = 432.065)
    {
        radio.setFrequency(radioHz);
        record.frequency = radioHz / 1e6;
        record.dopplerHome = 1000;
        station.setTrackingSource(std::make_unique<FixedSource>(&record));
        station.setClock([this] { return clock; });
        DopplerSettings doppler;
        doppler.method = method;
        doppler.skedMHz = skedMHz;
        ready = station.setDopplerSettings(doppler);
        station.setAuto(StationPort::B, true);
        ready = ready && station.open(StationPort::B, radio.slavePath(), {}, false);
        servers.rigServer = true;
        servers.rigPort = hamlibtesting::freePort();
        ready = ready && station.setServerSettings(servers);
        WsjtxSettings follow;
        follow.follow = true;
        follow.port = hamlibtesting::freePort();
        ready = ready && station.setWsjtxSettings(follow);
        wsjtxPort = follow.port;
    }
    bool connectClient()
    {
        client.connectToHost(QHostAddress::LocalHost, servers.rigPort);
        return client.waitForConnected(3000);
    }
    // One line to the rig server as WSJT-X writes it, and the answer's first line.
    QByteArray ask(const QByteArray &line)
    {
        client.write(line + '\n');
        QByteArray answer;
        const bool whole = QTest::qWaitFor([&] {
            answer += client.readAll();
            return answer.contains('\n');
        }, 5000);
        return whole ? answer.trimmed() : answer + "(cut short)";
    }
    void sendWsjtx(const QByteArray &datagram)
    {
        udp.writeDatagram(datagram, QHostAddress::LocalHost, wsjtxPort);
    }
    // Radio frames counted from now on: each repetition of the rule writes one.
    bool waitRepetitions(int count)
    {
        const qsizetype before = setFrequencies(radio).size();
        return QTest::qWaitFor([&] { return setFrequencies(radio).size() >= before + count; }, 5000 * count);
    }

    SimTransceiver radio;
    TrackingRecord record;
    QDateTime clock = t0;
    ServerSettings servers;
    quint16 wsjtxPort = 0;
    QTcpSocket client;
    QUdpSocket udp;
    bool ready = false;
};

QByteArray rigctl(quint16 port, const QStringList &command)
{
    QProcess client;
    client.start(QStringLiteral("rigctl"), QStringList {QStringLiteral("-m"), QStringLiteral("2"), QStringLiteral("-r"),
                                                         QStringLiteral("127.0.0.1:%1").arg(port)}
                                               + command);
    if (!QTest::qWaitFor([&] { return client.state() == QProcess::NotRunning; }, 10000))
        client.kill();
    return client.readAllStandardOutput();
}

} // namespace

class tst_CoreRadioDoors : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!hamlibtesting::daemonsInstalled())
            QSKIP("Hamlib's programs are not installed");
    }

    // "Track the radio's frequency" engaged, then a new frequency through a
    // door: the rule tracks from it over the repetitions that follow
    // instead of taking the radio back, and says so.
    void setFrequencyIsTrackedFrom_data()
    {
        QTest::addColumn<bool>("rigctl");
        QTest::addColumn<quint32>("radioHz");  // with the shift of the moment, 1000 Hz
        QTest::addColumn<QString>("said");
        // The client's dial is Doppler-free, as its "f" reads it back; a
        // tune puts the radio there, as ticking "Track frequency" on it does.
        QTest::newRow("rigctl -m 2 F") << true << 144151000u
                                       << QStringLiteral("144.150000 MHz set by a rigctl client: Track frequency follows from there");
        QTest::newRow("tune (the API's)") << false << 144150000u
                                          << QStringLiteral("144.150000 MHz set by tune: Track frequency follows from there");
    }
    void setFrequencyIsTrackedFrom()
    {
        QFETCH(bool, rigctl);
        QFETCH(quint32, radioHz);
        QFETCH(QString, said);
        RadioStation s {DopplerMethod::Specified, 144050000};
        QVERIFY(s.ready);
        QTRY_VERIFY(s.station.isFrequencyKnown());
        QVERIFY(s.waitRepetitions(0));
        s.station.setFrequencyTracking(true);
        if (rigctl)
            QCOMPARE(::rigctl(s.servers.rigPort, {"F", "144150000"}), QByteArray());
        else
            s.station.tune(QStringLiteral("144.15"));
        QTRY_COMPARE_WITH_TIMEOUT(s.radio.frequency(), radioHz, 5000);
        s.record.dopplerHome = 1130;
        QVERIFY(s.waitRepetitions(3));
        QCOMPARE(setFrequencies(s.radio).constLast(), radioHz + 130);
        QCOMPARE(s.radio.frequency(), radioHz + 130);
        if (rigctl)
            QCOMPARE(::rigctl(s.servers.rigPort, {"f"}), QByteArray("144150000\n"));
        QCOMPARE(s.count(said), 1);
    }

    // WSJT-X 2.6.1 sets its dial 55 Hz up and back when it connects: read
    // back as set, and the radio never sent there. A real change then
    // reaches the radio without waiting for a repetition.
    void connectProbeMovesNothing_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<quint32>("changedHz");  // the radio after F 432100000
        QTest::newRow("the radio's own frequency") << int(DopplerMethod::Specified) << 432101000u;
        QTest::newRow("own echo") << int(DopplerMethod::OwnEcho) << 432101000u;
    }
    void connectProbeMovesNothing()
    {
        QFETCH(int, method);
        QFETCH(quint32, changedHz);
        RadioStation s {DopplerMethod(method), 432065000};
        QVERIFY(s.ready);
        QTRY_VERIFY(s.station.isFrequencyKnown());
        QVERIFY(s.waitRepetitions(0));
        // Engaged after a repetition: working 432.064, the radio 1 kHz up.
        s.station.repetition();
        s.station.setFrequencyTracking(true);
        QVERIFY(s.waitRepetitions(1));
        QCOMPARE(s.radio.frequency(), 432065000u + (method == int(DopplerMethod::Specified) ? 0 : 1000));
        const quint32 tracked = s.radio.frequency();
        s.radio.clearFrames();
        QVERIFY(s.connectClient());
        const QByteArray dial = s.ask("f");
        QCOMPARE(s.ask("F " + QByteArray::number(dial.toLongLong() + 55)), QByteArray("RPRT 0"));
        QCOMPARE(s.ask("f"), QByteArray::number(dial.toLongLong() + 55));
        QCOMPARE(s.ask("F " + dial), QByteArray("RPRT 0"));
        QCOMPARE(s.ask("f"), dial);
        QVERIFY(s.waitRepetitions(2));
        for (quint32 hz : setFrequencies(s.radio))
            QCOMPARE(hz, tracked);

        QCOMPARE(s.ask("F 432100000"), QByteArray("RPRT 0"));
        QTRY_COMPARE_WITH_TIMEOUT(s.radio.frequency(), changedHz, 5000);
        QCOMPARE(s.ask("f"), QByteArray("432100000"));
    }

    // One check of a sked against the radio's reach, whichever door it comes
    // through: what the FT-817 cannot take is said and left alone, and the
    // radio is never sent below the long-wave band.
    void skedCheckedAtEveryDoor_data()
    {
        QTest::addColumn<QString>("door");
        QTest::addColumn<double>("skedMHz");
        QTest::addColumn<bool>("taken");
        for (const char *door : {"WSJT-X datagram", "rigctl F", "settings (dialog, API)"}) {
            QTest::addRow("%s, 1 Hz", door) << QString::fromLatin1(door) << 0.000001 << false;
            QTest::addRow("%s, 50 kHz", door) << QString::fromLatin1(door) << 0.05 << false;
            QTest::addRow("%s, 2304.1 MHz", door) << QString::fromLatin1(door) << 2304.1 << false;
            QTest::addRow("%s, 432.1 MHz", door) << QString::fromLatin1(door) << 432.1 << true;
        }
    }
    void skedCheckedAtEveryDoor()
    {
        QFETCH(QString, door);
        QFETCH(double, skedMHz);
        QFETCH(bool, taken);
        RadioStation s {DopplerMethod::OwnEcho, 432065000};
        QVERIFY(s.ready);
        QTRY_VERIFY(s.station.isFrequencyKnown());
        s.station.setFrequencyTracking(true);
        const auto hz = quint64(std::llround(skedMHz * 1e6));
        if (door.startsWith(QLatin1String("WSJT-X"))) {
            wsjtxtesting::StatusFields status;
            status.dialHz = hz;
            status.dxGrid = status.deGrid = nullptr;  // the tracking source stays the test's
            s.sendWsjtx(wsjtxtesting::status(status));
            QTRY_COMPARE(s.station.wsjtx().heard().dialHz, hz);
        } else if (door.startsWith(QLatin1String("rigctl"))) {
            QVERIFY(s.connectClient());
            QCOMPARE(s.ask("F " + QByteArray::number(hz)), taken ? QByteArray("RPRT 0") : QByteArray("RPRT -1"));
        } else {
            DopplerSettings settings = s.station.dopplerSettings();
            settings.skedMHz = skedMHz;
            QCOMPARE(s.station.setDopplerSettings(settings), taken);
        }
        QCOMPARE(s.station.dopplerSettings().skedMHz, taken ? skedMHz : 432.065);
        QCOMPARE(DopplerSettings::read().skedMHz, taken ? skedMHz : 432.065);
        if (!taken)
            QVERIFY2(s.all().contains(QStringLiteral("the radio cannot be set to")), qPrintable(s.all()));
        QVERIFY(s.waitRepetitions(1));
        const quint32 radioHz = taken ? quint32(std::llround(skedMHz * 1e6)) + 1000 : 432066000u;
        QTRY_COMPARE_WITH_TIMEOUT(s.radio.frequency(), radioHz, 5000);
        for (quint32 sent : setFrequencies(s.radio))
            QVERIFY2(sent >= 100000, qPrintable(QString::number(sent)));
    }

    // A sked out of the radio's reach kept in doppler.cfg (from an older
    // Vestrel) is not sent at the next start: an alarm says why.
    void storedSkedOutOfReachNotSent()
    {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        DopplerSettings stored;
        stored.method = DopplerMethod::OwnEcho;
        stored.skedMHz = 0.000001;
        QVERIFY(stored.write());
        SimTransceiver radio;
        radio.setFrequency(432065000);
        TrackingRecord record;
        record.dopplerHome = 500;
        TrackingControl station;
        station.setTimes(defaultRepetitionSeconds, defaultMessageDelayMs);
        station.setTrackingSource(std::make_unique<FixedSource>(&record));
        station.setAuto(StationPort::B, true);
        QVERIFY(station.open(StationPort::B, radio.slavePath(), {}, false));
        QTRY_VERIFY(station.isFrequencyKnown());
        station.setFrequencyTracking(true);
        station.repetition();
        QTRY_VERIFY(station.health().active(Alarm::SkedOutOfRange));
        QVERIFY(station.health().why(Alarm::SkedOutOfRange).contains(QStringLiteral("0.000001 MHz")));
        QVERIFY(setFrequencies(radio).isEmpty());
        QCOMPARE(radio.frequency(), 432065000u);
    }

    // A key the station holds for a client that is still connected but no
    // longer there to let it go: the time limit (3 minutes unless the
    // operator says otherwise) and WSJT-X gone while it said it was
    // transmitting each unkey the radio, with an alarm. The clock is the
    // station's own, moved by the test.
    void keyLetGo_data()
    {
        QTest::addColumn<int>("limitSeconds");  // -1: the default
        QTest::addColumn<int>("wsjtx");  // 0: none heard, 1: transmitting, then closes, 2: then falls silent
        QTest::addColumn<int>("heldSeconds");   // the clock moved on by this
        QTest::addColumn<bool>("released");
        QTest::addColumn<QString>("said");
        QTest::newRow("default limit, 3 min") << -1 << 0 << 180 << true
                                              << QStringLiteral("transmitting for 180 s, the transmit time limit: the radio unkeyed");
        QTest::newRow("default limit, 179 s") << -1 << 0 << 179 << false << QString();
        // The operator's knob turned, as doppler.cfg or the API's transmitLimit sets it.
        QTest::newRow("limit off, an hour") << 0 << 0 << 3600 << false << QString();
        QTest::newRow("limit 30 s") << 30 << 0 << 30 << true
                                    << QStringLiteral("transmitting for 30 s, the transmit time limit: the radio unkeyed");
        QTest::newRow("WSJT-X closes while transmitting") << -1 << 1 << 0 << true
                                                          << QStringLiteral("WSJT-X closed while transmitting: the radio unkeyed");
        QTest::newRow("WSJT-X silent while transmitting") << -1 << 2 << WsjtxFollow::silentSeconds << true
                                                          << QStringLiteral("WSJT-X silent for 30 s while transmitting: the radio unkeyed");
    }
    void keyLetGo()
    {
        QFETCH(int, limitSeconds);
        QFETCH(int, wsjtx);
        QFETCH(int, heldSeconds);
        QFETCH(bool, released);
        QFETCH(QString, said);
        RadioStation s {DopplerMethod::OwnEcho, 432065000};
        QVERIFY(s.ready);
        QCOMPARE(s.station.dopplerSettings().transmitLimitSeconds, 180);
        if (limitSeconds >= 0) {
            DopplerSettings settings = s.station.dopplerSettings();
            settings.transmitLimitSeconds = limitSeconds;
            QVERIFY(s.station.setDopplerSettings(settings));
            QCOMPARE(DopplerSettings::read().transmitLimitSeconds, limitSeconds);
        }
        QTRY_VERIFY(s.station.isFrequencyKnown());
        s.station.setFrequencyTracking(true);
        if (wsjtx) {
            wsjtxtesting::StatusFields status;
            status.dialHz = 432065000;
            status.transmitting = true;
            status.dxGrid = status.deGrid = nullptr;
            s.sendWsjtx(wsjtxtesting::status(status));
            QTRY_VERIFY(s.station.wsjtx().heard().transmitting);
        }
        QVERIFY(s.connectClient());
        QCOMPARE(s.ask("T 1"), QByteArray("RPRT 0"));
        QTRY_VERIFY(s.radio.transmitting());

        if (wsjtx == 1)
            s.sendWsjtx(wsjtxtesting::closing());
        s.clock = t0.addSecs(heldSeconds);
        if (released) {
            QTRY_VERIFY(!s.radio.transmitting());
            QVERIFY(s.station.health().active(Alarm::KeyReleased));
            QCOMPARE(s.station.health().why(Alarm::KeyReleased), said);
            QCOMPARE(s.count(said), 1);
            QCOMPARE(s.ask("t"), QByteArray("0"));
            // The next key is the client's own again.
            QCOMPARE(s.ask("T 1"), QByteArray("RPRT 0"));
            QTRY_VERIFY(s.radio.transmitting());
            QVERIFY(!s.station.health().active(Alarm::KeyReleased));
            QCOMPARE(s.ask("T 0"), QByteArray("RPRT 0"));
        } else {
            // Two checks of the keys go by, once a second.
            QSignalSpy ticks(&s.station, &TrackingControl::ticked);
            QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 2, 10000);
            QVERIFY(s.radio.transmitting());
            QVERIFY(!s.station.health().active(Alarm::KeyReleased));
            QCOMPARE(s.ask("T 0"), QByteArray("RPRT 0"));
        }
        QTRY_VERIFY(!s.radio.transmitting());
    }
};

QTEST_GUILESS_MAIN(tst_CoreRadioDoors)
#include "tst_coreradiodoors.moc"
