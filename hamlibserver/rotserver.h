// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "hamlibserver/hamlibserver.h"
#include "settings/serversettings.h"

class TrackingControl;

// A server speaking rotctld's protocol, so that a tracking program (Gpredict,
// rotctl -m 2) aims the antenna through the station: its positions go through
// the pointing planner (stops, mask, cable wrap) in place of the target,
// which waits meanwhile. Park and the operator's Manual win over it.
class RotServer : public HamlibServer
{
    Q_OBJECT

public:
    explicit RotServer(TrackingControl &station, QObject *parent = nullptr);

    bool apply(const ServerSettings &settings);
    using HamlibServer::answer;

protected:
    const QList<Command> &commands() const override;
    QByteArray dumpState(std::optional<char> separator) const override;
    QByteArray answer(const Line &line) override;

private:
    TrackingControl &m_station;
};
