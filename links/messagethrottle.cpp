// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/messagethrottle.h"

#include <QTimer>

MessageThrottle::MessageThrottle(const QString &summary, QObject *parent)
    : QObject(parent)
    , m_summary(summary)
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setInterval(defaultPeriodMs);
    connect(m_timer, &QTimer::timeout, this, &MessageThrottle::periodEnded);
}

void MessageThrottle::setPeriod(int ms)
{
    m_periodMs = qMax(1, ms);
    m_sustainedMs = qMax(m_sustainedMs, m_periodMs);
    m_timer->setInterval(m_periodMs);
}

void MessageThrottle::report(const QString &text, const QString &item)
{
    if (!m_timer->isActive()) {
        m_timer->start();
        emit message(text);
        return;
    }
    if (m_count++ == 0) {
        m_firstText = text;
        m_first = item;
    }
}

bool MessageThrottle::tryCount()
{
    if (!m_timer->isActive() || m_count == 0)
        return false;
    ++m_count;
    return true;
}

void MessageThrottle::periodEnded()
{
    if (m_count == 0) {
        m_timer->setInterval(m_periodMs);
        m_busyPeriods = 0;
        return;  // quiet for a whole period: the next one is said at once again
    }
    // One alone is said as it would have been.
    const QString text = m_count == 1 ? m_firstText : m_summary.arg(QString::number(m_count), m_first);
    m_count = 0;
    m_first.clear();
    m_firstText.clear();
    ++m_busyPeriods;
    m_timer->start(m_busyPeriods >= periodsBeforeSustained ? m_sustainedMs : m_periodMs);
    emit message(text);
}
