// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/dopplermethod.h"

#include <cmath>

SkyFrequencies methodFrequencies(DopplerMethod method, double skedHz, double selfHz, double dxHz)
{
    switch (method) {
    case DopplerMethod::Specified:
        break;
    case DopplerMethod::FullToDxGrid:
        return {skedHz + dxHz, skedHz - dxHz};
    case DopplerMethod::OwnEcho:
        return {skedHz + selfHz, skedHz};
    case DopplerMethod::ConstantOnMoon:
        return {skedHz + selfHz / 2, skedHz - selfHz / 2};
    case DopplerMethod::OnDxEcho:
        return {skedHz + dxHz, skedHz + dxHz - selfHz};
    case DopplerMethod::CallDx:
        return {skedHz, skedHz - selfHz};
    }
    return {skedHz, skedHz};
}

std::optional<double> Transverter::radioHz(double skyHz) const
{
    if (!on)
        return skyHz;
    const double hz = loAbove ? localOscillatorHz - skyHz : skyHz - localOscillatorHz;
    if (hz < 0)
        return std::nullopt;
    return hz;
}

double Transverter::skyHz(double radioHz) const
{
    if (!on)
        return radioHz;
    return loAbove ? localOscillatorHz - radioHz : localOscillatorHz + radioHz;
}

Shifts shiftsAhead(double selfHz, double selfRatePerMin, double dxHz, double dxRatePerMin, double seconds)
{
    // 24 GHz at the fastest the Moon moves stays well under this.
    constexpr double plausibleHzPerMin = 20000;
    const auto ahead = [seconds](double hz, double ratePerMin) {
        if (!std::isfinite(ratePerMin) || std::fabs(ratePerMin) > plausibleHzPerMin || !std::isfinite(seconds))
            return hz;
        return hz + ratePerMin * seconds / 60.0;
    };
    return {ahead(selfHz, selfRatePerMin), ahead(dxHz, dxRatePerMin)};
}

double bandScale(double skedHz, double recordMHz)
{
    // From 50 MHz records to 24 GHz skeds and back, with room.
    constexpr double widestRatio = 1000;
    if (!std::isfinite(skedHz) || !std::isfinite(recordMHz) || skedHz <= 0 || recordMHz <= 0)
        return 1;
    const double ratio = skedHz / (recordMHz * 1e6);
    return ratio > widestRatio || ratio < 1 / widestRatio ? 1 : ratio;
}

double secondsToTransmitMiddle(double secondsOfDay, int periodSeconds, bool transmitting)
{
    if (periodSeconds <= 0)
        return 0;
    const double period = periodSeconds;
    const double start = std::floor(secondsOfDay / period) * period + (transmitting ? 0.0 : period);
    return start + period / 2 - secondsOfDay;
}
