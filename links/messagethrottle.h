// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

class QTimer;

// Keeps a flood of like messages (bad lines, wrong replies) from flooding the
// log: the first is said at once, the ones that follow within the period are
// counted, and at the period's end one summary names how many and the first
// (a single one counted is said as it is).
// So at most one message a period, however fast the faults come.
class MessageThrottle : public QObject
{
    Q_OBJECT

public:
    static constexpr int defaultPeriodMs = 1000;

    // summary has %1 for the count and %2 for the first item counted:
    // "%1 bad lines from localhost:4532, first: %2".
    explicit MessageThrottle(const QString &summary, QObject *parent = nullptr);

    void setPeriod(int ms);
    // A flood that goes on for a few periods is summed up this seldom from
    // then on; back to the period once a whole one is quiet.
    void setSustainedPeriod(int ms) { m_sustainedMs = qMax(1, ms); }
    static constexpr int periodsBeforeSustained = 5;
    // text: the message when said alone; item: what a summary quotes of it.
    void report(const QString &text, const QString &item);
    // Counts the message and returns true when a summary already has its
    // first item, so that the caller need not word it; otherwise false.
    bool tryCount();

signals:
    void message(const QString &text);

private:
    void periodEnded();

    QString m_summary;
    QTimer *m_timer;
    int m_periodMs = defaultPeriodMs;
    int m_sustainedMs = defaultPeriodMs;
    int m_busyPeriods = 0;
    qint64 m_count = 0;
    QString m_first;
    QString m_firstText;
};
