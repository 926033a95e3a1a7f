// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/simrotator.h"

#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cmath>

SimRotator::SimRotator(QObject *parent)
    : PtyPeer(parent)
{
    m_clock.start();
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &SimRotator::sendDue);
}

void SimRotator::setLimits(double azMin, double azMax, double elMin, double elMax)
{
    m_limited = true;
    m_azMin = azMin;
    m_azMax = azMax;
    m_elMin = elMin;
    m_elMax = elMax;
}

double SimRotator::Axis::present(qint64 nowMs) const
{
    if (speed <= 0 || nowMs <= startMs)
        return speed <= 0 ? target : from;
    const double travelled = speed * double(nowMs - startMs) / 1000.0;
    const double distance = target - from;
    if (travelled >= std::fabs(distance))
        return target;
    return from + std::copysign(travelled, distance);
}

void SimRotator::Axis::command(double position, qint64 nowMs)
{
    from = present(nowMs);  // a new command turns the axis from where it is
    startMs = nowMs;
    target = position;
}

qint64 SimRotator::now() const
{
    return m_motionClock ? m_motionClock() : m_clock.elapsed();
}

void SimRotator::setSlewRates(double azimuthPerSecond, double elevationPerSecond)
{
    // Keep the present positions continuous across the change of speed.
    const qint64 t = now();
    m_az.command(m_az.target, t);
    m_el.command(m_el.target, t);
    m_az.speed = azimuthPerSecond;
    m_el.speed = elevationPerSecond;
}

void SimRotator::setPresentPosition(double azimuth, double elevation)
{
    const qint64 t = now();
    m_az = {azimuth, azimuth, t, m_az.speed};
    m_el = {elevation, elevation, t, m_el.speed};
}

void SimRotator::handleBytes(const QByteArray &chunk)
{
    m_line += chunk;
    for (;;) {
        const qsizetype end = m_line.indexOf("\r\n");
        if (end < 0)
            break;
        const QByteArray line = m_line.left(end);
        m_line.remove(0, end + 2);
        takeLine(line);
    }
}

void SimRotator::takeLine(const QByteArray &bytes)
{
    const QString line = QString::fromLatin1(bytes);
    m_commands << line;
    const QByteArray reply = answerTo(line);
    if (!reply.isEmpty() && !m_silent)
        queueReply(reply);
    emit commandReceived(line);
}

QByteArray SimRotator::answerTo(const QString &line)
{
    static const QRegularExpression command(QStringLiteral("^&\\* (AZ|EL)=(-?[0-9]+(?:\\.[0-9]+)?)$"));
    const QRegularExpressionMatch match = command.match(line);
    if (!match.hasMatch())
        return m_otherLineReply;

    const bool azimuth = match.capturedView(1) == u"AZ";
    const double value = match.capturedView(2).toDouble();
    const double low = azimuth ? m_azMin : m_elMin;
    const double high = azimuth ? m_azMax : m_elMax;
    if (m_refusing || (m_limited && (value < low || value > high))) {
        ++m_refusedCount;
        return QByteArrayLiteral("ERROR/LIMIT\r\n");
    }
    (azimuth ? m_azimuth : m_elevation) = value;
    (azimuth ? m_az : m_el).command(value, now());
    ++m_acceptedCount;
    return QByteArrayLiteral("OK\r\n");
}

void SimRotator::queueReply(const QByteArray &reply)
{
    QByteArray bytes = m_garbageReply ? QByteArrayLiteral("\xfe#~?%\x01+\r\n") : reply;
    if (m_zeroBeforeReply)
        bytes.prepend('\0');

    // The controller answers one command at a time, so an answer is never due
    // before the one queued ahead of it.
    qint64 due = m_clock.elapsed() + m_replyDelayMs;
    if (!m_queue.isEmpty())
        due = std::max(due, m_queue.last().dueMs);

    if (m_singleByteReply) {
        for (qsizetype i = 0; i < bytes.size(); ++i)
            m_queue.append({due + i * m_singleByteGapMs, bytes.mid(i, 1)});
    } else if (m_splitReply && bytes.size() > 1) {
        // The zero byte stays with the first half, so "O" and "K" are apart.
        const qsizetype first = m_zeroBeforeReply ? 2 : 1;
        m_queue.append({due, bytes.left(first)});
        m_queue.append({due + m_splitGapMs, bytes.mid(first)});
    } else {
        m_queue.append({due, bytes});
    }
    sendDue();
}

void SimRotator::sendDue()
{
    const qint64 now = m_clock.elapsed();
    while (!m_queue.isEmpty() && m_queue.first().dueMs <= now)
        send(m_queue.takeFirst().bytes);
    if (!m_queue.isEmpty())
        m_timer->start(int(m_queue.first().dueMs - now));
}
