// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/devicelink.h"

#include <optional>

// Which axis a positioning command is for. Both: the parking position.
enum class RotatorAxis { Azimuth, Elevation, Both };

// What a rotator's answer means for the command that waits for it.
struct RotatorReply {
    enum Kind { Pending, Accepted, Refused };
    Kind kind = Pending;
    QString text;  // for a refusal: what the log shows after "Rotator error code: "
};

// Where the rotator itself says it can point, degrees.
struct RotatorTravel {
    double minAzimuth = 0;
    double maxAzimuth = 0;
    double minElevation = 0;
    double maxElevation = 0;
};

class RotatorLink : public DeviceLink
{
    Q_OBJECT

public:
    using DeviceLink::DeviceLink;

    // The command that moves the antenna to the position; the window keeps it
    // pending until answered and writes it with write().
    virtual QByteArray positionCommand(RotatorAxis axis, double azimuth, double elevation) = 0;
    // True when one command moves both axes, so parking needs no second step.
    virtual bool movesBothAxes() const = 0;
    // Reads an answer that arrived while a command is pending. collected is
    // the text gathered so far; it belongs to the caller and outlives links.
    virtual RotatorReply interpretReply(const QByteArray &bytes, QString &collected) const = 0;

    // A rotator that can say where the antenna points answers
    // requestPosition() with positionReceived().
    virtual bool reportsPosition() const { return false; }
    virtual void requestPosition() {}
    // The travel the rotator reported, where it reports one.
    virtual std::optional<RotatorTravel> travel() const { return std::nullopt; }
    // False while what positions may be sent is still being learned: none
    // should go before, or they would be planned for the wrong travel.
    virtual bool ready() const { return true; }
    // Why the rotator's own limits are not known, once given up on; empty otherwise.
    virtual QString limitsProblem() const { return {}; }

signals:
    void positionReceived(double azimuth, double elevation);
    // A command the window wrote will never be answered (given up after the
    // stale time), so the window need not wait for it.
    void commandExpired();
    // ready() became true: the cycle may plan for the rotator's travel now.
    void limitsLearned();
};
