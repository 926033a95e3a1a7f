// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Holds a running station to rules worked out here again, apart from the
// code under test: every position a rotator receives within its stops and
// above the horizon mask; no alarm raised twice within a minute while its
// device had no fault; every injected fault's alarm raised within its bound
// and cleared after the fault ends. Fed by the simulated devices and the
// harness; says each violation once, as it happens.

#include "station/trackingcontrol.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <array>
#include <cmath>
#include <optional>

namespace invariants {

// The mask as the operator types it, straight lines between the points all
// the way round; written out again rather than asked of the geometry.
inline double maskAt(const QList<QPair<double, double>> &mask, double azimuth)
{
    if (mask.isEmpty())
        return -90.0;
    const double az = std::fmod(std::fmod(azimuth, 360.0) + 360.0, 360.0);
    for (qsizetype i = 0; i < mask.size(); ++i) {
        const auto &a = mask.at(i);
        const auto &b = mask.at((i + 1) % mask.size());
        const double to = b.first > a.first ? b.first : b.first + 360.0;
        const double at = az >= a.first ? az : az + 360.0;
        if (at >= a.first && at <= to)
            return to == a.first ? a.second : a.second + (b.second - a.second) * (at - a.first) / (to - a.first);
    }
    return mask.first().second;
}

class Checker : public QObject
{
public:
    struct Travel {
        double minAzimuth = -1e9, maxAzimuth = 1e9, minElevation = -90, maxElevation = 180;
    };

    Checker(TrackingControl &station, const Travel &travel, const QList<QPair<double, double>> &mask)
        : m_station(station)
        , m_travel(travel)
        , m_mask(mask)
    {
        m_clock.start();
        QObject::connect(&station, &TrackingControl::changed, this, [this] { look(); });
        QObject::connect(&station, &TrackingControl::ticked, this, [this] { look(); });
    }

    // Where a rotator is sent, as the device took it (one axis of the serial
    // controller: the other as it was).
    void positionSent(double azimuth, double elevation)
    {
        ++m_positions;
        const double slack = 0.005;  // the commands' two decimals
        if (azimuth < m_travel.minAzimuth - slack || azimuth > m_travel.maxAzimuth + slack
            || elevation < m_travel.minElevation - slack || elevation > m_travel.maxElevation + slack)
            violate(QStringLiteral("position %1 %2 outside the stops").arg(azimuth).arg(elevation));
        else if (elevation < maskAt(m_mask, azimuth) - slack)
            violate(QStringLiteral("position %1 %2 under the mask (%3 there)")
                        .arg(azimuth)
                        .arg(elevation)
                        .arg(maskAt(m_mask, azimuth)));
    }

    // A fault on a device begins: its alarm is due within boundMs (0: none
    // expected, the fault is too short or has no alarm of its own).
    void faultBegan(std::optional<Alarm> alarm, qint64 boundMs)
    {
        m_lastFaultMs = m_clock.elapsed();
        m_expected = alarm;
        m_boundMs = boundMs;
        m_faultStartMs = m_clock.elapsed();
        m_expectedSeen = false;
    }
    void faultEnded()
    {
        m_lastFaultMs = m_clock.elapsed();
        if (m_expected && m_boundMs > 0 && !m_expectedSeen)
            violate(QStringLiteral("alarm %1 not raised within %2 ms of its fault").arg(int(*m_expected)).arg(m_boundMs));
        m_clearDue = m_expected && m_expectedSeen ? m_expected : std::nullopt;
        m_clearFromMs = m_clock.elapsed();
        m_expected.reset();
    }

    QStringList violations() const { return m_violations; }
    int positions() const { return m_positions; }
    int raised() const { return m_raised; }

private:
    void look()
    {
        const qint64 now = m_clock.elapsed();
        for (int i = 0; i < alarmCount; ++i) {
            const auto alarm = Alarm(i);
            const bool active = m_station.health().active(alarm);
            if (active && !m_active[size_t(i)]) {
                ++m_raised;
                // Raised again within a minute with no fault since it was last:
                // a device flapping in and out of an alarm, or the rule itself.
                if (m_lastRaisedMs[size_t(i)] >= 0 && now - m_lastRaisedMs[size_t(i)] < 60000
                    && m_lastFaultMs < m_lastRaisedMs[size_t(i)])
                    violate(QStringLiteral("alarm raised twice within a minute without a fault: %1")
                                .arg(m_station.health().why(alarm)));
                m_lastRaisedMs[size_t(i)] = now;
                if (m_expected && *m_expected == alarm && m_boundMs > 0) {
                    if (now - m_faultStartMs > m_boundMs)
                        violate(QStringLiteral("alarm raised %1 ms after its fault, bound %2 ms")
                                    .arg(now - m_faultStartMs)
                                    .arg(m_boundMs));
                    m_expectedSeen = true;
                }
            }
            m_active[size_t(i)] = active;
        }
        // Parking is said only while the park is what the rotator was sent last.
        const Pointing &sent = m_station.pointing();
        const auto elsewhere = [](std::optional<double> degrees, double park) {
            return !degrees || std::fabs(*degrees - park) > 0.005;
        };
        if (m_station.steering().parkingActive()
            && (elsewhere(sent.commandedAzimuth, m_station.azimuthParking())
                || elsewhere(sent.commandedElevation, m_station.elevationParking())))
            violate(QStringLiteral("parking said with %1 %2 sent last")
                        .arg(sent.commandedAzimuth.value_or(-1))
                        .arg(sent.commandedElevation.value_or(-1)));
        // The fault's alarm clears after it, within a minute.
        if (m_clearDue) {
            if (!m_station.health().active(*m_clearDue))
                m_clearDue.reset();
            else if (now - m_clearFromMs > 60000) {
                violate(QStringLiteral("alarm still raised a minute after its fault: %1")
                            .arg(m_station.health().why(*m_clearDue)));
                m_clearDue.reset();
            }
        }
    }
    void violate(const QString &what)
    {
        if (m_violations.size() < 50)
            m_violations << what;
    }

    TrackingControl &m_station;
    Travel m_travel;
    QList<QPair<double, double>> m_mask;
    QElapsedTimer m_clock;
    std::array<bool, alarmCount> m_active {};
    std::array<qint64, alarmCount> m_lastRaisedMs = [] {
        std::array<qint64, alarmCount> a;
        a.fill(-1);
        return a;
    }();
    qint64 m_lastFaultMs = -1;
    std::optional<Alarm> m_expected;
    qint64 m_boundMs = 0;
    qint64 m_faultStartMs = 0;
    bool m_expectedSeen = false;
    std::optional<Alarm> m_clearDue;
    qint64 m_clearFromMs = 0;
    QStringList m_violations;
    int m_positions = 0;
    int m_raised = 0;
};

} // namespace invariants
