// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/trackingcontrol.h"

#include "serial/serialenumerator.h"
#include "settings/settingsfile.h"

#include <QTimer>

namespace {

// store.cfg, its failures said in the log from the first read on.
std::unique_ptr<SettingsFile> reportingSettings(StationContext::Log log)
{
    auto settings = std::make_unique<SettingsFile>();
    settings->setFailureReport(std::move(log));
    return settings;
}

} // namespace

TrackingControl::TrackingControl(QObject *parent)
    : QObject(parent)
    , m_log(this)
    , m_context([this](const QString &text) { logMessage(text); })
    , m_settings(reportingSettings([this](const QString &text) { logMessage(text); }))
    , m_portA(StationPort::A, m_context, this)
    , m_portB(StationPort::B, m_context, this)
    , m_rotator(m_portA, m_context, *m_settings, this)
    , m_radio(m_portB, m_context, this)
    , m_feed(m_context, *m_settings)
    , m_rigServer(*this)
    , m_rotServer(*this)
    , m_repetitionTimer(new QTimer(this))
    , m_healthTimer(new QTimer(this))
{
    connect(&m_log, &StationLog::message, this, &TrackingControl::message);
    connect(&m_log, &StationLog::fileFailed, this, &TrackingControl::logFileFailed);
    m_repetitionTimer->setObjectName(QStringLiteral("repetitionTimer"));
    connect(m_repetitionTimer, &QTimer::timeout, this, &TrackingControl::repetition);
    connect(m_healthTimer, &QTimer::timeout, this, &TrackingControl::checkHealth);
    m_healthTimer->start(1000);
    for (StationPort port : {StationPort::A, StationPort::B}) {
        PortSession &record = session(port);
        connect(&record, &PortSession::opened, this, [this, port] { opened(port); });
        connect(&record, &PortSession::lost, this, [this, port] { portLost(port); });
        connect(&record, &PortSession::changed, this, &TrackingControl::changed);
        connect(&record, &PortSession::daemonAddress, this, [this, port](const QString &address) {
            NetworkSettings settings = m_context.network;
            settings.rigctld = m_portB.network;
            settings.rotctld = m_portA.network;
            settings.rigLinked = m_portB.linked;
            settings.rotLinked = m_portA.linked;
            (port == StationPort::A ? settings.rotctldAddress : settings.rigctldAddress) = address;
            setNetworkSettings(settings);
        });
    }
    connect(&m_rotator, &RotatorControl::changed, this, &TrackingControl::changed);
    connect(&m_rotator, &RotatorControl::antennaPosition, this, &TrackingControl::antennaPosition);
    // The first position goes as soon as it can be planned for the travel.
    connect(&m_rotator, &RotatorControl::limitsLearned, this, [this] {
        if (m_trackingActive && m_portA.automatic && m_feed.lastRecordTime().isValid())
            m_rotator.steer(m_feed.lastRecord(), m_radio.transmitting());
    });
    connect(&m_radio, &RadioControl::changed, this, &TrackingControl::changed);

    // Only the low 16 bits of a stored time are taken.
    m_context.times.repetitionTime = quint16(m_settings->readRepetitionTime());
    m_context.times.messageDelay = quint16(m_settings->readMessageDelay());
    m_context.network = NetworkSettings::read();
    m_feed.choose(skyMHz());
    sourceChanged();
    shareWithOtherPrograms();
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
    m_portA.cancelReconnect();
    m_portB.cancelReconnect();
    if (m_portA.open)
        closePort(StationPort::A);
    if (m_portB.open)
        closePort(StationPort::B);
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

// ---- settings --------------------------------------------------------------

void TrackingControl::setTimes(quint32 repetitionSeconds, quint32 messageDelayMs)
{
    m_context.times = {repetitionSeconds, messageDelayMs};
    for (PortSession *record : {&m_portA, &m_portB})
        if (record->link)
            record->link->setCommandLifetime(repetitionMs(repetitionSeconds));
    m_settings->writeRepetitionTime(repetitionSeconds);
    m_settings->writeMessageDelay(messageDelayMs);
}

void TrackingControl::setDataFile(const QString &path)
{
    m_feed.setDataFile(path, skyMHz());
    sourceChanged();
    emit changed();
}

void TrackingControl::setSource(const SourceSettings &settings)
{
    m_feed.setSettings(settings, skyMHz());
    sourceChanged();
    emit changed();
}

bool TrackingControl::setDopplerSettings(const DopplerSettings &settings)
{
    if (!m_radio.setSettings(settings))
        return false;
    if (m_feed.settings().builtIn) {
        m_feed.choose(skyMHz());  // the sky for the frequency now on the air
        sourceChanged();
    }
    emit changed();
    return true;
}

// Under a method the sky is computed for the sked frequency, the one on the air.
double TrackingControl::skyMHz() const
{
    const DopplerSettings &doppler = m_radio.settings();
    return doppler.method == DopplerMethod::Specified ? m_feed.settings().frequencyMHz : doppler.skedMHz;
}

void TrackingControl::setTrackingSource(std::unique_ptr<TrackingSource> source)
{
    m_feed.setSource(std::move(source));
    sourceChanged();
}

std::optional<Direction> TrackingControl::targetDirection(TrackingTarget target, const QDateTime &utc)
{
    return utc.isValid() ? m_feed.directionAt(target, utc) : m_feed.peek(target);
}

// The planner looks ahead only along a sky computed here.
void TrackingControl::sourceChanged()
{
    if (m_feed.looksAhead())
        m_rotator.setSky([this](const QDateTime &utc) { return m_feed.directionAt(m_target, utc); });
    else
        m_rotator.setSky({});
}

void TrackingControl::setRotatorGeometry(const RotatorGeometry &geometry)
{
    m_rotator.setGeometry(geometry);
    if (!geometry.write())
        logMessage(QStringLiteral("%1 cannot be written").arg(RotatorGeometry::defaultPath()));
    emit changed();
}

// ---- operator entries ------------------------------------------------------

void TrackingControl::enterElevationOffset(const QString &text)
{
    if (text == QLatin1String("debug")) {
        m_context.debugMode = true;
        for (PortSession *record : {&m_portA, &m_portB})
            if (record->link)
                record->link->setTracing(true);
        m_context.debug(QStringLiteral("--debug mode enabled"));
        emit changed();
        return;
    }
    m_rotator.enterOffset(RotatorAxis::Elevation, text);
}

void TrackingControl::setTarget(TrackingTarget target)
{
    if (const QString refusal = m_feed.targetRefusal(target); !refusal.isEmpty()) {
        logMessage(refusal);
        emit changed();  // the views put back the target in force
        return;
    }
    endExternal(QStringLiteral("a target chosen"));
    m_target = target;
    m_rotator.targetChanged();
    emit changed();
}

void TrackingControl::sendManual(StationPort port, const QString &line)
{
    PortSession &record = session(port);
    if (record.link)
        record.send(record.link->manualCommand(line));
}

void TrackingControl::setAuto(StationPort port, bool automatic)
{
    PortSession &record = session(port);
    if (record.automatic == automatic)
        return;
    record.automatic = automatic;
    PortSession &other = port == StationPort::A ? m_portB : m_portA;
    if (port == StationPort::A)
        m_rotator.forgetPending();
    if (port == StationPort::A && automatic)
        m_rotator.automaticAgain();
    if (!automatic) {
        if (port == StationPort::B && record.open)
            m_radio.stop();
        if (!other.automatic && m_trackingActive)
            setTrackingActive(false);
    } else {
        if (port == StationPort::B && record.open)
            m_radio.start();
        if (!m_trackingActive && record.open)
            setTrackingActive(true);
    }
    emit changed();
}

void TrackingControl::parkAndHold(double azimuth, double elevation)
{
    if (m_portA.automatic)
        setAuto(StationPort::A, false);
    m_rotator.parkUntilTaken(azimuth, elevation);
}

// ---- tracking cycle --------------------------------------------------------

void TrackingControl::repetition()
{
    m_context.debug(QStringLiteral("--repetition timer expired"));
    m_rotator.repetition();
    runTrackingCycle();
}

void TrackingControl::runTrackingCycle()
{
    TrackingRecord record;
    if (!m_feed.read(m_target, record))
        return;
    m_rotator.steer(aimed(record), m_radio.transmitting());
    m_radio.step(record);
    emit changed();
}

void TrackingControl::resetLastValues()
{
    m_rotator.restart();
    m_radio.resetShifts();
}

void TrackingControl::setTrackingActive(bool on)
{
    resetLastValues();
    if (!on) {
        m_repetitionTimer->stop();
        m_trackingActive = false;
        return;
    }
    m_repetitionTimer->start(repetitionMs(m_context.times.repetitionTime));
    m_trackingActive = true;
    if (!m_portA.open && !m_portB.open)
        logMessage(QStringLiteral("no port opened"));
    if (!m_feed.source())
        logMessage(QStringLiteral("no file loaded"));
    else if (const QString problem = m_feed.source()->problem(); !problem.isEmpty())
        logMessage(problem);
    runTrackingCycle();
}

// ---- ports -----------------------------------------------------------------

bool TrackingControl::open(StationPort port, const QString &nameOrAddress, const SerialParameters &parameters,
                           bool ft847)
{
    session(port).cancelReconnect();
    if (port == StationPort::B)
        m_radio.dropResume();
    if (session(port).openDevice(nameOrAddress, parameters, ft847, false))
        return true;
    emit changed();  // no longer waiting for it, if it was
    return false;
}

void TrackingControl::setAutoReconnect(bool on)
{
    NetworkSettings settings = m_context.network;
    settings.reconnect = on;
    setNetworkSettings(settings);
    if (!on) {
        m_portA.cancelReconnect();
        m_portB.cancelReconnect();
    }
    emit changed();
}

// What follows a successful open, on either transport; then, for a device
// that came back, Auto and tracking came with the open and the frequency
// tracking resumes on the same working frequency.
void TrackingControl::opened(StationPort port)
{
    PortSession &record = session(port);
    if (port == StationPort::A)
        m_rotator.attach(static_cast<RotatorLink *>(record.link));  // the cycle below may command it
    if (record.automatic && !m_trackingActive)
        setTrackingActive(true);
    if (port == StationPort::B)
        m_radio.attach(static_cast<TransceiverLink *>(record.link));
    else
        m_rotator.startPolling();
    emit changed();

    if (port == StationPort::A)
        resetLastValues();
    else if (m_portB.automatic)
        m_radio.start();
    if (record.isReconnecting()) {
        record.reconnected();
        if (port == StationPort::B)
            m_radio.resume();
    }
    emit changed();
}

void TrackingControl::close(StationPort port)
{
    session(port).forget();
    if (port == StationPort::B)
        m_radio.dropResume();
    const bool wasOpen = session(port).open;
    closePort(port);
    if (port == StationPort::B && wasOpen)
        m_radio.stop();
    emit changed();
}

void TrackingControl::closePort(StationPort port)
{
    PortSession &record = session(port);
    if (record.open) {
        if (port == StationPort::B)
            m_radio.detach();
        else
            m_rotator.detach();
    }
    if (!record.closeLink())
        return;
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
    logMessage(QStringLiteral("connection to %1 lost").arg(record.target()));
    if (m_context.network.reconnect) {
        record.planReconnect();
        if (port == StationPort::B)
            m_radio.keepForResume();  // before the Doppler state is dropped
    }
    closePort(port);
    if (port == StationPort::B)
        m_radio.stop();
    emit changed();
}

// ---- health ----------------------------------------------------------------

QString TrackingControl::trouble(StationPort port) const
{
    if (!portSession(port).open)
        return {};  // "Status: disconnected" stays as it is, also while waiting for the device
    return port == StationPort::B ? m_radio.trouble() : m_rotator.trouble();
}

void TrackingControl::checkHealth()
{
    bool shown = m_rotator.checkHealth();
    shown |= m_portA.checkStable();
    shown |= m_portB.checkStable();
    m_feed.checkAge(m_trackingActive);
    shown |= checkSharing();
    if (shown)
        emit changed();
    else
        emit ticked();
}

