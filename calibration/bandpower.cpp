// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration/bandpower.h"

#include <cmath>

namespace {

// A Butterworth section's Q: the flattest passband.
constexpr double butterworthQ = 0.70710678118654752;

} // namespace

BandPower::BandPower(double sampleRate, double lowHz, double highHz)
    : m_high(section(sampleRate, lowHz, true))
    , m_low(section(sampleRate, highHz, false))
{
}

// The bilinear transform's sections as the audio cookbooks write them: the
// low-pass's numerator is (1 - cos w)(1 + 2z^-1 + z^-2) / 2, the high-pass's
// (1 + cos w)(1 - 2z^-1 + z^-2) / 2, over the same denominator.
BandPower::Biquad BandPower::section(double sampleRate, double hz, bool high)
{
    const double w = 2 * M_PI * hz / sampleRate;
    const double alpha = std::sin(w) / (2 * butterworthQ);
    const double a0 = 1 + alpha;
    const double c = std::cos(w);
    const double sign = high ? -1 : 1;
    Biquad q;
    q.b0 = (1 - sign * c) / 2 / a0;
    q.b1 = sign * (1 - sign * c) / a0;
    q.b2 = q.b0;
    q.a1 = -2 * c / a0;
    q.a2 = (1 - alpha) / a0;
    return q;
}

double BandPower::Biquad::run(double x)
{
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
}

std::vector<double> BandPower::add(const float *samples, int count)
{
    std::vector<double> levels;
    for (int i = 0; i < count; ++i) {
        const double y = m_low.run(m_high.run(samples[i]));
        m_sum += y * y;
        if (++m_count >= m_block) {
            levels.push_back(m_sum / m_count);
            m_sum = 0;
            m_count = 0;
        }
    }
    return levels;
}
