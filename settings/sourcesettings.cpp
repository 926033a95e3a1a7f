// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/sourcesettings.h"

#include "ephemeris/locator.h"
#include "ephemeris/radiosource.h"
#include "settings/keyvaluefile.h"

#include <QFile>

#include <cmath>

namespace {

const QString sourceKey = QStringLiteral("tracking source");
const QString homeKey = QStringLiteral("home locator");
const QString dxKey = QStringLiteral("dx locator");
const QString frequencyKey = QStringLiteral("frequency");
const QString radioSourceKey = QStringLiteral("radio source");
const QString refractionKey = QStringLiteral("refraction");
const QString builtInValue = QStringLiteral("built-in");
const QString fileValue = QStringLiteral("file");

} // namespace

bool SourceSettings::operator==(const SourceSettings &other) const
{
    return builtIn == other.builtIn && homeLocator == other.homeLocator && dxLocator == other.dxLocator
        && frequencyMHz == other.frequencyMHz && radioSource == other.radioSource && refraction == other.refraction;
}

SourceSettings SourceSettings::read(const QString &path)
{
    SourceSettings settings;
    for (const auto &[key, value] : keyvalue::read(path)) {
        if (key == sourceKey && (value == builtInValue || value == fileValue)) {
            settings.builtIn = value == builtInValue;
        } else if ((key == homeKey || key == dxKey) && (value.isEmpty() || positionOfLocator(value))) {
            (key == homeKey ? settings.homeLocator : settings.dxLocator) = value;
        } else if (key == frequencyKey) {
            bool ok = false;
            const double mhz = value.toDouble(&ok);
            if (ok && std::isfinite(mhz) && mhz > 0 && mhz < 1e6)
                settings.frequencyMHz = mhz;
        } else if (key == radioSourceKey && (value.isEmpty() || radiosource::fromText(value))) {
            settings.radioSource = value;
        } else if (key == refractionKey && keyvalue::onOff(value)) {
            settings.refraction = *keyvalue::onOff(value);
        }
    }
    return settings;
}

bool SourceSettings::write(const QString &path) const
{
    if (!QFile::exists(path) && *this == SourceSettings())
        return true;
    return keyvalue::write(path, {{sourceKey, builtIn ? builtInValue : fileValue},
                                  {homeKey, homeLocator},
                                  {dxKey, dxLocator},
                                  {frequencyKey, QString::number(frequencyMHz, 'g', 10)},
                                  {radioSourceKey, radioSource},
                                  {refractionKey, keyvalue::onOff(refraction)}});
}
