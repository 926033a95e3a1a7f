// SPDX-License-Identifier: GPL-3.0-or-later
// Hamlib linked into the station, no daemon: its dummy radio and rotator
// (model 1) in this process, and its FT-817 backend (model 1020) driving the
// simulated FT-817 over a pty, so that the frames come from Hamlib, at
// store.cfg's and Hamlib's defaults. Expected values are Hamlib's own: the
// dummy models' ranges as rigctl -m 1 and rotctl -m 1 print them in
// "\dump_state", the FT-817's frames from its CAT manual.

#include "defaultstation.h"
#include "fixedsource.h"
#include "links/rotatorlink.h"
#include "links/transceiverlink.h"
#include "sim/simtransceiver.h"

#include <QtTest>

namespace {

constexpr int ft817 = 1020;

// A station whose port B (or A) is driven by Hamlib linked in.
struct LinkedStation : DefaultStation {
    LinkedStation(StationPort port, const HamlibDevice &device)
    {
        NetworkSettings settings = station.networkSettings();
        (port == StationPort::A ? settings.rotLinked : settings.rigLinked) = true;
        (port == StationPort::A ? settings.hamlibRotator : settings.hamlibRadio) = device;
        station.setNetworkSettings(settings);
        station.setLinked(port, true);
    }
};

// The simulated FT-817 through Hamlib's backend in Auto, with every
// frequency shown kept and the station's loop watched for stalls.
struct WatchedFt817 {
    WatchedFt817()
    {
        radio.setAcknowledge(true);
        radio.setFrequency(144100000);
        s.station.setAuto(StationPort::B, true);
        QObject::connect(&s.station, &TrackingControl::changed, &s.station, [this] {
            if (const auto reading = s.station.shownFrequency(); reading && (shown.isEmpty() || shown.last() != reading->mhz))
                shown.append(reading->mhz);
        });
        QObject::connect(&tick, &QTimer::timeout, &tick, [this] { longestGap = qMax(longestGap, sinceTick.restart()); });
    }
    // From here on, the longest the loop went without turning.
    void watchTheLoop()
    {
        sinceTick.start();
        tick.start(50);
    }

    SimTransceiver radio;
    LinkedStation s {StationPort::B, {ft817, 0, {}}};
    QList<double> shown;
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer tick;
};

QByteArray frame(std::initializer_list<int> bytes)
{
    QByteArray made;
    for (int byte : bytes)
        made.append(char(byte));
    return made;
}

} // namespace

class tst_CoreHamlibLinked : public QObject
{
    Q_OBJECT

private slots:
    // Hamlib's dummy radio: read, tuned and keyed through the link, its
    // ranges taken from the model's own table.
    void dummyRadio()
    {
        // The dummy keys only when told its PTT is the radio's own (rigctl's -P RIG).
        LinkedStation s(StationPort::B, {1, 0, QStringLiteral("ptt_type=RIG")});
        s.station.setAuto(StationPort::B, true);
        QVERIFY(s.station.open(StationPort::B, QStringLiteral("dummy"), {}, false));
        QTRY_VERIFY2(s.station.isFrequencyKnown(), qPrintable(s.all()));
        QCOMPARE(s.count(QStringLiteral("connected to Hamlib's Hamlib Dummy on dummy")), 1);
        QCOMPARE(s.station.shownFrequency()->mhz, 145.0);  // the dummy's frequency at start
        const TransceiverLink *link = s.station.transceiver();
        // rigctl -m 1 '\dump_state': "150000.000000 1500000000.000000 ..."
        QCOMPARE(link->frequencyRanges(), (QList<std::pair<double, double>> {{150000.0, 1500000000.0}}));
        QVERIFY(!link->canCarry(10368000000LL));

        const_cast<TransceiverLink *>(link)->setFrequency(432065000);
        QTRY_COMPARE(s.station.shownFrequency()->mhz, 432.065);
        QVERIFY(s.station.key(true));
        QTRY_VERIFY(s.station.shownFrequency()->transmitting);
        QVERIFY(s.station.key(false));
        QTRY_VERIFY(!s.station.shownFrequency()->transmitting);
        QVERIFY2(!s.all().contains(QLatin1String("error")), qPrintable(s.all()));
    }

    // Hamlib's dummy rotator: its travel learned, parked through the planner.
    void dummyRotator()
    {
        LinkedStation s(StationPort::A, {1, 0, {}});
        QList<std::pair<double, double>> readings;
        connect(&s.station, &TrackingControl::antennaPosition, this,
                [&](double azimuth, double elevation) { readings.append({azimuth, elevation}); });
        QVERIFY(s.station.open(StationPort::A, QStringLiteral("dummy"), {}, false));
        const auto rotator = [&] { return qobject_cast<RotatorLink *>(s.station.portSession(StationPort::A).link); };
        QTRY_VERIFY(s.station.portSession(StationPort::A).open && rotator()->ready());
        // rotctl -m 1 '\dump_state': min_az=-180, max_az=450, min_el=0, max_el=90
        const auto travel = rotator()->travel();
        QVERIFY(travel);
        QCOMPARE(travel->minAzimuth, -180.0);
        QCOMPARE(travel->maxAzimuth, 450.0);
        QCOMPARE(travel->maxElevation, 90.0);
        s.station.park(12, 6);
        // The dummy turns a few degrees a second.
        QTRY_VERIFY_WITH_TIMEOUT(!readings.isEmpty() && std::abs(readings.last().first - 12) < 0.5
                                     && std::abs(readings.last().second - 6) < 0.5,
                                 15000);
    }

    // Hamlib's FT-817 backend on the simulated radio: readout, frequency and
    // PTT end to end, in the radio's own frames.
    void ft817BackendOnTheSimulatedRadio()
    {
        SimTransceiver radio;
        radio.setAcknowledge(true);
        radio.setFrequency(144100000);
        LinkedStation s(StationPort::B, {ft817, 0, {}});
        s.station.setAuto(StationPort::B, true);
        QVERIFY(s.station.open(StationPort::B, radio.slavePath(), {}, false));
        QTRY_VERIFY_WITH_TIMEOUT(s.station.isFrequencyKnown(), 10000);
        QCOMPARE(s.station.shownFrequency()->mhz, 144.1);
        QVERIFY(radio.frames().contains(frame({0, 0, 0, 0, 0x03})));  // read frequency and mode

        const_cast<TransceiverLink *>(s.station.transceiver())->setFrequency(432065120);
        QTRY_COMPARE(radio.frequency(), 432065120u);
        QVERIFY(radio.frames().contains(frame({0x43, 0x20, 0x65, 0x12, 0x01})));
        QVERIFY(s.station.key(true));
        QTRY_VERIFY(radio.transmitting());
        QVERIFY(radio.frames().contains(frame({0, 0, 0, 0, 0x08})));
        QVERIFY(s.station.key(false));
        QTRY_VERIFY(!radio.transmitting());
        QVERIFY(radio.frames().contains(frame({0, 0, 0, 0, 0x88})));
    }

    // A radio that stops answering: Hamlib's FT-817 backend waits its own
    // time-outs on the link's thread; the station's loop keeps turning, the
    // readout is said missing, and when the radio answers again no late
    // answer is taken for a later command.
    void silentRadioNeverStallsTheStation()
    {
        WatchedFt817 w;
        QVERIFY(w.s.station.open(StationPort::B, w.radio.slavePath(), {}, false));
        QTRY_VERIFY_WITH_TIMEOUT(w.s.station.isFrequencyKnown(), 10000);

        w.radio.setSilent(true);
        w.watchTheLoop();
        QTRY_VERIFY_WITH_TIMEOUT(w.s.all().contains(QLatin1String("no answer")), 10000);
        QVERIFY2(w.longestGap < 1000, qPrintable(QString::number(w.longestGap)));

        w.radio.setFrequency(145500000);
        w.radio.setSilent(false);
        QTRY_COMPARE_WITH_TIMEOUT(w.s.station.shownFrequency()->mhz, 145.5, 30000);
        w.tick.stop();
        QVERIFY2(w.longestGap < 1000, qPrintable(QString::number(w.longestGap)));
        for (double mhz : w.shown)
            QVERIFY2(mhz == 144.1 || mhz == 145.5, qPrintable(QString::number(mhz, 'f', 6)));
    }

    // A radio that hangs just after it gave its frequency, while Hamlib
    // waits for its transmit state: said not answering, and not cleared when
    // the station gives up that query or Hamlib's own time-out comes back;
    // the frequency read before is no news after it. Said again, once, when
    // it answers.
    void hungRadioStaysNotAnswering()
    {
        WatchedFt817 w;
        QVERIFY(w.s.station.open(StationPort::B, w.radio.slavePath(), {}, false));
        QTRY_VERIFY_WITH_TIMEOUT(w.s.station.isFrequencyKnown(), 10000);

        bool hung = false;
        connect(&w.radio, &SimTransceiver::frameReceived, this, [&](const QByteArray &frame) {
            if (frame.endsWith(char(0xF7)) && !hung) {  // read the transmit state
                w.radio.setSilent(true);
                hung = true;
            }
        });
        int readAfterHang = 0;
        auto *link = const_cast<TransceiverLink *>(w.s.station.transceiver());
        connect(link, &TransceiverLink::frequencyReceived, this, [&] { readAfterHang += hung ? 1 : 0; });
        bool cleared = false;
        connect(&w.s.station, &TrackingControl::changed, this, [&] {
            cleared = cleared || (hung && w.s.count(QStringLiteral("radio not answering")) > 0
                                  && !w.s.station.health().active(Alarm::RadioSilent));
        });
        QTRY_VERIFY_WITH_TIMEOUT(w.s.station.health().active(Alarm::RadioSilent), 15000);
        // The query of the transmit state given up.
        QTRY_VERIFY_WITH_TIMEOUT(w.s.count(QStringLiteral("no answer from %1 to t").arg(link->target())) > 0, 15000);
        QVERIFY2(!cleared && w.s.count(QStringLiteral("radio answering again")) == 0, qPrintable(w.s.all()));
        QCOMPARE(readAfterHang, 0);

        w.radio.setSilent(false);
        QTRY_VERIFY_WITH_TIMEOUT(!w.s.station.health().active(Alarm::RadioSilent), 30000);
        QCOMPARE(w.s.count(QStringLiteral("radio answering again")), 1);
    }

    // Bad replies on the radio's line reach Hamlib, not us: whatever its
    // backend makes of them, no frequency the radio was never on is shown,
    // the line is not taken for lost, the loop keeps turning, and the radio
    // is read again once it is well. (Noise on the line, unasked, is left
    // out: Hamlib 4.5.4's serial flush can overrun its own stack on it.)
    void badReplies()
    {
        WatchedFt817 w;
        QVERIFY(w.s.station.open(StationPort::B, w.radio.slavePath(), {}, false));
        QTRY_VERIFY_WITH_TIMEOUT(w.s.station.isFrequencyKnown(), 10000);

        w.watchTheLoop();
        w.radio.setGarbage(true);  // each reply a byte too long, of 0xEE bytes
        QTest::qWait(5000);
        w.radio.setGarbage(false);
        w.radio.setFrequency(145500000);
        QTRY_COMPARE_WITH_TIMEOUT(w.s.station.shownFrequency() ? w.s.station.shownFrequency()->mhz : 0.0, 145.5, 30000);
        w.tick.stop();
        QVERIFY2(w.longestGap < 1000, qPrintable(QString::number(w.longestGap)));
        QVERIFY2(w.s.log.filter(QStringLiteral(" lost")).isEmpty(), qPrintable(w.s.all()));
        for (double mhz : w.shown)
            QVERIFY2(mhz == 144.1 || mhz == 145.5, qPrintable(QString::number(mhz, 'f', 6)));
    }

    // A radio unplugged while Hamlib drives it: the link is lost, the
    // station waits, and the radio back on the same name is opened again
    // and read, at the default reconnect.
    void unpluggedAndBack()
    {
        SimTransceiver radio;
        radio.setAcknowledge(true);
        radio.setFrequency(144100000);
        LinkedStation s(StationPort::B, {ft817, 0, {}});
        // The name the operator picked, as /dev/serial/by-id gives one.
        const QString line = s.dir.filePath(QStringLiteral("radio-line"));
        QVERIFY(QFile::link(radio.slavePath(), line));
        s.station.setAuto(StationPort::B, true);
        QVERIFY(s.station.open(StationPort::B, line, {}, false));
        QTRY_VERIFY_WITH_TIMEOUT(s.station.isFrequencyKnown(), 10000);

        radio.hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(s.station.isReconnecting(StationPort::B), 15000);
        QVERIFY(!s.station.portSession(StationPort::B).open);
        radio.setFrequency(145500000);
        QVERIFY(radio.reopen());
        QVERIFY(QFile::remove(line) && QFile::link(radio.slavePath(), line));
        QTRY_COMPARE_WITH_TIMEOUT(s.station.shownFrequency() ? s.station.shownFrequency()->mhz : 0.0, 145.5, 30000);
        QCOMPARE(s.count(QStringLiteral("connected to Hamlib's Yaesu FT-817 on ")), 2);
    }

    // A model that cannot be opened says why in Hamlib's words, once, however
    // often the station tries again.
    void openFailsSaidOnce_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QString>("config");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no such device") << ft817 << QString() << QStringLiteral("/dev/vestrel-none")
                                        << QStringLiteral("IO error");
        QTest::newRow("no such model") << 999999 << QString() << QStringLiteral("/dev/null")
                                       << QStringLiteral("Hamlib has no radio model 999999");
        QTest::newRow("no such setting") << 1 << QStringLiteral("cache_timeout=0,nonesuch=1") << QStringLiteral("dummy")
                                         << QStringLiteral("the model has no setting nonesuch");
        QTest::newRow("setting without a value") << 1 << QStringLiteral("nonesuch") << QStringLiteral("dummy")
                                                 << QStringLiteral("not a name=value setting: nonesuch");
    }
    void openFailsSaidOnce()
    {
        QFETCH(int, model);
        QFETCH(QString, config);
        QFETCH(QString, path);
        QFETCH(QString, reason);
        LinkedStation s(StationPort::B, {model, 0, config});
        QVERIFY(s.station.open(StationPort::B, path, {}, false));
        QTRY_VERIFY_WITH_TIMEOUT(s.station.health().active(Alarm::RadioUnreachable), 10000);
        QVERIFY2(s.station.health().why(Alarm::RadioUnreachable).contains(reason),
                 qPrintable(s.station.health().why(Alarm::RadioUnreachable)));
        // One try again at the default backoff (1 s) has failed when the next waits 2 s.
        QTRY_COMPARE_WITH_TIMEOUT(s.station.portSession(StationPort::B).secondsToRetry(), 2, 10000);
        QCOMPARE(s.count(QStringLiteral("connection to ")), 1);
        QCOMPARE(s.log.filter(reason).size(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_CoreHamlibLinked)
#include "tst_corehamliblinked.moc"
