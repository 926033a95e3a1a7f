// SPDX-License-Identifier: GPL-3.0-or-later
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
// Correctly rounded, an exact tie to even: 1234565 -> "1.23456e+06".
QString general(double value);

// Fixed point with the given decimals, correctly rounded (123.125 -> "123.12"),
// zero-padded on the left to width characters, a minus sign counting toward
// the width and the zeros going after it: -3.2 at width 6 -> "-03.20".
QString fixed(double value, int decimals, int width);

} // namespace numbers
