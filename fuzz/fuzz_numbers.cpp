// SPDX-License-Identifier: GPL-3.0-or-later
// Number texts: a text is a valid number exactly when it is a decimal number
// in the C locale (white space around it allowed) within the single-precision
// range, and then it has the value the C library reads; the general format
// reads back within its six significant digits, the fixed format within its
// decimals.

#include "fuzzcheck.h"

#include "settings/numbers.h"

#include <QRegularExpression>

#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>

namespace {

void checkText(const QString &text)
{
    static const QRegularExpression decimal(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    const QString number = text.trimmed();
    const std::optional<float> got = numbers::toSingle(text);
    auto where = [&] { return QStringLiteral("text \"%1\"").arg(text); };
    if (!decimal.match(number).hasMatch()) {
        FUZZ_CHECK(!got, where() + QStringLiteral(" read as %1").arg(double(*got)));
        return;
    }
    errno = 0;
    const double value = std::strtod(number.toLatin1().constData(), nullptr);
    const bool underflow = errno == ERANGE && std::fabs(value) <= DBL_MIN;
    if (underflow) {
        FUZZ_CHECK(!got || std::fabs(*got) <= FLT_MIN, where());  // too small either way
        return;
    }
    if (!std::isfinite(value) || std::fabs(value) > double(FLT_MAX)) {
        FUZZ_CHECK(!got, where());
        return;
    }
    FUZZ_CHECK(got && *got == float(value), where() + QStringLiteral(": %1, expected %2").arg(double(got.value_or(-1))).arg(value));
}

void checkFormats(double value)
{
    if (!std::isfinite(value) || std::fabs(value) > double(FLT_MAX))
        return;
    const QString general = numbers::general(value);
    const double back = general.toDouble();
    FUZZ_CHECK(std::fabs(back - value) <= std::fabs(value) * 5.0000001e-6 || std::fabs(value) < 1e-300,
               QStringLiteral("%1 written as %2").arg(value, 0, 'g', 17).arg(general));
    if (std::fabs(value) < 1e9) {
        const QString fixed = numbers::fixed(value, 2, 6);
        FUZZ_CHECK(fixed.size() >= 6 && std::fabs(fixed.toDouble() - value) <= 0.0050001,
                   QStringLiteral("%1 fixed as %2").arg(value, 0, 'g', 17).arg(fixed));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    checkFormats(input.ConsumeFloatingPoint<double>());
    const std::string rest = input.ConsumeRemainingBytesAsString();
    checkText(QString::fromUtf8(rest.data(), qsizetype(rest.size())));
    return 0;
}
