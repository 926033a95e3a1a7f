// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/rotatorcommand.h"

#include "settings/numbers.h"

#include <QString>

#include <cmath>

namespace rotator {

namespace {
QByteArray command(const char *templateText, double value)
{
    return QString::fromLatin1(templateText)
        .arg(numbers::fixed(value, 2, 6), QStringLiteral("\r\n"))
        .toLatin1();
}
} // namespace

QByteArray azimuthCommand(double degrees)
{
    return command("&* AZ=%1%2", degrees);
}

QByteArray elevationCommand(double degrees)
{
    return command("&* EL=%1%2", degrees);
}

bool movedBeyond(double position, double lastSent, double deadBand)
{
    return std::fabs(position - lastSent) > deadBand;
}

Step nextStep(bool azimuthMoved, bool elevationMoved, bool elevationNext)
{
    if (elevationMoved && (elevationNext || !azimuthMoved))
        return Step::Elevation;
    return azimuthMoved ? Step::Azimuth : Step::None;
}

unsigned staleCommandLimit(quint32 repetitionSeconds)
{
    return 60u / qMax<quint32>(1u, repetitionSeconds);
}

} // namespace rotator
