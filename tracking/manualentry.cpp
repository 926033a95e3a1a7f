#include "tracking/manualentry.h"

#include <QStringList>

QByteArray parseByteValues(const QString &text)
{
    QByteArray bytes;
    const QStringList parts = text.split(QLatin1Char(' '), Qt::KeepEmptyParts, Qt::CaseSensitive);
    for (const QString &part : parts) {
        bool ok = false;
        const int value = part.toInt(&ok, 0);
        if (ok)
            bytes.append(char(value & 0xff));
    }
    return bytes;
}
