// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/ptypeer.h"

#include <QElapsedTimer>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer(QObject *parent)
    : QObject(parent)
{
    openPty();
}

bool PtyPeer::reopen()
{
    if (isOpen())
        return true;
    return openPty();
}

bool PtyPeer::openPty()
{
    m_slavePath.clear();
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return false;
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        ::close(m_master);
        m_master = -1;
        return false;
    }
    char name[128] = {};
    if (ptsname_r(m_master, name, sizeof name) == 0)
        m_slavePath = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);

    // Raw from the start: no echo back to the master, no CR/LF translation.
    m_slaveKeeper = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slaveKeeper >= 0) {
        termios tio {};
        if (tcgetattr(m_slaveKeeper, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(m_slaveKeeper, TCSANOW, &tio);
        }
    }

    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyPeer::readMaster);
    return true;
}

PtyPeer::~PtyPeer()
{
    hangUp();
}

void PtyPeer::send(const QByteArray &bytes)
{
    if (m_master < 0)
        return;
    // A full line waits for its reader a while, then loses the rest as a
    // real one would: the reader may be on this very thread.
    constexpr int fullLineMs = 2000;
    QElapsedTimer waited;
    waited.start();
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n >= 0) {
            done += n;
        } else if (errno == EAGAIN) {
            pollfd writable {m_master, POLLOUT, 0};
            const qint64 left = fullLineMs - waited.elapsed();
            if (left <= 0 || ::poll(&writable, 1, int(left)) < 0)
                return;
        } else if (errno != EINTR) {
            return;
        }
    }
}

void PtyPeer::hangUp()
{
    stopFlood();
    if (m_notifier) {
        m_notifier->setEnabled(false);
        delete m_notifier;
        m_notifier = nullptr;
    }
    if (m_slaveKeeper >= 0) {
        ::close(m_slaveKeeper);
        m_slaveKeeper = -1;
    }
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

void PtyPeer::readMaster()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            const QByteArray chunk(buffer, int(n));
            m_received.append(chunk);
            emit bytesReceived(chunk);
            handleBytes(chunk);
            if (m_master < 0)  // a handler hung up
                return;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return;  // EAGAIN: drained
    }
}

void PtyPeer::startFlood(const QByteArray &pattern, qint64 totalBytes, qint64 bytesPerSecond)
{
    stopFlood();
    if (pattern.isEmpty() || totalBytes <= 0 || bytesPerSecond <= 0 || m_master < 0)
        return;
    m_stopFlood = false;
    m_flooding = true;
    m_flood = std::thread([this, pattern, totalBytes, bytesPerSecond, fd = m_master] {
        QElapsedTimer clock;
        clock.start();
        qint64 sent = 0;
        while (!m_stopFlood && sent < totalBytes) {
            const qint64 due = qMin(totalBytes, clock.elapsed() * bytesPerSecond / 1000);
            while (sent < due) {
                const qint64 offset = sent % pattern.size();
                const qint64 size = qMin(due - sent, qint64(pattern.size()) - offset);
                const ssize_t n = ::write(fd, pattern.constData() + offset, size_t(size));
                if (n <= 0)
                    break;  // the line is full: try again shortly
                sent += n;
                m_flooded += n;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        m_flooding = false;
    });
}

void PtyPeer::stopFlood()
{
    m_stopFlood = true;
    if (m_flood.joinable())
        m_flood.join();
    m_flooding = false;
}
