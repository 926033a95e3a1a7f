// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "hamlibserver/hamlibserver.h"
#include "settings/serversettings.h"

#include <optional>

class TrackingControl;

// A server speaking rigctld's protocol (short and long commands, default and
// extended responses), so that WSJT-X's "Hamlib NET rigctl" or rigctl -m 2
// works the radio through the station while the station keeps it on the
// Doppler-corrected frequency. A client's frequency is the dial (the sked):
// "F" sets it and "f" answers it, never the corrected frequency on the
// radio, so that the client does not chase the station's own corrections.
class RigServer : public HamlibServer
{
    Q_OBJECT

public:
    explicit RigServer(TrackingControl &station, QObject *parent = nullptr);

    // Listens as the settings say, or stops; false with the reason logged
    // when the address cannot be had.
    bool apply(const ServerSettings &settings);

    using HamlibServer::answer;

protected:
    const QList<Command> &commands() const override;
    QByteArray dumpState() const override;
    QByteArray answer(const Line &line) override;

private:
    double dialHz() const;
    std::optional<double> radioDialHz() const;
    int setDial(double hz);

    TrackingControl &m_station;
    std::optional<double> m_dialHz;         // what a client set last
    std::optional<double> m_radioHzAtDial;  // the radio's frequency as it was then
    std::optional<double> m_transmitHz;     // a client's "I", read back by "i"
    QByteArray m_mode = "USB";
    QByteArray m_passband = "2400";
};
