// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/rotatorgeometry.h"

#include "settings/keyvaluefile.h"

#include <QFile>
#include <QHash>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

const QString azimuthKey = QStringLiteral("azimuth range");
const QString minAzimuthKey = QStringLiteral("azimuth stop low");
const QString maxAzimuthKey = QStringLiteral("azimuth stop high");
const QString elevationKey = QStringLiteral("elevation range");
const QString maskKey = QStringLiteral("horizon mask");
const QString azimuthSpeedKey = QStringLiteral("azimuth speed");
const QString elevationSpeedKey = QStringLiteral("elevation speed");
const QString reachKey = QStringLiteral("out of reach");
const QString leadKey = QStringLiteral("lead");
const QString quietKey = QStringLiteral("quiet seconds");
const QString quietFromKey = QStringLiteral("quiet from");
const QString quietToKey = QStringLiteral("quiet to");
const QString transmitKey = QStringLiteral("still while transmitting");
const QString yes = QStringLiteral("yes");
const QString no = QStringLiteral("no");

using Geometry = RotatorGeometry;
const QPair<Geometry::AzimuthRange, QString> azimuthNames[] = {
    {Geometry::AzimuthRange::AsGiven, QStringLiteral("as given")},
    {Geometry::AzimuthRange::From0To360, QStringLiteral("0 to 360")},
    {Geometry::AzimuthRange::From0To450, QStringLiteral("0 to 450")},
    {Geometry::AzimuthRange::Minus180To180, QStringLiteral("-180 to 180")},
    {Geometry::AzimuthRange::Custom, QStringLiteral("custom")}};
const QPair<Geometry::ElevationRange, QString> elevationNames[] = {
    {Geometry::ElevationRange::AsGiven, QStringLiteral("as given")},
    {Geometry::ElevationRange::From0To90, QStringLiteral("0 to 90")},
    {Geometry::ElevationRange::From0To180, QStringLiteral("0 to 180")}};
const QPair<Geometry::OutOfReach, QString> reachNames[] = {{Geometry::OutOfReach::Nearest, QStringLiteral("nearest")},
                                                           {Geometry::OutOfReach::Hold, QStringLiteral("hold")}};
constexpr int maxMaskPoints = 36;

template <typename E, size_t N>
QString nameOf(const QPair<E, QString> (&names)[N], E value)
{
    for (const auto &name : names)
        if (name.first == value)
            return name.second;
    return names[0].second;
}

template <typename E, size_t N>
void takeName(const QPair<E, QString> (&names)[N], const QString &text, E &value)
{
    for (const auto &name : names)
        if (name.second == text)
            value = name.first;
}

std::optional<double> number(const QString &text, double low, double high)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (ok && std::isfinite(value) && value >= low && value <= high)
        return value;
    return std::nullopt;
}

QString numberText(double value)
{
    return QString::number(value, 'g', 10);
}

} // namespace

double RotatorGeometry::minAzimuth() const
{
    switch (azimuthRange) {
    case AzimuthRange::Minus180To180:
        return -180;
    case AzimuthRange::Custom:
        return customMinAzimuth;
    default:
        return 0;
    }
}

double RotatorGeometry::maxAzimuth() const
{
    switch (azimuthRange) {
    case AzimuthRange::From0To450:
        return 450;
    case AzimuthRange::Minus180To180:
        return 180;
    case AzimuthRange::Custom:
        return customMaxAzimuth;
    default:
        return 360;
    }
}

double RotatorGeometry::minElevation() const
{
    return 0;
}

double RotatorGeometry::maxElevation() const
{
    return elevationRange == ElevationRange::From0To180 ? 180 : 90;
}

double RotatorGeometry::maskElevation(double azimuth) const
{
    if (horizonMask.isEmpty())
        return 0;
    if (horizonMask.size() == 1)
        return horizonMask.first().second;
    const double az = azimuth - 360.0 * std::floor(azimuth / 360.0);
    // The points are sorted; between the last and the first the line runs through north.
    for (qsizetype i = 0; i < horizonMask.size(); ++i) {
        const auto &a = horizonMask.at(i);
        const auto &b = horizonMask.at((i + 1) % horizonMask.size());
        const double span = i + 1 < horizonMask.size() ? b.first - a.first : b.first + 360.0 - a.first;
        double from = az - a.first;
        if (from < 0)
            from += 360.0;
        if (from <= span)
            return span > 0 ? a.second + (b.second - a.second) * from / span : a.second;
    }
    return horizonMask.first().second;
}

bool RotatorGeometry::operator==(const RotatorGeometry &other) const
{
    return azimuthRange == other.azimuthRange && customMinAzimuth == other.customMinAzimuth
        && customMaxAzimuth == other.customMaxAzimuth && elevationRange == other.elevationRange
        && horizonMask == other.horizonMask && azimuthSpeed == other.azimuthSpeed
        && elevationSpeed == other.elevationSpeed && outOfReach == other.outOfReach && lead == other.lead
        && quietSeconds == other.quietSeconds && quietFrom == other.quietFrom && quietTo == other.quietTo
        && stillWhileTransmitting == other.stillWhileTransmitting;
}

QString RotatorGeometry::maskText() const
{
    QStringList points;
    for (const auto &[az, el] : horizonMask)
        points << numberText(az) + QLatin1Char(':') + numberText(el);
    return points.join(QLatin1Char(' '));
}

std::optional<QList<QPair<double, double>>> RotatorGeometry::parseMask(const QString &text)
{
    if (!maskProblem(text).isEmpty())
        return std::nullopt;
    QList<QPair<double, double>> points;
    for (const QString &part : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList pair = part.split(QLatin1Char(':'));
        const double az = pair.at(0).toDouble();
        points.append({az == 360 ? 0.0 : az, pair.at(1).toDouble()});
    }
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    return points;
}

QString RotatorGeometry::maskProblem(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() > maxMaskPoints)
        return QStringLiteral("%1 points, at most %2").arg(parts.size()).arg(maxMaskPoints);
    // Why one value is refused, or nothing.
    auto refusal = [](const QString &value, const char *axis, double high) {
        bool ok = false;
        const double v = value.toDouble(&ok);
        if (!ok || !std::isfinite(v))
            return QStringLiteral("%1 is not a number").arg(QLatin1String(axis));
        if (v < 0 || v > high)
            return QStringLiteral("%1 is not from 0 to %2").arg(QLatin1String(axis)).arg(high);
        return QString();
    };
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QStringList pair = parts.at(i).split(QLatin1Char(':'));
        QString why = pair.size() != 2 ? QStringLiteral("not azimuth:elevation")
                                       : refusal(pair.at(0), "azimuth", 360);
        if (why.isEmpty())
            why = refusal(pair.at(1), "elevation", 90);
        if (!why.isEmpty()) {
            // Quoted as typed, but never long enough to swamp the dialog.
            QString shown = parts.at(i);
            if (shown.size() > 24)
                shown = shown.left(24) + QChar(0x2026);
            return QStringLiteral("point %1: '%2' \u2014 %3").arg(i + 1).arg(shown, why);
        }
    }
    // One azimuth, two elevations: no line between them says which holds (360
    // is 0). The same point twice, as "360:5" closing a mask that opens with
    // "0:5", says nothing twice and is taken.
    const auto point = [&parts](qsizetype k) {
        const QStringList pair = parts.at(k).split(QLatin1Char(':'));
        const double az = pair.at(0).toDouble();
        return QPair<double, double>(az == 360 ? 0.0 : az, pair.at(1).toDouble());
    };
    for (qsizetype i = 0; i < parts.size(); ++i)
        for (qsizetype j = 0; j < i; ++j) {
            const auto a = point(j);
            const auto b = point(i);
            if (a.first == b.first && a.second != b.second)
                return QStringLiteral("points %1 and %2: both at azimuth %3").arg(j + 1).arg(i + 1).arg(a.first);
        }
    return QString();
}

std::optional<QList<QPair<double, double>>> RotatorGeometry::parseStoredMask(const QString &text)
{
    if (const auto mask = parseMask(text))
        return mask;
    // A mask kept before two elevations at one azimuth were refused: the
    // higher holds there, so the antenna is never sent lower than the
    // operator once allowed, and the rest of the mask is not lost.
    QStringList kept;
    QHash<double, double> highest;
    QList<double> order;
    for (const QString &part : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!maskProblem(part).isEmpty())
            return std::nullopt;
        const QStringList pair = part.split(QLatin1Char(':'));
        const double az = pair.at(0).toDouble() == 360 ? 0.0 : pair.at(0).toDouble();
        const double el = pair.at(1).toDouble();
        if (!highest.contains(az))
            order.append(az);
        highest[az] = std::max(highest.value(az, el), el);
    }
    for (double az : order)
        kept << numberText(az) + QLatin1Char(':') + numberText(highest.value(az));
    return parseMask(kept.join(QLatin1Char(' ')));
}

RotatorGeometry RotatorGeometry::read(const QString &path)
{
    RotatorGeometry g;
    for (const auto &[key, value] : keyvalue::read(path)) {
        if (key == azimuthKey) {
            takeName(azimuthNames, value, g.azimuthRange);
        } else if (key == elevationKey) {
            takeName(elevationNames, value, g.elevationRange);
        } else if (key == reachKey) {
            takeName(reachNames, value, g.outOfReach);
        } else if (key == minAzimuthKey || key == maxAzimuthKey) {
            if (const auto az = number(value, -360, 720))
                (key == minAzimuthKey ? g.customMinAzimuth : g.customMaxAzimuth) = *az;
        } else if (key == azimuthSpeedKey || key == elevationSpeedKey) {
            if (const auto speed = number(value, 0.01, 100))
                (key == azimuthSpeedKey ? g.azimuthSpeed : g.elevationSpeed) = *speed;
        } else if (key == quietFromKey || key == quietToKey) {
            if (const auto second = number(value, 0, 59); second && *second == std::floor(*second))
                (key == quietFromKey ? g.quietFrom : g.quietTo) = int(*second);
        } else if (key == maskKey) {
            if (const auto mask = parseStoredMask(value))
                g.horizonMask = *mask;
        } else if ((key == leadKey || key == quietKey || key == transmitKey) && (value == yes || value == no)) {
            (key == leadKey ? g.lead : key == quietKey ? g.quietSeconds : g.stillWhileTransmitting) = value == yes;
        }
    }
    // Stops that leave no travel are no stops.
    if (g.azimuthRange == AzimuthRange::Custom && g.customMaxAzimuth - g.customMinAzimuth < 1) {
        g.azimuthRange = AzimuthRange::AsGiven;
        g.customMinAzimuth = 0;
        g.customMaxAzimuth = 360;
    }
    return g;
}

bool RotatorGeometry::write(const QString &path) const
{
    if (!QFile::exists(path) && *this == RotatorGeometry())
        return true;
    const auto flag = [](bool on) { return on ? yes : no; };
    return keyvalue::write(path, {{azimuthKey, nameOf(azimuthNames, azimuthRange)},
                                  {minAzimuthKey, numberText(customMinAzimuth)},
                                  {maxAzimuthKey, numberText(customMaxAzimuth)},
                                  {elevationKey, nameOf(elevationNames, elevationRange)},
                                  {maskKey, maskText()},
                                  {azimuthSpeedKey, numberText(azimuthSpeed)},
                                  {elevationSpeedKey, numberText(elevationSpeed)},
                                  {reachKey, nameOf(reachNames, outOfReach)},
                                  {leadKey, flag(lead)},
                                  {quietKey, flag(quietSeconds)},
                                  {quietFromKey, QString::number(quietFrom)},
                                  {quietToKey, QString::number(quietTo)},
                                  {transmitKey, flag(stillWhileTransmitting)}});
}
