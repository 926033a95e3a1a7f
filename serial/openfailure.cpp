// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/openfailure.h"

#include <QFile>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

OpenFailure openfailure::classify(QSerialPort::SerialPortError error, bool mayReadWrite)
{
    switch (error) {
    case QSerialPort::NoError:
        return OpenFailure::None;
    case QSerialPort::DeviceNotFoundError:
        return OpenFailure::NotFound;
    case QSerialPort::PermissionError:
        // EACCES, EBUSY (another program's exclusive open) and a lock file
        // held elsewhere all arrive here.
        return mayReadWrite ? OpenFailure::InUse : OpenFailure::NoPermission;
    default:
        return OpenFailure::Other;
    }
}

QString openfailure::devicePath(const QString &portName)
{
    return portName.startsWith(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
}

bool openfailure::mayReadWrite(const QString &path)
{
    return faccessat(AT_FDCWD, QFile::encodeName(path).constData(), R_OK | W_OK, AT_EACCESS) == 0;
}

QString openfailure::deviceGroup(const QString &path)
{
    struct stat info {};
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        return {};
    const group *entry = getgrgid(info.st_gid);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString();
}

QString openfailure::userName()
{
    const passwd *entry = getpwuid(geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

QString openfailure::hint(OpenFailure failure, const QString &portName, const QString &group, const QString &user)
{
    switch (failure) {
    case OpenFailure::NoPermission: {
        // Root's group is no help: membership would not grant access.
        const QString grantee = group.isEmpty() || group == QLatin1String("root") ? QStringLiteral("dialout") : group;
        const QString login = user.isEmpty() ? QStringLiteral("$USER") : user;
        return QStringLiteral("no permission to use %1: add your user to the %2 group (sudo adduser %3 %2), "
                              "then log out and in again")
            .arg(portName, grantee, login);
    }
    case OpenFailure::InUse:
        return QStringLiteral("%1 is in use by another program (or by the other port here): "
                              "close it there, then open the port again")
            .arg(portName);
    case OpenFailure::None:
    case OpenFailure::NotFound:
    case OpenFailure::Other:
        break;
    }
    return {};
}
