// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/keyvaluefile.h"

#include "settings/savefile.h"

#include <QFile>

namespace keyvalue {

namespace {
// Our values are short; a longer one is not ours.
constexpr int maxValueLength = 256;
constexpr int maxLines = 64;
} // namespace

Entries read(const QString &path)
{
    // Read once at start, as store.cfg is: the time to clear what a killed save left.
    savefile::removeLeftovers(path);
    Entries entries;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    for (int count = 0; count < maxLines && !file.atEnd(); ++count) {
        const QString line = QString::fromUtf8(file.readLine(1024)).trimmed();
        const int colon = line.indexOf(QLatin1String(": '"));
        if (colon < 0 || !line.endsWith(QLatin1Char('\'')))
            continue;
        const QString value = line.mid(colon + 3, line.size() - colon - 4);
        if (value.size() <= maxValueLength)
            entries.append({line.left(colon), value});
    }
    return entries;
}

bool write(const QString &path, const Entries &entries)
{
    QByteArray content;
    for (const auto &[key, value] : entries)
        content += key.toUtf8() + ": '" + value.toUtf8() + "'\n";
    return savefile::write(path, content).isEmpty();
}

std::optional<quint16> port(const QString &value)
{
    bool ok = false;
    const uint number = value.toUInt(&ok);
    if (!ok || number == 0 || number > 65535)
        return std::nullopt;
    return quint16(number);
}

std::optional<bool> onOff(const QString &value)
{
    if (value == onOff(true))
        return true;
    if (value == onOff(false))
        return false;
    return std::nullopt;
}

QString onOff(bool on)
{
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

} // namespace keyvalue
