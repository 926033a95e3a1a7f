// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/networksettings.h"

#include "settings/keyvaluefile.h"

#include <QFile>

namespace {

const QString transceiverKey = QStringLiteral("transceiver link");
const QString rigctldKey = QStringLiteral("rigctld address");
const QString rotatorKey = QStringLiteral("rotator link");
const QString rotctldKey = QStringLiteral("rotctld address");
const QString reconnectKey = QStringLiteral("automatic reconnect");
const QString resumeKey = QStringLiteral("resume at start");
const QString openAKey = QStringLiteral("port a open");
const QString autoAKey = QStringLiteral("port a auto");
const QString deviceAKey = QStringLiteral("port a device");
const QString openBKey = QStringLiteral("port b open");
const QString autoBKey = QStringLiteral("port b auto");
const QString deviceBKey = QStringLiteral("port b device");
const QString targetKey = QStringLiteral("target");
const QString trackKey = QStringLiteral("track frequency");
const QString dataFileKey = QStringLiteral("data file");
const QString network = QStringLiteral("network");
const QString linked = QStringLiteral("hamlib");
const QString radioModelKey = QStringLiteral("hamlib radio model");
const QString radioBaudKey = QStringLiteral("hamlib radio baud rate");
const QString radioConfigKey = QStringLiteral("hamlib radio config");
const QString rotatorModelKey = QStringLiteral("hamlib rotator model");
const QString rotatorBaudKey = QStringLiteral("hamlib rotator baud rate");
const QString rotatorConfigKey = QStringLiteral("hamlib rotator config");

// A whole number within bounds, or the default kept.
void readNumber(const QString &value, int lowest, int highest, int &into)
{
    bool parsed = false;
    const int number = value.trimmed().toInt(&parsed);
    if (parsed && number >= lowest && number <= highest)
        into = number;
}

QString linkWord(bool daemon, bool hamlib)
{
    return daemon ? network : hamlib ? linked : QStringLiteral("serial");
}

// A switch read only from its two words; anything else leaves the default.
void readSwitch(const QString &value, bool &into)
{
    if (const auto on = keyvalue::onOff(value))
        into = *on;
}
const QString serial = QStringLiteral("serial");

} // namespace

bool NetworkSettings::Resume::operator==(const Resume &other) const
{
    return openA == other.openA && autoA == other.autoA && deviceA == other.deviceA && openB == other.openB
        && autoB == other.autoB && deviceB == other.deviceB && target == other.target
        && trackFrequency == other.trackFrequency && dataFile == other.dataFile;
}

bool NetworkSettings::operator==(const NetworkSettings &other) const
{
    return rigctld == other.rigctld && rigctldAddress == other.rigctldAddress && rotctld == other.rotctld
        && rotctldAddress == other.rotctldAddress && rigLinked == other.rigLinked && hamlibRadio == other.hamlibRadio
        && rotLinked == other.rotLinked && hamlibRotator == other.hamlibRotator && reconnect == other.reconnect
        && resumeAtStart == other.resumeAtStart && resume == other.resume;
}

NetworkSettings NetworkSettings::read(const QString &path)
{
    NetworkSettings settings;
    for (const auto &[key, value] : keyvalue::read(path)) {
        if (key == transceiverKey && (value == network || value == serial || value == linked)) {
            settings.rigctld = value == network;
            settings.rigLinked = value == linked;
        } else if (key == rotatorKey && (value == network || value == serial || value == linked)) {
            settings.rotctld = value == network;
            settings.rotLinked = value == linked;
        } else if (key == radioModelKey) {
            readNumber(value, 1, 999999, settings.hamlibRadio.model);
        } else if (key == radioBaudKey) {
            readNumber(value, 0, 4000000, settings.hamlibRadio.baudRate);
        } else if (key == radioConfigKey) {
            settings.hamlibRadio.config = value.trimmed().left(512);
        } else if (key == rotatorModelKey) {
            readNumber(value, 1, 999999, settings.hamlibRotator.model);
        } else if (key == rotatorBaudKey) {
            readNumber(value, 0, 4000000, settings.hamlibRotator.baudRate);
        } else if (key == rotatorConfigKey) {
            settings.hamlibRotator.config = value.trimmed().left(512);
        } else if (key == rigctldKey && !value.trimmed().isEmpty())
            settings.rigctldAddress = value.trimmed();
        else if (key == rotctldKey && !value.trimmed().isEmpty())
            settings.rotctldAddress = value.trimmed();
        else if (key == reconnectKey)
            readSwitch(value, settings.reconnect);
        else if (key == resumeKey)
            readSwitch(value, settings.resumeAtStart);
        else if (key == openAKey)
            readSwitch(value, settings.resume.openA);
        else if (key == autoAKey)
            readSwitch(value, settings.resume.autoA);
        else if (key == deviceAKey)
            settings.resume.deviceA = value.trimmed().left(256);
        else if (key == openBKey)
            readSwitch(value, settings.resume.openB);
        else if (key == autoBKey)
            readSwitch(value, settings.resume.autoB);
        else if (key == deviceBKey)
            settings.resume.deviceB = value.trimmed().left(256);
        else if (key == targetKey
                 && (value == QLatin1String("moon") || value == QLatin1String("sun") || value == QLatin1String("source")))
            settings.resume.target = value;
        else if (key == trackKey)
            readSwitch(value, settings.resume.trackFrequency);
        else if (key == dataFileKey)
            settings.resume.dataFile = value.trimmed().left(4096);
    }
    return settings;
}

bool NetworkSettings::write(const QString &path) const
{
    if (!QFile::exists(path) && *this == NetworkSettings())
        return true;
    return keyvalue::write(path, {{transceiverKey, linkWord(rigctld, rigLinked)},
                                  {rigctldKey, rigctldAddress},
                                  {rotatorKey, linkWord(rotctld, rotLinked)},
                                  {rotctldKey, rotctldAddress},
                                  {radioModelKey, QString::number(hamlibRadio.model)},
                                  {radioBaudKey, QString::number(hamlibRadio.baudRate)},
                                  {radioConfigKey, hamlibRadio.config},
                                  {rotatorModelKey, QString::number(hamlibRotator.model)},
                                  {rotatorBaudKey, QString::number(hamlibRotator.baudRate)},
                                  {rotatorConfigKey, hamlibRotator.config},
                                  {reconnectKey, keyvalue::onOff(reconnect)},
                                  {resumeKey, keyvalue::onOff(resumeAtStart)},
                                  {openAKey, keyvalue::onOff(resume.openA)},
                                  {autoAKey, keyvalue::onOff(resume.autoA)},
                                  {deviceAKey, resume.deviceA},
                                  {openBKey, keyvalue::onOff(resume.openB)},
                                  {autoBKey, keyvalue::onOff(resume.autoB)},
                                  {deviceBKey, resume.deviceB},
                                  {targetKey, resume.target},
                                  {trackKey, keyvalue::onOff(resume.trackFrequency)},
                                  {dataFileKey, resume.dataFile}});
}
