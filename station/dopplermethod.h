// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// How the radio is kept on frequency: the specified rule (one shift around the
// radio's own readout), or one of the EME methods WSJT-X offers, each a receive
// and a transmit correction of the sked frequency.
enum class DopplerMethod { Specified, FullToDxGrid, OwnEcho, ConstantOnMoon, OnDxEcho, CallDx };

// The operator's name of each method, in the order a list offers them.
struct DopplerMethodName {
    DopplerMethod method;
    const char *shown;  // as the dialog offers it
    const char *key;    // as the settings file keeps it
};
inline constexpr DopplerMethodName dopplerMethodNames[] = {
    {DopplerMethod::Specified, "Track the radio's frequency", "specified"},
    {DopplerMethod::FullToDxGrid, "Full Doppler to DX grid", "full to dx grid"},
    {DopplerMethod::OwnEcho, "Own echo", "own echo"},
    {DopplerMethod::ConstantOnMoon, "Constant frequency on Moon", "constant on moon"},
    {DopplerMethod::OnDxEcho, "On DX echo", "on dx echo"},
    {DopplerMethod::CallDx, "Call DX", "call dx"},
};

// The operator's name of a method.
inline const char *dopplerMethodName(DopplerMethod method)
{
    for (const auto &name : dopplerMethodNames)
        if (name.method == method)
            return name.shown;
    return "";
}

struct SkyFrequencies {
    double receiveHz = 0;
    double transmitHz = 0;
    bool operator==(const SkyFrequencies &o) const { return receiveHz == o.receiveHz && transmitHz == o.transmitHz; }
};

// The receive and transmit frequencies of a method around the sked frequency,
// from the own-echo shift (self) and the DX shift, all in Hz. The specified
// rule has no sked frequency: it gives the sked frequency both ways.
SkyFrequencies methodFrequencies(DopplerMethod method, double skedHz, double selfHz, double dxHz);

// A transverter in front of the radio: the sky frequency is LO + IF, or LO - IF
// when the LO sits above the band. Off, the radio is on the sky frequency.
struct Transverter {
    bool on = false;
    double localOscillatorHz = 0;
    bool loAbove = false;  // RF = LO - IF
    bool operator==(const Transverter &o) const
    {
        return on == o.on && localOscillatorHz == o.localOscillatorHz && loAbove == o.loAbove;
    }

    // The radio's frequency for a sky frequency; nothing when it would be
    // negative (the LO on the wrong side).
    std::optional<double> radioHz(double skyHz) const;
    double skyHz(double radioHz) const;
};

// The record's shifts carried forward by their rates (Hz per minute) over the
// given seconds, so that a frequency is right for the moment it is meant for
// rather than the moment the record was made. A rate past any the Moon gives
// (a damaged field) carries nothing.
struct Shifts {
    double selfHz = 0;
    double dxHz = 0;
};
Shifts shiftsAhead(double selfHz, double selfRatePerMin, double dxHz, double dxRatePerMin, double seconds);

// What a record's shifts are multiplied by to be those of the sked: Doppler
// grows with frequency, and a file computed for 432 MHz says nothing of
// 1296 MHz otherwise. 1 for a record that names no sensible frequency.
double bandScale(double skedHz, double recordMHz);

// Seconds from now to the middle of the transmit period: the one under way
// while transmitting, otherwise the coming one. Periods start at each whole
// multiple of their length since midnight UTC, as EME sequences do.
double secondsToTransmitMiddle(double secondsOfDay, int periodSeconds, bool transmitting);
