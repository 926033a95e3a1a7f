// SPDX-License-Identifier: GPL-3.0-or-later
// "Calibrate..." on the station panel: the sources it offers, a run it
// starts and stops with the antenna back on the target, the levels drawn,
// and the history read from calibration.csv however that file was left.

#include "calibration/calibrationrun.h"
#include "calibration/calibrator.h"
#include "fixedsource.h"
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
#include <QPushButton>
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
