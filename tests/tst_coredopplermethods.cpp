// The Doppler methods end to end: the simulated FT-817 on a pseudo-terminal
// receiving and transmitting, and split through rigctld's dummy radio.

#include "fixedsource.h"
#include "hamlibtesting.h"
#include "sim/simtransceiver.h"
#include "station/trackingcontrol.h"
#include "transceiver/catframes.h"

#include <QCoreApplication>
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
};

QTEST_GUILESS_MAIN(tst_CoreDopplerMethods)
#include "tst_coredopplermethods.moc"
