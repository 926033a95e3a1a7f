// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/wsjtxsettings.h"

#include "settings/keyvaluefile.h"

#include <QFile>
#include <QHostAddress>

namespace {

const QString followKey = QStringLiteral("follow wsjt-x");
const QString addressKey = QStringLiteral("udp address");
const QString portKey = QStringLiteral("udp port");

} // namespace

bool WsjtxSettings::isMulticast() const
{
    return QHostAddress(address).isMulticast();
}

bool WsjtxSettings::operator==(const WsjtxSettings &other) const
{
    return follow == other.follow && address == other.address && port == other.port;
}

WsjtxSettings WsjtxSettings::read(const QString &path)
{
    WsjtxSettings settings;
    for (const auto &[key, value] : keyvalue::read(path)) {
        if (key == followKey && keyvalue::onOff(value)) {
            settings.follow = *keyvalue::onOff(value);
        } else if (key == addressKey && QHostAddress(value).protocol() == QAbstractSocket::IPv4Protocol) {
            settings.address = QHostAddress(value).toString();
        } else if (key == portKey && keyvalue::port(value)) {
            settings.port = *keyvalue::port(value);
        }
    }
    return settings;
}

bool WsjtxSettings::write(const QString &path) const
{
    if (!QFile::exists(path) && *this == WsjtxSettings())
        return true;
    return keyvalue::write(path, {{followKey, keyvalue::onOff(follow)},
                                  {addressKey, address},
                                  {portKey, QString::number(port)}});
}
