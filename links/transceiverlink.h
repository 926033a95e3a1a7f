// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/devicelink.h"

#include <QList>
#include <QtGlobal>

#include <utility>

class TransceiverLink : public DeviceLink
{
    Q_OBJECT

public:
    using DeviceLink::DeviceLink;

    virtual void requestFrequency() = 0;
    // Transmit state and frequency; the state is reported first, so that the
    // frequency is shown with the right "T" or "R". False when the link held
    // it back to keep its own pace; one still unanswered counts as asked.
    virtual bool requestReadout() = 0;
    virtual void setFrequency(quint32 hz) = 0;
    // True when the frequency (in Hz, before any conversion) can be sent at all.
    virtual bool canCarry(qint64 hz) const = 0;
    // Split: receive on the frequency setFrequency() writes, transmit on a
    // second VFO. Links to radios without one keep the defaults.
    virtual bool canSplit() const { return false; }
    virtual void setSplit(bool) {}
    virtual void setTransmitFrequency(quint32) {}
    // Keying the transmitter (for a program that works the radio through the
    // station); a link that cannot keeps the defaults.
    virtual bool canKey() const { return false; }
    virtual void setPtt(bool) {}
    // Where the radio tunes, in Hz, as far as the link knows.
    virtual QList<std::pair<double, double>> frequencyRanges() const { return {{100e3, 4294967295.0}}; }
    // The smallest change the radio can make.
    virtual double tuningStepHz() const { return 10; }
    // False while the radio's ranges are not known (still being read, or
    // never said): canCarry() is then false for every frequency.
    virtual bool rangesKnown() const { return true; }
    // Why the ranges are not known, once the link gave up asking; empty otherwise.
    virtual QString rangesProblem() const { return {}; }
    // Commands still waiting to go out or for their reply; 0 for a link that
    // hands each one on at once.
    virtual int queuedCommands() const { return 0; }

signals:
    void frequencyReceived(qreal mhz);
    void statusReceived(bool transmitting);
    // The device answered a readout, also when it said it cannot (an error
    // report is an answer; silence is not).
    void answered();
    // rangesKnown() or rangesProblem() changed.
    void rangesChanged();
};
