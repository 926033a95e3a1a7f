// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration/hamlibstrength.h"

#include "hamlib/hamliblinks.h"

#include <cmath>

HamlibStrength::HamlibStrength(RigctldLink *link, QObject *parent)
    : LevelSource(parent)
    , m_link(link)
{
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (!m_link) {
            m_timer.stop();
            emit failed(QStringLiteral("the radio's port closed"));
            return;
        }
        m_link->requestStrength();
    });
    if (!link)
        return;
    connect(link, &RigctldLink::strengthReceived, this, [this](int db) {
        if (m_timer.isActive())
            emit level(std::pow(10.0, db / 10.0));
    });
    connect(link, &RigctldLink::strengthRefused, this, [this](int code) {
        if (!m_timer.isActive())
            return;
        m_timer.stop();
        emit failed(QStringLiteral("the radio gives no signal strength through Hamlib (RPRT %1)").arg(code));
    });
}

void HamlibStrength::start()
{
    m_timer.start();
}
