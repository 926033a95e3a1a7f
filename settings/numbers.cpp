#include "settings/numbers.h"

#include <cfloat>
#include <cmath>

namespace numbers {

std::optional<float> toSingle(const QString &text)
{
    bool ok = false;
    // toDouble first: Qt 6's toFloat calls an underflow invalid, where a tiny
    // value is simply 0 at single precision.
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || std::fabs(value) > double(FLT_MAX))
        return std::nullopt;
    return float(value);
}

QString general(double value)
{
    return QStringLiteral("%1").arg(value, 0, 'g', -1);
}

} // namespace numbers
