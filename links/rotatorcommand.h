// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// The rotator controller's two positioning commands and the rules that decide
// when the tracking cycle sends them.
namespace rotator {

// "&* AZ=123.46" CR LF: two decimals, zero-padded to six characters, sign
// inside the width, never truncated, no wrap into 0..360.
QByteArray azimuthCommand(double degrees);
QByteArray elevationCommand(double degrees);

// A dead band, not rounding: send only when the target moved by strictly more
// than the band since the last command of that axis.
bool movedBeyond(double position, double lastSent, double deadBand);

// Which command a tracking cycle sends when the target has moved. The
// azimuth goes first, but right after an acknowledged azimuth command an
// elevation that has moved goes: with a target that moves beyond the dead
// band in both axes every cycle the elevation would otherwise never be sent.
enum class Step { None, Azimuth, Elevation };
Step nextStep(bool azimuthMoved, bool elevationMoved, bool elevationNext);

// How many repetitions an unacknowledged command may stay pending: one minute
// of repetitions, a repetition time of 0 counting as one second.
unsigned staleCommandLimit(quint32 repetitionSeconds);

} // namespace rotator
