// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibration/levelsource.h"

#include <QPointer>
#include <QTimer>

class RigctldLink;

// The radio's S-meter through Hamlib (rigctld, or Hamlib linked in) as
// levels: Hamlib's dB over S9 made a power. Coarse, and only as true as
// the radio's S-meter table; the AGC must be off.
class HamlibStrength : public LevelSource
{
    Q_OBJECT

public:
    static constexpr int intervalMs = 250;

    explicit HamlibStrength(RigctldLink *link, QObject *parent = nullptr);

    QString name() const override { return QStringLiteral("radio's S-meter through Hamlib"); }
    bool quantised() const override { return true; }
    void start() override;
    void stop() override { m_timer.stop(); }

private:
    QPointer<RigctldLink> m_link;
    QTimer m_timer;
};
