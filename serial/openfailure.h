// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSerialPort>
#include <QString>

// Why a serial port could not be opened, in the terms the operator can act on.
enum class OpenFailure { None, NotFound, NoPermission, InUse, Other };

namespace openfailure {

// Qt reports a device the user may not open and a device held by another
// program alike, as a permission error; whether the user may read and write
// the device node tells the two apart.
OpenFailure classify(QSerialPort::SerialPortError error, bool mayReadWrite);

// The device node behind a port name: "ttyUSB0" -> "/dev/ttyUSB0"; a path stays.
QString devicePath(const QString &portName);

// Whether the effective user may read and write the node (root always may).
bool mayReadWrite(const QString &path);

// The group that the node grants reading and writing to, or empty.
QString deviceGroup(const QString &path);

// The effective user's login name, or empty.
QString userName();

// One line for the log saying why the port would not open and what to do;
// empty when there is nothing to add to the failure message. group and user
// may be empty: Debian's "dialout" and a placeholder stand in.
QString hint(OpenFailure failure, const QString &portName, const QString &group, const QString &user);

} // namespace openfailure
