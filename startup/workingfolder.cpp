// SPDX-License-Identifier: GPL-3.0-or-later
#include "startup/workingfolder.h"

#include <QDir>
#include <QStandardPaths>

QString startup::menuWorkingFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

bool startup::enterWorkingFolder(bool fromMenu, const QString &folder, QString *error)
{
    if (!fromMenu)
        return true;
    auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (folder.isEmpty())
        return fail(QStringLiteral("no data folder is known (is HOME set?); working in %1").arg(QDir::currentPath()));
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot create %1; working in %2").arg(folder, QDir::currentPath()));
    if (!QDir::setCurrent(folder))
        return fail(QStringLiteral("cannot enter %1; working in %2").arg(folder, QDir::currentPath()));
    return true;
}
