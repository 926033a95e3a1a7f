#include "station/trackingcontrol.h"

#include "ephemeris/locator.h"
#include "hamlib/hamliblinks.h"
#include "links/seriallinks.h"
#include "serial/serialenumerator.h"
#include "serial/serialport.h"
#include "settings/numbers.h"
#include "settings/settingsfile.h"
#include "transceiver/catframes.h"

#include <QFileInfo>
#include <QTimer>

#include <climits>
#include <cmath>

namespace {

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

} // namespace

TrackingControl::TrackingControl(QObject *parent)
    : QObject(parent)
    , m_settings(std::make_unique<SettingsFile>())
    , m_repetitionTimer(new QTimer(this))
    , m_readoutTimer(new QTimer(this))
    , m_positionTimer(new QTimer(this))
{
    m_settings->setFailureReport([this](const QString &text) { logMessage(text); });
    m_portA.name = QStringLiteral("Port A");
    m_portB.name = QStringLiteral("Port B");
    connect(m_repetitionTimer, &QTimer::timeout, this, &TrackingControl::repetition);
    connect(m_readoutTimer, &QTimer::timeout, this, &TrackingControl::readout);
    connect(m_positionTimer, &QTimer::timeout, this, [this] {
        if (m_rotator)
            m_rotator->requestPosition();
    });

    // Only the low 16 bits of a stored time are taken.
    m_times.repetitionTime = quint16(m_settings->readRepetitionTime());
    m_times.messageDelay = quint16(m_settings->readMessageDelay());
    m_azimuthRounding = m_settings->readAzimuthRounding();
    m_elevationRounding = m_settings->readElevationRounding();
    m_azimuthParking = m_settings->readAzimuthParking();
    m_elevationParking = m_settings->readElevationParking();
    m_elevationOffset = m_settings->readElevationOffset();
    m_azimuthOffset = m_settings->readAzimutOffset();
    m_network = NetworkSettings::read();
    m_sourceSettings = SourceSettings::read();
    useSource();
}

TrackingControl::~TrackingControl()
{
    closeAll();
}

void TrackingControl::closeAll()
{
    if (m_portA.open)
        closePort(StationPort::A);
    if (m_portB.open)
        closePort(StationPort::B);
}

void TrackingControl::logDebug(const QString &text)
{
    if (m_debugMode)
        emit message(text);
}

QStringList TrackingControl::enumeratePorts()
{
    m_ports = SerialEnumerator::portNames();
    if (m_ports.isEmpty())
        logMessage(QStringLiteral("No serial port available"));
    else
        logMessage(QStringLiteral("%1 port(s) available").arg(m_ports.size()));
    return m_ports;
}

const PortSession &TrackingControl::portSession(StationPort port) const
{
    return port == StationPort::A ? m_portA : m_portB;
}

// ---- settings --------------------------------------------------------------

void TrackingControl::setTimes(quint32 repetitionSeconds, quint32 messageDelayMs)
{
    m_times = {repetitionSeconds, messageDelayMs};
    m_settings->writeRepetitionTime(repetitionSeconds);
    m_settings->writeMessageDelay(messageDelayMs);
}

void TrackingControl::setRounding(double azimuth, double elevation)
{
    m_azimuthRounding = azimuth;
    m_elevationRounding = elevation;
    m_settings->writeAzimuthRounding(azimuth);
    m_settings->writeElevationRounding(elevation);
}

void TrackingControl::setNetworkSettings(const NetworkSettings &settings)
{
    if (settings == m_network)
        return;
    m_network = settings;
    m_network.write();
}

QString TrackingControl::dataFolder() const
{
    const QString folder = m_settings->readFilename();
    return folder == QLatin1String("error") ? QStringLiteral("C:/") : folder;
}

void TrackingControl::setDataFile(const QString &path)
{
    m_dataPath = path;
    if (!path.isEmpty() && QFileInfo::exists(path))
        m_settings->writeFilename(QFileInfo(path).path());
    useSource();
    emit changed();
}

void TrackingControl::setSource(const SourceSettings &settings)
{
    m_sourceSettings = settings;
    if (!m_sourceSettings.write())
        logMessage(QStringLiteral("%1 cannot be written").arg(SourceSettings::defaultPath()));
    useSource();
    emit changed();
}

// The built-in sky when chosen and its home locator is good; otherwise the
// file, once one was chosen.
void TrackingControl::useSource()
{
    const auto home = positionOfLocator(m_sourceSettings.homeLocator);
    if (m_sourceSettings.builtIn && home) {
        m_source = std::make_unique<SkyTrackingSource>(*home, positionOfLocator(m_sourceSettings.dxLocator),
                                                       m_sourceSettings.frequencyMHz);
        return;
    }
    if (m_dataPath)
        m_source = std::make_unique<FileTrackingSource>(*m_dataPath);
    else
        m_source.reset();
}

// ---- operator entries ------------------------------------------------------

void TrackingControl::enterElevationOffset(const QString &text)
{
    if (text == QLatin1String("debug")) {
        m_debugMode = true;
        for (PortSession *record : {&m_portA, &m_portB})
            if (record->link)
                record->link->setTracing(true);
        logDebug(QStringLiteral("--debug mode enabled"));
        emit changed();
        return;
    }
    if (const auto value = numbers::toSingle(text))
        m_elevationOffset = *value;
    else
        logMessage(QStringLiteral("elevation offset error"));
}

void TrackingControl::enterAzimuthOffset(const QString &text)
{
    if (const auto value = numbers::toSingle(text))
        m_azimuthOffset = *value;
    else
        logMessage(QStringLiteral("azimuth offset error"));
}

void TrackingControl::setTarget(TrackingTarget target)
{
    m_target = target;
    m_steering.pending.clear();
    emit changed();
}

void TrackingControl::sendManual(StationPort port, const QString &line)
{
    PortSession &record = session(port);
    if (!record.link)
        return;
    const QByteArray bytes = record.link->manualCommand(line);
    if (port == StationPort::A)
        sendRotator(bytes);
    else if (record.open) {
        record.link->write(bytes);
        logDebug(QStringLiteral("--sending: %1").arg(QString::fromLatin1(bytes.toHex())));
    }
}

void TrackingControl::setAuto(StationPort port, bool automatic)
{
    PortSession &record = session(port);
    if (record.automatic == automatic)
        return;
    record.automatic = automatic;
    PortSession &other = port == StationPort::A ? m_portB : m_portA;
    if (port == StationPort::A)
        m_steering.pending.clear();
    if (!automatic) {
        if (port == StationPort::B && record.open)
            stopDoppler();
        if (!other.automatic && m_trackingActive)
            setTrackingActive(false);
    } else {
        if (port == StationPort::B && record.open)
            startDoppler();
        if (!m_trackingActive && record.open)
            setTrackingActive(true);
    }
    emit changed();
}

// ---- tracking cycle --------------------------------------------------------

void TrackingControl::repetition()
{
    logDebug(QStringLiteral("--repetition timer expired"));
    m_steering.repetition(m_times.repetitionTime);
    runTrackingCycle();
}

void TrackingControl::runTrackingCycle()
{
    TrackingRecord record;
    if (!m_source || !m_source->read(m_target, record, [this](const QString &text) { logMessage(text); }))
        return;

    if (m_portA.automatic && m_steering.pending.isEmpty()) {
        const double azimuth = record.azimuth + m_azimuthOffset;
        const double elevation = record.elevation + m_elevationOffset;
        logDebug(QStringLiteral("--absolute azimuth = %1").arg(numbers::general(azimuth)));
        logDebug(QStringLiteral("--absolute elevation = %1").arg(numbers::general(elevation)));
        // At most one command per cycle.
        if (const auto axis = m_steering.plan(azimuth, elevation, m_azimuthRounding, m_elevationRounding)) {
            m_steering.pending.append(rotatorCommand(*axis, azimuth, elevation));
            sendRotator(m_steering.pending);
        }
    }
    dopplerStep(record);
}

void TrackingControl::resetLastValues()
{
    m_steering.resetLastValues();
    m_doppler.resetShifts();
}

void TrackingControl::setTrackingActive(bool on)
{
    resetLastValues();
    if (!on) {
        m_repetitionTimer->stop();
        m_trackingActive = false;
        return;
    }
    m_repetitionTimer->start(repetitionMs(m_times.repetitionTime));
    m_trackingActive = true;
    if (!m_portA.open && !m_portB.open)
        logMessage(QStringLiteral("no port opened"));
    if (!m_source)
        logMessage(QStringLiteral("no file loaded"));
    else if (const QString problem = m_source->problem(); !problem.isEmpty())
        logMessage(problem);
    runTrackingCycle();
}

void TrackingControl::sendRotator(const QByteArray &bytes)
{
    if (!m_portA.open)
        return;
    m_portA.link->write(bytes);
    logDebug(QStringLiteral("--sending: %1").arg(QString::fromLatin1(bytes.toHex())));
}

QByteArray TrackingControl::rotatorCommand(RotatorAxis axis, double azimuth, double elevation) const
{
    if (m_rotator)
        return m_rotator->positionCommand(axis, azimuth, elevation);
    // Port A closed: the command only waits, in the serial controller's form.
    return SerialRotatorLink::commandFor(axis, azimuth, elevation);
}

// ---- parking and rotator replies --------------------------------------------

void TrackingControl::park(double azimuth, double elevation)
{
    m_azimuthParking = azimuth;
    m_elevationParking = elevation;
    m_settings->writeAzimuthParking(azimuth);
    m_settings->writeElevationParking(elevation);
    m_steering.pending.append(rotatorCommand(RotatorAxis::Both, azimuth, elevation));
    sendRotator(m_steering.pending);
    m_steering.parkingStarted(m_rotator && m_rotator->movesBothAxes());
}

void TrackingControl::rotatorReceived(const QByteArray &bytes)
{
    logDebug(QStringLiteral("--received A: %1").arg(QString::fromLatin1(bytes.toHex())));

    if (!m_portA.automatic && !m_steering.parkingActive()) {
        const int zero = bytes.indexOf('\0');
        logMessage(QStringLiteral("Port A data received (%1 bytes): %2")
                       .arg(QString::number(bytes.size()), QString::fromLatin1(zero < 0 ? bytes : bytes.left(zero))));
        return;
    }
    if (!m_rotator)
        return;
    const RotatorReply reply = m_rotator->interpretReply(bytes, m_steering.replyText);
    if (reply.kind == RotatorReply::Accepted) {
        if (m_steering.accepted()) {
            m_steering.pending.append(
                rotatorCommand(RotatorAxis::Elevation, m_azimuthParking, m_elevationParking));
            sendRotator(m_steering.pending);
        }
    } else if (reply.kind == RotatorReply::Refused) {
        logMessage(QStringLiteral("Rotator error code: %1").arg(reply.text));
        m_steering.refused();
    }
}

// ---- ports -----------------------------------------------------------------

bool TrackingControl::open(StationPort port, const QString &nameOrAddress, const SerialParameters &parameters,
                           bool ft847)
{
    PortSession &record = session(port);
    const bool rotator = port == StationPort::A;
    if (record.network) {
        const auto address = hamlib::parseAddress(
            nameOrAddress, rotator ? hamlib::rotctldDefaultPort : hamlib::rigctldDefaultPort);
        if (!address) {
            logMessage(QStringLiteral("connection to %1 failed").arg(nameOrAddress));
            logMessage(QStringLiteral("not a host and port: %1").arg(nameOrAddress));
            return false;
        }
        NetworkSettings settings = m_network;
        settings.rigctld = m_portB.network;
        settings.rotctld = m_portA.network;
        (rotator ? settings.rotctldAddress : settings.rigctldAddress) = nameOrAddress.trimmed();
        setNetworkSettings(settings);
        const auto started = [](auto *daemonLink) {
            daemonLink->open();
            return static_cast<DeviceLink *>(daemonLink);
        };
        DeviceLink *link
            = rotator ? started(new RotctldLink(*address, this)) : started(new RigctldLink(*address, this));
        record.link = link;
        record.connecting = true;
        const QString target = link->target();
        connect(link, &DeviceLink::opened, this, [this, port, link, target] {
            session(port).connecting = false;
            if (portOpened(port, link, target))
                afterOpen(port);
        });
        connect(link, &DeviceLink::openFailed, this, [this, port, target](const QString &reason) {
            logMessage(QStringLiteral("connection to %1 failed").arg(target));
            logMessage(QStringLiteral("%1: %2").arg(target, reason));
            session(port).connecting = false;
            dropLink(port);
            emit changed();
        });
        emit changed();
        return true;
    }

    auto *serial = new SerialPort(nameOrAddress, this);
    logMessage(QStringLiteral("Serial %1 settings:").arg(record.name));
    serial->setBaudRate(parameters.baudRate);
    serial->setDataBits(parameters.dataBits);
    serial->setFlowControl(parameters.flowControl);
    serial->setParity(parameters.parity);
    serial->setStopBits(parameters.stopBits);
    logMessage(QStringLiteral("Baud rate: %1").arg(serialvalues::textOf(serialvalues::baudRates, serial->baudRate())));
    logMessage(QStringLiteral("Data bits: %1").arg(serialvalues::textOf(serialvalues::dataBits, serial->dataBits())));
    logMessage(QStringLiteral("Flow control: %1")
                   .arg(serialvalues::textOf(serialvalues::flowControls, serial->flowControl())));
    logMessage(QStringLiteral("Parity: %1").arg(serialvalues::textOf(serialvalues::parities, serial->parity())));
    logMessage(QStringLiteral("Stop bits: %1").arg(serialvalues::textOf(serialvalues::stopBits, serial->stopBits())));

    if (!serial->open(QIODevice::ReadWrite)) {
        logMessage(QStringLiteral("connection to %1 failed").arg(nameOrAddress));
        const QString hint = serial->openFailureHint();
        if (!hint.isEmpty())
            logMessage(hint);
        delete serial;
        return false;
    }
    DeviceLink *link = rotator ? static_cast<DeviceLink *>(new SerialRotatorLink(serial, this))
                               : static_cast<DeviceLink *>(new CatLink(serial, ft847, this));
    openWith(port, link, nameOrAddress);
    return true;
}

void TrackingControl::openWith(StationPort port, DeviceLink *link, const QString &shownName)
{
    link->setParent(this);
    session(port).link = link;
    if (portOpened(port, link, shownName))
        afterOpen(port);
}

// What follows a successful open, on either transport.
bool TrackingControl::portOpened(StationPort port, DeviceLink *link, const QString &shownName)
{
    PortSession &record = session(port);
    record.link = link;
    wireLink(port);
    logMessage(QStringLiteral("connected to %1").arg(shownName));
    record.open = true;
    if (port == StationPort::A) {
        m_rotator = static_cast<RotatorLink *>(link);  // the cycle below may command it
        // A command held while the port was closed never reached the
        // controller and is not waited for. One that the cycle below writes
        // is: its "OK" must not be taken for the next command's.
        m_steering.pending.clear();
    }
    if (record.automatic && !m_trackingActive)
        setTrackingActive(true);
    if (port == StationPort::B) {
        m_transceiver = static_cast<TransceiverLink *>(link);
    } else if (m_rotator->reportsPosition()) {
        m_positionTimer->start(qMax(1, messageDelayMs(m_times.messageDelay)));  // 0 would poll without pause
        m_rotator->requestPosition();
    }
    emit changed();
    return true;
}

// The open's follow-up once the port is open.
void TrackingControl::afterOpen(StationPort port)
{
    if (port == StationPort::A)
        resetLastValues();
    else if (m_portB.automatic)
        startDoppler();
    emit changed();
}

void TrackingControl::wireLink(StationPort port)
{
    DeviceLink *link = session(port).link;
    // Outside debug mode every trace line would be formatted only to be dropped.
    link->setTracing(m_debugMode);
    connect(link, &DeviceLink::message, this, &TrackingControl::logMessage);
    connect(link, &DeviceLink::debugMessage, this, &TrackingControl::logDebug);
    connect(link, &DeviceLink::connectionLost, this, [this, port] { portLost(port); });
    if (port == StationPort::A) {
        auto *rotator = static_cast<RotatorLink *>(link);
        connect(rotator, &DeviceLink::received, this, &TrackingControl::rotatorReceived);
        connect(rotator, &RotatorLink::positionReceived, this, &TrackingControl::antennaPosition);
        // Given up by the link after the stale time: nothing to wait for.
        connect(rotator, &RotatorLink::commandExpired, this, [this] { m_steering.pending.clear(); });
        return;
    }
    auto *transceiver = static_cast<TransceiverLink *>(link);
    connect(transceiver, &TransceiverLink::frequencyReceived, this, &TrackingControl::frequencyReceived);
    connect(transceiver, &TransceiverLink::statusReceived, this,
            [this](bool transmitting) { m_doppler.transmitting = transmitting; });
    connect(transceiver, &DeviceLink::received, this, [this](const QByteArray &bytes) {
        logMessage(QStringLiteral("Port B data received (%1 bytes): %2")
                       .arg(QString::number(bytes.size()), QString::fromLatin1(bytes)));
    });
}

// Closing the link lets the FT-847's CAT OFF go out before the port closes.
void TrackingControl::dropLink(StationPort port)
{
    PortSession &record = session(port);
    record.link->disconnect(this);
    record.link->close();
    record.link->deleteLater();
    record.link = nullptr;
}

void TrackingControl::close(StationPort port)
{
    const bool wasOpen = session(port).open;
    closePort(port);
    if (port == StationPort::B && wasOpen)
        stopDoppler();
    emit changed();
}

void TrackingControl::closePort(StationPort port)
{
    PortSession &record = session(port);
    if (record.connecting) {
        logMessage(QStringLiteral("connection to %1 cancelled").arg(record.target()));
        record.connecting = false;
        dropLink(port);
        return;
    }
    if (!record.open)
        return;
    if (port == StationPort::B) {
        m_transceiver = nullptr;
    } else {
        m_rotator = nullptr;
        m_positionTimer->stop();
    }
    dropLink(port);
    logMessage(QStringLiteral("%1 disconnected").arg(record.name));
    record.open = false;

    if (!m_portA.open && !m_portB.open) {
        setTrackingActive(false);
        return;
    }
    const PortSession &other = port == StationPort::A ? m_portB : m_portA;
    if (!other.automatic)
        setTrackingActive(false);
}

void TrackingControl::portLost(StationPort port)
{
    PortSession &record = session(port);
    if (!record.open || !record.link)
        return;
    logMessage(QStringLiteral("connection to %1 lost").arg(record.target()));
    closePort(port);
    if (port == StationPort::B)
        stopDoppler();
    emit changed();
}

// ---- transceiver -----------------------------------------------------------

void TrackingControl::startDoppler()
{
    m_dopplerRunning = true;
    m_doppler.stop();
    if (m_transceiver)
        m_transceiver->requestFrequency();
    m_readoutTimer->start(messageDelayMs(m_times.messageDelay));
}

void TrackingControl::stopDoppler()
{
    m_readoutTimer->stop();
    m_dopplerRunning = false;
    m_frequencyKnown = false;
    m_shownFrequency.reset();
    m_doppler.stop();
}

void TrackingControl::readout()
{
    logDebug(QStringLiteral("--readout timer expired"));
    if (m_transceiver)
        m_transceiver->requestReadout();
}

void TrackingControl::frequencyReceived(double mhz)
{
    m_shownFrequency = FrequencyReading {mhz, m_doppler.transmitting};
    if (!m_doppler.tracking()) {
        m_doppler.frequencyRead(mhz);
        m_frequencyKnown = true;
    }
    emit changed();
}

void TrackingControl::setFrequencyTracking(bool on)
{
    m_doppler.setTracking(on);
    emit changed();
}

void TrackingControl::sendFrequency(double hz, const QString &refusal)
{
    // Truncated toward zero; a value the frame cannot carry must never be sent
    // (the 32-bit conversion would wrap it to some other frequency).
    const double truncated = std::trunc(hz);
    const bool finite = std::isfinite(truncated) && std::fabs(truncated) < 1e15;
    const bool fits = finite
        && (m_transceiver ? m_transceiver->canCarry(qint64(truncated)) : cat::frameCanCarry(qint64(truncated)));
    if (!fits) {
        logMessage(refusal);
        return;
    }
    if (m_transceiver)
        m_transceiver->setFrequency(quint32(qint64(truncated)));
}

void TrackingControl::dopplerStep(const TrackingRecord &record)
{
    if (!m_portB.automatic)
        return;
    if (const auto hz = m_doppler.correctedHz(record))
        sendFrequency(*hz, QStringLiteral("frequency out of range"));
    logDebug(QStringLiteral("--frequency = %1; doppler Home = %2; doppler Dx = %3")
                 .arg(m_doppler.workingMHz())
                 .arg(record.dopplerHome)
                 .arg(record.dopplerDx));
    m_doppler.recordShifts(record);
}

void TrackingControl::tune(const QString &mhzText)
{
    bool ok = false;
    const double mhz = mhzText.toDouble(&ok);
    if (!ok) {
        logMessage(QStringLiteral("Frequency error"));
        return;
    }
    sendFrequency(mhz * 1000000.0, QStringLiteral("Frequency error"));
}
