// SPDX-License-Identifier: GPL-3.0-or-later
// Radio sources as the operator types them: every text is either refused
// with a reason of bounded length, or read as a place on the sky whose
// written form reads back as the same place.

#include "fuzzcheck.h"

#include "ephemeris/radiosource.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    QString problem;
    const std::optional<RadioSource> source = radiosource::fromText(text, &problem);
    if (!source) {
        // The text shows in the reason at most once, and then cut to 64 characters.
        FUZZ_CHECK(!problem.isEmpty() && problem.size() < 400, QStringLiteral("reason \"%1\"").arg(problem));
        return 0;
    }
    FUZZ_CHECK(std::isfinite(source->raDeg) && source->raDeg >= 0.0 && source->raDeg < 360.0
                   && std::isfinite(source->decDeg) && std::fabs(source->decDeg) <= 90.0,
               QStringLiteral("\"%1\" read as %2 %3").arg(text).arg(source->raDeg).arg(source->decDeg));
    const std::optional<RadioSource> again = radiosource::fromText(source->name);
    FUZZ_CHECK(again && std::fabs(again->decDeg - source->decDeg) < 1e-4
                   && std::fabs(std::remainder(again->raDeg - source->raDeg, 360.0)) < 1e-4,
               QStringLiteral("\"%1\" written as \"%2\"").arg(text, source->name));
    return 0;
}
