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

    // How long "T" waits for the radio to say it took the key before the
    // client is answered RPRT -5 (and a key it asked for let go).
    static constexpr int keyConfirmMs = 2000;

signals:
    // The client that keyed the radio is gone with the key still set by it:
    // why, as the log says it.
    void keyerGone(const QString &why);

protected:
    const QList<Command> &commands() const override;
    QByteArray dumpState(std::optional<char> separator) const override;
    QByteArray answer(const Line &line) override;
    QByteArray farewell() const override { return QByteArrayLiteral("RPRT 0\n"); }
    void clientGone(ClientId client, const QString &peer) override;

private:
    void awaitKey(const Line &line, bool on);

    double dialHz() const;
    std::optional<double> radioDialHz() const;
    int setDial(double hz);

    TrackingControl &m_station;
    std::optional<double> m_dialHz;         // what a client set last
    std::optional<double> m_radioHzAtDial;  // the radio's frequency as it was then
    std::optional<double> m_transmitHz;     // a client's "I", read back by "i"
    QByteArray m_mode = "USB";
    QByteArray m_passband = "2400";
    ClientId m_keyer = 0;  // the client whose key is set, 0 when none
};
