// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/serialenumerator.h"

#include <QSerialPortInfo>

namespace {
QStringList g_extraNames;
bool g_systemHidden = false;
} // namespace

QStringList SerialEnumerator::portNames()
{
    QStringList names;
    if (!g_systemHidden) {
        const auto ports = QSerialPortInfo::availablePorts();
        for (const QSerialPortInfo &info : ports)
            names << info.portName();
    }
    return names + g_extraNames;
}

void SerialEnumerator::setExtraPortNames(const QStringList &names)
{
    g_extraNames = names;
}

void SerialEnumerator::setSystemPortsHidden(bool hidden)
{
    g_systemHidden = hidden;
}
