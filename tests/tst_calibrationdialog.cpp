// SPDX-License-Identifier: GPL-3.0-or-later
// "Calibrate..." on the station panel: the sources it offers, a run it
// starts and stops with the antenna back on the target, the levels drawn,
// and the history read from calibration.csv however that file was left.

#include "calibration/calibrationrun.h"
#include "calibration/calibrator.h"
#include "fixedsource.h"
#include "movingsky.h"
#include "settings/settingsfile.h"
#include "sim/simreceiver.h"
#include "sim/simrotator.h"
#include "station/trackingcontrol.h"
#include "ui/calibrationdialog.h"
#include "ui/calibrationplot.h"
#include "ui/stationpanel.h"
#include "windowtesting.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QToolTip>
#include <QtTest>

using namespace windowtesting;

namespace {

// The Sun held still at 180/35, the simulated controller there, and the
// simulated receiver hearing it through the beam.
struct StillSun {
    StillSun()
        : receiver([this] { return std::optional<Direction>({rotator.presentAzimuth(), rotator.presentElevation()}); },
                   [] { return std::optional<Direction>({180, 35}); }, SimReceiver::Sky())
    {
        record.azimuth = 180;
        record.elevation = 35;
        rotator.setPresentPosition(180, 35);
    }
    // The station follows it with the controller on port A in Auto.
    bool trackedBy(TrackingControl &station)
    {
        station.setTrackingSource(std::make_unique<FixedSource>(&record));
        station.setAuto(StationPort::A, true);
        return station.open(StationPort::A, rotator.slavePath(), {}, false)
            && QTest::qWaitFor([&] { return station.pointing().commandedElevation.has_value(); });
    }

    TrackingRecord record;
    SimRotator rotator;
    SimReceiver receiver;
};

// The station at store.cfg's defaults, its clock fixed at 2026-12-07 16:30
// UTC, after sunset: the Sun 1.2 degrees down and sinking, the Moon at
// 200/30, the tracking file's frequency 1296 MHz; the controller on port A
// in Auto on the Moon.
struct AfterSunset {
    AfterSunset()
    {
        const QDateTime hour(QDate(2026, 12, 7), QTime(16, 30), Qt::UTC);
        station.setTimes(2, 200);
        station.setClock([hour] { return hour; });
        auto sky = std::make_unique<MovingSky>(hour, true, 1296.0);
        sky->place(TrackingTarget::Moon, {{200, 30}, 0});
        sky->place(TrackingTarget::Sun, {{235, -1.2}, -0.15});
        station.setTrackingSource(std::move(sky));
        station.setAuto(StationPort::A, true);
    }
    bool tracking()
    {
        return station.open(StationPort::A, rotator.slavePath(), {}, false)
            && QTest::qWaitFor([&] { return rotator.elevation() == std::optional<double>(30); });
    }

    WorkDir dir;
    SimRotator rotator;
    TrackingControl station;
    SimReceiver receiver {[] { return std::optional<Direction>(); }, [] { return std::optional<Direction>(); },
                          SimReceiver::Sky()};
};

} // namespace

class tst_CalibrationDialog : public QObject
{
    Q_OBJECT

private slots:
    // Without a radio through Hamlib and nothing added there is nothing to
    // read levels from, and the dialog says why rather than start.
    void noSourceNoStart()
    {
        WorkDir dir;
        TrackingControl station;
        StationPanel panel(station);
        child<QPushButton>(panel, "buttonCalibrate")->click();
        auto *dialog = panel.findChild<CalibrationDialog *>();
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(!child<QPushButton>(*dialog, "buttonCalibrationStart")->isEnabled());
        QVERIFY(child<QLabel>(*dialog, "labelCalibrationStatus")->text().contains(QLatin1String("No level source")));
    }

    // The simulated receiver added: a cross-scan starts on the Sun, the
    // levels are drawn as they come, and Stop ends it with the antenna back
    // on the target and the operator's target back.
    void startedAndStopped()
    {
        WorkDir dir;
        StillSun sun;
        TrackingControl station;
        station.setTimes(2, 200);
        QVERIFY(sun.trackedBy(station));
        StationPanel panel(station);
        CalibrationDialog &dialog = panel.calibrationDialog();
        dialog.addLevelSource(&sun.receiver);
        QCOMPARE(child<QComboBox>(dialog, "comboLevelSource")->currentText(), QStringLiteral("simulated receiver"));
        // The simulated controller turns at once: at the dialog's 2 deg/s the
        // first turn, from the parking place, would be waited for 45 s.
        child<QDoubleSpinBox>(dialog, "spinSlew")->setValue(30);
        child<QPushButton>(dialog, "buttonCalibrationStart")->click();
        QVERIFY(dialog.run() && dialog.run()->isRunning());
        QCOMPARE(station.target(), TrackingTarget::Sun);
        QTRY_VERIFY_WITH_TIMEOUT(child<CalibrationPlot>(dialog, "plotCalibration")->points() >= 5, 30000);
        QVERIFY(child<QLabel>(dialog, "labelCalibrationStatus")->text().startsWith(QLatin1String("cut 1 of 3 (azimuth)")));
        QVERIFY(child<QPushButton>(dialog, "buttonCalibrationStop")->isEnabled());
        child<QPushButton>(dialog, "buttonCalibrationStop")->click();
        QCOMPARE(child<QLabel>(dialog, "labelCalibrationStatus")->text(), QStringLiteral("ended: stopped by the operator"));
        // Stopped in the first cut: the bar stays there, short of full.
        QVERIFY(child<QProgressBar>(dialog, "progressCalibration")->value() < 1000 / 3);
        QVERIFY(!child<QPushButton>(dialog, "buttonCalibrationApply")->isEnabled());
        QCOMPARE(station.target(), TrackingTarget::Moon);
        QCOMPARE(station.scanOffset().azimuth, 0.0);
        station.closeAll();
    }

    // Offsets a calibration applied show in the window's offset fields, so
    // that the window, which keeps its fields' texts when it closes, keeps
    // them; and a window closed while a calibration runs closes cleanly.
    void windowKeepsAppliedOffsets()
    {
        WorkDir dir;
        StillSun sun;
        auto window = std::make_unique<Qt_Vestrel>();
        TrackingControl &station = window->station();
        station.addOffsets(0.5, -0.25);
        QCOMPARE(child<QLineEdit>(*window, "lineAzimutOffset")->text(), QStringLiteral("0.5"));
        QCOMPARE(child<QLineEdit>(*window, "lineElevationOffset")->text(), QStringLiteral("-0.25"));

        QVERIFY(sun.trackedBy(station));
        CalibrationDialog &dialog = window->findChild<StationPanel *>()->calibrationDialog();
        dialog.addLevelSource(&sun.receiver);
        child<QPushButton>(dialog, "buttonCalibrationStart")->click();
        QTRY_VERIFY_WITH_TIMEOUT(station.scanOffset().azimuth != 0, 30000);
        window.reset();
        SettingsFile store;
        QCOMPARE(store.readAzimutOffset(), 0.5f);
        QCOMPARE(store.readElevationOffset(), -0.25f);
    }

    // Start on a Sun that has set is refused in the dialog, with the
    // reason, before anything turns: the Moon stays the target.
    void sunDownRefused()
    {
        AfterSunset s;
        QVERIFY(s.tracking());
        Calibrator calibrator(s.station);
        CalibrationDialog dialog(calibrator);
        dialog.addLevelSource(&s.receiver);
        dialog.show();
        QCOMPARE(child<QComboBox>(dialog, "comboCalibrationTarget")->currentText(), QStringLiteral("Sun"));
        child<QPushButton>(dialog, "buttonCalibrationStart")->click();
        QCOMPARE(child<QLabel>(dialog, "labelCalibrationStatus")->text(),
                 QStringLiteral("Cannot calibrate: the Sun is below the horizon: elevation -1.20°"));
        QVERIFY(!calibrator.isRunning());
        QVERIFY(child<QPushButton>(dialog, "buttonCalibrationStart")->isEnabled());
        QCOMPARE(child<QProgressBar>(dialog, "progressCalibration")->value(), 0);
        QCOMPARE(s.station.target(), TrackingTarget::Moon);
        s.station.repetition();
        QCOMPARE(s.station.pointing().commandedElevation, std::optional<double>(30));
        s.station.closeAll();
    }

    // The dialog says which band the Y expected is for: the tracking file's
    // 1296 MHz, not "Tracking source..."'s 432.065. The level source it
    // offers is not said to be missing once it is there.
    void bandAndSourceShown()
    {
        AfterSunset s;
        QVERIFY(s.tracking());
        Calibrator calibrator(s.station);
        CalibrationDialog dialog(calibrator);
        auto *status = child<QLabel>(dialog, "labelCalibrationStatus");
        QVERIFY(status->text().startsWith(QLatin1String("No level source")));
        dialog.addLevelSource(&s.receiver);
        QCOMPARE(child<QComboBox>(dialog, "comboLevelSource")->currentText(), QStringLiteral("simulated receiver"));
        QVERIFY2(!status->text().contains(QLatin1String("No level source")), qPrintable(status->text()));
        QCOMPARE(child<QLabel>(dialog, "labelCalibrationFrequency")->text(),
                 QStringLiteral("The Y expected at 1296.000 MHz, the tracking file's"));
        s.station.closeAll();
    }

    // A key that would take a box out of its range is refused at the box
    // with the range, as the other dialogs say it: "35" for the beam would
    // otherwise be 3.0 without a word, a factor of ten in every step.
    void spinBoxRefusalSaid_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("said");
        QTest::newRow("beamwidth 35") << "spinBeamwidth" << "35" << 3.0 << "35 is refused: from 0.5 to 30.0";
        QTest::newRow("system noise 99999") << "spinSystemKelvin" << "99999" << 999.0 << "9999 is refused: from 10 to 5,000";
        QTest::newRow("step 0.55") << "spinStep" << "0.55" << 0.5 << "0.55 is refused: from 0.10 to 0.50";
        QTest::newRow("flux 1500") << "spinFlux" << "1500" << 150.0 << "1500 is refused: from 0 to 1,000";
        QTest::newRow("dwell 12.5 taken") << "spinDwell" << "12.5" << 12.5 << QString();
    }
    void spinBoxRefusalSaid()
    {
        QFETCH(QString, box);
        QFETCH(QString, keys);
        QFETCH(double, value);
        QFETCH(QString, said);
        WorkDir dir;
        TrackingControl station;
        Calibrator calibrator(station);
        CalibrationDialog dialog(calibrator);
        dialog.show();
        auto *spin = child<QDoubleSpinBox>(dialog, qPrintable(box));
        spin->setFocus();
        spin->selectAll();
        QTest::keyClicks(spin, keys);
        spin->interpretText();
        QCOMPARE(spin->value(), value);
        if (said.isEmpty())
            QVERIFY2(!QToolTip::isVisible() || !QToolTip::text().contains("refused"), qPrintable(QToolTip::text()));
        else
            QCOMPARE(QToolTip::text(), "<p>" + said + "</p>");
        QToolTip::hideText();
    }

    // Each line of calibration.csv in words: the measurement named once
    // ("Sun noise", not "Sun Sun noise"), and where its frequency came
    // from where the line says; a header, this one or an older, is no line.
    void historyLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("shown");  // empty: none
        QTest::newRow("Sun noise, an older line") << QByteArray("2026-12-02T10:00:00Z,Sun,Sun noise,1296.000,13.52,0.03,13.0,,,,,100")
                                                  << "2026-12-02T10:00:00Z  Sun noise at 1296.000 MHz: Y 13.52 ± 0.03 dB";
        QTest::newRow("Moon noise, the band's source")
            << QByteArray("2026-12-03T10:00:00Z,Moon,Sun noise,1296.000,0.41,0.02,0.40,,,,,,the tracking file's")
            << "2026-12-03T10:00:00Z  Moon noise at 1296.000 MHz, the tracking file's: Y 0.41 ± 0.02 dB";
        QTest::newRow("cross-scan on a sked")
            << QByteArray("2026-12-04T10:00:00Z,Sun,cross-scan,432.065,14.10,,13.0,0.412,-0.300,2.10,2.08,100,the sked frequency")
            << "2026-12-04T10:00:00Z  Sun cross-scan at 432.065 MHz, the sked frequency: offsets 0.412/-0.300°, beam 2.08°";
        QTest::newRow("an older header") << QByteArray("time (UTC),target,measurement,frequency (MHz),Y (dB),Y error (dB),"
                                                       "Y expected (dB),azimuth offset (deg),elevation offset (deg),beam in "
                                                       "azimuth (deg),beam in elevation (deg),flux at 10.7 cm (SFU)")
                                         << "";
    }
    void historyLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, shown);
        WorkDir dir;
        QFile csv(CalibrationRun::defaultPath());
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write(CalibrationRun::csvHeader().toUtf8() + '\n' + line + '\n');
        csv.close();
        TrackingControl station;
        Calibrator calibrator(station);
        QCOMPARE(calibrator.history(), shown.isEmpty() ? QStringList() : QStringList {shown});
    }

    // calibration.csv as another program or a crash may leave it: lines cut
    // short are passed over, the newest comes first, and nothing is shown
    // longer than a line of the list.
    void historyRead()
    {
        WorkDir dir;
        QFile csv(CalibrationRun::defaultPath());
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write(CalibrationRun::csvHeader().toUtf8() + '\n');
        csv.write("2026-12-01T10:00:00Z,Sun,cross-scan,1296.000,14.10,,13.0,0.412,-0.300,2.10,2.08,100\n");
        csv.write("2026-12-02T10:00:00Z,Sun,Sun noise,1296.000,13.52,0.03,13.0,,,,,100\n");
        csv.write("2026-12-03T10:00:00Z,Sun,cross\n");
        csv.write(QByteArray("2026-12-04T10:00:00Z,") + QByteArray(5000, 'x') + ",Sun noise,1,2,3,4,,,,,5\n");
        csv.close();
        TrackingControl station;
        Calibrator calibrator(station);
        CalibrationDialog dialog(calibrator);
        auto *history = child<QListWidget>(dialog, "listCalibrationHistory");
        QCOMPARE(history->count(), 3);
        QVERIFY(history->item(0)->text().size() <= 200);
        QVERIFY(history->item(1)->text().contains(QStringLiteral("Y 13.52 ± 0.03 dB")));
        QVERIFY(history->item(2)->text().contains(QStringLiteral("offsets 0.412/-0.300°, beam 2.08°")));
    }
};

QTEST_MAIN(tst_CalibrationDialog)
#include "tst_calibrationdialog.moc"
