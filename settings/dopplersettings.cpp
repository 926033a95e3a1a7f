// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/dopplersettings.h"

#include "settings/keyvaluefile.h"

#include <QFile>

#include <cmath>

namespace {

const QString methodKey = QStringLiteral("method");
const QString skedKey = QStringLiteral("sked frequency");
const QString transverterKey = QStringLiteral("transverter");
const QString loKey = QStringLiteral("transverter lo");
const QString senseKey = QStringLiteral("transverter sense");
const QString splitKey = QStringLiteral("split");
const QString holdKey = QStringLiteral("hold transmit");
const QString periodKey = QStringLiteral("transmit period");
const QString limitKey = QStringLiteral("transmit limit");
const QString pttKey = QStringLiteral("ptt");
const QString off = QStringLiteral("off");
const QString yes = QStringLiteral("yes");
const QString no = QStringLiteral("no");
const QString loAboveValue = QStringLiteral("lo - if");
const QString loBelowValue = QStringLiteral("lo + if");

std::optional<double> megahertz(const QString &value)
{
    bool ok = false;
    const double mhz = value.toDouble(&ok);
    if (ok && std::isfinite(mhz) && mhz >= 0 && mhz < 1e6)
        return mhz;
    return std::nullopt;
}

QString mhzText(double mhz)
{
    return QString::number(mhz, 'f', 6);
}

} // namespace

bool DopplerSettings::operator==(const DopplerSettings &other) const
{
    return method == other.method && skedMHz == other.skedMHz && transverter == other.transverter
        && split == other.split && holdTransmit == other.holdTransmit
        && transmitPeriodSeconds == other.transmitPeriodSeconds && transmitLimitSeconds == other.transmitLimitSeconds
        && ptt == other.ptt;
}

DopplerSettings DopplerSettings::read(const QString &path)
{
    DopplerSettings settings;
    for (const auto &[key, value] : keyvalue::read(path)) {
        if (key == methodKey) {
            for (const auto &name : dopplerMethodNames)
                if (value == QLatin1String(name.key))
                    settings.method = name.method;
        } else if (key == skedKey) {
            if (const auto mhz = megahertz(value); mhz && *mhz > 0)
                settings.skedMHz = *mhz;
        } else if (key == loKey) {
            if (const auto mhz = megahertz(value))
                settings.transverter.localOscillatorHz = std::round(*mhz * 1e6);
        } else if ((key == transverterKey || key == splitKey || key == holdKey || key == pttKey)
                   && (value == yes || value == no)) {
            (key == splitKey  ? settings.split
             : key == holdKey ? settings.holdTransmit
             : key == pttKey  ? settings.ptt
                              : settings.transverter.on)
                = value == yes;
        } else if (key == periodKey) {
            bool ok = false;
            const int seconds = value.toInt(&ok);
            if (ok && seconds >= 1 && seconds <= 3600)
                settings.transmitPeriodSeconds = seconds;
        } else if (key == limitKey) {
            bool ok = false;
            const int seconds = value.toInt(&ok);
            if (value == off)
                settings.transmitLimitSeconds = 0;
            else if (ok && seconds >= 0 && seconds <= longestTransmitLimitSeconds)
                settings.transmitLimitSeconds = seconds;
        } else if (key == senseKey && (value == loAboveValue || value == loBelowValue)) {
            settings.transverter.loAbove = value == loAboveValue;
        }
    }
    return settings;
}

bool DopplerSettings::write(const QString &path) const
{
    if (!QFile::exists(path) && *this == DopplerSettings())
        return true;
    QString methodName;
    for (const auto &name : dopplerMethodNames)
        if (name.method == method)
            methodName = QLatin1String(name.key);
    return keyvalue::write(path, {{methodKey, methodName},
                                  {skedKey, mhzText(skedMHz)},
                                  {transverterKey, transverter.on ? yes : no},
                                  {loKey, mhzText(transverter.localOscillatorHz / 1e6)},
                                  {senseKey, transverter.loAbove ? loAboveValue : loBelowValue},
                                  {splitKey, split ? yes : no},
                                  {holdKey, holdTransmit ? yes : no},
                                  {periodKey, QString::number(transmitPeriodSeconds)},
                                  {limitKey, transmitLimitSeconds > 0 ? QString::number(transmitLimitSeconds) : off},
                                  {pttKey, ptt ? yes : no}});
}
