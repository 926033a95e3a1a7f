// SPDX-License-Identifier: GPL-3.0-or-later
#include "demo/stationsimulator.h"

#include "demo/democlock.h"
#include "calibration/crossscan.h"
#include "ephemeris/ephemeriswriter.h"
#include "sim/simreceiver.h"
#include "sim/simrotator.h"
#include "sim/simtransceiver.h"
#include "ui_StationSimulator.h"

#include <QAction>
#include <QMainWindow>
#include <QTimer>

namespace {

QString direction(double azimuth, double elevation)
{
    return QStringLiteral("az %1°, el %2°").arg(azimuth, 0, 'f', 1).arg(elevation, 0, 'f', 1);
}

QAction *action(QMainWindow *window, const char *name)
{
    return window ? window->findChild<QAction *>(QString::fromLatin1(name)) : nullptr;
}

bool checked(const QAction *action)
{
    return action && action->isChecked();
}

} // namespace

StationSimulator::StationSimulator(DemoStation &station, QMainWindow *mainWindow, QWidget *parent)
    : QWidget(parent)
    , m_station(station)
    , m_sunTarget(action(mainWindow, "actionRotSun"))
    , m_sourceTarget(action(mainWindow, "actionRotSource"))
    , ui(new Ui::StationSimulatorClass)
    , m_refreshTimer(new QTimer(this))
{
    ui->setupUi(this);
    SimRotator &rotator = station.rotator();
    SimTransceiver &radio = station.transceiver();

    connect(ui->buttonPtt, &QPushButton::toggled, &station, &DemoStation::setPtt);
    connect(&station, &DemoStation::pttChanged, ui->buttonPtt, &QPushButton::setChecked);
    connect(ui->checkRotatorSilent, &QCheckBox::toggled, this, [&rotator](bool on) { rotator.setSilent(on); });
    connect(ui->checkRotatorRefusing, &QCheckBox::toggled, this, [&rotator](bool on) { rotator.setRefusing(on); });
    connect(ui->checkRadioSilent, &QCheckBox::toggled, this, [&radio](bool on) { radio.setSilent(on); });
    connect(ui->checkRadioGarbage, &QCheckBox::toggled, this, [&radio](bool on) { radio.setGarbage(on); });
    connect(ui->buttonCableA, &QPushButton::toggled, this,
            [&station](bool pulled) { station.setCablePulled(DemoStation::Rotator, pulled); });
    connect(ui->buttonCableB, &QPushButton::toggled, this,
            [&station](bool pulled) { station.setCablePulled(DemoStation::Transceiver, pulled); });
    connect(&station, &DemoStation::cableChanged, this, &StationSimulator::showCable);
    connect(&station.ephemeris(), &EphemerisWriter::written, this, &StationSimulator::refresh);

    // The antenna moves between ephemeris updates; a few frames a second show it.
    connect(m_refreshTimer, &QTimer::timeout, this, &StationSimulator::refresh);
    m_refreshTimer->start(200);
    showCable(DemoStation::Rotator);
    showCable(DemoStation::Transceiver);
    const Direction hidden = station.receiver().hiddenOffset();
    ui->labelHiddenOffset->setText(QStringLiteral("Hidden error: az %1, el %2")
                                       .arg(crossscan::signedDegrees(hidden.azimuth),
                                            crossscan::signedDegrees(hidden.elevation)));
    refresh();
}

StationSimulator::~StationSimulator() = default;

void StationSimulator::refresh()
{
    const SimRotator &rotator = m_station.rotator();
    const double presentAz = rotator.presentAzimuth();
    const double presentEl = rotator.presentElevation();
    const double commandedAz = rotator.commandedAzimuth();
    const double commandedEl = rotator.commandedElevation();
    ui->skyPlot->setAntenna(presentAz, presentEl, commandedAz, commandedEl);
    ui->labelAntennaPresent->setText(QStringLiteral("Pointing: %1").arg(direction(presentAz, presentEl)));
    ui->labelAntennaCommanded->setText(QStringLiteral("Commanded: %1").arg(direction(commandedAz, commandedEl)));

    // The target the main window tracks; the Source has no position here.
    const SkySnapshot sky = m_station.ephemeris().lastSky();
    if (checked(m_sunTarget)) {
        ui->skyPlot->setTarget(QStringLiteral("Sun"), sky.sunAzimuth, sky.sunElevation);
        ui->labelTarget->setText(QStringLiteral("Sun: %1").arg(direction(sky.sunAzimuth, sky.sunElevation)));
    } else if (checked(m_sourceTarget)) {
        ui->skyPlot->setTarget(QString(), 0, 0);
        ui->labelTarget->setText(QStringLiteral("Source: no position"));
    } else {
        ui->skyPlot->setTarget(QStringLiteral("Moon"), sky.moonAzimuth, sky.moonElevation);
        ui->labelTarget->setText(QStringLiteral("Moon: %1").arg(direction(sky.moonAzimuth, sky.moonElevation)));
    }
    ui->labelClock->setText(QStringLiteral("UTC: %1").arg(sky.utc.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))));
    const EphemerisWriter &clock = m_station.ephemeris();
    ui->labelSimulatedTime->setVisible(clock.hasOwnClock());
    if (clock.hasOwnClock())
        ui->labelSimulatedTime->setText(DemoClock::describe(clock.clockRate(), sky.utc));

    const SimTransceiver &radio = m_station.transceiver();
    ui->labelRadioFrequency->setText(
        QStringLiteral("%1 MHz").arg(radio.frequency() / 1e6, 9, 'f', 5, QChar('0')));
    ui->labelRadioState->setText(radio.transmitting() ? QStringLiteral("Transmitting") : QStringLiteral("Receiving"));
}

void StationSimulator::showCable(DemoStation::Device device)
{
    const bool rotator = device == DemoStation::Rotator;
    QLabel *label = rotator ? ui->labelCableA : ui->labelCableB;
    QPushButton *button = rotator ? ui->buttonCableA : ui->buttonCableB;
    const QString port = rotator ? QStringLiteral("Port A (rotator)") : QStringLiteral("Port B (transceiver)");
    const QString letter = rotator ? QStringLiteral("A") : QStringLiteral("B");
    const bool pulled = m_station.isCablePulled(device);
    label->setText(pulled ? QStringLiteral("%1: cable pulled").arg(port)
                          : QStringLiteral("%1: %2 on %3")
                                .arg(port, m_station.portName(device), m_station.linePath(device)));
    const QSignalBlocker quiet(button);
    button->setChecked(pulled);
    button->setText(pulled ? QStringLiteral("Plug cable %1 back").arg(letter)
                           : QStringLiteral("Pull cable %1").arg(letter));
}
