// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QSocketNotifier;

// A single-shot timer with nanosecond resolution for the simulated devices:
// QTimer counts whole milliseconds, and rounding every byte of a 9600-baud
// line (1.04 ms) up to the next millisecond would make the simulated line
// slower than a real one. Runs on the thread it lives in.
class PreciseTimer : public QObject
{
    Q_OBJECT

public:
    explicit PreciseTimer(QObject *parent = nullptr);
    ~PreciseTimer() override;

    // Fires once, nanoseconds from now (at once for 0 or less); replaces any
    // earlier start.
    void startIn(qint64 nanoseconds);
    void stop();

signals:
    void timeout();

private:
    void expired();

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
};
