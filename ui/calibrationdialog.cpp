// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/calibrationdialog.h"

#include "calibration/calibrationrun.h"
#include "calibration/hamlibstrength.h"
#include "hamlib/hamliblinks.h"
#include "station/trackingcontrol.h"
#include "ui_CalibrationDialog.h"

#include <QFile>
#include <QMessageBox>

namespace {

constexpr int historyLines = 20;
const char *const strengthName = "radio's S-meter through Hamlib";

} // namespace

CalibrationDialog::CalibrationDialog(TrackingControl &station, QWidget *parent)
    : QDialog(parent)
    , m_station(station)
    , m_ui(std::make_unique<Ui::CalibrationDialog>())
{
    m_ui->setupUi(this);
    connect(m_ui->buttonCalibrationStart, &QPushButton::clicked, this, &CalibrationDialog::start);
    connect(m_ui->buttonCalibrationStop, &QPushButton::clicked, this, [this] {
        if (m_run)
            m_run->abort();
    });
    connect(m_ui->buttonCalibrationApply, &QPushButton::clicked, this, &CalibrationDialog::apply);
    refresh();
}

CalibrationDialog::~CalibrationDialog() = default;

void CalibrationDialog::addLevelSource(LevelSource *source)
{
    m_extraSources.append(source);
    refresh();
}

void CalibrationDialog::refresh()
{
    const QString chosen = m_ui->comboLevelSource->currentText();
    m_ui->comboLevelSource->clear();
    for (const QPointer<LevelSource> &source : m_extraSources)
        if (source)
            m_ui->comboLevelSource->addItem(source->name());
    if (qobject_cast<const RigctldLink *>(m_station.transceiver()))
        m_ui->comboLevelSource->addItem(QString::fromLatin1(strengthName));
    if (const int at = m_ui->comboLevelSource->findText(chosen); at >= 0)
        m_ui->comboLevelSource->setCurrentIndex(at);
    if (!m_run || !m_run->isRunning())
        m_ui->buttonCalibrationStart->setEnabled(m_ui->comboLevelSource->count() > 0);
    if (m_ui->comboLevelSource->count() == 0)
        m_ui->labelCalibrationStatus->setText(
            tr("No level source: open port B on a radio through Hamlib (rigctld or linked in) to read its S-meter"));
    showHistory();
}

LevelSource *CalibrationDialog::chosenSource()
{
    const QString name = m_ui->comboLevelSource->currentText();
    for (const QPointer<LevelSource> &source : m_extraSources)
        if (source && source->name() == name)
            return source;
    auto *link = qobject_cast<RigctldLink *>(const_cast<TransceiverLink *>(m_station.transceiver()));
    if (name != QLatin1String(strengthName) || !link)
        return nullptr;
    m_strength = std::make_unique<HamlibStrength>(link);
    return m_strength.get();
}

void CalibrationDialog::start()
{
    if (m_run && m_run->isRunning())
        return;
    LevelSource *source = chosenSource();
    if (!source) {
        m_ui->labelCalibrationStatus->setText(tr("The level source is gone; choose another"));
        refresh();
        return;
    }
    static const TrackingTarget targets[] = {TrackingTarget::Sun, TrackingTarget::Moon, TrackingTarget::Source};
    CalibrationRun::Settings settings;
    settings.target = targets[qBound(0, m_ui->comboCalibrationTarget->currentIndex(), 2)];
    settings.kind = m_ui->comboCalibrationMeasurement->currentIndex() == 1 ? CalibrationRun::Kind::SunNoise
                                                                           : CalibrationRun::Kind::CrossScan;
    settings.scan.beamwidthDeg = m_ui->spinBeamwidth->value();
    settings.station.beamwidthDeg = m_ui->spinBeamwidth->value();
    settings.station.systemKelvin = m_ui->spinSystemKelvin->value();
    settings.station.frequencyMHz = m_station.sourceSettings().frequencyMHz;
    settings.flux107Sfu = m_ui->spinFlux->value();
    m_run.reset();  // the last one's antenna is back on target already
    m_run = std::make_unique<CalibrationRun>(m_station, *source, settings);
    m_ui->plotCalibration->clear();
    m_plottedCut = -1;
    connect(m_run.get(), &CalibrationRun::progressed, this, &CalibrationDialog::progressed);
    connect(m_run.get(), &CalibrationRun::levelHeard, this, [this](double across, double level) {
        if (m_plottedCut != m_run->scan().cut()) {
            m_plottedCut = m_run->scan().cut();
            m_ui->plotCalibration->newCut(m_run->scan().axis() == CutAxis::Azimuth ? tr("azimuth") : tr("elevation"));
            m_ui->plotCalibration->setFit(std::nullopt);
        }
        m_ui->plotCalibration->add(across, level);
    });
    if (!m_run->start()) {
        m_ui->labelCalibrationStatus->setText(tr("Cannot calibrate: %1").arg(m_run->failure()));
        return;
    }
    m_ui->labelCalibrationResult->clear();
    progressed();
}

void CalibrationDialog::progressed()
{
    const bool running = m_run && m_run->isRunning();
    m_ui->buttonCalibrationStart->setEnabled(!running);
    m_ui->buttonCalibrationStop->setEnabled(running);
    m_ui->buttonCalibrationApply->setEnabled(
        m_run && m_run->succeeded() && m_run->settings().kind == CalibrationRun::Kind::CrossScan);
    if (!m_run)
        return;
    m_ui->progressCalibration->setValue(qRound(1000 * m_run->progress()));
    m_ui->labelCalibrationStatus->setText(m_run->status());
    // The fit of the cut just ended is drawn over its levels.
    const int ended = m_run->scan().cut() - 1;
    if (m_plottedCut >= 0 && ended == m_plottedCut)
        m_ui->plotCalibration->setFit(m_run->scan().fit(ended % 2 == 0 ? CutAxis::Azimuth : CutAxis::Elevation));
    if (!m_run->succeeded())
        return;
    if (m_run->settings().kind == CalibrationRun::Kind::CrossScan) {
        const Direction found = m_run->scan().correction();
        m_ui->labelCalibrationResult->setText(tr("Offsets found: azimuth %1, elevation %2; beam %3° wide")
                                                  .arg(crossscan::signedDegrees(found.azimuth), crossscan::signedDegrees(found.elevation))
                                                  .arg(m_run->scan().fit(CutAxis::Elevation)->halfPowerWidthDeg, 0, 'f', 2));
    } else {
        const auto expected = m_run->expectedYDb();
        m_ui->labelCalibrationResult->setText(
            tr("Y = %1 ± %2 dB%3")
                .arg(m_run->yFactor()->db, 0, 'f', 2)
                .arg(m_run->yFactor()->errorDb, 0, 'f', 2)
                .arg(expected ? tr(", %1 dB expected").arg(*expected, 0, 'f', 1) : QString()));
    }
    showHistory();
}

void CalibrationDialog::apply()
{
    if (!m_run || !m_run->succeeded())
        return;
    const Direction found = m_run->scan().correction();
    const auto answer = QMessageBox::question(
        this, tr("Apply the offsets"),
        tr("Add %1 to the azimuth offset and %2 to the elevation offset? They are kept in store.cfg.")
            .arg(crossscan::signedDegrees(found.azimuth), crossscan::signedDegrees(found.elevation)));
    if (answer != QMessageBox::Yes)
        return;
    m_station.addOffsets(found.azimuth, found.elevation);
    m_station.say(tr("calibration applied: azimuth offset now %1, elevation offset now %2")
                      .arg(m_station.azimuthOffset(), 0, 'f', 2)
                      .arg(m_station.elevationOffset(), 0, 'f', 2));
    m_ui->buttonCalibrationApply->setEnabled(false);
}

// The newest first, as calibration.csv keeps them; the file is read to its last lines only.
void CalibrationDialog::showHistory()
{
    m_ui->listCalibrationHistory->clear();
    QFile file(CalibrationRun::defaultPath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    constexpr qint64 tail = 64 * 1024;
    if (file.size() > tail)
        file.seek(file.size() - tail);
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.removeAll(CalibrationRun::csvHeader());
    for (qsizetype i = lines.size() - 1; i >= 0 && i >= lines.size() - historyLines; --i) {
        const QStringList f = lines.at(i).split(QLatin1Char(','));
        if (f.size() < 12)
            continue;
        const QString what = f.at(2) == QLatin1String("cross-scan")
            ? tr("offsets %1/%2°, beam %3°").arg(f.at(7), f.at(8), f.at(10))
            : tr("Y %1 ± %2 dB").arg(f.at(4), f.at(5));
        m_ui->listCalibrationHistory->addItem(
            tr("%1  %2 %3 at %4 MHz: %5").arg(f.at(0), f.at(1), f.at(2), f.at(3), what).left(200));
    }
}
