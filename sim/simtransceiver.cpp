// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/simtransceiver.h"

#include "sim/precisetimer.h"

namespace {

constexpr int frameSize = 5;

quint8 bcd(quint32 value)
{
    return quint8((value / 10 % 10) * 16 + value % 10);
}

} // namespace

SimTransceiver::SimTransceiver(QObject *parent)
    : PtyPeer(parent)
{
    m_clock.start();
    m_sendTimer = new PreciseTimer(this);
    connect(m_sendTimer, &PreciseTimer::timeout, this, &SimTransceiver::sendDue);
    m_takeTimer = new PreciseTimer(this);
    connect(m_takeTimer, &PreciseTimer::timeout, this, &SimTransceiver::takeDueFrames);
}

namespace {

// Starts the timer for the first entry of a queue of due times (ns), or stops it.
template <typename Queue>
void armFor(PreciseTimer *timer, const Queue &queue, qint64 nowNs)
{
    if (queue.empty())
        timer->stop();
    else
        timer->startIn(queue.front().dueNs - nowNs);
}

} // namespace

void SimTransceiver::clearFrames()
{
    m_frames.clear();
    m_frameTimes.clear();
    m_catOnCount = 0;
    m_catOffCount = 0;
}

void SimTransceiver::setSplitReply(const QList<int> &pieces, int gapMs)
{
    m_splitPieces = pieces;
    m_splitGapMs = gapMs;
}

QByteArray SimTransceiver::frequencyReply(quint32 hz, quint8 mode)
{
    const quint32 n = hz / 10;
    QByteArray reply;
    reply += char(bcd(n / 1'000'000));
    reply += char(bcd(n / 10'000));
    reply += char(bcd(n / 100));
    reply += char(bcd(n));
    reply += char(mode);
    return reply;
}

void SimTransceiver::handleBytes(const QByteArray &chunk)
{
    const qint64 now = m_clock.nsecsElapsed();
    if (!m_lineTiming) {
        m_partial += chunk;
        while (m_partial.size() >= frameSize) {
            const QByteArray frame = m_partial.left(frameSize);
            m_partial.remove(0, frameSize);
            takeFrame(frame, now);
        }
        return;
    }
    // The pty delivers at once; the line would still be carrying the bytes.
    m_inboundFreeNs = qMax(m_inboundFreeNs, now);
    for (char byte : chunk) {
        m_inboundFreeNs += byteTimeNs;
        m_partial += byte;
        if (m_partial.size() == frameSize) {
            m_inbound.push_back({m_inboundFreeNs, m_partial});
            m_partial.clear();
        }
    }
    takeDueFrames();
}

void SimTransceiver::takeDueFrames()
{
    const qint64 now = m_clock.nsecsElapsed();
    while (!m_inbound.empty() && m_inbound.front().dueNs <= now) {
        const Pending frame = m_inbound.front();
        m_inbound.pop_front();
        takeFrame(frame.bytes, frame.dueNs);
    }
    armFor(m_takeTimer, m_inbound, now);
}

void SimTransceiver::takeFrame(const QByteArray &frame, qint64 completeNs)
{
    m_frames << frame;
    m_frameTimes << completeNs / 1'000'000;
    emit frameReceived(frame);
    if (m_silent)
        return;

    QByteArray reply;
    switch (quint8(frame.at(4))) {
    case 0x03:
        reply = frequencyReply(m_frequencyHz, m_mode);
        break;
    case 0xF7:
        reply = QByteArray(1, char(m_transmitting ? 0x00 : 0x80));
        break;
    case 0x01: {
        quint32 n = 0;
        for (int i = 0; i < 4; ++i) {
            const quint8 byte = quint8(frame.at(i));
            n = n * 100 + (byte >> 4) * 10 + (byte & 0x0F);
        }
        m_frequencyHz = n * 10;
        break;
    }
    case 0x08:
    case 0x88:
        m_transmitting = quint8(frame.at(4)) == 0x08;
        break;
    case 0x00:
        if (m_model == FT847)
            ++m_catOnCount;
        break;
    case 0x80:
        if (m_model == FT847)
            ++m_catOffCount;
        break;
    case 0xBB:
        reply = QByteArray(2, '\0');  // the EEPROM word: a radio with factory settings
        break;
    default:
        break;  // commands this system never sends
    }
    if (reply.isEmpty() && m_acknowledge)
        reply = QByteArray(1, '\0');
    if (!reply.isEmpty())
        answer(m_garbage ? QByteArray(reply.size() + 1, char(0xEE)) : reply, completeNs);
}

void SimTransceiver::answer(const QByteArray &fresh, qint64 frameCompleteNs)
{
    QByteArray reply = fresh;
    if (m_merged) {
        if (m_heldReply.isEmpty()) {
            m_heldReply = fresh;
            return;
        }
        reply = m_heldReply + fresh;
        m_heldReply.clear();
    }
    qint64 due = frameCompleteNs + qint64(m_replyDelayMs) * 1'000'000;
    if (!m_pending.empty())
        due = qMax(due, m_pending.back().dueNs);

    QList<QByteArray> pieces;
    int at = 0;
    for (int size : m_splitPieces) {
        if (at >= reply.size() || size <= 0)
            break;
        pieces << reply.mid(at, size);
        at += size;
    }
    if (at < reply.size())
        pieces << reply.mid(at);

    for (int p = 0; p < pieces.size(); ++p) {
        if (p > 0)
            due += qint64(m_splitGapMs) * 1'000'000;
        if (!m_lineTiming) {
            schedule(due, pieces.at(p));
            continue;
        }
        if (m_wholeReplies) {
            due += byteTimeNs * pieces.at(p).size();
            schedule(due, pieces.at(p));
            continue;
        }
        for (char byte : pieces.at(p)) {
            due += byteTimeNs;  // a byte is there once its stop bit is
            schedule(due, QByteArray(1, byte));
        }
    }
    sendDue();
}

void SimTransceiver::schedule(qint64 dueNs, const QByteArray &bytes)
{
    m_pending.push_back({dueNs, bytes});
}

void SimTransceiver::sendDue()
{
    const qint64 now = m_clock.nsecsElapsed();
    while (!m_pending.empty() && m_pending.front().dueNs <= now) {
        send(m_pending.front().bytes);
        m_pending.pop_front();
    }
    armFor(m_sendTimer, m_pending, now);
}
