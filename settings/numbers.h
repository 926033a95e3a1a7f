#pragma once

#include <QString>

#include <optional>

// Number texts as the operator, store.cfg and the tracking file give them.
namespace numbers {

// A decimal number in the C locale, white space around it ignored, taken at
// single precision. Empty text, other text, and values beyond the float range
// (infinities and NaN included) are invalid.
std::optional<float> toSingle(const QString &text);

// General format, six significant digits, no padding: 0 -> "0", 0.1 -> "0.1".
QString general(double value);

} // namespace numbers
