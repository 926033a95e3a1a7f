// SPDX-License-Identifier: GPL-3.0-or-later
// Port B byte entry against the C library's own reading of the rule:
// strtol with base 0 ("0x"/"0X" hexadecimal, a leading 0 octal, otherwise
// decimal, a sign allowed), the whole part consumed, white space around it
// ignored, the value within int. Any byte the entry gives beyond that breaks.

#include "fuzzcheck.h"

#include "transceiver/manualentry.h"

#include <QStringList>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>

namespace {

bool isCBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

std::optional<int> byRule(const QString &part)
{
    qsizetype begin = 0, end = part.size();
    while (begin < end && isCBlank(part.at(begin)))
        ++begin;
    while (end > begin && isCBlank(part.at(end - 1)))
        --end;
    if (begin == end)
        return std::nullopt;
    QByteArray ascii;
    for (qsizetype i = begin; i < end; ++i) {
        const char16_t c = part.at(i).unicode();
        if (c == 0 || c > 0x7f || isCBlank(part.at(i)))
            return std::nullopt;
        ascii.append(char(c));
    }
    errno = 0;
    char *stop = nullptr;
    const long long value = std::strtoll(ascii.constData(), &stop, 0);
    if (errno != 0 || stop != ascii.constData() + ascii.size() || value < INT_MIN || value > INT_MAX)
        return std::nullopt;
    return int(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    QByteArray expected;
    for (const QString &part : text.split(u' '))
        if (const std::optional<int> value = byRule(part))
            expected.append(char(*value & 0xff));
    const QByteArray got = parseByteValues(text);
    FUZZ_CHECK(got == expected, QStringLiteral("text \"%1\": got %2, rule gives %3")
                                    .arg(text, fuzzing::hex(got), fuzzing::hex(expected)));
    return 0;
}
