// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracking/qt_vestrel.h"

#include "linkedhamlib/hamlibmodels.h"
#include "links/showntext.h"
#include "settings/numbers.h"
#include "settings/settingsfile.h"
#include "startup/firststart.h"
#include "ui/aboutdialog.h"
#include "ui/hamlibmodeldialog.h"
#include "ui/logdialog.h"
#include "ui/parkingdialog.h"
#include "ui/roundingdialog.h"
#include "ui/serialsettingsdialog.h"
#include "ui/stationpanel.h"
#include "ui/timersettingdialog.h"
#include "ui_Qt_Vestrel.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

#include <utility>

namespace {

const QString noFrequency = QStringLiteral("---.----- MHz");
const QString ft847 = QStringLiteral("Yaesu FT-847");
const QString rigctldType = QStringLiteral("Hamlib rigctld (network)");
const QString serialRotatorType = QStringLiteral("Serial controller");
const QString rotctldType = QStringLiteral("Hamlib rotctld (network)");
const QString hamlibRadioType = QStringLiteral("Hamlib radio");
const QString hamlibRotatorType = QStringLiteral("Hamlib rotator");
const QString unknownPosition = QStringLiteral("Antenna: az ---.--, el ---.--");

QString frequencyText(double mhz)
{
    return numbers::fixed(mhz, 5, 9);
}

// An offset to the hundredth of a degree the rotator commands carry, without
// trailing zeros: -1.18943 -> "-1.19", 1.5 -> "1.5", 0.004 -> "0".
QString offsetText(double degrees)
{
    QString text = QString::number(degrees, 'f', 2);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

} // namespace

Qt_Vestrel::Qt_Vestrel(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::Qt_VestrelClass)
{
    ui->setupUi(this);
    // Actions have no activated() signal any more; triggered() fires at the same moments.
    connect(ui->actionSerial_port, &QAction::triggered, this, &Qt_Vestrel::on_actionSerial_port_activated);
    connect(ui->actionOpen_data_file, &QAction::triggered, this, &Qt_Vestrel::on_actionOpen_data_file_activated);
    connect(ui->actionTimer, &QAction::triggered, this, &Qt_Vestrel::on_actionTimer_activated);
    connect(ui->actionOffsets, &QAction::triggered, this, &Qt_Vestrel::on_actionOffsets_activated);
    connect(ui->actionShow_log, &QAction::triggered, this, &Qt_Vestrel::on_actionShow_log_activated);
    connect(ui->actionPark_rotator, &QAction::triggered, this, &Qt_Vestrel::on_actionPark_rotator_activated);
    connect(ui->actionAbout, &QAction::triggered, this, [this] { AboutDialog::showFor(this, m_station->logPath()); });

    logWindow = new logDialog(this);
    m_station = new TrackingControl(this);
    logWindow->setRecordNote(QStringLiteral("the full record is in %1").arg(m_station->logPath()));
    connect(m_station, &TrackingControl::message, logWindow, &logDialog::append);
    connect(m_station, &TrackingControl::logFileFailed, this, [this] {
        logWindow->setRecordNote(
            QStringLiteral("the record in %1 lacks the messages that could not be written").arg(m_station->logPath()));
    });
    connect(m_station, &TrackingControl::changed, this, &Qt_Vestrel::showStation);
    // Beside the operator's controls, below them: what the station is doing.
    m_panel = new StationPanel(*m_station, this);
    auto *grid = static_cast<QGridLayout *>(ui->centralwidget->layout());
    grid->addWidget(m_panel, grid->rowCount(), 0, 1, grid->columnCount());
    connect(m_station, &TrackingControl::ticked, m_panel, &StationPanel::refresh);
    // A port waiting for its device counts down to the next attempt.
    connect(m_station, &TrackingControl::ticked, this, [this] {
        for (SerialPortRecord *record : {&portA, &portB})
            if (m_station->isReconnecting(record->port))
                showPort(*record);
    });
    connect(m_station, &TrackingControl::antennaPosition, this, [this](double azimuth, double elevation) {
        ui->labelAntennaPosition->setText(
            QStringLiteral("Antenna: az %1, el %2").arg(azimuth, 0, 'f', 2).arg(elevation, 0, 'f', 2));
    });

    portA = {StationPort::A, false, false, ui->comboRotator, {}, ui->comboSerialNameA, ui->labelSerialStatusA,
             ui->lineSerialSendA, ui->buttonOpenSerialA, ui->buttonSerialSendA, nullptr, ui->radioSerialAManual,
             ui->radioSerialAAuto, {}};
    portB = {StationPort::B, false, false, ui->comboTransceiver, {}, ui->comboSerialNameB, ui->labelSerialStatusB,
             ui->lineSerialSendB, ui->buttonOpenSerialB, ui->buttonSerialSendB, nullptr, ui->radioSerialBManual,
             ui->radioSerialBAuto, {}};

    serialSettings = new serialSettingsDialog(this);
    timerSettings = new timerSettingdialog(this);
    roundingSettings = new roundingDialog(this);
    parkingSettings = new ParkingDialog(this);
    timerSettings->setRepetitionTime(quint16(m_station->times().repetitionTime));
    timerSettings->setMessageDelay(quint16(m_station->times().messageDelay));
    roundingSettings->setAzimuthRounding(m_station->azimuthRounding());
    roundingSettings->setElevationRounding(m_station->elevationRounding());
    parkingSettings->setAzimuthParking(m_station->azimuthParking());
    parkingSettings->setElevationParking(m_station->elevationParking());
    connect(timerSettings, &timerSettingdialog::timeConfirmed, this, &Qt_Vestrel::timerSettingConfirmed);
    connect(roundingSettings, &roundingDialog::roundingConfirmed, this, &Qt_Vestrel::roundingSettingsConfirmed);
    connect(parkingSettings, &ParkingDialog::parkingConfirmed, this, &Qt_Vestrel::parkingDialogConfirmed);
    connect(parkingSettings, &ParkingDialog::parkingClosed, this, &Qt_Vestrel::parkingDialogClosed);
    portA.parameters = &serialSettings->parametersA;
    portB.parameters = &serialSettings->parametersB;

    enumeratePorts();
    if (const QString note = startup::firstStartNote(m_station->settingsFile(), m_station->logPath()); !note.isEmpty()) {
        m_station->say(note);
        // Said where a newcomer looks, not only in the log window.
        m_firstStart = new QLabel(note, this);
        m_firstStart->setObjectName(QStringLiteral("labelFirstStart"));
        m_firstStart->setWordWrap(true);
        m_firstStart->setFrameShape(QFrame::StyledPanel);
        m_firstStart->setMargin(6);
        grid->addWidget(m_firstStart, grid->rowCount(), 0, 1, grid->columnCount());
    }

    // The frequency under the readout is the working one "Track frequency" adds the shift to: said so.
    {
        const int at = ui->verticalLayout->indexOf(ui->labelFreqStart);
        ui->verticalLayout->removeWidget(ui->labelFreqStart);
        auto *row = new QHBoxLayout;
        auto *caption = new QLabel(QStringLiteral("working"), this);
        caption->setObjectName(QStringLiteral("labelWorkingCaption"));
        caption->setToolTip(ui->labelFreqStart->toolTip());
        row->addWidget(caption);
        row->addWidget(ui->labelFreqStart, 1);
        ui->verticalLayout->insertLayout(at, row);
    }

    // The offset fields show the offsets in force, also those a calibration applied.
    showOffsets();
    connect(m_station, &TrackingControl::offsetsChanged, this, [this] {
        showOffsets();
        m_station->saveOffsets();  // store.cfg keeps what the fields show
    });

    ui->comboTransceiver->clear();
    ui->comboTransceiver->addItem(QStringLiteral("Yaesu FT-817"));
    ui->comboTransceiver->addItem(ft847);

    // The Hamlib daemons: a third transceiver type, a second rotator type.
    ui->comboTransceiver->addItem(rigctldType);
    ui->comboRotator->addItem(serialRotatorType);
    ui->comboRotator->addItem(rotctldType);
    // Hamlib linked in: any model from its list, no daemon to start.
    ui->comboTransceiver->addItem(hamlibRadioType);
    ui->comboRotator->addItem(hamlibRotatorType);
    ui->labelAntennaPosition->setVisible(false);
    const NetworkSettings network = m_station->networkSettings();
    if (network.rigctld || network.rigLinked)
        ui->comboTransceiver->setCurrentText(network.rigctld ? rigctldType : hamlibRadioType);
    if (network.rotctld || network.rotLinked)
        ui->comboRotator->setCurrentText(network.rotctld ? rotctldType : hamlibRotatorType);
    for (SerialPortRecord *record : {&portA, &portB}) {
        showTransport(*record);
        connect(record->typeCombo, &QComboBox::currentIndexChanged, this, [this, record] { transportChosen(*record); });
        // Chosen again, the type opens the model list again.
        connect(record->typeCombo, &QComboBox::activated, this, [this, record] {
            if (record->linked && !m_station->portSession(record->port).open)
                chooseHamlibModel(*record);
        });
    }
    resumeSession();
}

Qt_Vestrel::~Qt_Vestrel()
{
    m_sessionKept = false;  // closing the ports is not the operator's choice
    // The fields' texts are saved, also an offset typed but never confirmed.
    SettingsFile &settings = m_station->settingsFile();
    if (const auto elevation = numbers::toSingle(ui->lineElevationOffset->text()))
        settings.writeElevationOffset(*elevation);
    if (const auto azimuth = numbers::toSingle(ui->lineAzimutOffset->text()))
        settings.writeAzimutOffset(*azimuth);
    // A calibration the panel runs gives the antenna back to the station first.
    delete std::exchange(m_panel, nullptr);
    m_station->closeAll();
    delete m_station;
}

void Qt_Vestrel::enumeratePorts()
{
    portList = m_station->enumeratePorts();
    if (portList.isEmpty())
        return;
    ui->comboSerialNameA->clear();
    ui->comboSerialNameB->clear();
    for (const QString &name : std::as_const(portList)) {
        ui->comboSerialNameA->addItem(name);
        ui->comboSerialNameB->addItem(name);
    }
    const std::initializer_list<QWidget *> portControls {ui->comboSerialNameA, ui->comboSerialNameB,
                                                         ui->buttonOpenSerialA, ui->buttonOpenSerialB};
    for (QWidget *widget : portControls)
        widget->setEnabled(true);
    ui->labelSerialStatusA->setText(QStringLiteral("Status: disconnected"));
    ui->labelSerialStatusB->setText(QStringLiteral("Status: disconnected"));
    for (QRadioButton *radio : {ui->radioSerialAAuto, ui->radioSerialBAuto, ui->radioSerialAManual, ui->radioSerialBManual})
        radio->setEnabled(true);
}

// ---- menus and dialogs ----------------------------------------------------

void Qt_Vestrel::on_actionShow_log_activated()
{
    logWindow->setVisible(true);
}

void Qt_Vestrel::on_actionSerial_port_activated()
{
    serialSettings->setVisible(true);
}

void Qt_Vestrel::on_actionTimer_activated()
{
    timerSettings->setVisible(true);
}

void Qt_Vestrel::on_actionOffsets_activated()
{
    roundingSettings->setVisible(true);
}

void Qt_Vestrel::timerSettingConfirmed()
{
    m_station->setTimes(timerSettings->repetitionTime, timerSettings->messageDelay);
}

void Qt_Vestrel::roundingSettingsConfirmed()
{
    m_station->setRounding(roundingSettings->azimuthRounding, roundingSettings->elevationRounding);
}

void Qt_Vestrel::on_actionOpen_data_file_activated()
{
    const QString path
        = QFileDialog::getOpenFileName(this, tr("Open data file"), m_station->dataFolder(), tr("All files (*.*)"));
    m_station->setDataFile(path);
    showDataFile(path);
    rememberSession();
}

void Qt_Vestrel::showDataFile(const QString &path)
{
    const bool exists = !path.isEmpty() && QFileInfo::exists(path);
    // A name that would break network.cfg's lines is not kept for the next start.
    m_dataFile = exists && !path.contains(QLatin1Char('\n')) && !path.contains(QLatin1Char('\r')) ? path : QString();
    ui->labelFileAddress->setText(exists ? QStringLiteral("Opened file: %1").arg(path)
                                         : QStringLiteral("Opened file: no file"));
}

// ---- offsets, targets, tracking --------------------------------------------

void Qt_Vestrel::on_lineElevationOffset_editingFinished()
{
    const QString text = ui->lineElevationOffset->text();
    m_station->enterElevationOffset(text);
    if (text == QLatin1String("debug") || numbers::toSingle(text))
        showOffsets();
}

void Qt_Vestrel::on_lineAzimutOffset_editingFinished()
{
    const QString text = ui->lineAzimutOffset->text();
    m_station->enterAzimuthOffset(text);
    if (numbers::toSingle(text))
        showOffsets();
}

// The offsets in force are the hundredths the fields show, so that what
// the operator reads is what steers and what store.cfg keeps. The field
// starts at its first character: a text wider than the field keeps its sign
// in sight.
void Qt_Vestrel::showOffsets()
{
    const QString elevation = offsetText(m_station->elevationOffset());
    const QString azimuth = offsetText(m_station->azimuthOffset());
    m_station->enterElevationOffset(elevation);
    m_station->enterAzimuthOffset(azimuth);
    ui->lineElevationOffset->setText(elevation);
    ui->lineElevationOffset->setCursorPosition(0);
    ui->lineAzimutOffset->setText(azimuth);
    ui->lineAzimutOffset->setCursorPosition(0);
}

void Qt_Vestrel::timerTimeout()
{
    m_station->repetition();
}

void Qt_Vestrel::chooseTarget(QAction *chosen, TrackingTarget target, bool checked)
{
    if (checked) {
        for (QAction *action : {ui->actionRotSun, ui->actionRotMoon, ui->actionRotSource})
            if (action != chosen)
                action->setChecked(false);
    } else {
        chosen->setChecked(true);  // exactly one target stays chosen
    }
    m_station->setTarget(target);
    // A target the station refused leaves the one in force ticked.
    const TrackingTarget inForce = m_station->target();
    ui->actionRotMoon->setChecked(inForce == TrackingTarget::Moon);
    ui->actionRotSun->setChecked(inForce == TrackingTarget::Sun);
    ui->actionRotSource->setChecked(inForce == TrackingTarget::Source);
}

void Qt_Vestrel::on_actionRotSun_triggered(bool checked)
{
    chooseTarget(ui->actionRotSun, TrackingTarget::Sun, checked);
}

void Qt_Vestrel::on_actionRotMoon_triggered(bool checked)
{
    chooseTarget(ui->actionRotMoon, TrackingTarget::Moon, checked);
}

void Qt_Vestrel::on_actionRotSource_triggered(bool checked)
{
    chooseTarget(ui->actionRotSource, TrackingTarget::Source, checked);
}

// ---- parking ---------------------------------------------------------------

void Qt_Vestrel::on_actionPark_rotator_activated()
{
    parkingSettings->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                                    | Qt::CustomizeWindowHint);
    parkingSettings->show();
}

void Qt_Vestrel::parkingDialogConfirmed()
{
    m_station->park(parkingSettings->azimuthParking, parkingSettings->elevationParking);
}

void Qt_Vestrel::parkingDialogClosed()
{
    m_station->endParking();
}

// Replies go to the station, which owns the link.
void Qt_Vestrel::rotatorReceived(const QByteArray &) {}

// ---- ports -----------------------------------------------------------------

// What the station holds, shown: the two ports and the transceiver's fields.
void Qt_Vestrel::showStation()
{
    showPort(portA);
    showPort(portB);
    const PortSession &a = m_station->portSession(StationPort::A);
    const PortSession &b = m_station->portSession(StationPort::B);
    ui->actionSerial_port->setEnabled(!a.open && !b.open);
    ui->actionPark_rotator->setEnabled(a.open && !a.automatic);
    if (m_firstStart && (a.open || b.open))
        m_firstStart->hide();
    rememberSession();
    showDoppler();
    if (m_panel)
        m_panel->refresh();
}

void Qt_Vestrel::showPort(SerialPortRecord &record)
{
    const PortSession &session = m_station->portSession(record.port);
    const bool usable = record.network || record.linked || !portList.isEmpty();
    const QString trouble = m_station->trouble(record.port);
    QString waiting;
    if (!session.open && !session.connecting && session.isReconnecting()) {
        const QString daemon = record.port == StationPort::A ? QStringLiteral("rotctld") : QStringLiteral("rigctld");
        waiting = session.network || session.linked ? QStringLiteral(", retrying %1 in %2 s").arg(session.network ? daemon : QStringLiteral("Hamlib")).arg(session.secondsToRetry())
                                  : QStringLiteral(", waiting for %1 to return").arg(session.openedName);
    }
    record.statusLabel->setText(session.connecting ? QStringLiteral("Status: connecting")
                                : session.open     ? QStringLiteral("Status: connected") + trouble
                                : usable           ? QStringLiteral("Status: disconnected") + waiting + trouble
                                                   : QStringLiteral("Status: unknown"));
    const QString style = trouble.isEmpty() ? QString() : QStringLiteral("color: #c00000; font-weight: bold");
    // A style sheet set again, even the same, restyles the label: this runs at every station change.
    if (record.statusLabel->styleSheet() != style)
        record.statusLabel->setStyleSheet(style);
    record.openButton->setText(session.connecting ? QStringLiteral("Cancel")
                                                  : session.open ? QStringLiteral("Close") : QStringLiteral("Open"));
    record.typeCombo->setEnabled(!session.open && !session.connecting);
    const bool manualTerminal = session.open && !session.automatic;
    record.sendLine->setEnabled(manualTerminal);
    record.sendButton->setEnabled(manualTerminal);
}

void Qt_Vestrel::showDoppler()
{
    const DopplerControl &doppler = m_station->doppler();
    const bool running = m_station->isDopplerRunning();
    const bool tracking = doppler.tracking();
    if (tracking && !m_shownTracking)
        ui->lineTransceiverFrequency->setText(frequencyText(doppler.engagedFromMHz()));
    if (!running && m_shownDopplerRunning)
        ui->lineTransceiverFrequency->clear();
    m_shownTracking = tracking;
    m_shownDopplerRunning = running;
    {
        // The boxes follow the station; their signals are the operator's.
        const QSignalBlocker dopplerBlocker(ui->checkDoppler);
        const QSignalBlocker pttBlocker(ui->check_PTT);
        ui->checkDoppler->setChecked(tracking);
        ui->check_PTT->setChecked(doppler.ptt);
    }
    ui->checkDoppler->setEnabled(m_station->isFrequencyKnown());
    ui->check_PTT->setEnabled(running);
    ui->lineTransceiverFrequency->setEnabled(running && !tracking);
    ui->labelFreqStart->setText(tracking ? QStringLiteral("%1 MHz").arg(frequencyText(doppler.workingMHz()))
                                         : noFrequency);
    if (const auto reading = m_station->shownFrequency())
        ui->labelFreq->setText(QStringLiteral("%1 %2 MHz")
                                   .arg(reading->transmitting ? QStringLiteral("T") : QStringLiteral("R"),
                                        frequencyText(reading->mhz)));
    else if (!running)
        ui->labelFreq->setText(noFrequency);
    ui->actionDopDefault->setEnabled(!running);
    ui->actionDopSource->setEnabled(!running);
}

void Qt_Vestrel::rememberSession()
{
    if (!m_sessionKept)
        return;
    NetworkSettings settings = m_station->networkSettings();
    NetworkSettings::Resume &resume = settings.resume;
    const auto keep = [this](StationPort port, bool &open, bool &automatic, QString &device) {
        const PortSession &session = m_station->portSession(port);
        // A device being waited for was open when the window closed.
        open = session.open || session.connecting || m_station->isReconnecting(port);
        automatic = session.automatic;
        if (open)
            device = session.openedName;
    };
    keep(StationPort::A, resume.openA, resume.autoA, resume.deviceA);
    keep(StationPort::B, resume.openB, resume.autoB, resume.deviceB);
    const TrackingTarget target = m_station->target();
    resume.target = target == TrackingTarget::Sun      ? QStringLiteral("sun")
                    : target == TrackingTarget::Source ? QStringLiteral("source")
                                                       : QStringLiteral("moon");
    // Unticked only by the operator: a radio being waited for keeps it.
    if (m_station->isDopplerRunning() || !resume.openB)
        resume.trackFrequency = m_station->doppler().tracking();
    resume.dataFile = m_dataFile;
    m_station->setNetworkSettings(settings);
}

void Qt_Vestrel::resumeSession()
{
    const NetworkSettings settings = m_station->networkSettings();
    const NetworkSettings::Resume &resume = settings.resume;
    if (settings.resumeAtStart) {
        // The file first, so that the target and the ports find their data.
        if (!resume.dataFile.isEmpty()) {
            if (QFileInfo::exists(resume.dataFile)) {
                m_station->setDataFile(resume.dataFile);
                showDataFile(resume.dataFile);
            } else {
                m_station->say(QStringLiteral("data file not reopened: %1 is no longer there")
                                   .arg(shownText(resume.dataFile.left(256).toUtf8())));
            }
        }
        const bool sun = resume.target == QLatin1String("sun");
        const bool source = resume.target == QLatin1String("source");
        QAction *target = sun ? ui->actionRotSun : source ? ui->actionRotSource : ui->actionRotMoon;
        target->setChecked(true);
        chooseTarget(target, sun ? TrackingTarget::Sun : source ? TrackingTarget::Source : TrackingTarget::Moon, true);
        ui->radioSerialAAuto->setChecked(resume.autoA);
        ui->radioSerialAManual->setChecked(!resume.autoA);
        ui->radioSerialBAuto->setChecked(resume.autoB);
        ui->radioSerialBManual->setChecked(!resume.autoB);
        for (SerialPortRecord *record : {&portA, &portB}) {
            const bool a = record->port == StationPort::A;
            const QString device = a ? resume.deviceA : resume.deviceB;
            if (!(a ? resume.openA : resume.openB) || device.isEmpty())
                continue;
            // A pseudo-terminal's number goes to whoever opens one next: never
            // written to at a guess (a simulator's, or someone's terminal).
            if (!record->network && device.startsWith(QLatin1String("/dev/pts/"))) {
                m_station->say(QStringLiteral("%1 not reopened: %2 was a pseudo-terminal")
                                   .arg(m_station->portSession(record->port).name, device));
                continue;
            }
            if (record->network || (record->linked && !portList.contains(device)))
                record->nameCombo->setCurrentText(device);
            else if (portList.contains(device))
                record->nameCombo->setCurrentIndex(int(portList.indexOf(device)));
            m_station->open(record->port, device, *record->parameters,
                            !a && ui->comboTransceiver->currentText() == ft847);
        }
        // "Track frequency" engages again once the radio's frequency is read.
        if (resume.trackFrequency && resume.openB) {
            auto *once = new QObject(this);
            connect(m_station, &TrackingControl::changed, once, [this, once] {
                if (!m_station->isFrequencyKnown())
                    return;
                if (!m_station->doppler().tracking())
                    m_station->setFrequencyTracking(true);
                once->deleteLater();
            });
        }
    }
    m_sessionKept = true;
    rememberSession();
}

void Qt_Vestrel::openClicked(SerialPortRecord &record)
{
    const PortSession &session = m_station->portSession(record.port);
    if (session.open || session.connecting) {
        m_station->close(record.port);
        return;
    }
    m_station->open(record.port, record.nameCombo->currentText(), *record.parameters,
                    ui->comboTransceiver->currentText() == ft847);
}

// Shows the port's name field as the daemon's address, or as the list of
// serial ports, after the choice of the device type.
void Qt_Vestrel::showTransport(SerialPortRecord &record)
{
    const bool rotator = record.port == StationPort::A;
    const QString type = record.typeCombo->currentText();
    const bool network = type == (rotator ? rotctldType : rigctldType);
    const bool linked = type == (rotator ? hamlibRotatorType : hamlibRadioType);
    if (network == record.network && linked == record.linked)
        return;
    if (!record.network)
        record.serialName = record.nameCombo->currentText();
    record.network = network;
    record.linked = linked;
    m_station->setNetwork(record.port, network);
    m_station->setLinked(record.port, linked);
    QComboBox *combo = record.nameCombo;
    combo->clear();
    if (network) {
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::InsertAtCurrent);
        const NetworkSettings settings = m_station->networkSettings();
        combo->addItem(rotator ? settings.rotctldAddress : settings.rigctldAddress);
    } else {
        // Hamlib opens a serial port, or a radio's own network address typed in.
        combo->setEditable(linked);
        combo->addItems(portList);
        combo->setCurrentIndex(portList.indexOf(record.serialName) > 0 ? portList.indexOf(record.serialName) : 0);
    }
    // Without serial ports a daemon is still reachable.
    const bool usable = network || linked || !portList.isEmpty();
    for (QWidget *widget : {static_cast<QWidget *>(combo), static_cast<QWidget *>(record.openButton),
                            static_cast<QWidget *>(record.manualRadio), static_cast<QWidget *>(record.autoRadio)})
        widget->setEnabled(usable);
    record.statusLabel->setText(usable ? QStringLiteral("Status: disconnected") : QStringLiteral("Status: unknown"));
    if (rotator) {
        ui->labelAntennaPosition->setText(unknownPosition);
        ui->labelAntennaPosition->setVisible(network || linked);
    }
}

void Qt_Vestrel::chooseHamlibModel(SerialPortRecord &record)
{
    // One choice of the type fires both the index change and the activation.
    if (record.modelChooser) {
        record.modelChooser->raise();
        return;
    }
    const bool rotator = record.port == StationPort::A;
    const NetworkSettings settings = m_station->networkSettings();
    auto *dialog = new HamlibModelDialog(rotator, rotator ? settings.hamlibRotator : settings.hamlibRadio, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    record.modelChooser = dialog;
    connect(dialog, &QDialog::accepted, this, [this, dialog, rotator] {
        NetworkSettings chosen = m_station->networkSettings();
        (rotator ? chosen.hamlibRotator : chosen.hamlibRadio) = dialog->device();
        m_station->setNetworkSettings(chosen);
        m_station->say(QStringLiteral("%1: %2").arg(rotator ? hamlibRotatorType : hamlibRadioType,
                                                   hamlibmodels::name(rotator, dialog->device().model)));
    });
    dialog->open();
}

void Qt_Vestrel::transportChosen(SerialPortRecord &record)
{
    const PortSession &session = m_station->portSession(record.port);
    if (session.open || session.connecting)
        return;
    showTransport(record);
    saveNetworkSettings();
    if (record.linked
        && (record.port == StationPort::A ? m_station->networkSettings().hamlibRotator
                                          : m_station->networkSettings().hamlibRadio)
                   .model
               <= 0)
        chooseHamlibModel(record);
}

void Qt_Vestrel::saveNetworkSettings()
{
    NetworkSettings settings = m_station->networkSettings();
    settings.rigctld = portB.network;
    settings.rotctld = portA.network;
    settings.rigLinked = portB.linked;
    settings.rotLinked = portA.linked;
    if (portB.network)
        settings.rigctldAddress = portB.nameCombo->currentText().trimmed();
    if (portA.network)
        settings.rotctldAddress = portA.nameCombo->currentText().trimmed();
    m_station->setNetworkSettings(settings);
}

void Qt_Vestrel::on_buttonOpenSerialA_clicked()
{
    openClicked(portA);
}

void Qt_Vestrel::on_buttonOpenSerialB_clicked()
{
    openClicked(portB);
}

void Qt_Vestrel::on_comboSerialNameA_activated(int)
{
    m_station->close(StationPort::A);
}

void Qt_Vestrel::on_comboSerialNameB_activated(int)
{
    m_station->close(StationPort::B);
}

void Qt_Vestrel::on_buttonSerialSendA_clicked()
{
    m_station->sendManual(StationPort::A, ui->lineSerialSendA->text());
}

void Qt_Vestrel::on_lineSerialSendA_returnPressed()
{
    on_buttonSerialSendA_clicked();
}

void Qt_Vestrel::on_buttonSerialSendB_clicked()
{
    m_station->sendManual(StationPort::B, ui->lineSerialSendB->text());
}

void Qt_Vestrel::on_lineSerialSendB_returnPressed()
{
    on_buttonSerialSendB_clicked();
}

void Qt_Vestrel::on_radioSerialAManual_toggled(bool checked)
{
    m_station->setAuto(StationPort::A, !checked);
}

void Qt_Vestrel::on_radioSerialBManual_toggled(bool checked)
{
    m_station->setAuto(StationPort::B, !checked);
}

// ---- transceiver -----------------------------------------------------------

void Qt_Vestrel::freqReadTimeout()
{
    m_station->readout();
}

// Readouts go to the station, which owns the link.
void Qt_Vestrel::frequencyReceiveSlot(qreal) {}
void Qt_Vestrel::statusReceivedSlot(bool) {}

// Link messages reach the log through the station.
void Qt_Vestrel::transceiverEexecutionMessageSlot(QString) {}
void Qt_Vestrel::transceiverDebugMessageSlot(QString) {}

void Qt_Vestrel::on_checkDoppler_stateChanged(int state)
{
    m_station->setFrequencyTracking(state != 0);
}

void Qt_Vestrel::on_actionDopDefault_triggered(bool checked)
{
    if (checked)
        ui->actionDopSource->setChecked(false);
    else
        ui->actionDopDefault->setChecked(true);
    m_station->setDopplerShift(DopplerShift::Home);
}

void Qt_Vestrel::on_actionDopSource_triggered(bool checked)
{
    if (checked)
        ui->actionDopDefault->setChecked(false);
    else
        ui->actionDopSource->setChecked(true);
    m_station->setDopplerShift(DopplerShift::Dx);
}

void Qt_Vestrel::on_check_PTT_stateChanged(int state)
{
    m_station->setPtt(state != 0);
}

void Qt_Vestrel::on_lineTransceiverFrequency_returnPressed()
{
    m_station->tune(ui->lineTransceiverFrequency->text());
}
