// SPDX-License-Identifier: GPL-3.0-or-later
#include "hamlibserver/rotserver.h"

#include "station/trackingcontrol.h"

#include <cmath>

namespace {

const QList<HamlibServer::Command> servedCommands {
    {'p', "get_pos", 0, "Azimuth|Elevation"},
    {'P', "set_pos", 2, nullptr},
    {'S', "stop", 0, nullptr},
    {'K', "park", 0, nullptr},
    {'M', "move", 2, nullptr},
    {'_', "get_info", 0, "Info"},
    {0, "dump_state", 0, nullptr},
};

std::optional<double> degrees(const QByteArray &text, double low, double high)
{
    bool parsed = false;
    const double value = text.toDouble(&parsed);
    if (!parsed || !std::isfinite(value) || value < low || value > high)
        return std::nullopt;
    return value;
}

// rotctld's directions for "M": up, down, left (anticlockwise), right.
std::optional<std::pair<double, double>> direction(int code)
{
    switch (code) {
    case 2: return std::pair(0.0, 1.0);
    case 4: return std::pair(0.0, -1.0);
    case 8: return std::pair(-1.0, 0.0);
    case 16: return std::pair(1.0, 0.0);
    default: return std::nullopt;
    }
}

// Whether the planner would hold the antenna short of a position, as it does
// with a target out of reach when the geometry says hold rather than nearest.
bool heldShort(const PointingPlanner &planner, double azimuth, double elevation)
{
    const RotatorGeometry &geometry = planner.geometry();
    if (geometry.outOfReach != RotatorGeometry::OutOfReach::Hold)
        return false;
    const bool overTheTop = geometry.elevationRange == RotatorGeometry::ElevationRange::From0To180;
    const auto elevationStops = planner.elevationStops();
    if (elevation < planner.lowestElevation(azimuth)
        || (elevationStops && !overTheTop && elevation > elevationStops->second))
        return true;
    const auto azimuthStops = planner.azimuthStops();
    if (!azimuthStops)
        return false;
    for (const bool flipped : {false, true}) {
        if (flipped && !overTheTop)
            break;
        const double base = std::fmod(std::fmod(azimuth + (flipped ? 180.0 : 0.0), 360.0) + 360.0, 360.0);
        for (int turn = -2; turn <= 2; ++turn) {
            const double turned = base + 360.0 * turn;
            if (turned >= azimuthStops->first - 1e-9 && turned <= azimuthStops->second + 1e-9)
                return false;
        }
    }
    return true;
}

} // namespace

RotServer::RotServer(TrackingControl &station, QObject *parent)
    : HamlibServer(QStringLiteral("rotctl"), parent)
    , m_station(station)
{
}

bool RotServer::apply(const ServerSettings &settings)
{
    return listen(settings.rotServer, settings.rotAddress, settings.rotPort);
}

const QList<HamlibServer::Command> &RotServer::commands() const
{
    return servedCommands;
}

QByteArray RotServer::answer(const Line &line)
{
    const QByteArrayList &arguments = line.arguments;
    const QByteArray name = line.command->longName;

    // Where the antenna is, as far as the station knows: reported, or sent.
    const Pointing &pointing = m_station.pointing();
    const double azimuth = pointing.actualAzimuth.value_or(pointing.commandedAzimuth.value_or(0.0));
    const double elevation = pointing.actualElevation.value_or(pointing.commandedElevation.value_or(0.0));
    int result = ok;
    QByteArrayList values;
    if (name == "get_pos") {
        values << QByteArray::number(azimuth, 'f', 2) << QByteArray::number(elevation, 'f', 2);
    } else if (name == "set_pos") {
        const auto az = degrees(arguments.at(0), -360, 720);
        const auto el = degrees(arguments.at(1), -90, 180);
        // One the antenna would not be turned to is refused, as rotctld
        // refuses one beyond its rotator's limits.
        if (!az || !el || heldShort(m_station.planner(), *az, *el))
            result = invalid;
        else
            result = m_station.aimExternal(*az, *el);
    } else if (name == "stop") {
        // Held where it is, still the client's.
        if (m_station.externalAim())
            result = m_station.aimExternal(azimuth, elevation);
    } else if (name == "park") {
        result = m_station.parkExternal();
    } else if (name == "move") {
        // A step of 1 to 10 degrees by the speed (1 to 100) each time it is asked.
        const auto way = direction(arguments.at(0).toInt());
        const auto speed = degrees(arguments.at(1), 1, 100);
        if (!way || !speed) {
            result = invalid;
        } else {
            const double step = std::clamp(std::round(*speed / 10), 1.0, 10.0);
            const auto from = m_station.externalAim().value_or(std::pair(azimuth, elevation));
            const double az = from.first + way->first * step, el = from.second + way->second * step;
            result = heldShort(m_station.planner(), az, el) ? invalid : m_station.aimExternal(az, el);
        }
    } else if (name == "get_info") {
        values << "Vestrel station rotator";
    }
    return reply(line, result, values);
}

// What Hamlib's NET rotctl backend reads at connect: the range the rotator
// geometry gives, or a whole turn and the sky above the horizon.
QByteArray RotServer::dumpState(std::optional<char> separator) const
{
    const auto az = m_station.planner().azimuthStops().value_or(std::pair(0.0, 360.0));
    const auto el = m_station.planner().elevationStops().value_or(std::pair(0.0, 90.0));
    return rotatorState(az, el, separator);
}
