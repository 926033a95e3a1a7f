// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// An integer with its base taken from the text: "0x"/"0X" hexadecimal, a
// leading "0" octal, otherwise decimal; an optional sign; white space around
// it ignored. Anything else in the text (a "0b" prefix, a NUL, a digit beyond
// the base, trailing characters) or a value outside int makes it no number.
std::optional<int> parseIntegerWithBase(const QString &text);

// Byte values typed by the operator for port B, separated by single spaces:
// each part taken by parseIntegerWithBase, its low 8 bits kept; parts that do
// not convert (empty ones included) are skipped without a message.
QByteArray parseByteValues(const QString &text);
