#include "tracking/rotatorcommand.h"

#include <QString>

#include <cmath>

namespace rotator {

namespace {
QByteArray command(const char *templateText, double value)
{
    return QString::fromLatin1(templateText)
        .arg(value, 6, 'f', 2, QChar('0'))
        .arg(QStringLiteral("\r\n"))
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

unsigned staleCommandLimit(quint32 repetitionSeconds)
{
    return 60u / qMax<quint32>(1u, repetitionSeconds);
}

} // namespace rotator
