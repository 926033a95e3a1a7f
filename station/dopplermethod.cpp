#include "station/dopplermethod.h"

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
