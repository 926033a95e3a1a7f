// SPDX-License-Identifier: GPL-3.0-or-later
// Frequencies at the edges a real evening reaches first, on the simulated
// FT-817: shifts for the band on the air, skeds the radio cannot take, a
// record older than the extrapolation reaches. The station runs at the
// settings an operator gets unless a row says why not.

#include "defaultstation.h"
#include "fixedsource.h"
#include "sim/simtransceiver.h"
#include "station/trackingcontrol.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

using Station = DefaultStation;

class tst_CoreBands : public QObject
{
    Q_OBJECT

private slots:
    // A file computed for one band, a sked on another: the method's shifts
    // are those of the sked's band (Doppler grows with frequency), worked
    // out here again as own echo: sked + shift × sked / file frequency.
    void shiftsForTheSkedBand_data()
    {
        QTest::addColumn<double>("fileMHz");
        QTest::addColumn<double>("skedMHz");
        QTest::addColumn<double>("loMHz");
        QTest::addColumn<double>("shiftHz");
        QTest::addColumn<double>("radioHz");  // what the radio must be on, ±5 Hz
        // 423 × 1296.05 / 432 = 1269.04 Hz; behind a 1152 MHz LO.
        QTest::newRow("432 MHz file, 1296 MHz sked") << 432.0 << 1296.05 << 1152.0 << 423.0 << 144051269.0;
        QTest::newRow("same band") << 432.065 << 432.065 << 0.0 << 423.0 << 432065423.0;
        // 2100 × 10368.1 / 144 = 151201.5 Hz, behind a 10224 MHz LO.
        QTest::newRow("144 MHz file, 10 GHz sked") << 144.0 << 10368.1 << 10224.0 << 2100.0 << 144251201.0;
        QTest::newRow("no frequency in the file") << 0.0 << 432.065 << 0.0 << 423.0 << 432065423.0;
    }
    void shiftsForTheSkedBand()
    {
        QFETCH(double, fileMHz);
        QFETCH(double, skedMHz);
        QFETCH(double, loMHz);
        QFETCH(double, shiftHz);
        QFETCH(double, radioHz);
        Station s;
        SimTransceiver radio;
        radio.setFrequency(144000000);
        TrackingRecord record;
        record.frequency = fileMHz;
        record.dopplerHome = shiftHz;
        s.station.setTrackingSource(std::make_unique<FixedSource>(&record));
        DopplerSettings settings;
        settings.method = DopplerMethod::OwnEcho;
        settings.skedMHz = skedMHz;
        settings.transverter = {loMHz > 0, loMHz * 1e6, false};
        QVERIFY(s.station.setDopplerSettings(settings));
        s.station.setAuto(StationPort::B, true);
        QVERIFY(s.station.open(StationPort::B, radio.slavePath(), {}, false));
        QTRY_VERIFY(s.station.isFrequencyKnown());
        s.station.setFrequencyTracking(true);
        s.station.repetition();
        QTRY_VERIFY2(std::fabs(double(radio.frequency()) - radioHz) <= 5, qPrintable(QString::number(radio.frequency())));
    }

    // The specified rule keeps its bytes (the file's shift on the radio's
    // own frequency) but says when the file is for another band.
    void bandMismatchSaid_data()
    {
        QTest::addColumn<double>("fileMHz");
        QTest::addColumn<quint32>("radioHz");
        QTest::addColumn<bool>("alarm");
        QTest::newRow("432 file, 144 radio") << 432.0 << quint32(144300000) << true;
        QTest::newRow("432 file, 435 radio (within 1 %)") << 432.0 << quint32(435000000) << false;
        QTest::newRow("432 file, 440 radio (1.85 % off)") << 432.0 << quint32(440000000) << true;
        QTest::newRow("no frequency in the file") << 0.0 << quint32(144300000) << false;
    }
    void bandMismatchSaid()
    {
        QFETCH(double, fileMHz);
        QFETCH(quint32, radioHz);
        QFETCH(bool, alarm);
        Station s;
        SimTransceiver radio;
        radio.setFrequency(radioHz);
        TrackingRecord record;
        record.frequency = fileMHz;
        record.dopplerHome = 400;
        s.station.setTrackingSource(std::make_unique<FixedSource>(&record));
        s.station.setAuto(StationPort::B, true);
        QVERIFY(s.station.open(StationPort::B, radio.slavePath(), {}, false));
        QTRY_VERIFY(s.station.isFrequencyKnown());
        s.station.setFrequencyTracking(true);
        record.dopplerHome = 500;
        s.station.repetition();
        QCOMPARE(s.station.health().active(Alarm::BandMismatch), alarm);
        // The specified bytes still go: the radio's frequency plus the change of shift.
        QTRY_COMPARE(radio.frequency(), radioHz + 100);
    }

    // A sked the radio cannot take is refused where it is entered, with the
    // reason, and the station keeps the sked it had.
    void skedOutOfReachRefused_data()
    {
        QTest::addColumn<double>("skedMHz");
        QTest::addColumn<double>("loMHz");
        QTest::addColumn<bool>("taken");
        QTest::newRow("2304.1 MHz on a 5-byte CAT radio") << 2304.1 << 0.0 << false;
        QTest::newRow("2304.1 MHz behind a 2160 MHz LO") << 2304.1 << 2160.0 << true;
        QTest::newRow("432 MHz") << 432.065 << 0.0 << true;
    }
    void skedOutOfReachRefused()
    {
        QFETCH(double, skedMHz);
        QFETCH(double, loMHz);
        QFETCH(bool, taken);
        Station s;
        SimTransceiver radio;
        radio.setFrequency(432065000);
        s.station.setAuto(StationPort::B, true);
        QVERIFY(s.station.open(StationPort::B, radio.slavePath(), {}, false));
        DopplerSettings settings;
        settings.method = DopplerMethod::OwnEcho;
        settings.skedMHz = skedMHz;
        settings.transverter = {loMHz > 0, loMHz * 1e6, false};
        const double before = s.station.dopplerSettings().skedMHz;
        QCOMPARE(s.station.setDopplerSettings(settings), taken);
        QCOMPARE(s.station.skedRefusal(settings).has_value(), !taken);
        QCOMPARE(s.station.dopplerSettings().skedMHz, taken ? skedMHz : before);
        if (!taken)
            QCOMPARE(s.count(QStringLiteral("the radio cannot be set to ")), 1);
    }

    // A file's record older than the extrapolation reaches is held there:
    // the frequency never steps back by rate × age. Fixed clock; a record
    // written for 12:00:00 with 600 Hz and +60 Hz a minute, aimed half the
    // default repetition ahead (1 s).
    void extrapolationHeldNotDropped_data()
    {
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<double>("shiftHz");  // 600 + 60 × (age held at 30 s, + 1 s) / 60
        QTest::newRow("10 s") << 10 << 611.0;
        QTest::newRow("29 s") << 29 << 630.0;
        QTest::newRow("31 s") << 31 << 631.0;
        QTest::newRow("5 min") << 300 << 631.0;
    }
    void extrapolationHeldNotDropped()
    {
        QFETCH(int, ageSeconds);
        QFETCH(double, shiftHz);
        Station s;
        const QDateTime written(QDate(2026, 12, 9), QTime(12, 0, 0), Qt::UTC);
        s.station.setClock([&] { return written.addSecs(ageSeconds); });
        SimTransceiver radio;
        radio.setFrequency(432000000);
        TrackingRecord record;
        record.frequency = 432.065;
        record.dopplerHome = 600;
        record.dopplerHomeRate = 60;
        record.fileTime = written.time();
        s.station.setTrackingSource(std::make_unique<FixedSource>(&record));
        DopplerSettings settings;
        settings.method = DopplerMethod::OwnEcho;
        settings.skedMHz = 432.065;
        QVERIFY(s.station.setDopplerSettings(settings));
        s.station.setAuto(StationPort::B, true);
        QVERIFY(s.station.open(StationPort::B, radio.slavePath(), {}, false));
        QTRY_VERIFY(s.station.isFrequencyKnown());
        s.station.setFrequencyTracking(true);
        s.station.repetition();
        QVERIFY(s.station.methodFrequencies());
        QCOMPARE(std::round(s.station.methodFrequencies()->receiveHz - 432065000), shiftHz);
    }};

QTEST_GUILESS_MAIN(tst_CoreBands)
#include "tst_corebands.moc"
