// SPDX-License-Identifier: GPL-3.0-or-later
#include "transceiver/manualentry.h"

#include <QStringList>

#include <limits>
#include <optional>

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

int digitValue(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'z')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'Z')
        return c.unicode() - u'A' + 10;
    return 99;
}

} // namespace

// Written out rather than QString::toInt(…, 0): Qt 6 also takes "0b" binary
// prefixes and stops reading at a NUL, and a wrong byte on a CAT line can key
// the transmitter.
std::optional<int> parseIntegerWithBase(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;

    bool negative = false;
    if (begin < end && (text.at(begin) == u'+' || text.at(begin) == u'-')) {
        negative = text.at(begin) == u'-';
        ++begin;
    }

    int base = 10;
    if (end - begin >= 2 && text.at(begin) == u'0' && (text.at(begin + 1) == u'x' || text.at(begin + 1) == u'X')) {
        base = 16;
        begin += 2;
    } else if (begin < end && text.at(begin) == u'0') {
        base = 8;  // the leading zero is itself an octal digit
    }
    if (begin == end)
        return std::nullopt;

    // Accumulated as a magnitude; the limit for a negative value is one larger.
    const qint64 limit = negative ? qint64(std::numeric_limits<int>::max()) + 1 : std::numeric_limits<int>::max();
    qint64 magnitude = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const int digit = digitValue(text.at(i));
        if (digit >= base)
            return std::nullopt;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return std::nullopt;
    }
    return int(negative ? -magnitude : magnitude);
}

QByteArray parseByteValues(const QString &text)
{
    QByteArray bytes;
    const QStringList parts = text.split(QLatin1Char(' '), Qt::KeepEmptyParts, Qt::CaseSensitive);
    for (const QString &part : parts) {
        if (const std::optional<int> value = parseIntegerWithBase(part))
            bytes.append(char(*value & 0xff));
    }
    return bytes;
}
