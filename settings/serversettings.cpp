// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/serversettings.h"

#include "settings/keyvaluefile.h"

#include <QFile>
#include <QHostAddress>

namespace {

const QString rigServerKey = QStringLiteral("rigctl server");
const QString rigAddressKey = QStringLiteral("rigctl address");
const QString rigPortKey = QStringLiteral("rigctl port");
const QString onValue = QStringLiteral("on");
const QString offValue = QStringLiteral("off");

} // namespace

bool ServerSettings::operator==(const ServerSettings &other) const
{
    return rigServer == other.rigServer && rigAddress == other.rigAddress && rigPort == other.rigPort;
}

ServerSettings ServerSettings::read(const QString &path)
{
    ServerSettings settings;
    for (const auto &[key, value] : keyvalue::read(path)) {
        if (key == rigServerKey && (value == onValue || value == offValue)) {
            settings.rigServer = value == onValue;
        } else if (key == rigAddressKey && !QHostAddress(value).isNull()) {
            settings.rigAddress = QHostAddress(value).toString();
        } else if (key == rigPortKey && keyvalue::port(value)) {
            settings.rigPort = *keyvalue::port(value);
        }
    }
    return settings;
}

bool ServerSettings::write(const QString &path) const
{
    if (!QFile::exists(path) && *this == ServerSettings())
        return true;
    return keyvalue::write(path, {{rigServerKey, rigServer ? onValue : offValue},
                                  {rigAddressKey, rigAddress},
                                  {rigPortKey, QString::number(rigPort)}});
}
