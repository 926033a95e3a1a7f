#include "tracking/qt_vestrel.h"

#include "hamlib/hamliblinks.h"
#include "links/seriallinks.h"
#include "log/filelog.h"
#include "serial/serialenumerator.h"
#include "serial/serialport.h"
#include "settings/numbers.h"
#include "settings/settingsfile.h"
#include "tracking/rotatorcommand.h"
#include "transceiver/catframes.h"
#include "ui/logdialog.h"
#include "ui/parkingdialog.h"
#include "ui/roundingdialog.h"
#include "ui/serialsettingsdialog.h"
#include "ui/timersettingdialog.h"
#include "ui_Qt_Vestrel.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QTimer>

#include <climits>
#include <cmath>

namespace {

const QString noFrequency = QStringLiteral("---.----- MHz");
const QString ft847 = QStringLiteral("Yaesu FT-847");
const QString rigctldType = QStringLiteral("Hamlib rigctld (network)");
const QString serialRotatorType = QStringLiteral("Serial controller");
const QString rotctldType = QStringLiteral("Hamlib rotctld (network)");
const QString unknownPosition = QStringLiteral("Antenna: az ---.--, el ---.--");

QString frequencyText(double mhz)
{
    return numbers::fixed(mhz, 5, 9);
}

// Message delay (readout interval) in milliseconds as the timers use it.
int messageDelayMs(quint32 ms)
{
    return int(qMin<quint32>(ms, quint32(INT_MAX)));
}

// Repetition time in seconds as the timers use it: 0 counts as 1 s.
int repetitionMs(quint32 seconds)
{
    const quint32 s = qBound<quint32>(1u, seconds, quint32(INT_MAX / 1000));
    return int(s * 1000u);
}

void bindWidgets(SerialPortRecord &record, const QString &name, QComboBox *nameCombo, QLabel *statusLabel,
                 QLineEdit *sendLine, QPushButton *openButton, QPushButton *sendButton, QRadioButton *manualRadio,
                 QRadioButton *autoRadio)
{
    record.name = name;
    record.nameCombo = nameCombo;
    record.statusLabel = statusLabel;
    record.sendLine = sendLine;
    record.openButton = openButton;
    record.sendButton = sendButton;
    record.manualRadio = manualRadio;
    record.autoRadio = autoRadio;
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

    logWindow = new logDialog(this);
    m_fileLog = std::make_unique<FileLog>();
    logWindow->setRecordNote(QStringLiteral("the full record is in %1").arg(m_fileLog->path()));

    repetitionTimer = new QTimer(this);
    connect(repetitionTimer, &QTimer::timeout, this, &Qt_Vestrel::timerTimeout);
    readoutTimer = new QTimer(this);
    connect(readoutTimer, &QTimer::timeout, this, &Qt_Vestrel::freqReadTimeout);

    settingsFile = std::make_unique<SettingsFile>();
    settingsFile->setFailureReport([this](const QString &text) { logMessage(text); });

    bindWidgets(portA, QStringLiteral("Port A"), ui->comboSerialNameA, ui->labelSerialStatusA, ui->lineSerialSendA,
                ui->buttonOpenSerialA, ui->buttonSerialSendA, ui->radioSerialAManual, ui->radioSerialAAuto);
    portA.typeCombo = ui->comboRotator;
    portB.typeCombo = ui->comboTransceiver;
    bindWidgets(portB, QStringLiteral("Port B"), ui->comboSerialNameB, ui->labelSerialStatusB, ui->lineSerialSendB,
                ui->buttonOpenSerialB, ui->buttonSerialSendB, ui->radioSerialBManual, ui->radioSerialBAuto);

    serialSettings = new serialSettingsDialog(this);
    timerSettings = new timerSettingdialog(this);
    roundingSettings = new roundingDialog(this);
    parkingSettings = new ParkingDialog(this);
    // Only the low 16 bits of a stored time reach the dialog.
    timerSettings->setRepetitionTime(quint16(settingsFile->readRepetitionTime()));
    timerSettings->setMessageDelay(quint16(settingsFile->readMessageDelay()));
    roundingSettings->setAzimuthRounding(settingsFile->readAzimuthRounding());
    roundingSettings->setElevationRounding(settingsFile->readElevationRounding());
    parkingSettings->setAzimuthParking(settingsFile->readAzimuthParking());
    parkingSettings->setElevationParking(settingsFile->readElevationParking());
    connect(timerSettings, &timerSettingdialog::timeConfirmed, this, &Qt_Vestrel::timerSettingConfirmed);
    connect(roundingSettings, &roundingDialog::roundingConfirmed, this, &Qt_Vestrel::roundingSettingsConfirmed);
    connect(parkingSettings, &ParkingDialog::parkingConfirmed, this, &Qt_Vestrel::parkingDialogConfirmed);
    connect(parkingSettings, &ParkingDialog::parkingClosed, this, &Qt_Vestrel::parkingDialogClosed);
    portA.parameters = &serialSettings->parametersA;
    portB.parameters = &serialSettings->parametersB;

    enumeratePorts();

    elevationOffset = settingsFile->readElevationOffset();
    ui->lineElevationOffset->setText(numbers::general(elevationOffset));
    azimuthOffset = settingsFile->readAzimutOffset();
    ui->lineAzimutOffset->setText(numbers::general(azimuthOffset));

    ui->comboTransceiver->clear();
    ui->comboTransceiver->addItem(QStringLiteral("Yaesu FT-817"));
    ui->comboTransceiver->addItem(ft847);

    // The Hamlib daemons: a third transceiver type, a second rotator type.
    ui->comboTransceiver->addItem(rigctldType);
    ui->comboRotator->addItem(serialRotatorType);
    ui->comboRotator->addItem(rotctldType);
    ui->labelAntennaPosition->setVisible(false);
    positionTimer = new QTimer(this);
    connect(positionTimer, &QTimer::timeout, this, [this] {
        if (rotatorLink)
            rotatorLink->requestPosition();
    });
    networkSettings = NetworkSettings::read();
    if (networkSettings.rigctld)
        ui->comboTransceiver->setCurrentText(rigctldType);
    if (networkSettings.rotctld)
        ui->comboRotator->setCurrentText(rotctldType);
    for (SerialPortRecord *record : {&portA, &portB}) {
        showTransport(*record);
        connect(record->typeCombo, &QComboBox::currentIndexChanged, this, [this, record] { transportChosen(*record); });
    }
}

Qt_Vestrel::~Qt_Vestrel()
{
    // The fields' texts are saved, also an offset typed but never confirmed.
    if (const auto elevation = numbers::toSingle(ui->lineElevationOffset->text()))
        settingsFile->writeElevationOffset(*elevation);
    if (const auto azimuth = numbers::toSingle(ui->lineAzimutOffset->text()))
        settingsFile->writeAzimutOffset(*azimuth);

    if (portA.open)
        closeSerialPort(portA);
    if (portB.open)
        closeSerialPort(portB);

    delete serialSettings;
    delete timerSettings;
    delete repetitionTimer;
    settingsFile.reset();
}

void Qt_Vestrel::logMessage(const QString &text)
{
    record(text);
}

void Qt_Vestrel::logDebug(const QString &text)
{
    if (debugMode)
        record(text);
}

void Qt_Vestrel::record(const QString &text)
{
    logWindow->append(text);
    if (m_fileLog->write(text) || m_fileLogFailed)
        return;
    // Said once; the window goes on, and the file is tried again with each message.
    m_fileLogFailed = true;
    logWindow->append(QStringLiteral("log file %1 cannot be written: %2").arg(m_fileLog->path(), m_fileLog->errorString()));
    logWindow->setRecordNote(QStringLiteral("the record in %1 lacks the messages that could not be written").arg(m_fileLog->path()));
}

void Qt_Vestrel::enumeratePorts()
{
    portList = SerialEnumerator::portNames();
    if (portList.isEmpty()) {
        logMessage(QStringLiteral("No serial port available"));
        return;
    }
    logMessage(QStringLiteral("%1 port(s) available").arg(portList.size()));
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
    settingsFile->writeRepetitionTime(timerSettings->repetitionTime);
    settingsFile->writeMessageDelay(timerSettings->messageDelay);
}

void Qt_Vestrel::roundingSettingsConfirmed()
{
    settingsFile->writeAzimuthRounding(roundingSettings->azimuthRounding);
    settingsFile->writeElevationRounding(roundingSettings->elevationRounding);
}

void Qt_Vestrel::on_actionOpen_data_file_activated()
{
    if (!dataFile)
        dataFile = new QFile(this);
    else if (dataFile->exists())
        dataFile->close();

    QString folder = settingsFile->readFilename();
    if (folder == QLatin1String("error"))
        folder = QStringLiteral("C:/");
    const QString path = QFileDialog::getOpenFileName(this, tr("Open data file"), folder, tr("All files (*.*)"));
    dataFile->setFileName(path);
    if (!path.isEmpty() && dataFile->exists()) {
        settingsFile->writeFilename(QFileInfo(path).path());
        ui->labelFileAddress->setText(QStringLiteral("Opened file: %1").arg(path));
    } else {
        ui->labelFileAddress->setText(QStringLiteral("Opened file: no file"));
    }
}

// ---- debug mode and offsets -----------------------------------------------

void Qt_Vestrel::on_lineElevationOffset_editingFinished()
{
    const QString text = ui->lineElevationOffset->text();
    if (text == QLatin1String("debug")) {
        debugMode = true;
        for (SerialPortRecord *record : {&portA, &portB})
            if (record->link)
                record->link->setTracing(true);
        logDebug(QStringLiteral("--debug mode enabled"));
        ui->lineElevationOffset->setText(numbers::general(elevationOffset));
        return;
    }
    if (const auto value = numbers::toSingle(text))
        elevationOffset = *value;
    else
        logMessage(QStringLiteral("elevation offset error"));
}

void Qt_Vestrel::on_lineAzimutOffset_editingFinished()
{
    if (const auto value = numbers::toSingle(ui->lineAzimutOffset->text()))
        azimuthOffset = *value;
    else
        logMessage(QStringLiteral("azimuth offset error"));
}

// ---- tracking cycle --------------------------------------------------------

void Qt_Vestrel::timerTimeout()
{
    logDebug(QStringLiteral("--repetition timer expired"));
    if (!pendingRotatorCommand.isEmpty()) {
        // An acknowledgement lost on the line must not stop the antenna for long.
        if (staleCommandCount > rotator::staleCommandLimit(timerSettings->repetitionTime))
            pendingRotatorCommand.clear();
        ++staleCommandCount;
    } else {
        staleCommandCount = 1;
    }
    runTrackingCycle();
}

bool Qt_Vestrel::readTrackingData(TrackingRecord &record)
{
    if (!dataFile)
        return false;
    TrackingTarget target = TrackingTarget::Source;
    if (ui->actionRotMoon->isChecked())
        target = TrackingTarget::Moon;
    else if (ui->actionRotSun->isChecked())
        target = TrackingTarget::Sun;
    return ::readTrackingData(dataFile->fileName(), target, record,
                              [this](const QString &message) { logMessage(message); });
}

void Qt_Vestrel::runTrackingCycle()
{
    TrackingRecord record;
    if (!readTrackingData(record))
        return;

    if (ui->radioSerialAAuto->isChecked() && pendingRotatorCommand.isEmpty()) {
        const double azimuth = record.azimuth + azimuthOffset;
        const double elevation = record.elevation + elevationOffset;
        logDebug(QStringLiteral("--absolute azimuth = %1").arg(numbers::general(azimuth)));
        logDebug(QStringLiteral("--absolute elevation = %1").arg(numbers::general(elevation)));
        // At most one command per cycle.
        const rotator::Step step
            = rotator::nextStep(rotator::movedBeyond(azimuth, lastAzimuth, roundingSettings->azimuthRounding),
                                rotator::movedBeyond(elevation, lastElevation, roundingSettings->elevationRounding),
                                elevationNext);
        elevationNext = false;
        if (step == rotator::Step::Azimuth) {
            pendingRotatorCommand.append(rotatorCommand(RotatorAxis::Azimuth, azimuth, elevation));
            sendOnPort(portA, pendingRotatorCommand);
            lastAzimuth = azimuth;
        } else if (step == rotator::Step::Elevation) {
            pendingRotatorCommand.append(rotatorCommand(RotatorAxis::Elevation, azimuth, elevation));
            sendOnPort(portA, pendingRotatorCommand);
            lastElevation = elevation;
        }
        if (step != rotator::Step::None)
            azimuthAwaitingAnswer = step == rotator::Step::Azimuth;
    }

    dopplerStep(record);
}

void Qt_Vestrel::resetLastValues()
{
    lastAzimuth = -1.0;
    lastElevation = -1.0;
    azimuthAwaitingAnswer = false;
    elevationNext = false;
    lastDopplerHome = 0.0;
    lastDopplerDx = 0.0;
}

void Qt_Vestrel::setTrackingActive(bool on)
{
    resetLastValues();
    if (!on) {
        repetitionTimer->stop();
        trackingActive = false;
        return;
    }
    repetitionTimer->start(repetitionMs(timerSettings->repetitionTime));
    trackingActive = true;
    if (!portA.open && !portB.open)
        logMessage(QStringLiteral("no port opened"));
    if (!dataFile)
        logMessage(QStringLiteral("no file loaded"));
    else if (!dataFile->exists())
        logMessage(QStringLiteral("file does not exist"));
    runTrackingCycle();
}

void Qt_Vestrel::sendOnPort(SerialPortRecord &record, const QByteArray &bytes)
{
    if (!record.open)
        return;
    record.link->write(bytes);
    logDebug(QStringLiteral("--sending: %1").arg(QString::fromLatin1(bytes.toHex())));
}

void Qt_Vestrel::chooseTarget(QAction *chosen, bool checked)
{
    if (checked) {
        for (QAction *action : {ui->actionRotSun, ui->actionRotMoon, ui->actionRotSource})
            if (action != chosen)
                action->setChecked(false);
    } else {
        chosen->setChecked(true);  // exactly one target stays chosen
    }
    pendingRotatorCommand.clear();
}

void Qt_Vestrel::on_actionRotSun_triggered(bool checked)
{
    chooseTarget(ui->actionRotSun, checked);
}

void Qt_Vestrel::on_actionRotMoon_triggered(bool checked)
{
    chooseTarget(ui->actionRotMoon, checked);
}

void Qt_Vestrel::on_actionRotSource_triggered(bool checked)
{
    chooseTarget(ui->actionRotSource, checked);
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
    settingsFile->writeAzimuthParking(parkingSettings->azimuthParking);
    settingsFile->writeElevationParking(parkingSettings->elevationParking);
    pendingRotatorCommand.append(
        rotatorCommand(RotatorAxis::Both, parkingSettings->azimuthParking, parkingSettings->elevationParking));
    sendOnPort(portA, pendingRotatorCommand);
    parkingActive = true;
    parkingElevationPending = !(rotatorLink && rotatorLink->movesBothAxes());
}

QByteArray Qt_Vestrel::rotatorCommand(RotatorAxis axis, double azimuth, double elevation)
{
    if (rotatorLink)
        return rotatorLink->positionCommand(axis, azimuth, elevation);
    // Port A closed: the command only waits, in the serial controller's form.
    return SerialRotatorLink::commandFor(axis, azimuth, elevation);
}

void Qt_Vestrel::parkingDialogClosed()
{
    parkingActive = false;
}

// ---- rotator replies -------------------------------------------------------

void Qt_Vestrel::rotatorReceived(const QByteArray &bytes)
{
    logDebug(QStringLiteral("--received A: %1").arg(QString::fromLatin1(bytes.toHex())));

    if (!ui->radioSerialAAuto->isChecked() && !parkingActive) {
        const int zero = bytes.indexOf('\0');
        logMessage(QStringLiteral("Port A data received (%1 bytes): %2")
                       .arg(QString::number(bytes.size()), QString::fromLatin1(zero < 0 ? bytes : bytes.left(zero))));
        return;
    }
    if (!rotatorLink)
        return;
    const RotatorReply reply = rotatorLink->interpretReply(bytes, rotatorReplyText);
    if (reply.kind == RotatorReply::Accepted) {
        pendingRotatorCommand.clear();
        elevationNext = azimuthAwaitingAnswer;
        azimuthAwaitingAnswer = false;
        if (parkingElevationPending) {
            pendingRotatorCommand.append(rotatorCommand(RotatorAxis::Elevation, parkingSettings->azimuthParking,
                                                        parkingSettings->elevationParking));
            sendOnPort(portA, pendingRotatorCommand);
            parkingElevationPending = false;
        }
    } else if (reply.kind == RotatorReply::Refused) {
        logMessage(QStringLiteral("Rotator error code: %1").arg(reply.text));
        parkingElevationPending = false;
        pendingRotatorCommand.clear();
    }
}

void Qt_Vestrel::showAntennaPosition(double azimuth, double elevation)
{
    ui->labelAntennaPosition->setText(
        QStringLiteral("Antenna: az %1, el %2").arg(azimuth, 0, 'f', 2).arg(elevation, 0, 'f', 2));
}

// ---- serial ports ----------------------------------------------------------

bool Qt_Vestrel::openSerialPort(SerialPortRecord &record, const QString &portName)
{
    if (record.network) {
        connectDaemon(record, portName);
        return false;  // opened later, when the daemon answers
    }
    auto *port = new SerialPort(portName, this);

    logMessage(QStringLiteral("Serial %1 settings:").arg(record.name));
    const SerialParameters &parameters = *record.parameters;
    port->setBaudRate(parameters.baudRate);
    port->setDataBits(parameters.dataBits);
    port->setFlowControl(parameters.flowControl);
    port->setParity(parameters.parity);
    port->setStopBits(parameters.stopBits);
    logMessage(QStringLiteral("Baud rate: %1").arg(serialSettings->baudRateText(port->baudRate())));
    logMessage(QStringLiteral("Data bits: %1").arg(serialSettings->dataBitsText(port->dataBits())));
    logMessage(QStringLiteral("Flow control: %1").arg(serialSettings->flowControlText(port->flowControl())));
    logMessage(QStringLiteral("Parity: %1").arg(serialSettings->parityText(port->parity())));
    logMessage(QStringLiteral("Stop bits: %1").arg(serialSettings->stopBitsText(port->stopBits())));

    if (!port->open(QIODevice::ReadWrite)) {
        logMessage(QStringLiteral("connection to %1 failed").arg(portName));
        const QString hint = port->openFailureHint();
        if (!hint.isEmpty())
            logMessage(hint);
        delete port;
        return false;
    }
    if (&record == &portA)
        record.link = new SerialRotatorLink(port, this);
    else
        record.link = new CatLink(port, ui->comboTransceiver->currentText() == ft847, this);
    return portOpened(record, portName);
}

// What follows a successful open, on either transport.
bool Qt_Vestrel::portOpened(SerialPortRecord &record, const QString &portName)
{
    wireLink(record);
    logMessage(QStringLiteral("connected to %1").arg(portName));
    ui->actionSerial_port->setEnabled(false);
    record.open = true;
    if (portA.open && ui->radioSerialAManual->isChecked())
        ui->actionPark_rotator->setEnabled(true);
    record.statusLabel->setText(QStringLiteral("Status: connected"));
    record.openButton->setText(QStringLiteral("Close"));
    record.typeCombo->setEnabled(false);
    if (&record == &portA) {
        rotatorLink = static_cast<RotatorLink *>(record.link);  // the cycle below may command it
        // A command held while the port was closed never reached the
        // controller and is not waited for. One that the cycle below writes
        // is: its "OK" must not be taken for the next command's.
        pendingRotatorCommand.clear();
    }
    if (record.manualRadio->isChecked()) {
        record.sendButton->setEnabled(true);
        record.sendLine->setEnabled(true);
    } else if (!trackingActive) {
        setTrackingActive(true);
    }
    if (&record == &portB) {
        transceiverLink = static_cast<TransceiverLink *>(record.link);
        return true;
    }
    if (rotatorLink->reportsPosition()) {
        positionTimer->start(qMax(1, messageDelayMs(timerSettings->messageDelay)));  // 0 would poll without pause
        rotatorLink->requestPosition();
    }
    return true;
}

// The open button's follow-up once the port is open.
void Qt_Vestrel::afterOpen(SerialPortRecord &record)
{
    if (&record == &portA)
        resetLastValues();
    else if (ui->radioSerialBAuto->isChecked())
        startDoppler();
}

void Qt_Vestrel::wireLink(SerialPortRecord &record)
{
    DeviceLink *link = record.link;
    SerialPortRecord *recordPointer = &record;
    // Outside debug mode every trace line would be formatted only to be dropped.
    link->setTracing(debugMode);
    connect(link, &DeviceLink::message, this, &Qt_Vestrel::logMessage);
    connect(link, &DeviceLink::debugMessage, this, &Qt_Vestrel::logDebug);
    connect(link, &DeviceLink::connectionLost, this, [this, recordPointer] { portLost(*recordPointer); });
    if (&record == &portA) {
        auto *rotator = static_cast<RotatorLink *>(link);
        connect(rotator, &DeviceLink::received, this, &Qt_Vestrel::rotatorReceived);
        connect(rotator, &RotatorLink::positionReceived, this, &Qt_Vestrel::showAntennaPosition);
        // Given up by the link after the stale time: nothing to wait for.
        connect(rotator, &RotatorLink::commandExpired, this, [this] { pendingRotatorCommand.clear(); });
        return;
    }
    auto *transceiver = static_cast<TransceiverLink *>(link);
    connect(transceiver, &TransceiverLink::frequencyReceived, this, &Qt_Vestrel::frequencyReceiveSlot);
    connect(transceiver, &TransceiverLink::statusReceived, this, &Qt_Vestrel::statusReceivedSlot);
    connect(transceiver, &DeviceLink::received, this, [this](const QByteArray &bytes) {
        logMessage(QStringLiteral("Port B data received (%1 bytes): %2")
                       .arg(QString::number(bytes.size()), QString::fromLatin1(bytes)));
    });
}

void Qt_Vestrel::connectDaemon(SerialPortRecord &record, const QString &addressText)
{
    const bool rotator = &record == &portA;
    const auto address
        = hamlib::parseAddress(addressText, rotator ? hamlib::rotctldDefaultPort : hamlib::rigctldDefaultPort);
    if (!address) {
        logMessage(QStringLiteral("connection to %1 failed").arg(addressText));
        logMessage(QStringLiteral("not a host and port: %1").arg(addressText));
        return;
    }
    saveNetworkSettings();
    const auto started = [](auto *daemonLink) {
        daemonLink->open();
        return static_cast<DeviceLink *>(daemonLink);
    };
    DeviceLink *link = rotator ? started(new RotctldLink(*address, this)) : started(new RigctldLink(*address, this));
    record.link = link;
    record.connecting = true;
    record.statusLabel->setText(QStringLiteral("Status: connecting"));
    record.openButton->setText(QStringLiteral("Cancel"));
    record.typeCombo->setEnabled(false);
    SerialPortRecord *recordPointer = &record;
    const QString target = link->target();
    connect(link, &DeviceLink::opened, this, [this, recordPointer, target] {
        recordPointer->connecting = false;
        if (portOpened(*recordPointer, target))
            afterOpen(*recordPointer);
    });
    connect(link, &DeviceLink::openFailed, this, [this, recordPointer, target](const QString &reason) {
        logMessage(QStringLiteral("connection to %1 failed").arg(target));
        logMessage(QStringLiteral("%1: %2").arg(target, reason));
        endConnecting(*recordPointer);
    });
}

// A connection that did not come about: the port is as before the attempt.
void Qt_Vestrel::endConnecting(SerialPortRecord &record)
{
    record.connecting = false;
    dropLink(record);
}

// Closing the link lets the FT-847's CAT OFF go out before the port closes.
void Qt_Vestrel::dropLink(SerialPortRecord &record)
{
    record.link->disconnect(this);
    record.link->close();
    record.link->deleteLater();
    record.link = nullptr;
    record.statusLabel->setText(QStringLiteral("Status: disconnected"));
    record.openButton->setText(QStringLiteral("Open"));
    record.typeCombo->setEnabled(true);
}

void Qt_Vestrel::closeSerialPort(SerialPortRecord &record)
{
    if (record.connecting) {
        logMessage(QStringLiteral("connection to %1 cancelled").arg(record.link->target()));
        endConnecting(record);
        return;
    }
    if (&record == &portB) {
        transceiverLink = nullptr;
    } else {
        rotatorLink = nullptr;
        positionTimer->stop();
    }
    dropLink(record);
    logMessage(QStringLiteral("%1 disconnected").arg(record.name));
    record.sendLine->setEnabled(false);
    record.sendButton->setEnabled(false);
    record.open = false;

    if (!portA.open && !portB.open) {
        ui->actionSerial_port->setEnabled(true);
        ui->actionPark_rotator->setEnabled(false);
        setTrackingActive(false);
        return;
    }
    if (!portA.open)
        ui->actionPark_rotator->setEnabled(false);
    if (&record == &portA && ui->radioSerialBManual->isChecked())
        setTrackingActive(false);
    if (&record == &portB && ui->radioSerialAManual->isChecked())
        setTrackingActive(false);
}

void Qt_Vestrel::portLost(SerialPortRecord &record)
{
    if (!record.open || !record.link)
        return;
    logMessage(QStringLiteral("connection to %1 lost").arg(record.link->target()));
    closeSerialPort(record);
    if (&record == &portB)
        stopDoppler();
}

// Shows the port's name field as the daemon's address, or as the list of
// serial ports, after the choice of the device type.
void Qt_Vestrel::showTransport(SerialPortRecord &record)
{
    const bool network = record.typeCombo->currentText() == (&record == &portA ? rotctldType : rigctldType);
    if (network == record.network)
        return;
    record.network = network;
    QComboBox *combo = record.nameCombo;
    if (network) {
        record.serialName = combo->currentText();
        combo->clear();
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::InsertAtCurrent);
        combo->addItem(&record == &portA ? networkSettings.rotctldAddress : networkSettings.rigctldAddress);
    } else {
        combo->setEditable(false);
        combo->clear();
        combo->addItems(portList);
        combo->setCurrentIndex(portList.indexOf(record.serialName) > 0 ? portList.indexOf(record.serialName) : 0);
    }
    // Without serial ports a daemon is still reachable.
    const bool usable = network || !portList.isEmpty();
    for (QWidget *widget : {static_cast<QWidget *>(combo), static_cast<QWidget *>(record.openButton),
                            static_cast<QWidget *>(record.manualRadio), static_cast<QWidget *>(record.autoRadio)})
        widget->setEnabled(usable);
    record.statusLabel->setText(usable ? QStringLiteral("Status: disconnected") : QStringLiteral("Status: unknown"));
    if (&record == &portA) {
        ui->labelAntennaPosition->setText(unknownPosition);
        ui->labelAntennaPosition->setVisible(network);
    }
}

void Qt_Vestrel::transportChosen(SerialPortRecord &record)
{
    if (record.open || record.connecting)
        return;
    showTransport(record);
    saveNetworkSettings();
}

void Qt_Vestrel::saveNetworkSettings()
{
    NetworkSettings settings = networkSettings;
    settings.rigctld = portB.network;
    settings.rotctld = portA.network;
    if (portB.network)
        settings.rigctldAddress = portB.nameCombo->currentText().trimmed();
    if (portA.network)
        settings.rotctldAddress = portA.nameCombo->currentText().trimmed();
    if (settings == networkSettings)
        return;
    networkSettings = settings;
    networkSettings.write();
}

void Qt_Vestrel::on_buttonOpenSerialA_clicked()
{
    if (portA.open || portA.connecting) {
        closeSerialPort(portA);
        return;
    }
    if (openSerialPort(portA, ui->comboSerialNameA->currentText()))
        afterOpen(portA);
}

void Qt_Vestrel::on_buttonOpenSerialB_clicked()
{
    if (portB.connecting) {
        closeSerialPort(portB);
        return;
    }
    if (portB.open) {
        closeSerialPort(portB);
        stopDoppler();
        return;
    }
    if (openSerialPort(portB, ui->comboSerialNameB->currentText()))
        afterOpen(portB);
}

void Qt_Vestrel::on_comboSerialNameA_activated(int)
{
    if (portA.open || portA.connecting)
        closeSerialPort(portA);
}

void Qt_Vestrel::on_comboSerialNameB_activated(int)
{
    if (portB.open || portB.connecting)
        closeSerialPort(portB);
    stopDoppler();
}

void Qt_Vestrel::on_buttonSerialSendA_clicked()
{
    if (portA.link)
        sendOnPort(portA, portA.link->manualCommand(ui->lineSerialSendA->text()));
}

void Qt_Vestrel::on_lineSerialSendA_returnPressed()
{
    on_buttonSerialSendA_clicked();
}

void Qt_Vestrel::on_buttonSerialSendB_clicked()
{
    if (portB.link)
        sendOnPort(portB, portB.link->manualCommand(ui->lineSerialSendB->text()));
}

void Qt_Vestrel::on_lineSerialSendB_returnPressed()
{
    on_buttonSerialSendB_clicked();
}

void Qt_Vestrel::on_radioSerialAManual_toggled(bool checked)
{
    pendingRotatorCommand.clear();
    if (checked) {
        if (portA.open) {
            ui->lineSerialSendA->setEnabled(true);
            ui->buttonSerialSendA->setEnabled(true);
            ui->actionPark_rotator->setEnabled(true);
        }
        if (ui->radioSerialBManual->isChecked() && trackingActive)
            setTrackingActive(false);
    } else {
        ui->buttonSerialSendA->setEnabled(false);
        ui->lineSerialSendA->setEnabled(false);
        ui->actionPark_rotator->setEnabled(false);
        if (!trackingActive && portA.open)
            setTrackingActive(true);
    }
}

void Qt_Vestrel::on_radioSerialBManual_toggled(bool checked)
{
    if (checked) {
        if (portB.open) {
            ui->lineSerialSendB->setEnabled(true);
            ui->buttonSerialSendB->setEnabled(true);
            stopDoppler();
        }
        if (ui->radioSerialAManual->isChecked() && trackingActive)
            setTrackingActive(false);
    } else {
        ui->buttonSerialSendB->setEnabled(false);
        ui->lineSerialSendB->setEnabled(false);
        if (portB.open)
            startDoppler();
        if (!trackingActive && portB.open)
            setTrackingActive(true);
    }
}

// ---- transceiver -----------------------------------------------------------

void Qt_Vestrel::startDoppler()
{
    ui->lineTransceiverFrequency->setEnabled(true);
    ui->checkDoppler->setChecked(false);
    ui->check_PTT->setChecked(false);
    ui->check_PTT->setEnabled(true);
    baseFrequency = 0.0;
    if (transceiverLink)
        transceiverLink->requestFrequency();
    readoutTimer->start(messageDelayMs(timerSettings->messageDelay));
    ui->actionDopDefault->setEnabled(false);
    ui->actionDopSource->setEnabled(false);
}

void Qt_Vestrel::stopDoppler()
{
    readoutTimer->stop();
    ui->lineTransceiverFrequency->clear();
    ui->checkDoppler->setChecked(false);
    ui->checkDoppler->setEnabled(false);
    ui->check_PTT->setChecked(false);
    ui->check_PTT->setEnabled(false);
    ui->labelFreq->setText(noFrequency);
    baseFrequency = 0.0;
    ui->lineTransceiverFrequency->setEnabled(false);
    ui->actionDopDefault->setEnabled(true);
    ui->actionDopSource->setEnabled(true);
}

void Qt_Vestrel::freqReadTimeout()
{
    logDebug(QStringLiteral("--readout timer expired"));
    if (!transceiverLink)
        return;
    transceiverLink->requestReadout();
}

void Qt_Vestrel::frequencyReceiveSlot(qreal frequency)
{
    ui->labelFreq->setText(QStringLiteral("%1 %2 MHz")
                               .arg(transmitting ? QStringLiteral("T") : QStringLiteral("R"), frequencyText(frequency)));
    if (!ui->checkDoppler->isChecked()) {
        baseFrequency = frequency;
        ui->checkDoppler->setEnabled(true);
    }
}

void Qt_Vestrel::statusReceivedSlot(bool transmitStatus)
{
    transmitting = transmitStatus;
}

void Qt_Vestrel::transceiverEexecutionMessageSlot(QString message)
{
    logMessage(message);
}

void Qt_Vestrel::transceiverDebugMessageSlot(QString message)
{
    logDebug(message);
}

void Qt_Vestrel::on_checkDoppler_stateChanged(int state)
{
    if (state != 0) {
        ui->lineTransceiverFrequency->setText(frequencyText(baseFrequency));
        if (ui->actionDopSource->isChecked())
            baseFrequency -= lastDopplerDx / 1000000.0;
        else if (ui->actionDopDefault->isChecked())
            baseFrequency -= lastDopplerHome / 1000000.0;
        ui->lineTransceiverFrequency->setEnabled(false);
        ui->labelFreqStart->setText(QStringLiteral("%1 MHz").arg(frequencyText(baseFrequency)));
    } else {
        ui->lineTransceiverFrequency->setEnabled(true);
        ui->labelFreqStart->setText(noFrequency);
    }
}

void Qt_Vestrel::on_actionDopDefault_triggered(bool checked)
{
    if (checked)
        ui->actionDopSource->setChecked(false);
    else
        ui->actionDopDefault->setChecked(true);
}

void Qt_Vestrel::on_actionDopSource_triggered(bool checked)
{
    if (checked)
        ui->actionDopDefault->setChecked(false);
    else
        ui->actionDopSource->setChecked(true);
}

void Qt_Vestrel::on_check_PTT_stateChanged(int)
{
    // The Doppler step reads the box when it needs it.
}

void Qt_Vestrel::sendFrequency(double hz, const QString &refusal)
{
    // Truncated toward zero; a value the frame cannot carry must never be sent
    // (the 32-bit conversion would wrap it to some other frequency).
    const double truncated = std::trunc(hz);
    const bool finite = std::isfinite(truncated) && std::fabs(truncated) < 1e15;
    const bool fits = finite
        && (transceiverLink ? transceiverLink->canCarry(qint64(truncated)) : cat::frameCanCarry(qint64(truncated)));
    if (!fits) {
        logMessage(refusal);
        return;
    }
    if (transceiverLink)
        transceiverLink->setFrequency(quint32(qint64(truncated)));
}

void Qt_Vestrel::dopplerStep(const TrackingRecord &record)
{
    if (!ui->radioSerialBAuto->isChecked())
        return;
    if (ui->checkDoppler->isChecked()) {
        const bool home = ui->actionDopDefault->isChecked();
        if (home || ui->actionDopSource->isChecked()) {
            const double shift = home ? record.dopplerHome : record.dopplerDx;
            const bool transmitShift = transmitting && ui->check_PTT->isChecked();
            const double hz = baseFrequency * 1000000.0 + (transmitShift ? -shift : shift);
            sendFrequency(hz, QStringLiteral("frequency out of range"));
        }
    }
    logDebug(QStringLiteral("--frequency = %1; doppler Home = %2; doppler Dx = %3")
                 .arg(baseFrequency)
                 .arg(record.dopplerHome)
                 .arg(record.dopplerDx));
    lastDopplerHome = record.dopplerHome;
    lastDopplerDx = record.dopplerDx;
}

void Qt_Vestrel::on_lineTransceiverFrequency_returnPressed()
{
    bool ok = false;
    const double mhz = ui->lineTransceiverFrequency->text().toDouble(&ok);
    if (!ok) {
        logMessage(QStringLiteral("Frequency error"));
        return;
    }
    sendFrequency(mhz * 1000000.0, QStringLiteral("Frequency error"));
}
