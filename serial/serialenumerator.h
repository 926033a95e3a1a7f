// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

// The port names offered to the operator: what the system's enumerator
// reports. Tests and demos can add names the enumerator never lists (pty
// paths) and hide the system's own ports; the product never does either.
namespace SerialEnumerator {

QStringList portNames();

void setExtraPortNames(const QStringList &names);
void setSystemPortsHidden(bool hidden);

} // namespace SerialEnumerator
