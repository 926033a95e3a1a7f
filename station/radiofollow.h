// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <deque>
#include <optional>

// Whether the radio takes the frequencies written to it. Each readout is held
// against the last frequency written before it was asked for (answers come
// in the order asked): a radio that still reads where it was last seen,
// although something else was written since, has not followed; one that
// reads something new that nobody wrote was tuned elsewhere (by hand, by
// another program).
class RadioFollowCheck
{
public:
    enum class Verdict { Unknown, Following, NotFollowing, TunedElsewhere };

    // A frequency written to the VFO the readout shows.
    void written(double hz);
    // A readout went out.
    void asked();
    // Its frequency came back; tolerance: the radio's rounding.
    Verdict read(double hz, double toleranceHz);
    // Readouts in a row that stayed behind the writes.
    int behindReadouts() const { return m_behind; }
    // The last readout before this one, as the radio showed it.
    std::optional<double> previousReadHz() const { return m_previousRead; }
    std::optional<double> lastWrittenHz() const { return m_lastWritten; }
    void reset() { *this = RadioFollowCheck(); }

private:
    struct Ask {
        std::optional<double> expectedHz;  // the last written before it
        long writes = 0;                   // how many writes had gone out
    };
    std::optional<double> m_lastWritten;
    std::deque<double> m_recent;  // a newer write may overtake an ask in a daemon's queue
    long m_writes = 0;
    std::deque<Ask> m_asks;  // readouts still unanswered
    long m_writesAtAnchor = 0;  // writes when the radio was last seen following or moved
    std::optional<double> m_lastRead;
    std::optional<double> m_previousRead;
    int m_behind = 0;
};
