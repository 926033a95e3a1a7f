// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/radiofollow.h"

#include <algorithm>
#include <cmath>

namespace {

// Readouts lost on the way would pair every later answer with the wrong ask.
constexpr std::size_t maxUnanswered = 4;

} // namespace

void RadioFollowCheck::written(double hz)
{
    m_lastWritten = hz;
    m_recent.push_back(hz);
    if (m_recent.size() > maxUnanswered)
        m_recent.pop_front();
    ++m_writes;
}

void RadioFollowCheck::asked()
{
    if (m_asks.size() >= maxUnanswered)
        m_asks.clear();
    m_asks.push_back({m_lastWritten, m_writes});
}

RadioFollowCheck::Verdict RadioFollowCheck::read(double hz, double toleranceHz)
{
    m_previousRead = m_lastRead;
    m_lastRead = hz;
    if (m_asks.empty()) {
        // Not a readout of ours (the first read before tracking): no ask to pair.
        m_writesAtAnchor = m_writes;
        return Verdict::Unknown;
    }
    const Ask ask = m_asks.front();
    m_asks.pop_front();
    if (!ask.expectedHz) {
        m_writesAtAnchor = ask.writes;
        return Verdict::Unknown;
    }
    const auto near = [&](double written) { return std::fabs(hz - written) <= toleranceHz; };
    if (near(*ask.expectedHz) || std::any_of(m_recent.begin(), m_recent.end(), near)) {
        m_behind = 0;
        m_writesAtAnchor = ask.writes;
        return Verdict::Following;
    }
    // Unchanged since the radio was last seen where it should be, or where a
    // hand put it, although something else went out since.
    if (m_previousRead && near(*m_previousRead) && ask.writes > m_writesAtAnchor) {
        ++m_behind;
        return Verdict::NotFollowing;
    }
    if (!m_previousRead || !near(*m_previousRead))
        m_writesAtAnchor = ask.writes;  // a new place: what went out before it does not count
    m_behind = 0;
    return Verdict::TunedElsewhere;
}
