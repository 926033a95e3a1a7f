// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "hamlib/hamlibchannel.h"
#include "settings/networksettings.h"

#include <QByteArray>

class LinkedWorker;
class QThread;

// Hamlib linked into the program, as a daemon link's channel: the model is
// opened and every call made on a worker thread of this channel's own, so the
// event loop never waits on the device. Command lines go to the worker with
// a number; an answer that comes after its command was given up (the client
// waits a time-out per call) is dropped, so it is never taken for the next.
class LinkedChannel : public HamlibChannel
{
    Q_OBJECT

public:
    // How long the model may take to open: Hamlib tries a device that does
    // not answer several times.
    static constexpr int openTimeoutMsDefault = 20000;
    // A line still waiting this long for the worker is not carried out: its
    // client has given up on it.
    static constexpr int staleMs = 3000;

    LinkedChannel(bool rotator, const HamlibDevice &device, const QString &path, QObject *parent = nullptr);
    ~LinkedChannel() override;

    void open() override;
    QString target() const override { return m_target; }
    int openTimeoutMs() const override { return openTimeoutMsDefault; }
    void write(const QByteArray &bytes) override;
    qint64 bytesAvailable() const override { return m_answers.size(); }
    QByteArray read(qint64 most) override;
    void abort() override;
    void closeAfter(const QByteArray &command) override;
    void setTracing(bool on) override;

    // "Hamlib's Yaesu FT-817 on /dev/ttyUSB0".
    static QString targetText(bool rotator, const HamlibDevice &device, const QString &path);

private:
    void answered(quint64 number, const QByteArray &bytes);
    void stop();

    QString m_target;
    QString m_path;
    QThread *m_thread;
    LinkedWorker *m_worker;
    QByteArray m_answers;
    QByteArray m_partial;  // a line not yet ended
    quint64 m_written = 0;  // the number of the last line handed to the worker
    bool m_started = false;
    bool m_gone = false;  // the device's name went away: lost said
    bool m_stopped = false;
    bool m_tracing = false;  // counted among the channels that want Hamlib's trace
};
