// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/savefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace savefile {

namespace {

// The temporary file a save writes carries a name of our own, so that
// clearing leftovers at start never takes one of the operator's files
// ("network.cfg.backup", "store.cfg.old").
const QString temporaryInfix = QStringLiteral(".vestrel-tmp-");
constexpr int temporaryTail = 6;

bool writeAll(int fd, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Creates a fresh temporary file beside target, with the permissions given
// (the umask applies to a new store, as to any new file). -1 with errno set
// when none can be made.
int createTemporary(const QString &target, mode_t permissions, QByteArray &name)
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString tail;
        for (int i = 0; i < temporaryTail; ++i)
            tail += QLatin1Char(letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)]);
        name = QFile::encodeName(target + temporaryInfix + tail);
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, permissions);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Where the folder takes no new file but the file itself is writable.
QString rewriteInPlace(const QString &path, const QByteArray &content)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return qt_error_string(errno);
    const bool written = writeAll(fd, content) && ::fdatasync(fd) == 0;
    const int error = errno;
    ::close(fd);
    return written ? QString() : qt_error_string(error);
}

// A linked file is saved where the link leads; the link stays.
QString savedPath(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() ? info.canonicalFilePath() : path;
}

} // namespace

QString write(const QString &path, const QByteArray &content)
{
    const QString target = savedPath(path);
    struct stat existing {};
    const bool exists = ::stat(QFile::encodeName(target).constData(), &existing) == 0;
    const mode_t permissions = exists ? (existing.st_mode & 07777) : 0666;

    QByteArray temporary;
    const int fd = createTemporary(target, permissions, temporary);
    if (fd < 0)
        return exists && errno == EACCES ? rewriteInPlace(target, content) : qt_error_string(errno);
    // The umask may have narrowed the permissions of the file being replaced.
    bool saved = (!exists || ::fchmod(fd, permissions) == 0) && writeAll(fd, content) && ::fdatasync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && saved) {
        saved = false;
        error = errno;
    }
    if (saved && ::rename(temporary.constData(), QFile::encodeName(target).constData()) != 0) {
        saved = false;
        error = errno;
    }
    if (saved)
        return {};
    ::unlink(temporary.constData());
    return qt_error_string(error);
}

void removeLeftovers(const QString &path)
{
    const QFileInfo info(savedPath(path));
    const QString pattern = info.fileName() + temporaryInfix + QString(temporaryTail, QLatin1Char('?'));
    const QFileInfoList found = info.dir().entryInfoList({pattern}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo &leftover : found)
        QFile::remove(leftover.filePath());
}

} // namespace savefile
