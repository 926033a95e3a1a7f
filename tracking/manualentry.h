#pragma once

#include <QByteArray>
#include <QString>

// Byte values typed by the operator for port B, separated by single spaces:
// each part taken with base detection (0x.. hex, 0.. octal, else decimal,
// optional sign), its low 8 bits kept; parts that do not convert (empty ones
// included) are skipped without a message.
QByteArray parseByteValues(const QString &text);
