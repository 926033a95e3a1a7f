// SPDX-License-Identifier: GPL-3.0-or-later
// The station panel shows the record as read, and the rise, set and common
// windows it gives are where the ephemeris crosses the horizon.

#include "ephemeris/passes.h"
#include "sim/simtransceiver.h"
#include "station/trackingcontrol.h"
#include "ui/sourcedialog.h"
#include "ui/dopplermethoddialog.h"
#include "ui/rotatorgeometrydialog.h"
#include "ui/stationpanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>

#include <memory>

using passes::Body;

namespace {

// A tracking data file with the Moon at this elevation and the shifts the tests show.
QString writeRecord(const QTemporaryDir &dir, double elevation)
{
    QFile data(dir.filePath(QStringLiteral("azel.dat")));
    if (!data.open(QIODevice::WriteOnly))
        return {};
    data.write("12:00:00,227.8," + QByteArray::number(elevation) + ",Moon\n0,0,0,Sun\n0,0,0,Source\n"
               "432,-345.0,12.5,-612.0,-3.5,Doppler, R\n");
    return data.fileName();
}

} // namespace

class tst_StationPanel : public QObject
{
    Q_OBJECT

private slots:
    void crossingsAreOnTheHorizon_data()
    {
        QTest::addColumn<int>("body");
        QTest::addColumn<bool>("rising");
        QTest::newRow("moonrise") << int(Body::Moon) << true;
        QTest::newRow("moonset") << int(Body::Moon) << false;
        QTest::newRow("sunrise") << int(Body::Sun) << true;
        QTest::newRow("sunset") << int(Body::Sun) << false;
    }

    void crossingsAreOnTheHorizon()
    {
        QFETCH(int, body);
        QFETCH(bool, rising);
        const GeoPosition home = *positionOfLocator(QStringLiteral("JO70FD"));
        const QDateTime from(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC);
        const auto crossing = passes::nextCrossing(Body(body), home, from, rising);
        QVERIFY(crossing);
        QVERIFY(from.secsTo(*crossing) < 26 * 3600);
        const double before = passes::elevation(Body(body), home, crossing->addSecs(-2));
        const double after = passes::elevation(Body(body), home, crossing->addSecs(1));
        QVERIFY2(rising ? before <= 0 && after > 0 : before > 0 && after <= 0,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(crossing->toString(Qt::ISODate)).arg(before).arg(after)));
    }

    void commonWindowIsSeenFromBoth()
    {
        const GeoPosition home = *positionOfLocator(QStringLiteral("JO70FD"));
        const GeoPosition dx = *positionOfLocator(QStringLiteral("FN20"));
        const QDateTime from(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC);
        const auto window = passes::nextCommonWindow(Body::Moon, home, dx, from);
        QVERIFY(window && window->end.isValid());
        const QDateTime start = window->start.isValid() ? window->start : from;
        QVERIFY(start < window->end);
        const auto seen = [&](const QDateTime &t) {
            return passes::elevation(Body::Moon, home, t) > 0 && passes::elevation(Body::Moon, dx, t) > 0;
        };
        QVERIFY(seen(start.addSecs(1)) && seen(window->end.addSecs(-2)) && !seen(window->end.addSecs(1)));
        if (window->start.isValid())
            QVERIFY(!seen(window->start.addSecs(-2)));
    }

    // The panel shows what the station read: positions, shifts, and the
    // target below the horizon.
    void showsTheRecord_data()
    {
        QTest::addColumn<double>("elevation");
        QTest::addColumn<QString>("horizon");
        QTest::newRow("up") << 12.5 << QString();
        QTest::newRow("below") << -0.2 << QStringLiteral("below horizon");
    }

    void showsTheRecord()
    {
        QFETCH(double, elevation);
        QFETCH(QString, horizon);
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        TrackingControl station;
        station.setDataFile(writeRecord(dir, elevation));
        station.setAuto(StationPort::A, true);
        StationPanel panel(station);
        station.repetition();
        panel.refresh();
        const auto text = [&](const char *name) {
            return panel.findChild<QLabel *>(QString::fromLatin1(name))->text();
        };
        QCOMPARE(text("labelPanelTarget"),
                 QStringLiteral("Moon: az 227.80, el %1").arg(elevation, 0, 'f', 2));
        QCOMPARE(text("labelPanelDoppler"),
                 QStringLiteral("Doppler: own echo -612 Hz (-3.5 Hz/min), DX -345 Hz (12.5 Hz/min)"));
        QCOMPARE(text("labelPanelHorizon"), horizon);
        QCOMPARE(station.health().active(Alarm::BelowHorizon), elevation < 0);
    }

    // "Doppler method..." on the panel: the method, the sked frequency and
    // the transverter confirmed are the station's and kept; the dialog shows
    // the receive and transmit frequencies, sky and IF, and the shifts.
    void dopplerMethodFromPanel()
    {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        TrackingControl station;
        station.setDataFile(writeRecord(dir, 30));
        station.setAuto(StationPort::A, true);
        StationPanel panel(station);
        station.repetition();
        QTest::mouseClick(panel.findChild<QPushButton *>("buttonDopplerMethod"), Qt::LeftButton);
        auto *dialog = panel.findChild<DopplerMethodDialog *>();
        QVERIFY(dialog && dialog->isVisible());
        dialog->findChild<QComboBox *>("comboMethod")->setCurrentText(QStringLiteral("Constant frequency on Moon"));
        dialog->findChild<QLineEdit *>("lineSkedFrequency")->setText(QStringLiteral("1296.05"));
        // The preview follows the fields as they are typed, before OK.
        QVERIFY2(dialog->findChild<QLabel *>("labelReceive")->text().startsWith(QStringLiteral("1296.0")),
                 qPrintable(dialog->findChild<QLabel *>("labelReceive")->text()));
        dialog->findChild<QCheckBox *>("checkTransverter")->setChecked(true);
        dialog->findChild<QLineEdit *>("lineLocalOscillator")->setText(QStringLiteral("1300"));
        auto *ok = dialog->findChild<QDialogButtonBox *>("buttonsMethod")->button(QDialogButtonBox::Ok);
        ok->click();
        QVERIFY(dialog->isVisible());  // the LO is above the sked frequency, but the sense says below
        QVERIFY(!dialog->findChild<QLabel *>("labelMethodProblem")->text().isEmpty());
        dialog->findChild<QLineEdit *>("lineLocalOscillator")->setText(QStringLiteral("1152"));
        dialog->findChild<QCheckBox *>("checkHoldTransmit")->setChecked(true);
        dialog->findChild<QSpinBox *>("spinTransmitPeriod")->setValue(120);
        QCOMPARE(dialog->findChild<QSpinBox *>("spinTransmitLimit")->text(), QStringLiteral("180 s"));
        dialog->findChild<QSpinBox *>("spinTransmitLimit")->setValue(0);
        ok->click();
        QVERIFY(!dialog->isVisible());
        const DopplerSettings settings = station.dopplerSettings();
        QCOMPARE(settings.method, DopplerMethod::ConstantOnMoon);
        QCOMPARE(settings.transverter.localOscillatorHz, 1152e6);
        QVERIFY(settings.holdTransmit);
        QCOMPARE(settings.transmitPeriodSeconds, 120);
        QCOMPARE(settings.transmitLimitSeconds, 0);  // "never"
        QCOMPARE(DopplerSettings::read(), settings);
        panel.refresh();
        QCOMPARE(panel.findChild<QLabel *>("labelPanelMethod")->text(),
                 QStringLiteral("Doppler method: Constant frequency on Moon, sked 1296.050000 MHz"));
        QTest::mouseClick(panel.findChild<QPushButton *>("buttonDopplerMethod"), Qt::LeftButton);
        // The file's shifts are for 432 MHz: at 1296.05 MHz they are 1296.05/432
        // times as large (-612 -> -1836.07 Hz, -345 -> -1035.04 Hz), half the
        // own echo each way.
        QCOMPARE(dialog->findChild<QLabel *>("labelReceive")->text(), QStringLiteral("1296.049082 MHz (radio 144.049082)"));
        QCOMPARE(dialog->findChild<QLabel *>("labelTransmit")->text(), QStringLiteral("1296.050918 MHz (radio 144.050918)"));
        QCOMPARE(dialog->findChild<QLabel *>("labelShifts")->text(), QStringLiteral("own echo -1836.1 Hz, DX -1035.0 Hz"));
    }

    // The radio's readout on the panel, with the sky frequency beside it
    // behind a transverter (the main window's readout shows the radio's own).
    void radioBesideItsSkyFrequency_data()
    {
        QTest::addColumn<double>("loMHz");  // 0: no transverter
        QTest::addColumn<bool>("loAbove");
        QTest::addColumn<QString>("shown");
        QTest::newRow("no transverter") << 0.0 << false << QStringLiteral("Radio R 144.10012 MHz");
        QTest::newRow("LO below") << 10224.0 << false
                                  << QStringLiteral("Radio R 144.10012 MHz, sky 10368.10012 MHz");
        QTest::newRow("LO above") << 2448.0 << true << QStringLiteral("Radio R 144.10012 MHz, sky 2303.89988 MHz");
    }
    void radioBesideItsSkyFrequency()
    {
        QFETCH(double, loMHz);
        QFETCH(bool, loAbove);
        QFETCH(QString, shown);
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        SimTransceiver radio;
        radio.setFrequency(144100120);
        TrackingControl station;
        DopplerSettings settings;
        settings.transverter = {loMHz > 0, loMHz * 1e6, loAbove};
        station.setDopplerSettings(settings);
        StationPanel panel(station);
        QCOMPARE(panel.findChild<QLabel *>("labelPanelRadio")->text(), QStringLiteral("Radio: ---"));
        station.setAuto(StationPort::B, true);
        QVERIFY(station.open(StationPort::B, radio.slavePath(), {}, false));
        QTRY_VERIFY(station.isFrequencyKnown());
        panel.refresh();
        QCOMPARE(panel.findChild<QLabel *>("labelPanelRadio")->text(), shown);
        station.closeAll();
    }

    // "Rotator geometry..." on the panel: a mask that is no list of pairs is
    // refused with the reason; the geometry confirmed is the station's and
    // kept, and the panel then says why the antenna is held.
    void rotatorGeometryFromPanel()
    {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        TrackingControl station;
        station.setDataFile(writeRecord(dir, 3));
        station.setAuto(StationPort::A, true);
        StationPanel panel(station);
        QCOMPARE(panel.findChild<QLabel *>("labelPanelPointing")->text(), QString());
        QTest::mouseClick(panel.findChild<QPushButton *>("buttonRotatorGeometry"), Qt::LeftButton);
        auto *dialog = panel.findChild<RotatorGeometryDialog *>();
        QVERIFY(dialog && dialog->isVisible());
        auto *range = dialog->findChild<QComboBox *>("comboAzimuthRange");
        range->setCurrentIndex(range->findData(int(RotatorGeometry::AzimuthRange::From0To450)));
        auto *reach = dialog->findChild<QComboBox *>("comboOutOfReach");
        reach->setCurrentIndex(reach->findData(int(RotatorGeometry::OutOfReach::Hold)));
        dialog->findChild<QLineEdit *>("lineHorizonMask")->setText(QStringLiteral("200:5 250"));
        auto *ok = dialog->findChild<QDialogButtonBox *>("buttonsGeometry")->button(QDialogButtonBox::Ok);
        ok->click();
        QVERIFY(dialog->isVisible());
        QVERIFY2(dialog->findChild<QLabel *>("labelGeometryProblem")->text().endsWith(
                     QStringLiteral("point 2: '250' \u2014 not azimuth:elevation")),
                 qPrintable(dialog->findChild<QLabel *>("labelGeometryProblem")->text()));
        // Two elevations at one azimuth, north written as 0 and as 360.
        dialog->findChild<QLineEdit *>("lineHorizonMask")->setText(QStringLiteral("0:5 200:5 360:7"));
        ok->click();
        QVERIFY(dialog->isVisible());
        QVERIFY2(dialog->findChild<QLabel *>("labelGeometryProblem")->text().endsWith(
                     QStringLiteral("points 1 and 3: both at azimuth 0")),
                 qPrintable(dialog->findChild<QLabel *>("labelGeometryProblem")->text()));
        dialog->findChild<QLineEdit *>("lineHorizonMask")->setText(QStringLiteral("200:5 250:5"));
        ok->click();
        QVERIFY(!dialog->isVisible());
        const RotatorGeometry geometry = station.rotatorGeometry();
        QCOMPARE(geometry.azimuthRange, RotatorGeometry::AzimuthRange::From0To450);
        QCOMPARE(geometry.horizonMask.size(), 2);
        QCOMPARE(RotatorGeometry::read(), geometry);
        station.repetition();  // port A is not open: the first command would wait for ever
        panel.refresh();
        QCOMPARE(panel.findChild<QLabel *>("labelPanelPointing")->text(),
                 QStringLiteral("Rotator: target below the horizon mask"));
    }

    // The source dialog takes only what the sky can be computed from.
    // A key that would take a spin box out of its range is refused, as Qt
    // does, and said at the box with the range; what stays is what was there.
    void spinBoxRefusalSaid_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("said");
        QTest::newRow("quiet seconds 99") << "geometry" << "spinQuietFrom" << "99" << 9.0 << "99 is refused: from 0 to 59";
        QTest::newRow("quiet seconds taken") << "geometry" << "spinQuietTo" << "42" << 42.0 << QString();
        QTest::newRow("transmit period 5000") << "doppler" << "spinTransmitPeriod" << "5000" << 500.0
                                              << "5000 is refused: from 1 to 3600";
        QTest::newRow("markup typed") << "doppler" << "spinTransmitPeriod" << "<" << 60.0 << "&lt; is refused: from 1 to 3600";
    }

    void spinBoxRefusalSaid()
    {
        QFETCH(QString, dialog);
        QFETCH(QString, box);
        QFETCH(QString, keys);
        QFETCH(double, value);
        QFETCH(QString, said);
        std::unique_ptr<QDialog> shown;
        if (dialog == QLatin1String("geometry"))
            shown = std::make_unique<RotatorGeometryDialog>();
        else
            shown = std::make_unique<DopplerMethodDialog>();
        shown->show();
        auto *spin = shown->findChild<QSpinBox *>(box);
        QVERIFY(spin);
        spin->setEnabled(true);
        spin->setFocus();
        spin->selectAll();
        QTest::keyClicks(spin, keys);
        spin->interpretText();
        QCOMPARE(double(spin->value()), value);
        if (said.isEmpty())
            QVERIFY2(!QToolTip::isVisible() || !QToolTip::text().contains("refused"), qPrintable(QToolTip::text()));
        else
            QCOMPARE(QToolTip::text(), "<p>" + said + "</p>");
        QToolTip::hideText();
    }

    void sourceEntries_data()
    {
        QTest::addColumn<bool>("builtIn");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("dx");
        QTest::addColumn<QString>("frequency");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QString>("radio");
        QTest::addColumn<QString>("stored");
        QTest::newRow("file, nothing else") << false << "" << "" << "432.065" << true << "" << "";
        QTest::newRow("built-in, both") << true << "jo70fd" << "FN20" << "1296.1" << true << "" << "";
        QTest::newRow("built-in without home") << true << "" << "FN20" << "432" << false << "" << "";
        QTest::newRow("not a locator") << true << "JO70ZZ" << "" << "432" << false << "" << "";
        QTest::newRow("not a frequency") << false << "" << "" << "nan" << false << "" << "";
        QTest::newRow("radio source by name") << true << "JO70FD" << "" << "1296" << true << " tau a" << "Tau A";
        QTest::newRow("typed coordinates") << true << "JO70FD" << "" << "1296" << true << "350.85 58.815"
                                           << "23h23m24.00s +58d48m54.0s";
        QTest::newRow("coordinates out of range") << true << "JO70FD" << "" << "1296" << false << "25h +10d" << "";
    }

    void sourceEntries()
    {
        QFETCH(bool, builtIn);
        QFETCH(QString, home);
        QFETCH(QString, dx);
        QFETCH(QString, frequency);
        QFETCH(bool, taken);
        QFETCH(QString, radio);
        QFETCH(QString, stored);
        SourceDialog dialog;
        dialog.show(SourceSettings());
        dialog.findChild<QRadioButton *>(builtIn ? "radioSourceBuiltIn" : "radioSourceFile")->setChecked(true);
        dialog.findChild<QLineEdit *>("lineHomeLocator")->setText(home);
        dialog.findChild<QLineEdit *>("lineDxLocator")->setText(dx);
        dialog.findChild<QLineEdit *>("lineSourceFrequency")->setText(frequency);
        dialog.findChild<QComboBox *>("comboRadioSource")->setCurrentText(radio);
        const auto settings = dialog.entered();
        QCOMPARE(bool(settings), taken);
        QCOMPARE(dialog.findChild<QLabel *>("labelSourceProblem")->text().isEmpty(), taken);
        if (settings) {
            QCOMPARE(settings->homeLocator, home.toUpper());
            QCOMPARE(settings->radioSource, stored);
        }
    }
};

QTEST_MAIN(tst_StationPanel)
#include "tst_stationpanel.moc"
