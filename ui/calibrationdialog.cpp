// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/calibrationdialog.h"

#include "calibration/calibrationrun.h"
#include "calibration/calibrator.h"
#include "calibration/levelsource.h"
#include "station/trackingcontrol.h"
#include "ui/spinboxrefusal.h"
#include "ui_CalibrationDialog.h"

#include <QMessageBox>

namespace {

QString noSourceText()
{
    return QObject::tr("No level source: connect the receiver's audio to a sound card, or open port B on a radio "
                       "through Hamlib (rigctld or linked in) to read its S-meter");
}

} // namespace

CalibrationDialog::CalibrationDialog(Calibrator &calibrator, QWidget *parent)
    : QDialog(parent)
    , m_calibrator(calibrator)
    , m_ui(std::make_unique<Ui::CalibrationDialog>())
{
    m_ui->setupUi(this);
    connect(m_ui->buttonCalibrationStart, &QPushButton::clicked, this, &CalibrationDialog::start);
    connect(m_ui->buttonCalibrationStop, &QPushButton::clicked, &calibrator, &Calibrator::abort);
    connect(m_ui->buttonCalibrationApply, &QPushButton::clicked, this, &CalibrationDialog::apply);
    // A run started here or through the API alike.
    connect(&calibrator, &Calibrator::started, this, &CalibrationDialog::started);
    connect(&calibrator, &Calibrator::progressed, this, &CalibrationDialog::progressed);
    connect(&calibrator, &Calibrator::levelHeard, this, &CalibrationDialog::levelHeard);
    connect(&calibrator, &Calibrator::historyChanged, this, &CalibrationDialog::showHistory);
    // The band may change while the dialog is open; a run shows the one it took.
    connect(&calibrator.station(), &TrackingControl::changed, this, [this] {
        if (isVisible() && !m_calibrator.isRunning())
            showFrequency();
    });
    // A value out of a box's range is refused at the box, in words.
    sayRefusedKeys(this);
    refresh();
}

CalibrationDialog::~CalibrationDialog() = default;

const CalibrationRun *CalibrationDialog::run() const
{
    return m_calibrator.run();
}

void CalibrationDialog::addLevelSource(LevelSource *source)
{
    m_calibrator.addLevelSource(source);
    refresh();
}

void CalibrationDialog::refresh()
{
    const QString chosen = m_ui->comboLevelSource->currentText();
    m_ui->comboLevelSource->clear();
    m_ui->comboLevelSource->addItems(m_calibrator.sourceNames());
    if (const int at = m_ui->comboLevelSource->findText(chosen); at >= 0)
        m_ui->comboLevelSource->setCurrentIndex(at);
    if (!m_calibrator.isRunning())
        m_ui->buttonCalibrationStart->setEnabled(m_ui->comboLevelSource->count() > 0);
    if (m_ui->comboLevelSource->count() == 0)
        m_ui->labelCalibrationStatus->setText(noSourceText());
    else if (m_ui->labelCalibrationStatus->text() == noSourceText())
        m_ui->labelCalibrationStatus->clear();
    if (!m_calibrator.isRunning())
        showFrequency();
    m_calibrator.readHistory();
    showHistory();
}

void CalibrationDialog::start()
{
    static const TrackingTarget targets[] = {TrackingTarget::Sun, TrackingTarget::Moon, TrackingTarget::Source};
    CalibrationRun::Settings settings;
    settings.target = targets[qBound(0, m_ui->comboCalibrationTarget->currentIndex(), 2)];
    settings.kind = m_ui->comboCalibrationMeasurement->currentIndex() == 1 ? CalibrationRun::Kind::SunNoise
                                                                           : CalibrationRun::Kind::CrossScan;
    settings.scan.beamwidthDeg = m_ui->spinBeamwidth->value();
    settings.scan.stepBeams = m_ui->spinStep->value();
    settings.dwellSeconds = m_ui->spinDwell->value();
    settings.slewDegPerSecond = m_ui->spinSlew->value();
    settings.station.beamwidthDeg = m_ui->spinBeamwidth->value();
    settings.station.systemKelvin = m_ui->spinSystemKelvin->value();
    settings.flux107Sfu = m_ui->spinFlux->value();
    if (m_ui->checkColdSky->isChecked())
        settings.coldSky = Direction {m_ui->spinColdAzimuth->value(), m_ui->spinColdElevation->value()};
    QString why;
    if (!m_calibrator.start(settings, m_ui->comboLevelSource->currentText(), &why)) {
        m_ui->labelCalibrationStatus->setText(tr("Cannot calibrate: %1").arg(why));
        refresh();
    }
}

void CalibrationDialog::showFrequency()
{
    Calibrator::Frequency frequency = m_calibrator.workingFrequency();
    if (const CalibrationRun *run = m_calibrator.run(); run && m_calibrator.isRunning())
        frequency = {run->settings().station.frequencyMHz, run->settings().frequencyFrom};
    m_ui->labelCalibrationFrequency->setText(tr("The Y expected at %1").arg(Calibrator::frequencyText(frequency)));
}

void CalibrationDialog::started()
{
    showFrequency();
    m_ui->plotCalibration->clear();
    m_plottedCut = -1;
    m_ui->labelCalibrationResult->clear();
}

void CalibrationDialog::levelHeard(double acrossDeg, double level)
{
    const CalibrationRun *run = m_calibrator.run();
    if (m_plottedCut != run->scan().cut()) {
        m_plottedCut = run->scan().cut();
        m_ui->plotCalibration->newCut(run->scan().axis() == CutAxis::Azimuth ? tr("azimuth") : tr("elevation"));
        m_ui->plotCalibration->setFit(std::nullopt);
    }
    m_ui->plotCalibration->add(acrossDeg, level);
}

void CalibrationDialog::progressed()
{
    const CalibrationRun *run = m_calibrator.run();
    const bool running = m_calibrator.isRunning();
    m_ui->buttonCalibrationStart->setEnabled(!running && m_ui->comboLevelSource->count() > 0);
    m_ui->buttonCalibrationStop->setEnabled(running);
    m_ui->buttonCalibrationApply->setEnabled(m_calibrator.canApply());
    if (!run)
        return;
    m_ui->progressCalibration->setValue(qRound(1000 * run->progress()));
    m_ui->labelCalibrationStatus->setText(run->status());
    // The fit of the cut just ended is drawn over its levels.
    const int ended = run->scan().cut() - 1;
    if (m_plottedCut >= 0 && ended == m_plottedCut)
        m_ui->plotCalibration->setFit(run->scan().fit(ended % 2 == 0 ? CutAxis::Azimuth : CutAxis::Elevation));
    m_ui->labelCalibrationResult->setText(m_calibrator.resultText());
}

void CalibrationDialog::apply()
{
    if (!m_calibrator.canApply())
        return;
    const Direction found = m_calibrator.run()->scan().correction();
    const auto answer = QMessageBox::question(
        this, tr("Apply the offsets"),
        tr("Add %1 to the azimuth offset and %2 to the elevation offset? They are kept in store.cfg.")
            .arg(crossscan::signedDegrees(found.azimuth), crossscan::signedDegrees(found.elevation)));
    if (answer == QMessageBox::Yes)
        m_calibrator.apply();
}

void CalibrationDialog::showHistory()
{
    m_ui->listCalibrationHistory->clear();
    m_ui->listCalibrationHistory->addItems(m_calibrator.history());
}
