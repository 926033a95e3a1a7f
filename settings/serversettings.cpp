// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/serversettings.h"

#include "settings/keyvaluefile.h"

#include <QFile>
#include <QHostAddress>

namespace {

const QString rigServerKey = QStringLiteral("rigctl server");
const QString rigAddressKey = QStringLiteral("rigctl address");
const QString rigPortKey = QStringLiteral("rigctl port");
const QString rotServerKey = QStringLiteral("rotctl server");
const QString rotAddressKey = QStringLiteral("rotctl address");
const QString rotPortKey = QStringLiteral("rotctl port");

} // namespace

bool ServerSettings::operator==(const ServerSettings &other) const
{
    return rigServer == other.rigServer && rigAddress == other.rigAddress && rigPort == other.rigPort
        && rotServer == other.rotServer && rotAddress == other.rotAddress && rotPort == other.rotPort;
}

ServerSettings ServerSettings::read(const QString &path)
{
    ServerSettings settings;
    for (const auto &[key, value] : keyvalue::read(path)) {
        const bool rig = key.startsWith(QLatin1String("rigctl"));
        if ((key == rigServerKey || key == rotServerKey) && keyvalue::onOff(value)) {
            (rig ? settings.rigServer : settings.rotServer) = *keyvalue::onOff(value);
        } else if ((key == rigAddressKey || key == rotAddressKey) && !QHostAddress(value).isNull()) {
            (rig ? settings.rigAddress : settings.rotAddress) = QHostAddress(value).toString();
        } else if ((key == rigPortKey || key == rotPortKey) && keyvalue::port(value)) {
            (rig ? settings.rigPort : settings.rotPort) = *keyvalue::port(value);
        }
    }
    return settings;
}

bool ServerSettings::write(const QString &path) const
{
    if (!QFile::exists(path) && *this == ServerSettings())
        return true;
    return keyvalue::write(path, {{rigServerKey, keyvalue::onOff(rigServer)},
                                  {rigAddressKey, rigAddress},
                                  {rigPortKey, QString::number(rigPort)},
                                  {rotServerKey, keyvalue::onOff(rotServer)},
                                  {rotAddressKey, rotAddress},
                                  {rotPortKey, QString::number(rotPort)}});
}
