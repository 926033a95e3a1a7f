// SPDX-License-Identifier: GPL-3.0-or-later
// The station core without a window: its rules with links made here, and a
// few simulated minutes against the simulated devices and the built-in sky.

#include "fixedsource.h"
#include "ephemeris/ephemeris.h"
#include "links/seriallinks.h"
#include "settings/settingsfile.h"
#include "sim/simrotator.h"
#include "sim/simtransceiver.h"
#include "station/trackingcontrol.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The "&*" controller's commands, answered when the test says so.
class AnsweringRotator : public RotatorLink
{
public:
    QString target() const override { return QStringLiteral("rotator"); }
    QByteArray manualCommand(const QString &line) const override { return line.toLatin1() + "\r\n"; }
    void write(const QByteArray &bytes) override { written << QString::fromLatin1(bytes).trimmed(); }
    void close() override {}
    QByteArray positionCommand(RotatorAxis axis, double azimuth, double elevation) override
    {
        return SerialRotatorLink::commandFor(axis, azimuth, elevation);
    }
    bool movesBothAxes() const override { return bothAxes; }
    RotatorReply interpretReply(const QByteArray &bytes, QString &collected) const override
    {
        collected += QString::fromLatin1(bytes);
        RotatorReply reply;
        if (collected.contains(QLatin1String("OK")))
            reply.kind = RotatorReply::Accepted;
        else if (collected.contains(QLatin1String("ERROR")))
            reply = {RotatorReply::Refused, collected.trimmed()};
        if (reply.kind != RotatorReply::Pending)
            collected.clear();
        return reply;
    }
    void answer(const QByteArray &reply) { emit received(reply); }

    QStringList written;
    bool bothAxes = false;
};

class ReadingRadio : public TransceiverLink
{
public:
    QString target() const override { return QStringLiteral("radio"); }
    QByteArray manualCommand(const QString &) const override { return {}; }
    void write(const QByteArray &) override {}
    void close() override {}
    void requestFrequency() override { emit frequencyReceived(mhz); }
    bool requestReadout() override
    {
        emit statusReceived(transmitting);
        emit frequencyReceived(mhz);
        return true;
    }
    void setFrequency(quint32 hz) override { sent << hz; }
    bool canCarry(qint64 hz) const override { return hz >= 0 && hz < 1000000000; }

    double mhz = 432.065;
    bool transmitting = false;
    QList<quint32> sent;
};

using Positions = QList<QPair<double, double>>;

} // namespace

class tst_CoreStation : public QObject
{
    Q_OBJECT

    struct Core {
        Core()
        {
            QDir::setCurrent(dir.path());
            station = std::make_unique<TrackingControl>();
            station->setTrackingSource(std::make_unique<FixedSource>(&record));
            QObject::connect(station.get(), &TrackingControl::message, [this](const QString &t) { log << t; });
        }
        AnsweringRotator *openRotator(bool automatic = true)
        {
            // Opened in Manual: switching to Auto then runs the first cycle afresh.
            auto *link = new AnsweringRotator;
            station->setAuto(StationPort::A, false);
            station->openWith(StationPort::A, link, link->target());
            station->setAuto(StationPort::A, automatic);
            return link;
        }
        ReadingRadio *openRadio(bool automatic = true)
        {
            auto *link = new ReadingRadio;
            station->setAuto(StationPort::B, automatic);
            station->openWith(StationPort::B, link, link->target());
            return link;
        }
        QTemporaryDir dir;
        TrackingRecord record;
        QStringList log;  // outlives the station, which says what it closes
        std::unique_ptr<TrackingControl> station;
    };

private slots:
    // network.cfg's resume lines as another editor may leave them: a value
    // that does not read leaves its default, never a half-taken one.
    void resumeLinesRead_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<bool>("openA");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("resume");
        QTest::newRow("as written") << QByteArray("port a open: 'on'\ntarget: 'sun'\nresume at start: 'off'\n")
                                    << true << "sun" << false;
        QTest::newRow("unknown words") << QByteArray("port a open: 'yes'\ntarget: 'mars'\nresume at start: '1'\n")
                                       << false << "moon" << true;
        QTest::newRow("none") << QByteArray() << false << "moon" << true;
    }
    void resumeLinesRead()
    {
        QFETCH(QByteArray, lines);
        QFETCH(bool, openA);
        QFETCH(QString, target);
        QFETCH(bool, resume);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("network.cfg"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(lines);
        file.close();
        const NetworkSettings read = NetworkSettings::read(path);
        QCOMPARE(read.resume.openA, openA);
        QCOMPARE(read.resume.target, target);
        QCOMPARE(read.resumeAtStart, resume);
        // What is written reads back the same.
        QVERIFY(read.write(path));
        QVERIFY(NetworkSettings::read(path) == read);
    }

    // Dead band, one command per repetition, the elevation right after an
    // answered azimuth, nothing while a command waits.
    void trackingCycle_data()
    {
        QTest::addColumn<Positions>("positions");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("commands");
        QTest::newRow("azimuth first, elevation next") << Positions {{100, 10}, {100, 10}, {100, 10}} << true
                                                       << QStringList {"&* AZ=100.00", "&* EL=010.00"};
        QTest::newRow("within the dead band")
            << Positions {{100, 10}, {100, 10}, {100.08, 10.08}, {100.04, 9.95}} << true
                                              << QStringList {"&* AZ=100.00", "&* EL=010.00"};
        QTest::newRow("both axes move every time")
            << Positions {{100, 10}, {100.5, 10.5}, {101, 11}, {101.5, 11.5}} << true
            << QStringList {"&* AZ=100.00", "&* EL=010.50", "&* AZ=101.00", "&* EL=011.50"};
        QTest::newRow("unanswered: nothing more")
            << Positions {{100, 10}, {101, 11}} << false << QStringList {"&* AZ=100.00"};
        QTest::newRow("negative kept") << Positions {{-0.5, -2}, {-0.5, -2}} << true
                                       << QStringList {"&* AZ=-00.50", "&* EL=-02.00"};
    }

    void trackingCycle()
    {
        QFETCH(Positions, positions);
        QFETCH(bool, answer);
        QFETCH(QStringList, commands);
        Core core;
        core.record.azimuth = positions.first().first;
        core.record.elevation = positions.first().second;
        AnsweringRotator *rotator = core.openRotator();  // Auto runs the first cycle
        for (const auto &[azimuth, elevation] : positions.mid(1)) {
            if (answer)
                rotator->answer("OK\r\n");
            core.record.azimuth = azimuth;
            core.record.elevation = elevation;
            core.station->repetition();
        }
        QCOMPARE(rotator->written, commands);
    }

    // A command never answered is given up after a minute of repetitions.
    void staleRule_data()
    {
        QTest::addColumn<quint32>("repetitionSeconds");
        QTest::addColumn<int>("repetitionsUntilResent");
        QTest::newRow("600 s") << 600u << 2;
        QTest::newRow("20 s") << 20u << 5;
        QTest::newRow("0 s counts as 1 s") << 0u << 62;
    }

    void staleRule()
    {
        QFETCH(quint32, repetitionSeconds);
        QFETCH(int, repetitionsUntilResent);
        Core core;
        core.station->setTimes(repetitionSeconds, 200);
        core.record.elevation = 10;
        core.record.azimuth = 100;
        AnsweringRotator *rotator = core.openRotator();
        rotator->answer("OK\r\n");
        core.station->repetition();  // the elevation
        rotator->answer("OK\r\n");
        core.record.azimuth = 120;  // the elevation has not moved
        int repetitions = 0;
        while (rotator->written.size() < 4 && repetitions < 100) {
            core.station->repetition();
            ++repetitions;
            if (rotator->written.size() == 3)
                core.record.azimuth = 130;  // after the stale command, a new one goes
        }
        QCOMPARE(rotator->written.mid(2), (QStringList {"&* AZ=120.00", "&* AZ=130.00"}));
        QCOMPARE(repetitions, repetitionsUntilResent);
    }

    void parking_data()
    {
        QTest::addColumn<bool>("bothAxes");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QStringList>("commands");
        QTest::newRow("azimuth, then elevation") << false << QByteArray("OK\r\n")
                                                 << QStringList {"&* AZ=090.00", "&* EL=010.00"};
        QTest::newRow("refused: no second step") << false << QByteArray("ERROR/LIMIT\r\n")
                                                 << QStringList {"&* AZ=090.00"};
        QTest::newRow("one command moves both") << true << QByteArray("OK\r\n") << QStringList {"&* AZ=090.00"};
    }

    void parking()
    {
        QFETCH(bool, bothAxes);
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, commands);
        Core core;
        AnsweringRotator *rotator = core.openRotator(false);
        rotator->bothAxes = bothAxes;
        core.station->park(90, 10);
        QVERIFY(core.station->steering().parkingActive());
        rotator->answer(answer);
        rotator->answer("OK\r\n");
        QCOMPARE(rotator->written, commands);
        QCOMPARE(core.station->settingsFile().readAzimuthParking(), 90.0);
    }

    // The corrected frequency around the readout at engagement.
    void dopplerRule_data()
    {
        QTest::addColumn<bool>("dxShift");
        QTest::addColumn<bool>("ptt");
        QTest::addColumn<bool>("transmitting");
        QTest::addColumn<quint32>("hz");
        // Engaged with home 500 Hz, DX 300 Hz: working 432.064500 or 432.064700 MHz;
        // then home 600 Hz, DX 200 Hz.
        QTest::newRow("home, receiving") << false << false << false << 432065100u;
        QTest::newRow("home, PTT unticked, transmitting") << false << false << true << 432065100u;
        QTest::newRow("home, PTT, transmitting") << false << true << true << 432063900u;
        QTest::newRow("DX, receiving") << true << false << false << 432064900u;
        QTest::newRow("DX, PTT, transmitting") << true << true << true << 432064500u;
    }

    void dopplerRule()
    {
        QFETCH(bool, dxShift);
        QFETCH(bool, ptt);
        QFETCH(bool, transmitting);
        QFETCH(quint32, hz);
        Core core;
        core.record.dopplerHome = 500;
        core.record.dopplerDx = 300;
        core.station->setDopplerShift(dxShift ? DopplerShift::Dx : DopplerShift::Home);
        ReadingRadio *radio = core.openRadio();
        QVERIFY(core.station->isFrequencyKnown());
        core.station->repetition();
        core.station->setFrequencyTracking(true);
        core.station->setPtt(ptt);
        radio->transmitting = transmitting;
        core.station->readout();
        core.record.dopplerHome = 600;
        core.record.dopplerDx = 200;
        core.station->repetition();
        QCOMPARE(radio->sent.last(), hz);
    }

    void frequencyOutOfRange()
    {
        Core core;
        ReadingRadio *radio = core.openRadio();
        radio->mhz = 999.9999;
        core.station->readout();
        core.station->setFrequencyTracking(true);
        core.record.dopplerHome = 5000;
        core.station->repetition();
        QVERIFY(radio->sent.isEmpty());
        QCOMPARE(core.log.filter(QStringLiteral("frequency out of range")).size(), 1);
        core.station->tune(QStringLiteral("nan"));
        core.station->tune(QStringLiteral("432.1"));
        QCOMPARE(radio->sent, QList<quint32> {432100000u});
        QCOMPARE(core.log.filter(QStringLiteral("Frequency error")).size(), 1);
    }

    // Tracking runs while an open port is in Auto; the repetition timer stops
    // once no open port is.
    void manualAutoMatrix_data()
    {
        QTest::addColumn<bool>("openA");
        QTest::addColumn<bool>("autoA");
        QTest::addColumn<bool>("openB");
        QTest::addColumn<bool>("autoB");
        QTest::addColumn<bool>("tracking");
        QTest::addColumn<bool>("afterManual");
        QTest::newRow("nothing open") << false << true << false << true << false << false;
        QTest::newRow("A Auto") << true << true << false << false << true << false;
        QTest::newRow("A Manual") << true << false << false << false << false << false;
        QTest::newRow("B Auto") << false << false << true << true << true << false;
        QTest::newRow("A Manual, B Auto") << true << false << true << true << true << false;
        QTest::newRow("both Auto") << true << true << true << true << true << true;
    }

    void manualAutoMatrix()
    {
        QFETCH(bool, openA);
        QFETCH(bool, autoA);
        QFETCH(bool, openB);
        QFETCH(bool, autoB);
        QFETCH(bool, tracking);
        QFETCH(bool, afterManual);
        Core core;
        core.station->setAuto(StationPort::A, autoA);
        core.station->setAuto(StationPort::B, autoB);
        if (openA)
            core.openRotator(autoA);
        if (openB)
            core.openRadio(autoB);
        QCOMPARE(core.station->isTrackingActive(), tracking);
        QCOMPARE(core.station->isDopplerRunning(), openB && autoB);
        core.station->setAuto(StationPort::A, false);  // the rotator to Manual
        QCOMPARE(core.station->isTrackingActive(), afterManual || (openB && autoB));
    }

    // A few minutes of the real Moon, minutes apart, through the real links
    // to the simulated devices: the antenna follows within the dead band and
    // the radio sits on the own-echo corrected frequency.
    void skySourceWithSimulatedDevices()
    {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        SimRotator rotator;
        SimTransceiver radio;
        radio.setFrequency(432065000);
        TrackingControl station;
        const GeoPosition home = *positionOfLocator(QStringLiteral("JO70FD"));
        const GeoPosition dx = *positionOfLocator(QStringLiteral("FN20"));
        QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC);
        while (computeSky(home, dx, 432.065, now).moonElevation < 20)
            now = now.addSecs(1800);
        auto sky = std::make_unique<SkyTrackingSource>(*positionOfLocator(QStringLiteral("JO70FD")),
                                                       positionOfLocator(QStringLiteral("FN20")), 432.065);
        sky->setClock([&now] { return now; });
        station.setTrackingSource(std::move(sky));
        station.setTimes(600, 60000);  // repetitions by hand below
        station.setAuto(StationPort::A, true);
        station.setAuto(StationPort::B, true);
        QVERIFY(station.open(StationPort::A, rotator.slavePath(), {}, false));
        QVERIFY(station.open(StationPort::B, radio.slavePath(), {}, false));
        QTRY_VERIFY(station.isFrequencyKnown());
        station.setFrequencyTracking(true);
        const double working = station.doppler().workingMHz();
        for (int minute = 1; minute <= 5; ++minute) {
            now = now.addSecs(60);
            for (int axis = 0; axis < 2; ++axis) {
                station.repetition();
                QTRY_VERIFY(station.steering().pending.isEmpty());
            }
            const SkySnapshot expected = computeSky(home, dx, 432.065, now);
            QVERIFY(qAbs(rotator.commandedAzimuth() - expected.moonAzimuth) <= 0.1 + 0.005);
            QVERIFY(qAbs(rotator.commandedElevation() - expected.moonElevation) <= 0.1 + 0.005);
            const quint32 hz = quint32(working * 1e6 + expected.selfDopplerHz);
            QTRY_VERIFY(qAbs(qint64(radio.frequency()) - qint64(hz)) < 10);  // 10 Hz steps
        }
        station.closeAll();
    }
};

QTEST_GUILESS_MAIN(tst_CoreStation)
#include "tst_corestation.moc"
