// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/transceiverlink.h"

#include <QList>

// A radio that reads out its frequency but never its transmit state, as some
// daemons' radios, and takes the key; it keeps what it was sent.
class StatelessRadio : public TransceiverLink
{
public:
    QString target() const override { return QStringLiteral("radio"); }
    QByteArray manualCommand(const QString &) const override { return {}; }
    void write(const QByteArray &) override {}
    void close() override {}
    void requestFrequency() override { emit frequencyReceived(432.065); }
    bool requestReadout() override
    {
        emit frequencyReceived(432.065);
        return true;
    }
    void setFrequency(quint32 hz) override { sent << hz; }
    bool canCarry(qint64 hz) const override { return hz > 0 && hz < 1000000000; }
    bool canKey() const override { return true; }
    void setPtt(bool on) override { keyed = on; }

    QList<quint32> sent;
    bool keyed = false;
};
