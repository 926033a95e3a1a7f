// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/showntext.h"

namespace {

bool mustEscape(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f)  // C0, DEL, C1
        || c == 0x2028 || c == 0x2029              // would break the log's one paragraph per message
        || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);  // bidirectional overrides
}

// "\xHH" or "\uHHHH": written digit by digit, as line noise is full of them.
void appendEscaped(QString &text, char16_t c)
{
    const int digits = c <= 0xff ? 2 : 4;
    text += QLatin1Char('\\');
    text += QLatin1Char(digits == 2 ? 'x' : 'u');
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        text += QLatin1Char("0123456789abcdef"[(c >> shift) & 0xf]);
}

} // namespace

QString shownText(QByteArrayView bytes, qsizetype maxChars)
{
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    // No character takes more than four bytes: what is decoded is bounded too.
    const qsizetype taken = qMin(bytes.size(), maxChars * 4 + 4);
    const QString decoded = QString::fromUtf8(bytes.first(taken));
    QString text;
    text.reserve(qMin(decoded.size(), maxChars) + 16);
    qsizetype shown = 0;
    for (qsizetype i = 0; i < decoded.size() && shown < maxChars; ++i, ++shown) {
        const char16_t c = decoded.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < decoded.size()) {
            text += decoded.mid(i++, 2);  // one character in two halves
        } else if (!mustEscape(c))
            text += QChar(c);
        else
            appendEscaped(text, c);
    }
    if (shown < decoded.size() || taken < bytes.size())
        text += QStringLiteral("...");
    return text;
}
