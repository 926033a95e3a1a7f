#include "settings/networksettings.h"

#include <QFile>
#include <QSaveFile>

namespace {

const char *const transceiverKey = "transceiver link";
const char *const rigctldKey = "rigctld address";
const char *const rotatorKey = "rotator link";
const char *const rotctldKey = "rotctld address";
const QString network = QStringLiteral("network");
const QString serial = QStringLiteral("serial");

// Addresses are short; a longer value is not one of ours.
constexpr int maxValueLength = 256;

QByteArray lineFor(const char *key, const QString &value)
{
    return QByteArray(key) + ": '" + value.toUtf8() + "'\n";
}

} // namespace

bool NetworkSettings::operator==(const NetworkSettings &other) const
{
    return rigctld == other.rigctld && rigctldAddress == other.rigctldAddress && rotctld == other.rotctld
        && rotctldAddress == other.rotctldAddress;
}

NetworkSettings NetworkSettings::read(const QString &path)
{
    NetworkSettings settings;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return settings;
    for (int count = 0; count < 64 && !file.atEnd(); ++count) {
        const QString line = QString::fromUtf8(file.readLine(1024)).trimmed();
        const int colon = line.indexOf(QLatin1String(": '"));
        if (colon < 0 || !line.endsWith(QLatin1Char('\'')))
            continue;
        const QString key = line.left(colon);
        const QString value = line.mid(colon + 3, line.size() - colon - 4);
        if (value.size() > maxValueLength)
            continue;
        if (key == QLatin1String(transceiverKey) && (value == network || value == serial))
            settings.rigctld = value == network;
        else if (key == QLatin1String(rotatorKey) && (value == network || value == serial))
            settings.rotctld = value == network;
        else if (key == QLatin1String(rigctldKey) && !value.trimmed().isEmpty())
            settings.rigctldAddress = value.trimmed();
        else if (key == QLatin1String(rotctldKey) && !value.trimmed().isEmpty())
            settings.rotctldAddress = value.trimmed();
    }
    return settings;
}

bool NetworkSettings::write(const QString &path) const
{
    if (!QFile::exists(path) && *this == NetworkSettings())
        return true;
    QSaveFile file(path);
    // As store.cfg: a folder that takes no new file still lets this one be rewritten.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(lineFor(transceiverKey, rigctld ? network : serial));
    file.write(lineFor(rigctldKey, rigctldAddress));
    file.write(lineFor(rotatorKey, rotctld ? network : serial));
    file.write(lineFor(rotctldKey, rotctldAddress));
    return file.commit();
}
