#include "station/trackingcontrol.h"

#include "ephemeris/locator.h"
#include "ephemeris/radiosource.h"
#include "hamlib/hamliblinks.h"
#include "links/seriallinks.h"
#include "links/showntext.h"
#include "log/filelog.h"
#include "serial/serialenumerator.h"
#include "serial/serialport.h"
#include "settings/numbers.h"
#include "settings/settingsfile.h"
#include "transceiver/catframes.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include <climits>
#include <cmath>

#include <sys/stat.h>

namespace {

// How far the clock is past a file's time of day, in milliseconds: a file
// written before midnight and read after it is behind, not ahead.
qint64 msBehind(const QTime &fileTime, const QTime &clock)
{
    qint64 behind = fileTime.msecsTo(clock);
    if (behind < -12 * 3600 * 1000LL)
        behind += 24 * 3600 * 1000LL;
    return behind;
}

// A link's own inode and change time: a link made anew differs.
QString linkIdentity(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISLNK(info.st_mode))
        return {};
    return QStringLiteral("%1/%2.%3").arg(info.st_ino).arg(info.st_ctim.tv_sec).arg(info.st_ctim.tv_nsec);
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

} // namespace

TrackingControl::TrackingControl(QObject *parent)
    : QObject(parent)
    , m_fileLog(std::make_unique<FileLog>())
    , m_settings(std::make_unique<SettingsFile>())
    , m_repetitionTimer(new QTimer(this))
    , m_readoutTimer(new QTimer(this))
    , m_positionTimer(new QTimer(this))
    , m_health([this](const QString &text) { logMessage(text); })
    , m_healthTimer(new QTimer(this))
    , m_answerTimer(new QTimer(this))
    , m_watcher(new QFileSystemWatcher(this))
{
    m_settings->setFailureReport([this](const QString &text) { logMessage(text); });
    m_repetitionTimer->setObjectName(QStringLiteral("repetitionTimer"));
    m_readoutTimer->setObjectName(QStringLiteral("readoutTimer"));
    m_portA.name = QStringLiteral("Port A");
    m_portB.name = QStringLiteral("Port B");
    connect(m_repetitionTimer, &QTimer::timeout, this, &TrackingControl::repetition);
    connect(m_readoutTimer, &QTimer::timeout, this, &TrackingControl::readout);
    connect(m_positionTimer, &QTimer::timeout, this, [this] {
        if (!m_rotator)
            return;
        m_rotator->requestPosition();
        awaitRotator(QByteArrayLiteral("p"));
    });
    connect(m_healthTimer, &QTimer::timeout, this, &TrackingControl::checkHealth);
    m_healthTimer->start(1000);
    // A command's answer is waited for to the millisecond, not to the next tick.
    m_answerTimer->setSingleShot(true);
    m_answerTimer->setTimerType(Qt::PreciseTimer);  // a coarse one may fire before the time is up
    connect(m_answerTimer, &QTimer::timeout, this, &TrackingControl::checkHealth);
    for (StationPort port : {StationPort::A, StationPort::B}) {
        QTimer *timer = new QTimer(this);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, port] { tryReconnect(port); });
        m_reconnectTimers[int(port)] = timer;
    }
    // A serial device that comes back shows up in its folder at once.
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        for (StationPort port : {StationPort::A, StationPort::B})
            if (m_reconnect[int(port)].wanted && !session(port).network)
                tryReconnect(port);
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
    m_dopplerSettings = DopplerSettings::read();
    m_planner.setGeometry(RotatorGeometry::read());
    useSource();
}

TrackingControl::~TrackingControl()
{
    // Whoever listened may be gone by now; a view that wants the closing
    // said calls closeAll() first.
    blockSignals(true);
    closeAll();
}

void TrackingControl::closeAll()
{
    cancelReconnect(StationPort::A);
    cancelReconnect(StationPort::B);
    if (m_portA.open)
        closePort(StationPort::A);
    if (m_portB.open)
        closePort(StationPort::B);
}

void TrackingControl::logDebug(const QString &text)
{
    if (m_debugMode)
        logMessage(text);
}

// Every message goes to the views and to vestrel.log.
void TrackingControl::logMessage(const QString &text)
{
    const LogHistory::Entry &said = m_recentLog.append(text);
    emit message(text);
    if (m_fileLog->write(text, said.time) || m_fileLogFailed)
        return;
    // Said once; the views go on, and the file is tried again with each message.
    m_fileLogFailed = true;
    const QString failed =
        QStringLiteral("log file %1 cannot be written: %2").arg(m_fileLog->path(), m_fileLog->errorString());
    m_recentLog.append(failed);
    emit message(failed);
    emit logFileFailed();
}

QString TrackingControl::logPath() const
{
    return m_fileLog->path();
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
    for (PortSession *record : {&m_portA, &m_portB})
        if (record->link)
            record->link->setCommandLifetime(repetitionMs(repetitionSeconds));
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
    // Not silently: the sky cannot be computed for a station nobody placed.
    if (settings.builtIn && !positionOfLocator(settings.homeLocator))
        logMessage(QStringLiteral("the sky is computed here only with the station's locator (not \"%1\"): "
                                  "the tracking data file is used meanwhile")
                       .arg(shownText(settings.homeLocator.left(16).toUtf8())));
    useSource();
    emit changed();
}

bool TrackingControl::setDopplerSettings(const DopplerSettings &settings)
{
    if (const auto refusal = skedRefusal(settings)) {
        logMessage(*refusal);
        return false;
    }
    const bool newSked = settings.skedMHz != m_dopplerSettings.skedMHz;
    m_dopplerSettings = settings;
    if (!m_dopplerSettings.write())
        logMessage(QStringLiteral("%1 cannot be written").arg(DopplerSettings::defaultPath()));
    if (!settings.split || settings.method == DopplerMethod::Specified)
        endSplit();
    m_methodSky.reset();
    m_heldTransmitHz.reset();
    // What was written before is no guide to the next readout.
    const double offset = newSked ? 0.0 : m_dial.offsetHz;
    m_dial = Dial();
    m_dial.offsetHz = offset;
    m_health.clear(Alarm::SkedOutOfRange, false);
    if (m_sourceSettings.builtIn)
        useSource();  // the sky for the frequency now on the air
    emit changed();
    return true;
}

void TrackingControl::setRotatorGeometry(const RotatorGeometry &geometry)
{
    m_planner.setGeometry(geometry);
    if (!geometry.write())
        logMessage(QStringLiteral("%1 cannot be written").arg(RotatorGeometry::defaultPath()));
    emit changed();
}

// The built-in sky when chosen and its home locator is good; otherwise the
// file, once one was chosen.
void TrackingControl::useSource()
{
    const auto home = positionOfLocator(m_sourceSettings.homeLocator);
    if (m_sourceSettings.builtIn && home) {
        SkyOptions options;
        options.source = radiosource::fromText(m_sourceSettings.radioSource);  // none when empty
        options.refraction = m_sourceSettings.refraction;
        // Under a method the sky is computed for the sked frequency, the one on the air.
        const double mhz = m_dopplerSettings.method == DopplerMethod::Specified ? m_sourceSettings.frequencyMHz
                                                                                 : m_dopplerSettings.skedMHz;
        auto sky = std::make_unique<SkyTrackingSource>(*home, positionOfLocator(m_sourceSettings.dxLocator), mhz,
                                                       options);
        sky->setClock([this] { return now(); });  // follows a clock set later too
        m_source = std::move(sky);
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
    m_planner.restart();
    emit changed();
}

void TrackingControl::sendManual(StationPort port, const QString &line)
{
    PortSession &record = session(port);
    if (!record.link)
        return;
    sendOnPort(record, record.link->manualCommand(line));
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
    bool clean = true;
    const auto log = [this, &clean](const QString &text) {
        clean = false;
        m_health.error(StationHealth::Source::Data, text);
    };
    if (!m_source || !m_source->read(m_target, record, log))
        return;
    if (clean)
        m_health.success(StationHealth::Source::Data);
    m_lastRecord = record;
    m_lastRecordTime = QDateTime::currentDateTimeUtc();
    m_lastRecordClock = now();
    if (record.elevation < 0)
        m_health.raise(Alarm::BelowHorizon,
                       QStringLiteral("target below the horizon: elevation %1").arg(record.elevation, 0, 'f', 2));
    else
        m_health.clear(Alarm::BelowHorizon);

    steerRotator(record);
    dopplerStep(record);
    emit changed();
}

// At most one command per cycle.
void TrackingControl::steerRotator(const TrackingRecord &record)
{
    if (m_portA.automatic && m_steering.pending.isEmpty() && m_rotator && !m_rotator->ready()) {
        m_pointingNote = QStringLiteral("waiting for the rotator's limits");
    } else if (m_portA.automatic && m_steering.pending.isEmpty()) {
        const double azimuth = record.azimuth + m_azimuthOffset;
        const double elevation = record.elevation + m_elevationOffset;
        logDebug(QStringLiteral("--absolute azimuth = %1").arg(numbers::general(azimuth)));
        logDebug(QStringLiteral("--absolute elevation = %1").arg(numbers::general(elevation)));
        const PointingPlanner::Command command = planPointing({azimuth, elevation});
        // An azimuth step goes with the elevation the antenna has: where the mask at the new azimuth
        // stands higher than that, the elevation is raised first.
        const bool raiseFirst = m_pointing.commandedElevation
            && *m_pointing.commandedElevation < m_planner.lowestElevation(command.position.azimuth) - 1e-9
            && command.position.elevation > *m_pointing.commandedElevation;
        if (command.move)
            if (const auto axis = m_steering.plan(command.position.azimuth, command.position.elevation,
                                                  command.azimuthBand.value_or(m_azimuthRounding),
                                                  command.elevationBand.value_or(m_elevationRounding), raiseFirst))
                commandRotator(*axis, command.position.azimuth, command.position.elevation);
    } else if (!m_portA.automatic) {
        m_pointingNote.clear();
    }
}

// The target through the rotator's geometry, with the pass ahead where the
// source can compute it.
PointingPlanner::Command TrackingControl::planPointing(const Direction &target)
{
    m_planner.setTravel(m_rotator ? m_rotator->travel() : std::nullopt);
    PointingPlanner::Situation situation;
    situation.target = target;
    situation.now = now();
    situation.repetitionSeconds = qMax<quint32>(1u, m_times.repetitionTime);
    situation.azimuthBand = m_azimuthRounding;
    situation.elevationBand = m_elevationRounding;
    situation.transmitting = m_doppler.transmitting;
    situation.sentAzimuth = m_pointing.commandedAzimuth;
    situation.sentElevation = m_pointing.commandedElevation;
    TrackingRecord probe;
    if (m_source && m_source->readAt(m_target, situation.now, probe)) {
        situation.ahead = [this, start = situation.now](double seconds) -> std::optional<Direction> {
            TrackingRecord record;
            if (!m_source || !m_source->readAt(m_target, start.addMSecs(qint64(seconds * 1000)), record))
                return std::nullopt;
            return Direction {record.azimuth, record.elevation};
        };
    }
    const PointingPlanner::Command command = m_planner.plan(situation);
    m_pointingNote = command.note;
    return command;
}

void TrackingControl::resetLastValues()
{
    m_steering.resetLastValues();
    m_planner.restart();
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

void TrackingControl::sendOnPort(PortSession &record, const QByteArray &bytes)
{
    if (!record.open)
        return;
    record.link->write(bytes);
    logDebug(QStringLiteral("--sending: %1").arg(QString::fromLatin1(bytes.toHex())));
}

// A positioning command that waits for its answer.
void TrackingControl::commandRotator(RotatorAxis axis, double azimuth, double elevation)
{
    m_steering.pending.append(rotatorCommand(axis, azimuth, elevation));
    m_pendingSince.start();
    awaitRotator(m_steering.pending);
    m_answerTimer->start(int(silentRotatorMs() + 1));
    switch (axis) {
    case RotatorAxis::Azimuth:
        m_pendingPosition = QStringLiteral("azimuth %1").arg(azimuth, 0, 'f', 2);
        break;
    case RotatorAxis::Elevation:
        m_pendingPosition = QStringLiteral("elevation %1").arg(elevation, 0, 'f', 2);
        break;
    case RotatorAxis::Both:
        m_pendingPosition = QStringLiteral("az %1, el %2").arg(azimuth, 0, 'f', 2).arg(elevation, 0, 'f', 2);
        break;
    }
    if (axis != RotatorAxis::Elevation)
        m_pointing.commandedAzimuth = azimuth;
    if (axis != RotatorAxis::Azimuth)
        m_pointing.commandedElevation = elevation;
    sendOnPort(m_portA, m_steering.pending);
}

QByteArray TrackingControl::rotatorCommand(RotatorAxis axis, double azimuth, double elevation) const
{
    if (m_rotator)
        return m_rotator->positionCommand(axis, azimuth, elevation);
    // Port A closed: the command only waits, in the serial controller's form.
    return SerialRotatorLink::commandFor(axis, azimuth, elevation);
}

// ---- parking and rotator replies --------------------------------------------

// From a client: tracking leaves the rotator (Manual, as the window parks
// only in Manual), the antenna stays at the park position, and parking ends
// by itself once the rotator has taken it.
void TrackingControl::parkAndHold(double azimuth, double elevation)
{
    if (m_portA.automatic)
        setAuto(StationPort::A, false);
    m_parkEndsWhenTaken = true;
    park(azimuth, elevation);
}

void TrackingControl::park(double azimuth, double elevation)
{
    m_azimuthParking = azimuth;
    m_elevationParking = elevation;
    m_settings->writeAzimuthParking(azimuth);
    m_settings->writeElevationParking(elevation);
    commandRotator(RotatorAxis::Both, azimuth, elevation);
    m_steering.parkingStarted(m_rotator && m_rotator->movesBothAxes());
}

void TrackingControl::rotatorReceived(const QByteArray &bytes)
{
    logDebug(QStringLiteral("--received A: %1").arg(QString::fromLatin1(bytes.toHex())));

    if (!m_portA.automatic && !m_steering.parkingActive()) {
        const int zero = bytes.indexOf('\0');
        logMessage(QStringLiteral("Port A data received (%1 bytes): %2")
                       .arg(QString::number(bytes.size()), shownText(zero < 0 ? bytes : bytes.left(zero))));
        return;
    }
    if (!m_rotator)
        return;
    const RotatorReply reply = m_rotator->interpretReply(bytes, m_steering.replyText);
    if (reply.kind == RotatorReply::Pending)
        return;
    rotatorAnswered();
    if (reply.kind == RotatorReply::Accepted) {
        m_health.success(StationHealth::Source::Rotator);
        m_health.clear(Alarm::RotatorRefused);
        if (m_pendingSince.isValid())
            m_planner.answered(m_pendingSince.elapsed() / 1000.0);
        if (m_steering.accepted())
            commandRotator(RotatorAxis::Elevation, m_azimuthParking, m_elevationParking);
        else if (m_parkEndsWhenTaken && m_steering.parkingActive())
            endParkingTaken();
    } else {
        m_health.error(StationHealth::Source::Rotator, QStringLiteral("Rotator error code: %1").arg(reply.text));
        m_health.raise(Alarm::RotatorRefused,
                       QStringLiteral("rotator refused %1: %2").arg(m_pendingPosition, reply.text.trimmed()));
        m_steering.refused();
        if (m_parkEndsWhenTaken && m_steering.parkingActive())
            endParkingTaken();
    }
    emit changed();
}

void TrackingControl::endParkingTaken()
{
    m_parkEndsWhenTaken = false;
    m_steering.parkingEnded();
}

void TrackingControl::saveOffsets()
{
    m_settings->writeAzimutOffset(float(m_azimuthOffset));
    m_settings->writeElevationOffset(float(m_elevationOffset));
}

// Why the radio cannot be tuned there; nothing when it can.
std::optional<QString> TrackingControl::tuneRefusal(double mhz) const
{
    if (!m_transceiver)
        return QStringLiteral("port B is not open");
    // Below the long-wave band no radio of a station tunes; a 5-byte frame
    // would carry it as 0 Hz.
    constexpr double lowestHz = 100000;
    const double hz = std::trunc(mhz * 1e6);
    if (!std::isfinite(hz) || hz < lowestHz || hz > 4294967295.0 || !m_transceiver->canCarry(qint64(hz)))
        return QStringLiteral("the radio cannot be set to %1 MHz").arg(mhz, 0, 'f', 6);
    return std::nullopt;
}

// ---- ports -----------------------------------------------------------------

// A daemon that cannot be reached, or not kept connected.
Alarm TrackingControl::unreachableAlarm(StationPort port)
{
    return port == StationPort::A ? Alarm::RotatorUnreachable : Alarm::RadioUnreachable;
}

bool TrackingControl::open(StationPort port, const QString &nameOrAddress, const SerialParameters &parameters,
                           bool ft847)
{
    cancelReconnect(port);
    return openPort(port, nameOrAddress, parameters, ft847, false);
}

// quiet: an attempt to reconnect, which says only when it succeeds.
bool TrackingControl::openPort(StationPort port, const QString &nameOrAddress, const SerialParameters &parameters,
                               bool ft847, bool quiet)
{
    PortSession &record = session(port);
    record.openedName = nameOrAddress;
    record.parameters = parameters;
    record.ft847 = ft847;
    const bool rotator = port == StationPort::A;
    if (record.network) {
        const auto address = hamlib::parseAddress(
            nameOrAddress, rotator ? hamlib::rotctldDefaultPort : hamlib::rigctldDefaultPort);
        if (!address) {
            cancelReconnect(port);
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
        connect(link, &DeviceLink::openFailed, this, [this, port, target, quiet](const QString &reason) {
            if (!quiet) {
                logMessage(QStringLiteral("connection to %1 failed").arg(target));
                logMessage(QStringLiteral("%1: %2").arg(target, reason));
            }
            session(port).connecting = false;
            dropLink(port);
            // A daemon not up yet (a station started before it) is tried
            // again as a lost one would be, and said once.
            m_health.raise(unreachableAlarm(port),
                           QStringLiteral("cannot reach %1 at %2: %3")
                               .arg(port == StationPort::A ? QStringLiteral("rotctld") : QStringLiteral("rigctld"),
                                    target, reason));
            if (m_reconnect[int(port)].wanted) {
                Reconnect &plan = m_reconnect[int(port)];
                plan.backoffSeconds = qMin(plan.backoffSeconds * 2, 30);
                m_reconnectTimers[int(port)]->start(plan.backoffSeconds * 1000);
            } else if (m_network.reconnect) {
                planReconnect(port);
            }
            emit changed();
        });
        emit changed();
        return true;
    }

    auto *serial = new SerialPort(nameOrAddress, this);
    const auto logMessage = [this, quiet](const QString &text) {
        if (!quiet)
            this->logMessage(text);
    };
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
    record.openedDevice = QFileInfo(nameOrAddress).canonicalFilePath();
    record.openedLink = linkIdentity(nameOrAddress);
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

// ---- reconnecting ----------------------------------------------------------

void TrackingControl::setAutoReconnect(bool on)
{
    NetworkSettings settings = m_network;
    settings.reconnect = on;
    setNetworkSettings(settings);
    if (!on) {
        cancelReconnect(StationPort::A);
        cancelReconnect(StationPort::B);
    }
    emit changed();
}

void TrackingControl::planReconnect(StationPort port)
{
    const PortSession &record = session(port);
    Reconnect &plan = m_reconnect[int(port)];
    // Lost again soon after it came back: a device that cannot stay, tried less often.
    const bool soonLost = plan.since.isValid() && plan.since.elapsed() < 10000;
    const int backoff = soonLost ? qMin(plan.backoffSeconds * 2, 30) : 1;
    const int shortLives = soonLost ? plan.shortLives + 1 : 0;
    plan = {};
    plan.wanted = true;
    plan.backoffSeconds = backoff;
    plan.shortLives = shortLives;
    // A device that drops every connection soon after it is made (a daemon
    // that closes after each answer) is never read: said, not only retried.
    constexpr int unstableAfter = 3;
    if (shortLives >= unstableAfter)
        m_health.raise(unreachableAlarm(port),
                       QStringLiteral("cannot keep a connection to %1: lost %2 times within seconds of connecting")
                           .arg(record.target())
                           .arg(shortLives));
    if (port == StationPort::B) {
        plan.resumeTracking = m_doppler.tracking();
        plan.workingMHz = m_doppler.workingMHz();
        plan.ptt = m_doppler.ptt;
        plan.dialOffsetHz = m_dial.offsetHz;
    }
    if (!record.network) {
        const QString folder = QFileInfo(record.openedName).absolutePath();
        if (!m_watcher->directories().contains(folder))
            m_watcher->addPath(folder);
        // The folder's notice is the quick way back; this is the sure one.
        m_reconnectTimers[int(port)]->start(plan.backoffSeconds * 1000);
        return;
    }
    m_reconnectTimers[int(port)]->start(plan.backoffSeconds * 1000);
}

void TrackingControl::tryReconnect(StationPort port)
{
    PortSession &record = session(port);
    Reconnect &plan = m_reconnect[int(port)];
    if (!plan.wanted || record.open || record.connecting)
        return;
    if (record.network) {
        openPort(port, record.openedName, record.parameters, record.ft847, true);
        return;  // the answer or the next try comes by signal
    }
    // A pseudo-terminal's number goes to whoever opens one next (a terminal,
    // say): only a link made anew to one is the device come back.
    const QString device = QFileInfo(record.openedName).canonicalFilePath();
    const bool pty = record.openedDevice.startsWith(QLatin1String("/dev/pts/"));
    const bool back = !device.isEmpty()
        && (!pty || (!record.openedLink.isEmpty() && linkIdentity(record.openedName) != record.openedLink));
    if (back && openPort(port, record.openedName, record.parameters, record.ft847, true))
        return;
    m_reconnectTimers[int(port)]->start(plan.backoffSeconds * 1000);
}

void TrackingControl::cancelReconnect(StationPort port)
{
    m_reconnect[int(port)].wanted = false;
    m_reconnectTimers[int(port)]->stop();
    if (!m_reconnect[0].wanted && !m_reconnect[1].wanted && !m_watcher->directories().isEmpty())
        m_watcher->removePaths(m_watcher->directories());
}

// Back where it was: Auto and tracking came with the open; the frequency
// tracking resumes on the same working frequency.
void TrackingControl::reconnected(StationPort port)
{
    const Reconnect plan = m_reconnect[int(port)];
    cancelReconnect(port);
    m_reconnect[int(port)].since.start();
    m_reconnect[int(port)].backoffSeconds = plan.backoffSeconds;
    m_reconnect[int(port)].shortLives = plan.shortLives;
    if (port == StationPort::B && plan.resumeTracking && m_dopplerRunning) {
        m_doppler.resume(plan.workingMHz, plan.ptt);
        m_dial.offsetHz = plan.dialOffsetHz;
        m_frequencyKnown = true;
    }
}

// What follows a successful open, on either transport.
bool TrackingControl::portOpened(StationPort port, DeviceLink *link, const QString &shownName)
{
    PortSession &record = session(port);
    record.link = link;
    wireLink(port);
    logMessage(QStringLiteral("connected to %1").arg(shownName));
    if (m_reconnect[int(port)].shortLives == 0)
        m_health.clear(unreachableAlarm(port));
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
    if (m_reconnect[int(port)].wanted)
        reconnected(port);
    emit changed();
}

void TrackingControl::wireLink(StationPort port)
{
    DeviceLink *link = session(port).link;
    // Outside debug mode every trace line would be formatted only to be dropped.
    link->setTracing(m_debugMode);
    // A command not sent within a repetition is no longer meant.
    link->setCommandLifetime(repetitionMs(m_times.repetitionTime));
    const auto source = port == StationPort::A ? StationHealth::Source::Rotator : StationHealth::Source::Radio;
    connect(link, &DeviceLink::message, this, [this, source](const QString &text) { m_health.error(source, text); });
    connect(link, &DeviceLink::debugMessage, this, &TrackingControl::logDebug);
    connect(link, &DeviceLink::connectionLost, this, [this, port] { portLost(port); });
    if (port == StationPort::A) {
        auto *rotator = static_cast<RotatorLink *>(link);
        connect(rotator, &DeviceLink::received, this, &TrackingControl::rotatorReceived);
        connect(rotator, &RotatorLink::positionReceived, this, [this](double azimuth, double elevation) {
            rotatorAnswered();
            m_pointing.actualAzimuth = azimuth;
            m_pointing.actualElevation = elevation;
            emit antennaPosition(azimuth, elevation);
        });
        // Given up by the link after the stale time: nothing to wait for.
        connect(rotator, &RotatorLink::commandExpired, this, [this] { m_steering.pending.clear(); });
        // The first position goes as soon as it can be planned for the travel.
        connect(rotator, &RotatorLink::limitsLearned, this, [this] {
            if (m_trackingActive && m_portA.automatic && m_lastRecordTime.isValid())
                steerRotator(m_lastRecord);
        });
        return;
    }
    auto *transceiver = static_cast<TransceiverLink *>(link);
    connect(transceiver, &TransceiverLink::frequencyReceived, this, &TrackingControl::frequencyReceived);
    connect(transceiver, &TransceiverLink::statusReceived, this, [this](bool transmitting) {
        m_doppler.transmitting = transmitting;
        radioAnswered();
    });
    connect(transceiver, &TransceiverLink::answered, this, &TrackingControl::radioAnswered);
    connect(transceiver, &DeviceLink::received, this, [this](const QByteArray &bytes) {
        logMessage(QStringLiteral("Port B data received (%1 bytes): %2")
                       .arg(QString::number(bytes.size()), shownText(bytes)));
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
    cancelReconnect(port);
    m_reconnect[int(port)].shortLives = 0;
    m_health.clear(unreachableAlarm(port), false);
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
        // A radio left in split would transmit where nobody listens once
        // the station is gone: the link's close puts it back to one VFO, once.
        m_split = Split();
        m_transceiver = nullptr;
        m_health.clear(Alarm::RadioSilent, false);
        m_unansweredReadouts = 0;
    } else {
        m_rotator = nullptr;
        m_positionTimer->stop();
        m_rotatorQuietSince.invalidate();
        m_health.clear(Alarm::RotatorLimitsUnknown, false);
        m_health.clear(Alarm::RotatorSilent, false);
        m_health.clear(Alarm::RotatorRefused, false);
        m_pointing.actualAzimuth.reset();
        m_pointing.actualElevation.reset();
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
    if (m_network.reconnect)
        planReconnect(port);  // before the Doppler state is dropped
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
    m_follow.reset();
    m_health.clear(Alarm::RadioNotFollowing, false);
    m_dopplerRunning = false;
    m_frequencyKnown = false;
    m_shownFrequency.reset();
    m_doppler.stop();
    m_methodSky.reset();
    leaveMethod();
}

// Out of split, and nothing of the method's dial or held transmit frequency
// carried into the next time it engages.
void TrackingControl::leaveMethod()
{
    endSplit();
    m_dial = Dial();
    m_heldTransmitHz.reset();
}

void TrackingControl::readout()
{
    logDebug(QStringLiteral("--readout timer expired"));
    if (!m_transceiver)
        return;
    if (m_unansweredReadouts >= 3 && m_health.raise(Alarm::RadioSilent,
                                                   QStringLiteral("radio not answering: %1 readouts without an answer")
                                                       .arg(m_unansweredReadouts)))
        emit changed();
    // Only readouts that reached the radio count: a daemon's link asks at
    // its own pace, slower than this timer.
    if (m_transceiver->requestReadout()) {
        ++m_unansweredReadouts;
        m_follow.asked();
    }
}

void TrackingControl::radioAnswered()
{
    m_unansweredReadouts = 0;
    if (m_health.clear(Alarm::RadioSilent))
        emit changed();
}

void TrackingControl::frequencyReceived(double mhz)
{
    radioAnswered();
    m_health.success(StationHealth::Source::Radio);
    m_shownFrequency = FrequencyReading {mhz, m_doppler.transmitting};
    const RadioFollowCheck::Verdict verdict = checkFollowing(mhz);
    if (!m_doppler.tracking()) {
        m_doppler.frequencyRead(mhz);
        m_frequencyKnown = true;
    } else if (verdict != RadioFollowCheck::Verdict::NotFollowing) {
        watchDial(mhz);
    }
    emit changed();
}

// How far a readout may be from what was written and still be the radio's
// own rounding of it: a radio that rounds to a coarser step than it says
// must not look tuned elsewhere. Never less than 25 Hz.
double TrackingControl::dialToleranceHz() const
{
    constexpr double dialSteps = 3;
    constexpr double leastTuneHz = 25;
    return qMax(leastTuneHz, dialSteps * (m_transceiver ? m_transceiver->tuningStepHz() : 10.0));
}

// A radio that answers but stays where it was (a daemon that says "RPRT 0"
// to every "F" of a radio it cannot set) would drift off unseen.
RadioFollowCheck::Verdict TrackingControl::checkFollowing(double mhz)
{
    if (!std::isfinite(mhz))
        return RadioFollowCheck::Verdict::Unknown;
    const double readHz = std::round(mhz * 1e6);
    const auto verdict = m_follow.read(readHz, dialToleranceHz());
    // In split the readout may show the other VFO while transmitting.
    if (m_split.active && m_doppler.transmitting)
        return RadioFollowCheck::Verdict::Unknown;
    if (verdict == RadioFollowCheck::Verdict::Following) {
        if (m_health.clear(Alarm::RadioNotFollowing))
            emit changed();
    } else if (verdict == RadioFollowCheck::Verdict::NotFollowing && m_follow.behindReadouts() >= 2) {
        if (m_health.raise(Alarm::RadioNotFollowing,
                           QStringLiteral("radio not following: it stays on %1 MHz, %2 MHz was written")
                               .arg(readHz / 1e6, 0, 'f', 6)
                               .arg(m_follow.lastWrittenHz().value_or(0) / 1e6, 0, 'f', 6)))
            emit changed();
    }
    return verdict;
}

void TrackingControl::setFrequencyTracking(bool on)
{
    m_doppler.setTracking(on);
    if (!on)
        leaveMethod();
    emit changed();
}

// False when the frequency cannot be sent; the refusal is logged unless empty.
bool TrackingControl::sendFrequency(double hz, const QString &refusal)
{
    // Truncated toward zero; a value the frame cannot carry must never be sent
    // (the 32-bit conversion would wrap it to some other frequency).
    const double truncated = std::trunc(hz);
    const bool finite = std::isfinite(truncated) && std::fabs(truncated) < 1e15;
    const bool fits = finite
        && (m_transceiver ? m_transceiver->canCarry(qint64(truncated)) : cat::frameCanCarry(qint64(truncated)));
    if (!fits) {
        if (!refusal.isEmpty())
            logMessage(refusal);
        return false;
    }
    if (m_transceiver) {
        m_transceiver->setFrequency(quint32(qint64(truncated)));
        m_follow.written(truncated);
    }
    return true;
}

void TrackingControl::dopplerStep(const TrackingRecord &record)
{
    if (!m_portB.automatic)
        return;
    if (m_dopplerSettings.method != DopplerMethod::Specified) {
        methodStep(record);
        return;
    }
    checkBand(record);
    if (const auto hz = m_doppler.correctedHz(record)) {
        if (sendFrequency(*hz, QString()))
            m_health.success(StationHealth::Source::Tuning);
        else
            m_health.error(StationHealth::Source::Tuning, QStringLiteral("frequency out of range"));
    }
    logDebug(QStringLiteral("--frequency = %1; doppler Home = %2; doppler Dx = %3")
                 .arg(m_doppler.workingMHz())
                 .arg(record.dopplerHome)
                 .arg(record.dopplerDx));
    m_doppler.recordShifts(record);
}

// A method around the sked frequency, engaged by "Track frequency": the
// receive frequency while the radio receives, the transmit one while it
// transmits, or both at once on a radio that splits.
void TrackingControl::methodStep(const TrackingRecord &record)
{
    if (!m_doppler.tracking()) {
        m_methodSky.reset();
        leaveMethod();
        return;
    }
    const DopplerSettings &settings = m_dopplerSettings;
    m_health.clear(Alarm::BandMismatch, false);  // the method scales the shifts to the sked
    const double skedHz = settings.skedMHz * 1e6 + m_dial.offsetHz;
    const double age = recordAgeSeconds(record);
    const double scale = bandScale(settings.skedMHz * 1e6, record.frequency);
    const auto skyIn = [&](double seconds) {
        const Shifts shifts = shiftsAhead(record.dopplerHome, record.dopplerHomeRate, record.dopplerDx,
                                          record.relativeSpeed, age + seconds);
        return ::methodFrequencies(settings.method, skedHz, shifts.selfHz * scale, shifts.dxHz * scale);
    };
    // Meant for the middle of the time until the next repetition writes
    // again: the error swings as far either side rather than all one way.
    SkyFrequencies sky = skyIn(repetitionMs(m_times.repetitionTime) / 2000.0);
    const bool split = settings.split && m_transceiver && m_transceiver->canSplit();
    const bool transmitting = m_doppler.transmitting;
    if (settings.holdTransmit) {
        const double secondsOfDay = now().time().msecsSinceStartOfDay() / 1000.0;
        // On one VFO the period under way, once the key is down; with split
        // the coming one, written while receiving.
        sky.transmitHz
            = skyIn(secondsToTransmitMiddle(secondsOfDay, settings.transmitPeriodSeconds, transmitting && !split))
                  .transmitHz;
    }
    const bool engaging = !m_methodSky;
    m_methodSky = sky;
    const Transverter &transverter = settings.transverter;
    if (engaging) {
        const auto mhz = [](double hz) { return QString::number(hz / 1e6, 'f', 6); };
        QString line = QStringLiteral("Doppler method %1: sked %2 MHz, receive %3 MHz, transmit %4 MHz")
                           .arg(QLatin1String(dopplerMethodName(settings.method)), mhz(skedHz), mhz(sky.receiveHz),
                                mhz(sky.transmitHz));
        const auto receiveIf = transverter.radioHz(sky.receiveHz);
        const auto transmitIf = transverter.radioHz(sky.transmitHz);
        if (transverter.on && receiveIf && transmitIf)
            line += QStringLiteral(" (IF %1 and %2 MHz)").arg(mhz(*receiveIf), mhz(*transmitIf));
        if (split)
            line += QStringLiteral(", split");
        logMessage(line);
    }
    bool sent = false;
    if (split) {
        sent = sendSplit(sky, !(settings.holdTransmit && transmitting));
    } else {
        endSplit();
        // To the nearest hertz: the sked frequency is typed to 1 Hz, the shifts are finer.
        const auto radioHz = transverter.radioHz(transmitting ? sky.transmitHz : sky.receiveHz);
        // Zero stands for none: no radio frequency is 0 Hz.
        const quint32 hz = radioHz ? quint32(qBound(0.0, std::round(*radioHz), 4294967295.0)) : 0;
        if (!transmitting)
            m_heldTransmitHz.reset();
        // A dial found moved is confirmed or refuted by the next readout; a
        // radio that stops answering does not hold the station for long.
        constexpr qint64 longestHoldMs = 5000;
        const bool dialMoved = !transmitting && m_dial.candidateHz && m_dial.candidateSince.isValid()
            && m_dial.candidateSince.elapsed() < longestHoldMs;
        const bool alreadyThere = !transmitting && hz && m_dial.takenHz
            && std::fabs(double(hz) - *m_dial.takenHz) < qMax(1.0, m_transceiver ? m_transceiver->tuningStepHz() : 1.0);
        if (!alreadyThere)
            m_dial.takenHz.reset();
        if (dialMoved || alreadyThere) {
            // Where the operator's hand left it: a write now would only race
            // a next turn of the dial.
            sent = true;
        } else if (transmitting && settings.holdTransmit && m_heldTransmitHz) {
            sent = true;  // this period's frequency went out when the key went down
        } else if (!transmitting && settings.method == DopplerMethod::CallDx && hz && m_dial.receiveHz
                   && *m_dial.receiveHz == hz && m_dial.written.back() == hz) {
            sent = true;  // the operator's own receive frequency: not written over again
        } else {
            // The unbounded value: one the link cannot carry is refused, never clamped.
            sent = radioHz && sendFrequency(std::round(*radioHz), QString());
            if (sent) {
                wroteForDial(hz, !transmitting);
                if (transmitting && settings.holdTransmit)
                    m_heldTransmitHz = hz;
            }
        }
    }
    if (sent) {
        m_health.success(StationHealth::Source::Tuning);
        m_health.clear(Alarm::SkedOutOfRange);
    } else {
        m_health.error(StationHealth::Source::Tuning, QStringLiteral("frequency out of range"));
        // Learned only now (a daemon's ranges): the radio stays where it was.
        m_health.raise(Alarm::SkedOutOfRange, skedRefusal(settings).value_or(QStringLiteral("frequency out of range")));
    }
    logDebug(QStringLiteral("--receive = %1 Hz; transmit = %2 Hz; doppler Home = %3; doppler Dx = %4")
                 .arg(sky.receiveHz, 0, 'f', 0)
                 .arg(sky.transmitHz, 0, 'f', 0)
                 .arg(record.dopplerHome)
                 .arg(record.dopplerDx));
    m_doppler.recordShifts(record);
}

// How long ago the record's shifts were right: a file says the second it was
// written for; the built-in sky is of this moment. A time that makes no sense
// against the clock (another day, a clock far off) counts as now.
// Whole seconds of the clock, so that a view's age steps with its clock
// rather than between two of its ticks.
std::optional<qint64> TrackingControl::dataAgeSeconds() const
{
    if (!m_lastRecordTime.isValid())
        return std::nullopt;
    const QDateTime clock = now();
    const qint64 seconds = m_lastRecord.fileTime
                               ? msBehind(*m_lastRecord.fileTime, clock.time()) / 1000
                               : clock.toSecsSinceEpoch() - m_lastRecordClock.toSecsSinceEpoch();
    return qMax<qint64>(0, seconds);
}

double TrackingControl::recordAgeSeconds(const TrackingRecord &record) const
{
    if (!record.fileTime)
        return 0;
    // Carried forward at most this far: a record older still is held there
    // rather than dropped, which would step the frequency back by rate × age.
    constexpr double furthestSeconds = 30;
    const double age = msBehind(*record.fileTime, now().time()) / 1000.0;
    return age >= 0 ? qMin(age, furthestSeconds) : 0;
}

// The specified rule adds the file's shift to the radio's own frequency as
// it is; shifts for another band are only said, never scaled.
void TrackingControl::checkBand(const TrackingRecord &record)
{
    if (!m_doppler.tracking() || !(record.frequency > 0) || !std::isfinite(record.frequency)) {
        m_health.clear(Alarm::BandMismatch, false);
        return;
    }
    const double radioMHz = m_dopplerSettings.transverter.skyHz(m_doppler.workingMHz() * 1e6) / 1e6;
    if (std::fabs(record.frequency - radioMHz) <= 0.01 * radioMHz) {
        m_health.clear(Alarm::BandMismatch);
        return;
    }
    m_health.raise(Alarm::BandMismatch,
                   QStringLiteral("tracking data for %1 MHz, radio on %2 MHz: its Doppler shifts are for another band")
                       .arg(record.frequency, 0, 'f', 3)
                       .arg(radioMHz, 0, 'f', 3));
}

// Why the radio cannot be on the sked's frequency; nothing while it can, or
// while no radio is there to say.
std::optional<QString> TrackingControl::skedRefusal(const DopplerSettings &settings) const
{
    if (settings.method == DopplerMethod::Specified || !m_transceiver)
        return std::nullopt;
    const auto radioHz = settings.transverter.radioHz(settings.skedMHz * 1e6);
    if (radioHz && std::isfinite(*radioHz) && m_transceiver->canCarry(qint64(std::round(*radioHz))))
        return std::nullopt;
    return QStringLiteral("the radio cannot be set to %1 MHz for the sked frequency %2 MHz")
        .arg((radioHz ? *radioHz : 0) / 1e6, 0, 'f', 6)
        .arg(settings.skedMHz, 0, 'f', 6);
}

// A frequency written to the VFO the readout shows, kept to know the
// station's own from the operator's.
void TrackingControl::wroteForDial(double radioHz, bool receive)
{
    m_dial.written.push_back(radioHz);
    while (m_dial.written.size() > 4)
        m_dial.written.pop_front();
    if (receive)
        m_dial.receiveHz = radioHz;
}

// A readout while receiving that is more than a few steps from everything
// written lately is the operator's hand on the dial: the station follows it
// from then on instead of turning it back.
void TrackingControl::watchDial(double mhz)
{
    if (m_dopplerSettings.method == DopplerMethod::Specified || !m_methodSky || m_doppler.transmitting
        || !m_transceiver || !m_dial.receiveHz || !std::isfinite(mhz))
        return;
    const double readHz = std::round(mhz * 1e6);
    const double tolerance = dialToleranceHz();
    for (double hz : m_dial.written)
        if (std::fabs(readHz - hz) <= tolerance) {
            m_dial.candidateHz.reset();
            return;
        }
    // A readout asked for before the last write may still show the frequency
    // before it: only a second one alike is taken. Writes wait meanwhile, or
    // the next repetition would turn the dial back before it is confirmed.
    if (!m_dial.candidateHz || std::fabs(*m_dial.candidateHz - readHz) > tolerance) {
        m_dial.candidateHz = readHz;
        m_dial.candidateSince.start();
        // From where the radio showed itself, not from the unrounded value
        // written: +500 Hz on a 10 Hz radio is +500, whatever was written.
        const auto before = m_follow.previousReadHz();
        m_dial.candidateFromHz
            = before && std::fabs(*before - *m_dial.receiveHz) <= tolerance ? *before : *m_dial.receiveHz;
        return;
    }
    const Transverter &transverter = m_dopplerSettings.transverter;
    const double tunedHz = transverter.skyHz(readHz) - transverter.skyHz(m_dial.candidateFromHz);
    m_dial.offsetHz += tunedHz;
    m_dial.candidateHz.reset();
    m_dial.takenHz = readHz;
    wroteForDial(readHz, true);
    logMessage(QStringLiteral("Frequency tuned by hand %1%2 Hz: kept as an offset of %3%4 Hz to the sked frequency")
                   .arg(tunedHz >= 0 ? QStringLiteral("+") : QString())
                   .arg(tunedHz, 0, 'f', 0)
                   .arg(m_dial.offsetHz >= 0 ? QStringLiteral("+") : QString())
                   .arg(m_dial.offsetHz, 0, 'f', 0));
}

bool TrackingControl::sendSplit(const SkyFrequencies &sky, bool transmitWritable)
{
    const Transverter &transverter = m_dopplerSettings.transverter;
    const auto receive = transverter.radioHz(sky.receiveHz);
    const auto transmit = transverter.radioHz(sky.transmitHz);
    if (!receive || !transmit || !m_transceiver->canCarry(qint64(std::round(*receive)))
        || !m_transceiver->canCarry(qint64(std::round(*transmit))))
        return false;
    if (!m_split.active) {
        m_transceiver->setSplit(true);
        m_split = Split();
        m_split.active = true;
    }
    const double step = m_transceiver->tuningStepHz();
    // Written when it moved by a step, and not more than once a second.
    const auto due = [step](std::optional<quint32> last, const QElapsedTimer &written, quint32 hz) {
        return !last || (std::fabs(double(hz) - double(*last)) >= step && written.elapsed() >= 1000);
    };
    const auto receiveHz = quint32(std::round(*receive));
    const auto transmitHz = quint32(std::round(*transmit));
    if (due(m_split.receiveHz, m_split.receiveWritten, receiveHz)) {
        m_transceiver->setFrequency(receiveHz);
        m_follow.written(receiveHz);
        m_split.receiveHz = receiveHz;
        m_split.receiveWritten.start();
        wroteForDial(receiveHz, true);
    }
    if (transmitWritable && due(m_split.transmitHz, m_split.transmitWritten, transmitHz)) {
        m_transceiver->setTransmitFrequency(transmitHz);
        m_split.transmitHz = transmitHz;
        m_split.transmitWritten.start();
    }
    return true;
}

// Back to one VFO, for the specified rule or a method without split.
void TrackingControl::endSplit()
{
    if (!m_split.active)
        return;
    if (m_transceiver)
        m_transceiver->setSplit(false);
    m_split = Split();
}

void TrackingControl::tune(const QString &mhzText)
{
    bool ok = false;
    const double mhz = mhzText.toDouble(&ok);
    if (!ok || (m_transceiver && tuneRefusal(mhz))) {
        logMessage(QStringLiteral("Frequency error"));
        return;
    }
    sendFrequency(mhz * 1000000.0, QStringLiteral("Frequency error"));
}

// ---- health ----------------------------------------------------------------

// Something went to the rotator that it answers: its silence starts now,
// unless it has been silent since an earlier one.
void TrackingControl::awaitRotator(const QByteArray &command)
{
    if (m_rotatorQuietSince.isValid())
        return;
    m_rotatorQuietSince.start();
    m_rotatorAwaited = command;
}

void TrackingControl::rotatorAnswered()
{
    m_rotatorQuietSince.invalidate();
    if (m_health.clear(Alarm::RotatorSilent))
        emit changed();
}

// How long a rotator may leave a command unanswered: 5 s, or two repetitions.
qint64 TrackingControl::silentRotatorMs() const
{
    return qMax<qint64>(5000, 2000 * qint64(qMax<quint32>(1u, m_times.repetitionTime)));
}

QString TrackingControl::trouble(StationPort port) const
{
    if (!portSession(port).open)
        return {};  // "Status: disconnected" stays as it is, also while waiting for the device
    if (port == StationPort::B)
        return m_health.active(Alarm::RadioSilent) ? QStringLiteral(", not answering") : QString();
    if (m_health.active(Alarm::RotatorSilent))
        return QStringLiteral(", not answering");
    return m_health.active(Alarm::RotatorRefused) ? QStringLiteral(", refused") : QString();
}

void TrackingControl::checkHealth()
{
    bool shown = false;
    // The silence is timed, not each command: a daemon's link gives a
    // command up after its own time-out, and the next one would start anew.
    if (m_rotator && !m_rotator->limitsProblem().isEmpty())
        shown |= m_health.raise(Alarm::RotatorLimitsUnknown, m_rotator->limitsProblem());
    else if (m_rotator)
        shown |= m_health.clear(Alarm::RotatorLimitsUnknown);
    const qint64 silentMs = silentRotatorMs();
    if (m_portA.open && m_rotatorQuietSince.isValid() && m_rotatorQuietSince.elapsed() > silentMs)
        shown |= m_health.raise(Alarm::RotatorSilent, QStringLiteral("rotator not answering: no answer to %1 for %2 s")
                                                          .arg(QString::fromLatin1(m_rotatorAwaited.trimmed()))
                                                          .arg(m_rotatorQuietSince.elapsed() / 1000));
    for (StationPort port : {StationPort::A, StationPort::B}) {
        Reconnect &plan = m_reconnect[int(port)];
        constexpr qint64 stableMs = 60000;
        if (session(port).open && plan.shortLives > 0 && plan.since.isValid() && plan.since.elapsed() > stableMs) {
            plan.shortLives = 0;
            shown |= m_health.clear(unreachableAlarm(port));
        }
    }
    checkDataAge();
    if (shown)
        emit changed();
    else
        emit ticked();
}

// A tracking program that stopped leaves a file that still reads well.
void TrackingControl::checkDataAge()
{
    const QString path = m_source ? m_source->filePath() : QString();
    if (!m_trackingActive || path.isEmpty() || !QFileInfo::exists(path)) {
        m_health.clear(Alarm::DataStale, false);
        return;
    }
    const qint64 staleMs = 1000 * qMax<qint64>(10, 3 * qint64(qMax<quint32>(1u, m_times.repetitionTime)));
    const qint64 ageMs = QFileInfo(path).lastModified().msecsTo(QDateTime::currentDateTime());
    qint64 behind = 0;
    if (m_lastRecord.fileTime) {
        // Against the clock when it was read: on a demo's faster clock the
        // time since that read is many seconds of the file's time.
        behind = msBehind(*m_lastRecord.fileTime, m_lastRecordClock.time()) / 1000;
    }
    if (ageMs > staleMs)
        m_health.raise(Alarm::DataStale, QStringLiteral("tracking data stale: %1 not rewritten for %2 s")
                                             .arg(path)
                                             .arg(ageMs / 1000));
    else if (behind > 10)
        m_health.raise(Alarm::DataStale, QStringLiteral("tracking data stale: written for %1 UTC, %2 s behind the clock")
                                             .arg(m_lastRecord.fileTime->toString(QStringLiteral("hh:mm:ss")))
                                             .arg(behind));
    else
        m_health.clear(Alarm::DataStale);
}
