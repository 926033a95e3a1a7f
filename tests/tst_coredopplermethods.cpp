// SPDX-License-Identifier: GPL-3.0-or-later
// The Doppler methods end to end: the simulated FT-817 on a pseudo-terminal
// receiving and transmitting, and split through rigctld's dummy radio.

#include "fixedsource.h"
#include "hamlibtesting.h"
#include "links/transceiverlink.h"
#include "sim/simtransceiver.h"
#include "station/trackingcontrol.h"
#include "transceiver/catframes.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray lastSetFrame(const SimTransceiver &radio)
{
    const QList<QByteArray> frames = radio.frames();
    for (auto frame = frames.crbegin(); frame != frames.crend(); ++frame)
        if (frame->size() == cat::frameSize && quint8(frame->at(4)) == cat::setFrequencyCommand.opcode)
            return *frame;
    return {};
}

// One readout, waited for until its answer has reached the station.
bool readBack(TrackingControl &station)
{
    auto *link = qobject_cast<TransceiverLink *>(station.portSession(StationPort::B).link);
    if (!link)
        return false;
    QSignalSpy answered(link, &TransceiverLink::frequencyReceived);
    station.readout();
    return answered.wait(5000);
}

int linesWith(const QStringList &lines, const QString &part)
{
    return int(lines.filter(part).size());
}

} // namespace

class tst_CoreDopplerMethods : public QObject
{
    Q_OBJECT

private slots:
    // Three repetitions receiving, then three transmitting, each with the
    // shifts moving: the radio gets the method's receive, then its transmit
    // frequency, as the IF behind a transverter where there is one.
    void methodsOnSimulatedRadio_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<double>("skedMHz");
        QTest::addColumn<double>("loMHz");  // 0: no transverter
        QTest::addColumn<double>("receiveSelf");  // receive offset per Hz of self and of DX
        QTest::addColumn<double>("receiveDx");
        QTest::addColumn<double>("transmitSelf");
        QTest::addColumn<double>("transmitDx");
        QTest::newRow("full to dx grid") << int(DopplerMethod::FullToDxGrid) << 432.065 << 0.0 << 0.0 << 1.0 << 0.0
                                         << -1.0;
        QTest::newRow("own echo") << int(DopplerMethod::OwnEcho) << 432.065 << 0.0 << 1.0 << 0.0 << 0.0 << 0.0;
        QTest::newRow("constant on moon") << int(DopplerMethod::ConstantOnMoon) << 1296.05 << 1152.0 << 0.5 << 0.0
                                          << -0.5 << 0.0;
        QTest::newRow("on dx echo") << int(DopplerMethod::OnDxEcho) << 10368.1 << 10224.0 << 0.0 << 1.0 << -1.0
                                    << 1.0;
        QTest::newRow("call dx") << int(DopplerMethod::CallDx) << 144.12 << 0.0 << 0.0 << 0.0 << -1.0 << 0.0;
    }
    void methodsOnSimulatedRadio()
    {
        QFETCH(int, method);
        QFETCH(double, skedMHz);
        QFETCH(double, loMHz);
        QFETCH(double, receiveSelf);
        QFETCH(double, receiveDx);
        QFETCH(double, transmitSelf);
        QFETCH(double, transmitDx);
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        SimTransceiver radio;
        radio.setFrequency(144000000);
        TrackingRecord record;
        TrackingControl station;
        station.setTrackingSource(std::make_unique<FixedSource>(&record));
        station.setTimes(600, 60000);  // repetitions and readouts by hand below
        DopplerSettings settings;
        settings.method = DopplerMethod(method);
        settings.skedMHz = skedMHz;
        settings.transverter = {loMHz > 0, loMHz * 1e6, false};
        station.setDopplerSettings(settings);
        station.setAuto(StationPort::B, true);
        QVERIFY(station.open(StationPort::B, radio.slavePath(), {}, false));
        QTRY_VERIFY(station.isFrequencyKnown());
        station.setFrequencyTracking(true);
        for (int repetition = 0; repetition < 6; ++repetition) {
            const bool transmitting = repetition >= 3;
            if (transmitting != station.doppler().transmitting) {
                radio.setTransmitting(transmitting);
                station.readout();
                QTRY_COMPARE(station.doppler().transmitting, transmitting);
            }
            record.dopplerHome = -1000.0 + 70.0 * repetition;
            record.dopplerDx = 600.0 - 40.0 * repetition;
            station.repetition();
            const double offset = transmitting
                ? transmitSelf * record.dopplerHome + transmitDx * record.dopplerDx
                : receiveSelf * record.dopplerHome + receiveDx * record.dopplerDx;
            const double radioHz = skedMHz * 1e6 + offset - loMHz * 1e6;
            QTRY_COMPARE(lastSetFrame(radio), cat::setFrequencyFrame(quint32(std::round(radioHz))));
            QVERIFY(station.methodFrequencies().has_value());
        }
        // Unticked: nothing more is sent.
        station.setFrequencyTracking(false);
        const QByteArray last = lastSetFrame(radio);
        record.dopplerHome = 5000;
        station.repetition();
        QVERIFY(!station.methodFrequencies());
        QCOMPARE(lastSetFrame(radio), last);
        station.closeAll();
    }

    // A hand on the dial while a method tracks: the readout, off what was
    // written by more than a few steps twice over, becomes an offset to the
    // sked frequency, said once; the station then follows the Doppler from
    // where the operator tuned (Call DX's receive frequency is not written
    // again at all). Unticking, or a new sked frequency, drops it.
    void dialTakenAsOffset_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<double>("skedMHz");
        QTest::addColumn<double>("loMHz");  // 0: no transverter
        QTest::addColumn<bool>("loAbove");
        QTest::addColumn<int>("tunedHz");   // on the radio's dial
        QTest::addColumn<int>("skyTunedHz");
        QTest::newRow("own echo up") << int(DopplerMethod::OwnEcho) << 432.065 << 0.0 << false << 500 << 500;
        QTest::newRow("full doppler down") << int(DopplerMethod::FullToDxGrid) << 144.12 << 0.0 << false << -1230
                                           << -1230;
        QTest::newRow("constant on moon, lo below") << int(DopplerMethod::ConstantOnMoon) << 10368.1 << 10224.0
                                                    << false << 800 << 800;
        QTest::newRow("on dx echo, lo above") << int(DopplerMethod::OnDxEcho) << 2304.1 << 2736.0 << true << 300
                                              << -300;
        QTest::newRow("call dx") << int(DopplerMethod::CallDx) << 1296.05 << 864.0 << false << -700 << -700;
    }
    void dialTakenAsOffset()
    {
        QFETCH(int, method);
        QFETCH(double, skedMHz);
        QFETCH(double, loMHz);
        QFETCH(bool, loAbove);
        QFETCH(int, tunedHz);
        QFETCH(int, skyTunedHz);
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        SimTransceiver radio;
        radio.setFrequency(144000000);
        TrackingRecord record;
        record.dopplerHome = -1500;
        record.dopplerDx = -700;
        TrackingControl station;
        QStringList log;
        connect(&station, &TrackingControl::message, this, [&log](const QString &line) { log << line; });
        station.setTrackingSource(std::make_unique<FixedSource>(&record));
        station.setTimes(600, 60000);
        DopplerSettings settings;
        settings.method = DopplerMethod(method);
        settings.skedMHz = skedMHz;
        settings.transverter = {loMHz > 0, loMHz * 1e6, loAbove};
        station.setDopplerSettings(settings);
        station.setAuto(StationPort::B, true);
        QVERIFY(station.open(StationPort::B, radio.slavePath(), {}, false));
        QTRY_VERIFY(station.isFrequencyKnown());
        station.setFrequencyTracking(true);
        // The radio's frequency for the sky frequency the method gives, within its 10 Hz.
        const auto radioFor = [&](double skyHz) { return std::fabs(loMHz * 1e6 - skyHz); };
        const auto expectedSky = [&](double offset) {
            return ::methodFrequencies(DopplerMethod(method), settings.skedMHz * 1e6 + offset, record.dopplerHome,
                                       record.dopplerDx)
                .receiveHz;
        };
        const auto onFrequency = [&](double offset) {
            return std::fabs(double(radio.frequency()) - radioFor(expectedSky(offset))) <= 5;
        };
        station.repetition();
        QTRY_VERIFY(onFrequency(0));
        QCOMPARE(linesWith(log, QStringLiteral("Doppler method")), 1);
        // Readouts of what the station wrote are its own.
        QVERIFY(readBack(station));
        QVERIFY(readBack(station));
        QCOMPARE(station.dialOffsetHz(), 0.0);

        radio.setFrequency(quint32(qint64(radio.frequency()) + tunedHz));
        const quint32 tuned = radio.frequency();
        QVERIFY(readBack(station));
        QCOMPARE(station.dialOffsetHz(), 0.0);  // once could be a readout from before a write
        QVERIFY(readBack(station));
        QVERIFY2(std::fabs(station.dialOffsetHz() - skyTunedHz) <= 5,
                 qPrintable(QString::number(station.dialOffsetHz())));
        QVERIFY(readBack(station));
        QCOMPARE(linesWith(log, QStringLiteral("tuned by hand")), 1);

        const int frames = int(radio.frames().size());
        station.repetition();
        if (DopplerMethod(method) == DopplerMethod::CallDx) {
            QTest::qWait(200);
            QCOMPARE(radio.frequency(), tuned);
            for (const QByteArray &frame : radio.frames().mid(frames))
                QVERIFY(quint8(frame.at(4)) != cat::setFrequencyCommand.opcode);
        } else {
            record.dopplerHome += 230;
            record.dopplerDx -= 110;
            station.repetition();
            QTRY_VERIFY(onFrequency(station.dialOffsetHz()));
            QVERIFY(!onFrequency(0));
        }
        QVERIFY(readBack(station));
        QCOMPARE(linesWith(log, QStringLiteral("tuned by hand")), 1);
        QCOMPARE(linesWith(log, QStringLiteral("Doppler method")), 1);

        // A new sked frequency starts afresh once it stood, and goes out
        // then, with no repetition to wait for; so does unticking.
        settings.skedMHz += 0.001;
        station.setDopplerSettings(settings);
        QTRY_COMPARE(station.dialOffsetHz(), 0.0);
        QTRY_VERIFY(onFrequency(0));
        radio.setFrequency(quint32(qint64(radio.frequency()) + tunedHz));
        QVERIFY(readBack(station));
        QVERIFY(readBack(station));
        QVERIFY(station.dialOffsetHz() != 0.0);
        station.setFrequencyTracking(false);
        QCOMPARE(station.dialOffsetHz(), 0.0);
        station.closeAll();
    }

    // A radio that cannot retune while transmitting: one transmit frequency
    // for the middle of the period under way, from the record carried forward
    // by its rates, written when the key is seen down and held to the end.
    void transmitHeldForThePeriod_data()
    {
        QTest::addColumn<QTime>("clock");
        QTest::addColumn<int>("period");
        QTest::addColumn<double>("selfRate");  // Hz per minute
        QTest::addColumn<double>("secondsAhead");
        QTest::newRow("10 s into a minute") << QTime(12, 0, 10) << 60 << 60.0 << 20.0;
        QTest::newRow("50 s into a minute") << QTime(12, 0, 50) << 60 << -90.0 << -20.0;
        QTest::newRow("2-minute periods") << QTime(12, 3, 0) << 120 << 120.0 << 0.0;
        QTest::newRow("30 s periods") << QTime(23, 59, 31) << 30 << 600.0 << 14.0;
    }
    void transmitHeldForThePeriod()
    {
        QFETCH(QTime, clock);
        QFETCH(int, period);
        QFETCH(double, selfRate);
        QFETCH(double, secondsAhead);
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        SimTransceiver radio;
        radio.setFrequency(432000000);
        TrackingRecord record;
        record.dopplerHome = -1000;
        record.dopplerHomeRate = selfRate;
        TrackingControl station;
        const QDateTime now(QDate(2026, 12, 7), clock, Qt::UTC);
        station.setClock([now] { return now; });
        station.setTrackingSource(std::make_unique<FixedSource>(&record));
        station.setTimes(600, 60000);
        DopplerSettings settings;
        settings.method = DopplerMethod::ConstantOnMoon;
        settings.skedMHz = 432.065;
        settings.holdTransmit = true;
        settings.transmitPeriodSeconds = period;
        station.setDopplerSettings(settings);
        station.setAuto(StationPort::B, true);
        QVERIFY(station.open(StationPort::B, radio.slavePath(), {}, false));
        QTRY_VERIFY(station.isFrequencyKnown());
        station.setFrequencyTracking(true);
        radio.setTransmitting(true);
        station.readout();
        QTRY_VERIFY(station.doppler().transmitting);
        station.repetition();
        const double self = record.dopplerHome + selfRate * secondsAhead / 60.0;
        const QByteArray held = cat::setFrequencyFrame(quint32(std::round(432.065e6 - self / 2)));
        QTRY_COMPARE(lastSetFrame(radio), held);
        // Still transmitting: not retuned, however the shift moves.
        const int frames = int(radio.frames().size());
        record.dopplerHome += 400;
        station.repetition();
        station.readout();
        QTRY_VERIFY(radio.frames().size() > frames);
        QCOMPARE(lastSetFrame(radio), held);
        // Receiving again: the receive frequency at once.
        radio.setTransmitting(false);
        station.readout();
        QTRY_VERIFY(!station.doppler().transmitting);
        station.repetition();
        QTRY_VERIFY(lastSetFrame(radio) != held);
        station.closeAll();
    }

    // Split through the real rigctld's dummy radio: "S 1 VFOB" once, receive
    // on VFO A and transmit on VFO B; a change below the step or within a
    // second is not written.
    void splitThroughRigctld()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("rigctld")).isEmpty())
            QSKIP("rigctld is not installed (Debian package libhamlib-utils)");
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        hamlibtesting::Daemon rig(QStringLiteral("rigctld"), {QStringLiteral("-m"), QStringLiteral("1")});
        QVERIFY(rig.start());
        // A probe's connection is now and then closed unanswered by the daemon: asked again.
        const auto ask = [&rig](const QByteArray &command, int lines = 1) {
            QByteArrayList answer;
            for (int attempt = 0; attempt < 5 && answer.size() < lines; ++attempt)
                answer = rig.ask(command, lines);
            return answer;
        };
        TrackingRecord record;
        record.dopplerHome = -2000;
        record.dopplerDx = -1000;
        TrackingControl station;
        station.setTrackingSource(std::make_unique<FixedSource>(&record));
        station.setTimes(600, 60000);
        DopplerSettings settings;
        settings.method = DopplerMethod::ConstantOnMoon;
        settings.skedMHz = 10368.100000;
        settings.transverter = {true, 10224e6, false};
        settings.split = true;
        station.setDopplerSettings(settings);
        station.setAuto(StationPort::B, true);
        station.setNetwork(StationPort::B, true);

        QVERIFY(station.open(StationPort::B, rig.address(), {}, false));
        QTRY_VERIFY(station.isFrequencyKnown());
        station.setFrequencyTracking(true);
        QElapsedTimer sinceFirst;
        sinceFirst.start();
        station.repetition();
        QVERIFY(station.isSplitActive());
        QTRY_COMPARE(ask("s", 2), (QByteArrayList {"1", "VFOB"}));
        QTRY_COMPARE(ask("f"), QByteArrayList {"144099000"});  // 144.1 MHz - 1000 Hz
        QTRY_COMPARE(ask("i"), QByteArrayList {"144101000"});  // + 1000 Hz
        // Within the second: held back, then written.
        record.dopplerHome = -1990;
        station.repetition();
        QCOMPARE(ask("f"), QByteArrayList {"144099000"});
        QTRY_VERIFY_WITH_TIMEOUT((station.repetition(), ask("f") == QByteArrayList {"144099005"}), 5000);
        QVERIFY(sinceFirst.elapsed() >= 1000);
        QTRY_COMPARE(ask("i"), QByteArrayList {"144100995"});
        // Unticked: back to one VFO.
        station.setFrequencyTracking(false);
        // Generous: the daemon answers each probe's new connection slowly on a busy machine.
        QTRY_COMPARE_WITH_TIMEOUT(ask("s", 2), (QByteArrayList {"0", "VFOA"}), 20000);
        station.closeAll();
    }
    // A radio that went away and came back: the operator's tuning stands.
    void dialKeptThroughReconnect()
    {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        SimTransceiver radio;
        const QString link = dir.filePath(QStringLiteral("radio"));
        QVERIFY(QFile::link(radio.slavePath(), link));
        TrackingRecord record;
        record.dopplerHome = -800;
        TrackingControl station;
        station.setTrackingSource(std::make_unique<FixedSource>(&record));
        station.setTimes(600, 60000);
        DopplerSettings settings;
        settings.method = DopplerMethod::OwnEcho;
        settings.skedMHz = 432.065;
        station.setDopplerSettings(settings);
        station.setAuto(StationPort::B, true);
        QVERIFY(station.open(StationPort::B, link, {}, false));
        QTRY_VERIFY(station.isFrequencyKnown());
        station.setFrequencyTracking(true);
        station.repetition();
        QTRY_COMPARE(radio.frequency(), 432064200u);
        radio.setFrequency(432064800);
        QVERIFY(readBack(station));
        QVERIFY(readBack(station));
        QCOMPARE(station.dialOffsetHz(), 600.0);
        radio.hangUp();
        QTRY_VERIFY(station.isReconnecting(StationPort::B));
        radio.reopen();
        QFile::remove(link);
        QVERIFY(QFile::link(radio.slavePath(), link));
        QTRY_VERIFY_WITH_TIMEOUT(station.portSession(StationPort::B).open, 10000);
        QVERIFY(station.doppler().tracking());
        QCOMPARE(station.dialOffsetHz(), 600.0);
        record.dopplerHome = -700;
        station.repetition();
        QTRY_COMPARE(radio.frequency(), 432064900u);
        station.closeAll();
    }

    // The radio is not left in split when the station lets it go: port B
    // closed, or the station shut down (as when the program ends).
    void splitEndsWithThePort_data()
    {
        QTest::addColumn<bool>("shutDown");
        QTest::newRow("port B closed") << false;
        QTest::newRow("station shut down") << true;
    }
    void splitEndsWithThePort()
    {
        QFETCH(bool, shutDown);
        if (QStandardPaths::findExecutable(QStringLiteral("rigctld")).isEmpty())
            QSKIP("rigctld is not installed (Debian package libhamlib-utils)");
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        hamlibtesting::Daemon rig(QStringLiteral("rigctld"), {QStringLiteral("-m"), QStringLiteral("1")});
        QVERIFY(rig.start());
        const auto ask = [&rig](const QByteArray &command, int lines = 1) {
            QByteArrayList answer;
            for (int attempt = 0; attempt < 5 && answer.size() < lines; ++attempt)
                answer = rig.ask(command, lines);
            return answer;
        };
        TrackingRecord record;
        record.dopplerHome = -2000;
        auto station = std::make_unique<TrackingControl>();
        station->setTrackingSource(std::make_unique<FixedSource>(&record));
        station->setTimes(600, 60000);
        DopplerSettings settings;
        settings.method = DopplerMethod::OwnEcho;
        settings.skedMHz = 432.065;
        settings.split = true;
        station->setDopplerSettings(settings);
        station->setAuto(StationPort::B, true);
        station->setNetwork(StationPort::B, true);
        QVERIFY(station->open(StationPort::B, rig.address(), {}, false));
        QTRY_VERIFY(station->isFrequencyKnown());
        station->setFrequencyTracking(true);
        station->repetition();
        QTRY_COMPARE(ask("s", 2), (QByteArrayList {"1", "VFOB"}));
        QTRY_COMPARE(ask("i"), QByteArrayList {"432065000"});
        if (shutDown)
            station.reset();
        else
            station->close(StationPort::B);
        QTRY_COMPARE_WITH_TIMEOUT(ask("s", 2), (QByteArrayList {"0", "VFOA"}), 20000);
    }

    // Closing port B in split says "S 0" to the daemon once, not from both
    // the station and the link.
    void splitEndedOnce()
    {
        hamlibtesting::FakeDaemon daemon;
        daemon.answer = [](const QByteArray &line) -> QByteArray {
            if (line == "\\dump_state")
                return hamlibtesting::rigDump;
            if (line == "f" || line == "i")
                return "432065000\n";
            if (line == "t")
                return "0\n";
            return "RPRT 0\n";
        };
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        TrackingRecord record;
        record.dopplerHome = -2000;
        TrackingControl station;
        station.setTrackingSource(std::make_unique<FixedSource>(&record));
        DopplerSettings settings;
        settings.method = DopplerMethod::OwnEcho;
        settings.skedMHz = 432.065;
        settings.split = true;
        station.setDopplerSettings(settings);
        station.setAuto(StationPort::B, true);
        station.setNetwork(StationPort::B, true);
        QVERIFY(station.open(StationPort::B, daemon.address(), {}, false));
        QTRY_VERIFY(station.isFrequencyKnown());
        station.setFrequencyTracking(true);
        station.repetition();
        QTRY_VERIFY(daemon.lines.contains("S 1 VFOB"));
        station.close(StationPort::B);
        QTest::qWait(500);
        QCOMPARE(daemon.lines.count("S 0 VFOA"), 1);
    }
};

QTEST_GUILESS_MAIN(tst_CoreDopplerMethods)
#include "tst_coredopplermethods.moc"
