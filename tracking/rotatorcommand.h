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

// How many repetitions an unacknowledged command may stay pending: one minute
// of repetitions, a repetition time of 0 counting as one second.
unsigned staleCommandLimit(quint32 repetitionSeconds);

} // namespace rotator
