// SPDX-License-Identifier: GPL-3.0-or-later
// The Doppler methods as receive and transmit corrections of the sked
// frequency, the transverter between sky and radio, and their settings file.

#include "settings/dopplersettings.h"
#include "transceiver/catframes.h"

#include <QTemporaryDir>
#include <QtTest>

class tst_DopplerMethod : public QObject
{
    Q_OBJECT

private slots:
    void methods_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<double>("skedMHz");
        QTest::addColumn<double>("self");
        QTest::addColumn<double>("dx");
        QTest::addColumn<double>("receiveOffset");   // from the sked frequency, Hz
        QTest::addColumn<double>("transmitOffset");
        struct Band {
            const char *name;
            double mhz;
            double self;  // a shift typical of the band, of either sign
            double dx;
        };
        const Band bands[] = {{"10368", 10368.100, -23500.0, 11250.5}, {"2304", 2304.100, 5210.0, -2600.25},
                              {"1296", 1296.050, -2930.5, -1470.0},    {"432", 432.065, 978.0, 489.5},
                              {"144", 144.120, -326.5, 163.25}};
        for (const Band &b : bands) {
            const auto row = [&](const char *method, DopplerMethod m, double rx, double tx) {
                QTest::addRow("%s %s", method, b.name) << int(m) << b.mhz << b.self << b.dx << rx << tx;
            };
            row("full to dx grid", DopplerMethod::FullToDxGrid, b.dx, -b.dx);
            row("own echo", DopplerMethod::OwnEcho, b.self, 0.0);
            row("constant on moon", DopplerMethod::ConstantOnMoon, b.self / 2, -b.self / 2);
            row("on dx echo", DopplerMethod::OnDxEcho, b.dx, b.dx - b.self);
            row("call dx", DopplerMethod::CallDx, 0.0, -b.self);
            row("specified", DopplerMethod::Specified, 0.0, 0.0);
        }
    }
    void methods()
    {
        QFETCH(int, method);
        QFETCH(double, skedMHz);
        QFETCH(double, self);
        QFETCH(double, dx);
        QFETCH(double, receiveOffset);
        QFETCH(double, transmitOffset);
        const double sked = skedMHz * 1e6;
        const SkyFrequencies sky = methodFrequencies(DopplerMethod(method), sked, self, dx);
        QCOMPARE(sky.receiveHz - sked, receiveOffset);
        QCOMPARE(sky.transmitHz - sked, transmitOffset);
        // A transverter moves both by its LO and leaves the shifts alone,
        // turned around when the LO sits above.
        const Transverter below {true, sked - 144e6, false};
        QCOMPARE(*below.radioHz(sky.receiveHz) - 144e6, receiveOffset);
        QCOMPARE(*below.radioHz(sky.transmitHz) - 144e6, transmitOffset);
        const Transverter above {true, sked + 28e6, true};
        QCOMPARE(*above.radioHz(sky.receiveHz) - 28e6, -receiveOffset);
        QCOMPARE(below.skyHz(*below.radioHz(sky.transmitHz)), sky.transmitHz);
        QCOMPARE(above.skyHz(*above.radioHz(sky.receiveHz)), sky.receiveHz);
    }

    // The CAT link's ceiling is the radio's: a sky frequency far above it
    // goes out as its IF, and an IF above it is refused.
    void transverterAndCeiling_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<double>("loMHz");
        QTest::addColumn<bool>("loAbove");
        QTest::addColumn<double>("skyMHz");
        QTest::addColumn<qint64>("radioHz");  // -1: no radio frequency
        QTest::addColumn<bool>("carried");
        QTest::newRow("10368 on 144") << true << 10224.0 << false << 10368.100123 << qint64(144100123) << true;
        QTest::newRow("10368 on 432") << true << 9936.0 << false << 10368.1 << qint64(432100000) << true;
        QTest::newRow("24048 on 1296 LO above") << true << 25344.0 << true << 24048.1 << qint64(1295900000) << false;
        QTest::newRow("5760 on 432 LO above") << true << 6192.0 << true << 5760.1 << qint64(431900000) << true;
        QTest::newRow("IF just below the ceiling") << true << 9368.0 << false << 10367.999994 << qint64(999999994)
                                                    << true;
        QTest::newRow("IF one hertz above") << true << 9368.0 << false << 10367.999995 << qint64(999999995) << false;
        QTest::newRow("LO on the wrong side") << true << 10400.0 << false << 10368.1 << qint64(-1) << false;
        QTest::newRow("no transverter, 10368") << false << 10224.0 << false << 10368.1 << qint64(10368100000)
                                               << false;
        QTest::newRow("no transverter, 432") << false << 10224.0 << false << 432.065 << qint64(432065000) << true;
    }
    void transverterAndCeiling()
    {
        QFETCH(bool, on);
        QFETCH(double, loMHz);
        QFETCH(bool, loAbove);
        QFETCH(double, skyMHz);
        QFETCH(qint64, radioHz);
        QFETCH(bool, carried);
        const Transverter transverter {on, loMHz * 1e6, loAbove};
        const auto radio = transverter.radioHz(std::round(skyMHz * 1e6));
        QCOMPARE(radio.has_value(), radioHz >= 0);
        if (radio)
            QCOMPARE(qint64(std::round(*radio)), radioHz);
        QCOMPARE(radio && cat::frameCanCarry(qint64(std::round(*radio))), carried);
    }

    // The moment a transmit frequency is meant for, and the shifts carried
    // there by their rates; a rate no Moon gives carries nothing.
    void transmitMiddle_data()
    {
        QTest::addColumn<double>("secondsOfDay");
        QTest::addColumn<int>("period");
        QTest::addColumn<bool>("transmitting");
        QTest::addColumn<double>("selfRate");  // Hz per minute
        QTest::addColumn<double>("dxRate");
        QTest::addColumn<double>("ahead");  // seconds to the middle
        QTest::addColumn<double>("selfHz");  // from -1000 Hz
        QTest::addColumn<double>("dxHz");    // from 500 Hz
        QTest::newRow("receiving, 60 s, 10 s in") << 43210.0 << 60 << false << 60.0 << -30.0 << 80.0 << -920.0 << 460.0;
        QTest::newRow("transmitting, 60 s, 10 s in") << 43210.0 << 60 << true << 60.0 << -30.0 << 20.0 << -980.0
                                                     << 490.0;
        QTest::newRow("transmitting past the middle") << 43255.5 << 60 << true << -120.0 << 0.0 << -25.5 << -949.0
                                                      << 500.0;
        QTest::newRow("receiving on the boundary") << 43200.0 << 30 << false << 30.0 << 30.0 << 45.0 << -977.5
                                                   << 522.5;
        QTest::newRow("2-minute periods before midnight") << 86399.0 << 120 << false << 6.0 << 6.0 << 61.0 << -993.9
                                                          << 506.1;
        QTest::newRow("damaged rate") << 43210.0 << 60 << true << 1e9 << std::nan("") << 20.0 << -1000.0 << 500.0;
        QTest::newRow("no period") << 43210.0 << 0 << true << 60.0 << 60.0 << 0.0 << -1000.0 << 500.0;
    }
    void transmitMiddle()
    {
        QFETCH(double, secondsOfDay);
        QFETCH(int, period);
        QFETCH(bool, transmitting);
        QFETCH(double, selfRate);
        QFETCH(double, dxRate);
        QFETCH(double, ahead);
        QFETCH(double, selfHz);
        QFETCH(double, dxHz);
        const double seconds = secondsToTransmitMiddle(secondsOfDay, period, transmitting);
        QCOMPARE(seconds, ahead);
        const Shifts shifts = shiftsAhead(-1000, selfRate, 500, dxRate, seconds);
        QVERIFY2(std::fabs(shifts.selfHz - selfHz) < 1e-9, qPrintable(QString::number(shifts.selfHz)));
        QVERIFY2(std::fabs(shifts.dxHz - dxHz) < 1e-9, qPrintable(QString::number(shifts.dxHz)));
    }

    void settingsFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(DopplerSettings::defaultPath());
        QVERIFY(DopplerSettings().write(path));
        QVERIFY(!QFile::exists(path));  // nothing changed, no file
        QCOMPARE(DopplerSettings::read(path), DopplerSettings());
        DopplerSettings settings;
        settings.method = DopplerMethod::ConstantOnMoon;
        settings.skedMHz = 10368.100123;
        settings.transverter = {true, 10224e6, true};
        settings.split = true;
        settings.holdTransmit = true;
        settings.transmitPeriodSeconds = 120;
        settings.transmitLimitSeconds = 0;  // kept as 'off'
        QVERIFY(settings.write(path));
        QCOMPARE(DopplerSettings::read(path), settings);
        // What cannot be read keeps its default.
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("method: 'sideways'\nsked frequency: '-3'\nsplit: 'maybe'\ntransverter lo: '1296'\n"
                   "transmit period: '0'\nhold transmit: 'always'\ntransmit limit: 'forever'\n");
        file.close();
        DopplerSettings expected;
        expected.transverter.localOscillatorHz = 1296e6;
        QCOMPARE(DopplerSettings::read(path), expected);
    }
};

QTEST_GUILESS_MAIN(tst_DopplerMethod)
#include "tst_dopplermethod.moc"
