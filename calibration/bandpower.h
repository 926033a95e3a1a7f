// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

// The noise power in one audio band: the samples through a second-order
// Butterworth high-pass at the band's low edge and a low-pass at its high
// edge (each -3 dB at its edge, 12 dB an octave beyond), squared and
// averaged. Hum below the band and the radio's hiss above it stay out.
class BandPower
{
public:
    BandPower(double sampleRate, double lowHz, double highHz);

    // Takes samples (full scale 1) and gives the mean power of each block
    // of `block` samples they completed.
    std::vector<double> add(const float *samples, int count);
    void setBlock(int samples) { m_block = samples > 0 ? samples : 1; }

private:
    struct Biquad {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        double run(double x);
    };
    static Biquad section(double sampleRate, double hz, bool high);

    Biquad m_high;
    Biquad m_low;
    int m_block = 4800;
    int m_count = 0;
    double m_sum = 0;
};
