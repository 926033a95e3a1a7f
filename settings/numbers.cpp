// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/numbers.h"

#include <cfloat>
#include <charconv>
#include <cmath>

namespace numbers {

namespace {

// std::to_chars rounds correctly (an exact tie to even, as printf does) and
// ignores the process locale; Qt's own conversion rounds ties away from zero.
QString correctlyRounded(double value, std::chars_format format, int precision)
{
    if (value == 0.0)
        value = 0.0;  // no "-0": a negative zero shows as zero
    char text[400];   // the widest double in fixed notation with a few decimals fits
    const std::to_chars_result result = std::to_chars(text, text + sizeof text, value, format, precision);
    if (result.ec != std::errc())
        return QString();
    return QString::fromLatin1(text, result.ptr - text);
}

} // namespace

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
    return correctlyRounded(value, std::chars_format::general, 6);
}

QString fixed(double value, int decimals, int width)
{
    QString text = correctlyRounded(value, std::chars_format::fixed, decimals);
    const qsizetype signLength = text.startsWith(u'-') ? 1 : 0;
    if (text.size() < width)
        text.insert(signLength, QString(width - text.size(), u'0'));
    return text;
}

} // namespace numbers
