#include "settings/networksettings.h"

#include "settings/keyvaluefile.h"

#include <QFile>

namespace {

const QString transceiverKey = QStringLiteral("transceiver link");
const QString rigctldKey = QStringLiteral("rigctld address");
const QString rotatorKey = QStringLiteral("rotator link");
const QString rotctldKey = QStringLiteral("rotctld address");
const QString reconnectKey = QStringLiteral("automatic reconnect");
const QString network = QStringLiteral("network");
const QString serial = QStringLiteral("serial");

} // namespace

bool NetworkSettings::operator==(const NetworkSettings &other) const
{
    return rigctld == other.rigctld && rigctldAddress == other.rigctldAddress && rotctld == other.rotctld
        && rotctldAddress == other.rotctldAddress && reconnect == other.reconnect;
}

NetworkSettings NetworkSettings::read(const QString &path)
{
    NetworkSettings settings;
    for (const auto &[key, value] : keyvalue::read(path)) {
        if (key == transceiverKey && (value == network || value == serial))
            settings.rigctld = value == network;
        else if (key == rotatorKey && (value == network || value == serial))
            settings.rotctld = value == network;
        else if (key == rigctldKey && !value.trimmed().isEmpty())
            settings.rigctldAddress = value.trimmed();
        else if (key == rotctldKey && !value.trimmed().isEmpty())
            settings.rotctldAddress = value.trimmed();
        else if (key == reconnectKey && (value == QLatin1String("on") || value == QLatin1String("off")))
            settings.reconnect = value == QLatin1String("on");
    }
    return settings;
}

bool NetworkSettings::write(const QString &path) const
{
    if (!QFile::exists(path) && *this == NetworkSettings())
        return true;
    return keyvalue::write(path, {{transceiverKey, rigctld ? network : serial},
                                  {rigctldKey, rigctldAddress},
                                  {rotatorKey, rotctld ? network : serial},
                                  {rotctldKey, rotctldAddress},
                                  {reconnectKey, reconnect ? QStringLiteral("on") : QStringLiteral("off")}});
}
