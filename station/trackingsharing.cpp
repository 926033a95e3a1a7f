// SPDX-License-Identifier: GPL-3.0-or-later
// The station beside other programs: following WSJT-X, whose settled values
// become the station's own settings through the same operations the
// operator's dialogs use (so every check applies); serving the radio and the
// rotator to Hamlib programs; and the aim such a program gives the antenna.
#include "station/trackingcontrol.h"

#include <cmath>

void TrackingControl::shareWithOtherPrograms()
{
    m_servers = ServerSettings::read();
    for (HamlibServer *server : std::initializer_list<HamlibServer *> {&m_rigServer, &m_rotServer})
        connect(server, &HamlibServer::message, this, &TrackingControl::logMessage);
    connect(&m_rigServer, &RigServer::keyerGone, &m_radio, &RadioControl::keyerGone);
    m_rigServer.apply(m_servers);
    m_rotServer.apply(m_servers);
    m_wsjtx.setClock([this] { return m_context.now(); });
    connect(&m_wsjtx, &WsjtxFollow::message, this, &TrackingControl::logMessage);
    connect(&m_wsjtx, &WsjtxFollow::changed, this, &TrackingControl::changed);
    connect(&m_wsjtx, &WsjtxFollow::dxGridHeard, this, [this](const QString &grid) {
        SourceSettings source = m_feed.settings();
        if (source.dxLocator == grid)
            return;
        source.dxLocator = grid;
        logMessage(QStringLiteral("DX locator %1 from WSJT-X").arg(grid));
        setSource(source);
    });
    connect(&m_wsjtx, &WsjtxFollow::deGridHeard, this, [this](const QString &grid) {
        SourceSettings source = m_feed.settings();
        if (!source.homeLocator.isEmpty())
            return;  // the operator's own stays
        source.homeLocator = grid;
        logMessage(QStringLiteral("home locator %1 from WSJT-X").arg(grid));
        setSource(source);
    });
    connect(&m_wsjtx, &WsjtxFollow::dialHeard, this, [this](quint64 hz) {
        DopplerSettings doppler = m_radio.settings();
        // The specified rule follows the radio's own dial; it has no sked.
        if (doppler.method == DopplerMethod::Specified || std::abs(doppler.skedMHz * 1e6 - double(hz)) < 0.5)
            return;
        doppler.skedMHz = double(hz) / 1e6;
        if (const auto refusal = m_radio.skedRefusal(doppler)) {
            logMessage(QStringLiteral("WSJT-X's dial %1 MHz not taken: %2").arg(doppler.skedMHz, 0, 'f', 6).arg(*refusal));
            return;
        }
        logMessage(QStringLiteral("sked frequency %1 MHz from WSJT-X").arg(doppler.skedMHz, 0, 'f', 6));
        setDopplerSettings(doppler);
    });
    connect(&m_wsjtx, &WsjtxFollow::periodHeard, this, [this](int seconds) {
        DopplerSettings doppler = m_radio.settings();
        if (doppler.transmitPeriodSeconds == seconds)
            return;
        doppler.transmitPeriodSeconds = seconds;
        logMessage(QStringLiteral("transmit period %1 s from WSJT-X").arg(seconds));
        setDopplerSettings(doppler);
    });
    connect(&m_wsjtx, &WsjtxFollow::transmittingHeard, &m_radio, &RadioControl::setTransmittingHeard);
    connect(&m_wsjtx, &WsjtxFollow::transmittingLost, &m_radio, &RadioControl::keyerGone);
    m_wsjtx.apply(WsjtxSettings::read());
}

bool TrackingControl::setWsjtxSettings(const WsjtxSettings &settings)
{
    const bool listening = m_wsjtx.apply(settings);
    settings.write();
    m_context.health.clear(Alarm::WsjtxSilent, false);  // the operator's change, not a recovery
    emit changed();
    return listening;
}

bool TrackingControl::setFollowWsjtx(bool on)
{
    WsjtxSettings settings = m_wsjtx.settings();
    settings.follow = on;
    return setWsjtxSettings(settings);
}

bool TrackingControl::checkSharing()
{
    if (m_external && m_external->heard.secsTo(now()) >= externalSilentSeconds)
        endExternal(QStringLiteral("the client silent for %1 s").arg(externalSilentSeconds));
    const bool released = m_radio.checkKeying();
    m_wsjtx.checkSilence(now());
    const auto silence = m_wsjtx.silence(now());
    if (silence && *silence >= WsjtxFollow::silentSeconds) {
        const WsjtxSettings &settings = m_wsjtx.settings();
        return m_context.health.raise(Alarm::WsjtxSilent,
                                      QStringLiteral("WSJT-X silent for %1 s: nothing heard on %2:%3")
                                          .arg(*silence)
                                          .arg(settings.address)
                                          .arg(settings.port))
            || released;
    }
    return m_context.health.clear(Alarm::WsjtxSilent) || released;
}

bool TrackingControl::key(bool on)
{
    const std::optional<TrackingRecord> record
        = m_feed.lastRecordTime().isValid() ? std::optional(m_feed.lastRecord()) : std::nullopt;
    return m_radio.key(on, record);
}

bool TrackingControl::setServerSettings(const ServerSettings &settings)
{
    m_servers = settings;
    settings.write();
    const bool rig = m_rigServer.apply(settings);
    return m_rotServer.apply(settings) && rig;
}

int TrackingControl::aimExternal(double azimuth, double elevation)
{
    if (!m_portA.link)
        return -11;
    if (!m_portA.automatic || m_rotator.steering().parkingActive())
        return -9;
    if (!m_external) {
        logMessage(QStringLiteral("antenna aimed by a rotctl client: tracking the target paused"));
        // The pass ahead says nothing of where the client will aim next.
        m_rotator.setSky({});
        m_rotator.targetChanged();
    }
    m_external = External {azimuth, elevation, now()};
    if (m_trackingActive)
        m_rotator.steer(aimed(m_feed.lastRecord()), m_radio.transmitting());
    emit changed();
    return 0;
}

int TrackingControl::parkExternal()
{
    if (!m_portA.link)
        return -11;
    if (!m_portA.automatic)
        return -9;
    const double azimuth = m_rotator.azimuthParking();
    const double elevation = m_rotator.elevationParking();
    if (!m_external) {
        logMessage(QStringLiteral("antenna parked by a rotctl client: tracking the target paused"));
        m_rotator.setSky({});
        m_rotator.targetChanged();
    }
    m_external = External {azimuth, elevation, now()};
    m_rotator.forgetPending();  // its answer would be taken for the park's
    m_rotator.parkUntilTaken(azimuth, elevation);
    emit changed();
    return 0;
}

std::optional<std::pair<double, double>> TrackingControl::externalAim() const
{
    if (!m_external)
        return std::nullopt;
    return std::pair(m_external->azimuth, m_external->elevation);
}

TrackingRecord TrackingControl::aimed(const TrackingRecord &record) const
{
    TrackingRecord aim = record;
    if (m_external) {
        aim.azimuth = m_external->azimuth;
        aim.elevation = m_external->elevation;
    }
    return aim;
}

void TrackingControl::endExternal(const QString &why)
{
    if (!m_external)
        return;
    m_external.reset();
    logMessage(QStringLiteral("rotctl client's aim ended (%1): tracking the target again").arg(why));
    sourceChanged();
    m_rotator.targetChanged();
    emit changed();
}

QString TrackingControl::pointingNote() const
{
    const QString note = m_rotator.pointingNote();
    if (!m_external)
        return note;
    const QString aim = QStringLiteral("aimed by a rotctl client at az %1, el %2")
                            .arg(m_external->azimuth, 0, 'f', 1)
                            .arg(m_external->elevation, 0, 'f', 1);
    return note.isEmpty() ? aim : aim + QStringLiteral("; ") + note;
}
