// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/networksettings.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class LinkedDevice;

// The side of a linked channel that runs on its worker thread: it owns the
// Hamlib model and carries out one line at a time.
class LinkedWorker : public QObject
{
    Q_OBJECT

public:
    // Hamlib's own lines, at most this many a second to the trace.
    static constexpr int mostTraceLinesPerSecond = 100;

    LinkedWorker(bool rotator, const HamlibDevice &device, const QString &path);
    ~LinkedWorker() override;

    void open();
    // queued: when the line was handed over; one waiting too long is skipped.
    void carryOut(quint64 number, const QByteArray &line, const QElapsedTimer &queued, int staleMs);
    void setTracing(bool on) { m_tracing = on; }

    // What Hamlib says on this worker's thread while it works.
    void hamlibSaid(int level, const char *text);

signals:
    void opened();
    void openFailed(const QString &reason);
    void answered(quint64 number, const QByteArray &bytes);
    void lost();
    void trace(const QString &text);

private:
    bool m_rotator;
    HamlibDevice m_device;
    QString m_path;
    std::unique_ptr<LinkedDevice> m_engine;
    std::atomic<bool> m_tracing {false};
    bool m_lost = false;
    QByteArray m_said;        // Hamlib's line so far
    QString m_lastError;      // its last error line, for a failed open
    QElapsedTimer m_traceSecond;
    int m_tracedThisSecond = 0;
};
