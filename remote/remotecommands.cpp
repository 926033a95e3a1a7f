// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/remotecommands.h"

#include "calibration/calibrator.h"
#include "station/dopplermethod.h"
#include "station/trackingcontrol.h"

#include <QJsonValue>

#include <cmath>
#include <optional>

namespace remote {

namespace {

CommandOutcome refused(const QString &why)
{
    return {false, why};
}

std::optional<StationPort> portOf(const QJsonObject &command)
{
    const QString name = command.value(QLatin1String("port")).toString();
    if (name == QLatin1String("A"))
        return StationPort::A;
    if (name == QLatin1String("B"))
        return StationPort::B;
    return std::nullopt;
}

std::optional<bool> flag(const QJsonObject &command, QLatin1String key)
{
    const QJsonValue value = command.value(key);
    return value.isBool() ? std::optional<bool>(value.toBool()) : std::nullopt;
}

// A finite number within [low, high], or nothing (missing, text, out of range).
std::optional<double> numberIn(const QJsonObject &command, QLatin1String key, double low, double high)
{
    const QJsonValue value = command.value(key);
    if (!value.isDouble())
        return std::nullopt;
    const double x = value.toDouble();
    if (!std::isfinite(x) || x < low || x > high)
        return std::nullopt;
    return x;
}

// The text under key, the fallback where it is missing; nothing when it is
// there but no text (a number, a list, null), which the caller refuses.
std::optional<QString> textOr(const QJsonObject &command, QLatin1String key, const QString &fallback)
{
    if (!command.contains(key))
        return fallback;
    const QJsonValue value = command.value(key);
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

// Printable ASCII only: a remote line is what a keyboard would type.
bool typable(const QString &line)
{
    for (QChar c : line)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    return true;
}

} // namespace

CommandHandler::CommandHandler(TrackingControl &station, RemoteSettings &settings)
    : m_station(station)
    , m_settings(settings)
{
}

void CommandHandler::remember()
{
    m_settings.openAAtStart = m_station.portSession(StationPort::A).open
        || m_station.portSession(StationPort::A).connecting;
    m_settings.openBAtStart = m_station.portSession(StationPort::B).open
        || m_station.portSession(StationPort::B).connecting;
    m_settings.autoA = m_station.portSession(StationPort::A).automatic;
    m_settings.autoB = m_station.portSession(StationPort::B).automatic;
    const TrackingTarget target = m_station.target();
    m_settings.target = target == TrackingTarget::Sun        ? QStringLiteral("sun")
        : target == TrackingTarget::Source                   ? QStringLiteral("source")
                                                             : QStringLiteral("moon");
    m_settings.trackFrequency = m_station.doppler().tracking();
    m_settings.dxShift = m_station.doppler().shift == DopplerShift::Dx;
    constexpr int leastBetweenWritesMs = 1000;
    if (!m_lastWrite.isValid() || m_lastWrite.elapsed() >= leastBetweenWritesMs) {
        writeSettings();
        return;
    }
    if (!m_writeTimer) {
        m_writeTimer = std::make_unique<QTimer>();
        m_writeTimer->setSingleShot(true);
        QObject::connect(m_writeTimer.get(), &QTimer::timeout, [this] { writeSettings(); });
    }
    if (!m_writeTimer->isActive())
        m_writeTimer->start(int(leastBetweenWritesMs - m_lastWrite.elapsed()));
}

void CommandHandler::writeSettings()
{
    if (m_writeTimer)
        m_writeTimer->stop();
    m_lastWrite.start();
    m_settings.write();
}

CommandHandler::~CommandHandler()
{
    if (m_writeTimer && m_writeTimer->isActive())
        writeSettings();
}

CommandOutcome CommandHandler::open(const QJsonObject &command)
{
    const auto port = portOf(command);
    if (!port)
        return refused(QStringLiteral("port must be \"A\" or \"B\""));
    const PortSession &record = m_station.portSession(*port);
    if (record.open || record.connecting)
        return refused(QStringLiteral("the port is open already"));
    const QString &configured = *port == StationPort::A ? m_settings.portADevice : m_settings.portBDevice;
    QString &chosen = *port == StationPort::A ? m_settings.portAChosen : m_settings.portBChosen;
    QString device = m_settings.device(*port == StationPort::A);
    if (record.network) {
        if (command.contains(QLatin1String("device")))
            return refused(QStringLiteral("a daemon's address is set at the station"));
        const NetworkSettings network = m_station.networkSettings();
        device = *port == StationPort::A ? network.rotctldAddress : network.rigctldAddress;
    } else if (command.contains(QLatin1String("device"))) {
        const QString wanted = command.value(QLatin1String("device")).toString();
        if (wanted != configured && !m_station.ports().contains(wanted))
            return refused(QStringLiteral("not a serial port of the station"));
        device = wanted;
    }
    if (device.isEmpty())
        return refused(QStringLiteral("no device configured for the port"));
    SerialParameters parameters;
    parameters.baudRate = *port == StationPort::A ? m_settings.portABaudRate : m_settings.portBBaudRate;
    if (!m_station.open(*port, device, parameters, m_settings.ft847))
        return refused(QStringLiteral("the port did not open"));
    if (!record.network)
        chosen = device == configured ? QString() : device;
    remember();
    return {true, {}};
}

CommandOutcome CommandHandler::close(const QJsonObject &command)
{
    const auto port = portOf(command);
    if (!port)
        return refused(QStringLiteral("port must be \"A\" or \"B\""));
    m_station.close(*port);
    remember();
    return {true, {}};
}

// As the "Calibrate..." dialog takes them: each setting within its box's
// range, the dialog's value where one is not given.
CommandOutcome CommandHandler::calibrate(const QJsonObject &command)
{
    if (!m_calibrator)
        return refused(QStringLiteral("this station does not calibrate"));
    CalibrationRun::Settings settings;
    const QString target = textOr(command, QLatin1String("target"), QStringLiteral("sun")).value_or(QString());
    if (target == QLatin1String("moon"))
        settings.target = TrackingTarget::Moon;
    else if (target == QLatin1String("source"))
        settings.target = TrackingTarget::Source;
    else if (target != QLatin1String("sun"))
        return refused(QStringLiteral("target must be sun, moon or source"));
    const QString kind = textOr(command, QLatin1String("kind"), QStringLiteral("crossScan")).value_or(QString());
    if (kind != QLatin1String("crossScan") && kind != QLatin1String("sunNoise"))
        return refused(QStringLiteral("kind must be crossScan or sunNoise"));
    settings.kind = kind == QLatin1String("sunNoise") ? CalibrationRun::Kind::SunNoise : CalibrationRun::Kind::CrossScan;
    struct Range {
        const char *key;
        double low, high;
        double *into;
    };
    const Range ranges[] = {{"beamwidth", 0.5, 30, &settings.scan.beamwidthDeg},
                            {"step", 0.1, 0.5, &settings.scan.stepBeams},
                            {"dwell", 0.5, 30, &settings.dwellSeconds},
                            {"slew", 0.1, 30, &settings.slewDegPerSecond},
                            {"systemKelvin", 10, 5000, &settings.station.systemKelvin},
                            {"flux", 0, 1000, &settings.flux107Sfu}};
    for (const Range &range : ranges) {
        const QLatin1String key(range.key);
        if (!command.contains(key))
            continue;
        const auto value = numberIn(command, key, range.low, range.high);
        if (!value)
            return refused(QStringLiteral("%1 must be a number from %2 to %3").arg(key).arg(range.low).arg(range.high));
        *range.into = *value;
    }
    settings.station.beamwidthDeg = settings.scan.beamwidthDeg;
    if (command.contains(QLatin1String("coldSky"))) {
        const QJsonObject place = command.value(QLatin1String("coldSky")).toObject();
        const auto az = numberIn(place, QLatin1String("az"), 0, 360);
        const auto el = numberIn(place, QLatin1String("el"), 0, 90);
        if (!az || !el)
            return refused(QStringLiteral("coldSky takes az from 0 to 360 and el from 0 to 90"));
        settings.coldSky = Direction {*az, *el};
    }
    const QStringList sources = m_calibrator->sourceNames();
    const auto source = textOr(command, QLatin1String("source"), sources.value(0));
    if (!source)
        return refused(QStringLiteral("source must be the name of one of the station's level sources"));
    QString why;
    if (!m_calibrator->start(settings, *source, &why))
        return refused(why);
    return {true, {}};
}

CommandOutcome CommandHandler::run(const QJsonObject &command)
{
    const QString name = command.value(QLatin1String("cmd")).toString();
    if (name == QLatin1String("calibrate"))
        return calibrate(command);
    if (name == QLatin1String("calibrationStop")) {
        if (m_calibrator)
            m_calibrator->abort();
        return {true, {}};
    }
    if (name == QLatin1String("calibrationApply")) {
        // The page asks the operator first, as the dialog does.
        if (!m_calibrator || !m_calibrator->apply())
            return refused(QStringLiteral("no offsets found to apply"));
        emit m_station.changed();
        return {true, {}};
    }
    if (name == QLatin1String("open"))
        return open(command);
    if (name == QLatin1String("close"))
        return close(command);
    if (name == QLatin1String("enumerate")) {
        // Each listing is said in the log: at most one every two seconds, whoever asks.
        if (m_lastListing.isValid() && m_lastListing.elapsed() < 2000)
            return {true, {}};
        m_lastListing.start();
        m_station.enumeratePorts();  // the window's port lists are filled the same way
        emit m_station.changed();
        return {true, {}};
    }
    if (name == QLatin1String("auto")) {
        const auto port = portOf(command);
        const auto on = flag(command, QLatin1String("on"));
        if (!port || !on)
            return refused(QStringLiteral("auto takes a port and on"));
        m_station.setAuto(*port, *on);
        remember();
        return {true, {}};
    }
    if (name == QLatin1String("tracking")) {
        const auto on = flag(command, QLatin1String("on"));
        if (!on)
            return refused(QStringLiteral("tracking takes on"));
        // Both Auto buttons at once, as the window's operator would click them.
        m_station.setAuto(StationPort::A, *on);
        m_station.setAuto(StationPort::B, *on);
        remember();
        return {true, {}};
    }
    if (name == QLatin1String("target")) {
        const QString target = command.value(QLatin1String("target")).toString();
        if (target == QLatin1String("moon"))
            m_station.setTarget(TrackingTarget::Moon);
        else if (target == QLatin1String("sun"))
            m_station.setTarget(TrackingTarget::Sun);
        else if (target == QLatin1String("source") && !m_station.targetRefusal(TrackingTarget::Source).isEmpty())
            return refused(m_station.targetRefusal(TrackingTarget::Source));
        else if (target == QLatin1String("source"))
            m_station.setTarget(TrackingTarget::Source);
        else
            return refused(QStringLiteral("target must be moon, sun or source"));
        remember();
        return {true, {}};
    }
    if (name == QLatin1String("frequencyTracking")) {
        const auto on = flag(command, QLatin1String("on"));
        if (!on)
            return refused(QStringLiteral("frequencyTracking takes on"));
        // The window's check box is enabled only once the radio's frequency is read.
        if (*on && !m_station.isFrequencyKnown())
            return refused(QStringLiteral("the radio's frequency is not known yet"));
        m_station.setFrequencyTracking(*on);
        remember();
        return {true, {}};
    }
    if (name == QLatin1String("dopplerMethod")) {
        const QString key = command.value(QLatin1String("method")).toString();
        const DopplerMethodName *chosen = nullptr;
        for (const DopplerMethodName &method : dopplerMethodNames)
            if (key == QLatin1String(method.key))
                chosen = &method;
        if (!chosen)
            return refused(QStringLiteral("not a Doppler method"));
        // As the window's menu entry, which is disabled while the radio is followed.
        if (m_station.isDopplerRunning())
            return refused(QStringLiteral("the method is chosen while port B is not in Auto"));
        DopplerSettings settings = m_station.dopplerSettings();
        settings.method = chosen->method;
        if (command.contains(QLatin1String("skedMHz"))) {
            const auto sked = numberIn(command, QLatin1String("skedMHz"), 1e-6, 1e6);
            if (!sked || (settings.transverter.on && !settings.transverter.radioHz(*sked * 1e6)))
                return refused(QStringLiteral("the sked frequency is not one in MHz"));
            settings.skedMHz = *sked;
        }
        if (const auto refusal = m_station.skedRefusal(settings))
            return refused(*refusal);
        m_station.setDopplerSettings(settings);
        return {true, {}};
    }
    if (name == QLatin1String("transmitLimit")) {
        // Any time, also while the radio is followed: it is about keys, not frequencies.
        const auto seconds = numberIn(command, QLatin1String("seconds"), 0, DopplerSettings::longestTransmitLimitSeconds);
        if (!seconds || *seconds != std::floor(*seconds))
            return refused(QStringLiteral("transmitLimit takes seconds, 0 (never) to %1")
                               .arg(DopplerSettings::longestTransmitLimitSeconds));
        DopplerSettings settings = m_station.dopplerSettings();
        settings.transmitLimitSeconds = int(*seconds);
        if (!m_station.setDopplerSettings(settings))
            return refused(QStringLiteral("doppler.cfg not changed"));
        return {true, {}};
    }
    if (name == QLatin1String("followWsjtx")) {
        const auto on = flag(command, QLatin1String("on"));
        if (!on)
            return refused(QStringLiteral("followWsjtx takes on"));
        if (!m_station.setFollowWsjtx(*on))
            return refused(m_station.wsjtx().summary());
        return {true, {}};
    }
    if (name == QLatin1String("shift")) {
        const QString shift = command.value(QLatin1String("shift")).toString();
        if (shift != QLatin1String("home") && shift != QLatin1String("dx"))
            return refused(QStringLiteral("shift must be home or dx"));
        m_station.setDopplerShift(shift == QLatin1String("dx") ? DopplerShift::Dx : DopplerShift::Home);
        remember();
        emit m_station.changed();
        return {true, {}};
    }
    if (name == QLatin1String("ptt")) {
        const auto on = flag(command, QLatin1String("on"));
        if (!on)
            return refused(QStringLiteral("ptt takes on"));
        m_station.setPtt(*on);
        emit m_station.changed();
        return {true, {}};
    }
    if (name == QLatin1String("offsets")) {
        const bool hasAz = command.contains(QLatin1String("az"));
        const bool hasEl = command.contains(QLatin1String("el"));
        const auto az = numberIn(command, QLatin1String("az"), -360, 360);
        const auto el = numberIn(command, QLatin1String("el"), -90, 90);
        if ((!hasAz && !hasEl) || (hasAz && !az) || (hasEl && !el))
            return refused(QStringLiteral("offsets take az within ±360 and el within ±90"));
        // Through the same entry as the typed offsets, so the same rounding applies.
        if (az)
            m_station.enterAzimuthOffset(QString::number(*az, 'f', 6));
        if (el)
            m_station.enterElevationOffset(QString::number(*el, 'f', 6));
        m_station.saveOffsets();
        emit m_station.changed();
        return {true, {}};
    }
    if (name == QLatin1String("park")) {
        const bool hasAz = command.contains(QLatin1String("az"));
        const bool hasEl = command.contains(QLatin1String("el"));
        const auto az = hasAz ? numberIn(command, QLatin1String("az"), -180, 540) : m_station.azimuthParking();
        const auto el = hasEl ? numberIn(command, QLatin1String("el"), -90, 180) : m_station.elevationParking();
        if (!az || !el)
            return refused(QStringLiteral("park takes az within -180..540 and el within -90..180"));
        m_station.parkAndHold(*az, *el);
        remember();
        emit m_station.changed();
        return {true, {}};
    }
    if (name == QLatin1String("tune")) {
        const auto mhz = numberIn(command, QLatin1String("mhz"), 1e-6, 1e5);
        if (!mhz)
            return refused(QStringLiteral("tune takes mhz, a frequency in MHz"));
        if (const auto refusal = m_station.tuneRefusal(*mhz))
            return refused(*refusal);
        m_station.tune(QString::number(*mhz, 'f', 6));
        return {true, {}};
    }
    if (name == QLatin1String("manual")) {
        if (!m_settings.manualTerminal)
            return refused(QStringLiteral("the manual terminal is not allowed at this station"));
        const auto port = portOf(command);
        const QString line = command.value(QLatin1String("line")).toString();
        if (!port || line.isEmpty() || line.size() > 200 || !typable(line))
            return refused(QStringLiteral("manual takes a port and a line of printable ASCII"));
        if (m_station.portSession(*port).automatic)
            return refused(QStringLiteral("the port is in Auto"));
        m_station.sendManual(*port, line);
        return {true, {}};
    }
    return refused(QStringLiteral("unknown command"));
}

} // namespace remote
