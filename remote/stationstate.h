// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>

class Calibrator;
class TrackingControl;

namespace remote {

// The protocol's version; a client that sees another major number stops.
inline constexpr int protocolVersion = 1;

// The station's whole state as the API pushes it: one value a client can
// render whole (docs/api.md names every field). Text from outside (device
// names, alarm reasons) is passed through shownText.
QJsonObject stationState(const TrackingControl &station, bool manualTerminal);

// The station's calibration: the sources, the run and its levels, the
// result and the history (the state's "calibration").
QJsonObject calibrationState(const Calibrator &calibrator);

} // namespace remote
